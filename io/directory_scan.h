// Directory enumeration with a wildcard pattern, in the order an NTFS volume returns the entries.
#pragma once

#include <cstdint>
#include <memory>

struct FindEntry {
    char name[260];
    uint32_t sizeHigh;
    uint32_t sizeLow;
    bool isDirectory;
};

// One enumeration, closed when the scan is destroyed. The last path component of the pattern may hold `?`
// wildcards, each matching one character, or nothing at the end of the base name; names compare without
// regard to case. Directory entries are reported with size 0.
class DirectoryScan {
public:
    DirectoryScan();
    ~DirectoryScan();
    DirectoryScan(const DirectoryScan&) = delete;
    DirectoryScan& operator=(const DirectoryScan&) = delete;

    // False when nothing matches or the folder does not exist.
    bool First(const char* pattern, FindEntry* entry);
    // False when the enumeration is exhausted.
    bool Next(FindEntry* entry);

    struct State;

private:
    std::unique_ptr<State> state;
};

// The Windows wildcard rule for one file name, shared by the POSIX enumeration and its tests.
bool WildcardMatches(const char* pattern, const char* name);
