// Shared test helpers: temporary folders, file bytes, and running the real executable.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/sampledisc.h"

namespace testsupport {

// A fresh folder under the system temporary directory, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return dir; }
    std::string str() const { return dir.string(); }
    std::string sub(const std::string& relative) const { return (dir / relative).string(); }

private:
    std::filesystem::path dir;
};

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::filesystem::path& path);

struct RunResult {
    int status = -1;
    std::string output;
};

// Runs the tamsel executable with these arguments, standard output captured (so never a terminal): once
// hashing on one thread (-t1) and once on four (-t4), which must print the same bytes and end with the same
// status; gives the first. With no argument at all it runs once, as is.
RunResult runTamsel(const std::vector<std::string>& args);
// The words that start the tamsel executable: its path, behind the emulator when a cross build needs one.
std::vector<std::string> tamselCommand();
// Runs any command line; output captured.
RunResult runCommand(const std::string& executable, const std::vector<std::string>& args);

// Whether this is a Windows build running under Wine, whose FindFirstFileA lets each `?` match exactly one
// character: tests of names shorter than the pattern skip there, as real Windows and POSIX match them.
bool runningUnderWine();
constexpr const char* kWineShortNameNote = "Wine's `?` never matches nothing at the end of a base name";

// A path that names no file: a FIFO without a writer (POSIX) or a named pipe (Windows), which an open
// that waits would wait on for ever. Removed at destruction; path() is empty when it could not be made.
class NonFilePath {
public:
    explicit NonFilePath(const TempDir& dir);
    ~NonFilePath();
    NonFilePath(const NonFilePath&) = delete;
    NonFilePath& operator=(const NonFilePath&) = delete;
    const std::string& path() const { return where; }

private:
    std::string where;
    intptr_t handle = -1;
};
// A character device every host has: /dev/null, or NUL.
const char* characterDevicePath();

// Writes a sample disc or fails the current test.
void makeDisc(const std::string& root, const SampleDisc& disc);

// The elapsed-time line varies from run to run; this replaces its figure with "X".
std::string maskElapsed(const std::string& output);

}  // namespace testsupport
