// The POSIX side of the host layer: files, attributes, directory enumeration, ticks and the heap.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/directory_scan.h"
#include "io/heap.h"
#include "io/host_file.h"
#include "io/utf16.h"

void* heapAlloc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void* heapAllocZeroed(size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }
void* heapRealloc(void* block, size_t bytes) { return std::realloc(block, bytes ? bytes : 1); }
void heapFree(void* block) { std::free(block); }

const char kPathSeparator = '/';

bool HostFile::Open(const char* name, uint32_t flags) {
    Close();
    int fd;
    // Without O_NONBLOCK, opening a FIFO waits for a writer for ever; the file's kind is checked first and
    // blocking reads are restored once it is known to be a file.
    do {
        fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    bool admitted = fstat(fd, &st) == 0 &&
                    (S_ISREG(st.st_mode) || (S_ISBLK(st.st_mode) && (flags & kOpenRegularOnly) == 0));
    int status = admitted ? fcntl(fd, F_GETFL) : -1;
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    handle = fd;
    return true;
}

bool HostFile::OpenWide(const char16_t* name, uint32_t flags) {
    // File names are UTF-8 here.
    std::string narrow(wideUtf8Length(name), '\0');
    wideToUtf8(name, reinterpret_cast<uint8_t*>(&narrow[0]));
    return Open(narrow.c_str(), flags);
}

uint32_t HostFile::Read(void* buffer, uint32_t count) {
    if (handle == kInvalidHandle || count == 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t total = 0;
    // Ask for everything that remains; loop only on short reads.
    while (total < count) {
        ssize_t got = ::read(static_cast<int>(handle), out + total, count - total);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        total += static_cast<uint32_t>(got);
    }
    return total;
}

uint64_t HostFile::Seek(int64_t offset, int moveMethod) {
    if (handle == kInvalidHandle) return 0;
    int whence = moveMethod == 1 ? SEEK_CUR : moveMethod == 2 ? SEEK_END : SEEK_SET;
    off_t pos = ::lseek(static_cast<int>(handle), static_cast<off_t>(offset), whence);
    return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

uint64_t HostFile::Size() {
    struct stat st;
    if (handle == kInvalidHandle || fstat(static_cast<int>(handle), &st) != 0) return 0;
    if (!S_ISBLK(st.st_mode)) return static_cast<uint64_t>(st.st_size);
    // A block device reports no size in its status; its end, found by a seek, is its size. The position is
    // put back, since reads go on from it.
    int fd = static_cast<int>(handle);
    off_t here = ::lseek(fd, 0, SEEK_CUR);
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (here >= 0) ::lseek(fd, here, SEEK_SET);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

void HostFile::Close() {
    if (handle != kInvalidHandle) {
        ::close(static_cast<int>(handle));
        handle = kInvalidHandle;
    }
}

bool IsDirectory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

uint32_t HostTickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

struct DirectoryScan::State {
    std::vector<FindEntry> entries;
    size_t next = 0;
};

DirectoryScan::DirectoryScan() = default;
DirectoryScan::~DirectoryScan() = default;

namespace {

// The order an NTFS volume keeps its index in: names compared by their upper-case form.
bool ntfsOrder(const FindEntry& a, const FindEntry& b) {
    for (size_t i = 0;; ++i) {
        unsigned char ca = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(a.name[i])));
        unsigned char cb = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(b.name[i])));
        if (ca != cb) return ca < cb;
        if (ca == 0) return false;
    }
}

}  // namespace

bool DirectoryScan::First(const char* pattern, FindEntry* entry) {
    state.reset(new State);
    std::string full(pattern);
    size_t slash = full.rfind('/');
    std::string folder = slash == std::string::npos ? "." : full.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? full : full.substr(slash + 1);
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    while (struct dirent* d = readdir(dir)) {
        if (std::strlen(d->d_name) >= sizeof(entry->name)) continue;
        if (!WildcardMatches(mask.c_str(), d->d_name)) continue;
        FindEntry found{};
        std::strcpy(found.name, d->d_name);
        struct stat st;
        if (stat((folder + d->d_name).c_str(), &st) != 0) continue;
        found.isDirectory = S_ISDIR(st.st_mode);
        uint64_t size = found.isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
        found.sizeHigh = static_cast<uint32_t>(size >> 32);
        found.sizeLow = static_cast<uint32_t>(size);
        state->entries.push_back(found);
    }
    closedir(dir);
    std::sort(state->entries.begin(), state->entries.end(), ntfsOrder);
    return Next(entry);
}

bool DirectoryScan::Next(FindEntry* entry) {
    if (!state || state->next >= state->entries.size()) return false;
    *entry = state->entries[state->next++];
    return true;
}
