// The guard in front of every action that changes a folder tree: a path that
// resolves to a volume root, to one of the machine's principal folders, or
// that is not fully qualified (and so would be completed by the Installer's
// current folder) names data that no package owns.
#pragma once

#include <windows.h>

// S_OK for a path that an action may work on, and for an empty path, which
// names nothing. Otherwise logs an error line naming the path and answers
// E_INVALIDARG.
HRESULT RefuseUnsafeTarget(const char* path);
