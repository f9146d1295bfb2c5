// What a test may need to know about the Windows host it runs on.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <string>

#include "tests/support/test_support.h"

namespace testsupport {

// Wine's ntdll exports its version; no Windows ntdll does.
bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The pipe's server end stays open for the object's life, so a client open finds an instance.
NonFilePath::NonFilePath(const TempDir&) {
    static std::atomic<unsigned> counter{0};
    std::string path = "\\\\.\\pipe\\tamsel-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(counter++);
    HANDLE pipe = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 4096, 4096, 0,
                                   nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return;
    handle = reinterpret_cast<intptr_t>(pipe);
    where = path;
}

NonFilePath::~NonFilePath() {
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

const char* characterDevicePath() { return "NUL"; }

}  // namespace testsupport
