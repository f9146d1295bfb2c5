// What a test may need to know about the Windows host it runs on.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "tests/support/test_support.h"

namespace testsupport {

// Wine's ntdll exports its version; no Windows ntdll does.
bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testsupport
