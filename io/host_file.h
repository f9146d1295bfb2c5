// HostFile and the path helpers: the only way the tool opens, reads and inspects host files.
#pragma once

#include <cstdint>

constexpr int kSeekBegin = 0;

// A native file handle: a Windows HANDLE or a POSIX descriptor, -1 when none is open.
using NativeHandle = intptr_t;
constexpr NativeHandle kInvalidHandle = -1;

// What an open admits besides the default. By default a regular file or a block device opens, the two
// things a disc image can be; anything else (a FIFO, a socket, a terminal, a directory) is refused at once,
// never waited on.
constexpr uint32_t kOpenRegularOnly = 1;   // content files and clips: a regular file and nothing else
constexpr uint32_t kOpenShareWriters = 2;  // Windows: admit processes that hold the file open for writing,
                                           // as a copy still being written does; POSIX never locks

class HostFile {
public:
    HostFile() = default;
    ~HostFile() { Close(); }
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;

    // Open an existing file for reading, shared with other readers (and writers, with kOpenShareWriters);
    // the tool never writes a file. Reads are hinted as sequential.
    bool Open(const char* name, uint32_t flags = 0);
    bool OpenWide(const char16_t* name, uint32_t flags = 0);
    // Returns the bytes delivered, any count in one call; stops early only when the OS fails or reports the
    // end of the file.
    uint32_t Read(void* buffer, uint32_t count);
    // Returns the new position, or 0 when the OS refuses.
    uint64_t Seek(int64_t offset, int moveMethod);
    // 0 when the size cannot be read. For a block device, the size of the device.
    uint64_t Size();
    void Close();
    bool IsOpen() const { return handle != kInvalidHandle; }

private:
    NativeHandle handle = kInvalidHandle;
};

// Sizes are counted in 32 bits, and the buffer holds two bytes more: no file of 4 GiB or more is loaded.
constexpr uint64_t kLoadWholeFileLimit = 0xFFFFFFFDu;

// The whole file followed by two NUL bytes, from the process heap (heapFree), or null when the file is
// missing, not a regular file, empty, larger than maxBytes (the caller's own limit, at most
// kLoadWholeFileLimit), cannot be allocated or cannot be read in full. The size is checked before any byte
// is read or allocated.
uint8_t* LoadWholeFile(const char* name, uint64_t* size, uint64_t maxBytes = kLoadWholeFileLimit);
bool IsDirectory(const char* path);
bool PathExists(const char* path);

// Milliseconds since some fixed moment, wrapping at 2^32.
uint32_t HostTickCount();

// The path separator that folder-run paths are joined with on this host.
extern const char kPathSeparator;