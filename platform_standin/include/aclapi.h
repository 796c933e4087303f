// Host stand-in for the security information of objects.
#pragma once

#include <windows.h>

typedef enum _SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT } SE_OBJECT_TYPE;

#ifdef __cplusplus
extern "C" {
#endif

// The descriptor comes in one self-relative block, freed with LocalFree; the
// owner and the DACL point into it.
DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);

#ifdef __cplusplus
}
#endif
