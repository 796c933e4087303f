// The session of the running custom action: start, finish and the record
// that the logging layer reads.
#pragma once

#include <windows.h>
#include <msiquery.h>

// The module entry notifications; answers TRUE for every reason.
BOOL ModuleNotify(HINSTANCE module, DWORD reason);

// Starts the session of one action call. `label` (at most 31 characters, no
// '%') prefixes every line of the session.
HRESULT WcaInitialize(MSIHANDLE session, const char* label);
// Ends the session; answers the stored cancel (1602) if the Installer gave
// one during the session, else `code`.
UINT FinishSession(UINT code);

MSIHANDLE CurrentSessionHandle();
MSIHANDLE CurrentDatabaseHandle();
const char* CurrentLogName();
BOOL SessionIsActive();
void RecordStoredResult(UINT code);
BOOL UserCancelled();
