// The Windows side of the host layer: files, attributes, directory enumeration, ticks and the heap.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>

#include "io/directory_scan.h"
#include "io/heap.h"
#include "io/host_file.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 names are handed to CreateFileW as they are");

void* heapAlloc(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }
void* heapAllocZeroed(size_t bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

void* heapRealloc(void* block, size_t bytes) {
    // HeapReAlloc takes no null block, unlike realloc.
    if (!block) return heapAlloc(bytes);
    return HeapReAlloc(GetProcessHeap(), 0, block, bytes);
}

void heapFree(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

const char kPathSeparator = '\\';

namespace {

HANDLE asHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

static_assert(sizeof(NativeHandle) >= sizeof(HANDLE), "a HANDLE round-trips through the holder's integer");

// The name buffer of Open: 260 UTF-16 units, the terminating NUL included.
constexpr int kWideNameUnits = 260;

}  // namespace

bool HostFile::Open(const char* name, uint32_t flags) {
    Close();
    wchar_t wide[kWideNameUnits];
    // A name that does not fit makes the conversion fail; it is refused rather than cut short.
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, kWideNameUnits) == 0) return false;
    return OpenWide(reinterpret_cast<const char16_t*>(wide), flags);
}

bool HostFile::OpenWide(const char16_t* name, uint32_t flags) {
    Close();
    DWORD share = FILE_SHARE_READ;
    if ((flags & kOpenShareWriters) != 0) share |= FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(name), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // Pipes and character devices (a console, NUL, a serial port) are no files to verify, and a read from
    // one may wait for ever. Files and volumes both answer FILE_TYPE_DISK; the folder run composes its paths
    // inside a folder, so a volume reaches a regular-only open only by a name no run gives.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return false;
    }
    handle = reinterpret_cast<NativeHandle>(h);
    return true;
}

uint32_t HostFile::Read(void* buffer, uint32_t count) {
    if (handle == kInvalidHandle || count == 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t total = 0;
    // Ask for everything that remains; loop only on short reads.
    while (total < count) {
        DWORD got = 0;
        if (!ReadFile(asHandle(handle), out + total, count - total, &got, nullptr) || got == 0) break;
        total += got;
    }
    return total;
}

uint64_t HostFile::Seek(int64_t offset, int moveMethod) {
    if (handle == kInvalidHandle) return 0;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(asHandle(handle), distance, &position, static_cast<DWORD>(moveMethod))) return 0;
    return static_cast<uint64_t>(position.QuadPart);
}

uint64_t HostFile::Size() {
    LARGE_INTEGER size;
    if (handle == kInvalidHandle || !GetFileSizeEx(asHandle(handle), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

void HostFile::Close() {
    if (handle != kInvalidHandle) {
        CloseHandle(asHandle(handle));
        handle = kInvalidHandle;
    }
}

bool IsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

uint32_t HostTickCount() { return GetTickCount(); }

struct DirectoryScan::State {
    HANDLE find = INVALID_HANDLE_VALUE;

    ~State() { close(); }
    void close() {
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        find = INVALID_HANDLE_VALUE;
    }
};

DirectoryScan::DirectoryScan() : state(new State) {}
DirectoryScan::~DirectoryScan() = default;

namespace {

void copyEntry(const WIN32_FIND_DATAA& data, FindEntry* entry) {
    static_assert(sizeof(entry->name) == sizeof(data.cFileName), "entry names hold what the enumeration gives");
    std::memcpy(entry->name, data.cFileName, sizeof(entry->name));
    entry->name[sizeof(entry->name) - 1] = 0;
    // Sizes as the enumeration reports them; for a directory that is 0.
    entry->sizeHigh = data.nFileSizeHigh;
    entry->sizeLow = data.nFileSizeLow;
    entry->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool DirectoryScan::First(const char* pattern, FindEntry* entry) {
    state->close();
    WIN32_FIND_DATAA data;
    state->find = FindFirstFileA(pattern, &data);
    if (state->find == INVALID_HANDLE_VALUE) return false;
    copyEntry(data, entry);
    return true;
}

bool DirectoryScan::Next(FindEntry* entry) {
    if (state->find == INVALID_HANDLE_VALUE) return false;
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(state->find, &data)) {
        // The enumeration is over; its handle goes now rather than with the scan.
        state->close();
        return false;
    }
    copyEntry(data, entry);
    return true;
}
