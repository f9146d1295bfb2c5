// HostFile and the path helpers: the only way the tool opens, reads and inspects host files.
#pragma once

#include <cstdint>

constexpr int kSeekBegin = 0;

// A native file handle: a Windows HANDLE or a POSIX descriptor, -1 when none is open.
using NativeHandle = intptr_t;
constexpr NativeHandle kInvalidHandle = -1;

class HostFile {
public:
    HostFile() = default;
    ~HostFile() { Close(); }
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;

    // Open an existing file for reading, shared with other readers only; the tool never writes a file.
    bool Open(const char* name);
    bool OpenWide(const char16_t* name);
    // Returns the bytes delivered; stops early only when the OS fails or reports the end of the file.
    uint32_t Read(void* buffer, uint32_t count);
    // Returns the new position, or 0 when the OS refuses.
    uint64_t Seek(int64_t offset, int moveMethod);
    // 0 when the size cannot be read.
    uint64_t Size();
    void Close();
    bool IsOpen() const { return handle != kInvalidHandle; }

private:
    NativeHandle handle = kInvalidHandle;
};

// The whole file followed by two NUL bytes, from the process heap (heapFree), or null when the file is
// missing, empty, 4 GiB or larger, cannot be allocated or cannot be read in full.
uint8_t* LoadWholeFile(const char* name, uint64_t* size);
bool IsDirectory(const char* path);
bool PathExists(const char* path);

// Milliseconds since some fixed moment, wrapping at 2^32.
uint32_t HostTickCount();

// The path separator that folder-run paths are joined with on this host.
extern const char kPathSeparator;