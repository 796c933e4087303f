// The accounts of the NT authority (S-1-5-...) that the library names: those
// whose links may be trusted, and the group the grants are for. Not const:
// the calls that compare SIDs take them as PSID.
#pragma once

#include <windows.h>

template <SIZE_T kSubAuthorities>
struct NtAuthoritySid {
  BYTE revision;
  BYTE subAuthorityCount;
  BYTE identifierAuthority[6];
  DWORD subAuthority[kSubAuthorities];
};

inline NtAuthoritySid<2> administratorsSid = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
inline NtAuthoritySid<1> localSystemSid = {1, 1, {0, 0, 0, 0, 0, 5}, {18}};
inline NtAuthoritySid<6> trustedInstallerSid = {
    1, 6, {0, 0, 0, 0, 0, 5}, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};
// The built-in Users group.
inline NtAuthoritySid<2> usersSid = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 545}};
