// The DLL's entry point: hands every notification to the runtime.
#include <windows.h>

#include <cstdlib>

#include "runtime/wcautil.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) { return ModuleNotify(module, reason); }

#if defined(__GLIBCXX__)
// The GNU C++ runtime's default terminate handler names the exception type
// through its demangler, some 45 KB of a DLL that is extracted anew for every
// action call. The library throws nothing; were the runtime ever to
// terminate, it aborts all the same.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
