// The DLL's entry point: hands every notification to the runtime.
#include <windows.h>

#include "runtime/wcautil.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) { return ModuleNotify(module, reason); }
