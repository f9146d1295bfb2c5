// Running a child process with its standard output captured, on POSIX.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

std::string quote(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

}  // namespace

RunResult runCommand(const std::string& executable, const std::vector<std::string>& args) {
    std::string command = quote(executable);
    for (const std::string& arg : args) command += " " + quote(arg);
    command += " 2>/dev/null";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace testsupport
