// The custom actions that the DLL exports. Each takes the Installer session
// handle and answers an Installer code: 0, 1602 (a cancel) or 1603.
#pragma once

#include <windows.h>
#include <msiquery.h>

extern "C" {

UINT WINAPI EditEstimatedSize(MSIHANDLE session);
UINT WINAPI RemoveFolder(MSIHANDLE session);
UINT WINAPI RemoveRegistries(MSIHANDLE session);
UINT WINAPI ChangeQuorvelFolderPermission(MSIHANDLE session);
UINT WINAPI RemoveManufacturerFolder(MSIHANDLE session);

}  // extern "C"
