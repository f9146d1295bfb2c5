// LoadWholeFile: a small file read whole into a heap buffer with two NUL bytes after it.
#include "io/heap.h"
#include "io/host_file.h"

uint8_t* LoadWholeFile(const char* name, uint64_t* size, uint64_t maxBytes) {
    *size = 0;
    HostFile file;
    if (!file.Open(name, kOpenRegularOnly)) return nullptr;
    uint64_t fullSize = file.Size();
    // A file above the limit is refused rather than read in part.
    if (fullSize == 0 || fullSize > maxBytes || fullSize > kLoadWholeFileLimit) return nullptr;
    uint32_t length = static_cast<uint32_t>(fullSize);
    auto* buffer = static_cast<uint8_t*>(heapAlloc(static_cast<size_t>(length) + 2));
    if (!buffer) return nullptr;
    // A short read would leave unread bytes in the buffer; callers get nothing instead.
    if (file.Read(buffer, length) != length) {
        heapFree(buffer);
        return nullptr;
    }
    buffer[length] = 0;
    buffer[length + 1] = 0;
    *size = length;
    return buffer;
}
