// Running a child process with its standard output captured, on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

// Quotes one argument so the C runtime's command-line parser hands it back unchanged.
std::string quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only when a quote follows them.
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

struct OwnedHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~OwnedHandle() { reset(); }
    void reset() {
        if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
};

}  // namespace

RunResult runCommand(const std::string& executable, const std::vector<std::string>& args) {
    RunResult result;
    std::string command = quote(executable);
    for (const std::string& arg : args) command += " " + quote(arg);

    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    OwnedHandle readEnd, writeEnd, nul;
    if (!CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0)) return result;
    // Only the child's end is inherited, or the pipe would never report its end.
    SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);
    // Standard input and error go nowhere, as on the other host.
    nul.h = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                        OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.h;
    startup.hStdOutput = writeEnd.h;
    startup.hStdError = nul.h;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return result;
    }
    OwnedHandle processHandle, threadHandle;
    processHandle.h = process.hProcess;
    threadHandle.h = process.hThread;
    writeEnd.reset();

    char buffer[65536];
    DWORD got = 0;
    std::string raw;
    while (ReadFile(readEnd.h, buffer, sizeof buffer, &got, nullptr) && got > 0) raw.append(buffer, got);
    // The child's C runtime writes standard output in text mode, so each newline arrives as CR LF; a lone CR
    // (the progress line's) stays as it is.
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        result.output += raw[i];
    }
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &status)) {
        result.status = static_cast<int>(status);
    }
    return result;
}

}  // namespace testsupport
