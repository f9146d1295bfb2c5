// Pure little- and big-endian decoders and a bounded view over bytes read from an image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/byte_order.h"

inline uint16_t readLe16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline uint64_t readLe64(const uint8_t* p) {
    return uint64_t(readLe32(p)) | (uint64_t(readLe32(p + 4)) << 32);
}

// Every field of untrusted data is read through has() first, so a count or offset from the image can
// only ever shrink what is read, never push it past the buffer.
struct ByteView {
    const uint8_t* data = nullptr;
    size_t size = 0;

    ByteView() = default;
    ByteView(const uint8_t* bytes, size_t count) : data(bytes), size(bytes != nullptr ? count : 0) {}

    // Written so that no sum can wrap, whatever offset and count the image supplies.
    bool has(uint64_t offset, uint64_t count) const { return offset <= size && count <= size - offset; }

    // Out-of-range fields read as 0, the value of a blank sector.
    uint8_t u8(uint64_t offset) const { return has(offset, 1) ? data[offset] : 0; }
    uint16_t le16(uint64_t offset) const { return has(offset, 2) ? readLe16(data + offset) : 0; }
    uint32_t le32(uint64_t offset) const { return has(offset, 4) ? readLe32(data + offset) : 0; }
    uint64_t le64(uint64_t offset) const { return has(offset, 8) ? readLe64(data + offset) : 0; }

    // The part from offset on, empty when the offset lies past the end.
    ByteView from(uint64_t offset) const {
        return offset <= size ? ByteView(data + offset, size - offset) : ByteView();
    }
    ByteView first(uint64_t count) const { return ByteView(data, count < size ? size_t(count) : size); }
};

constexpr uint32_t kSectorSize = 2048;

// Lengths are counted in 32 bits on disc; rounding them in 64 keeps 0xFFFFFFFF from wrapping to 0.
inline uint64_t sectorsFor(uint64_t bytes) {
    return (bytes + kSectorSize - 1) / kSectorSize;
}
inline uint64_t roundToSectors(uint64_t bytes) {
    return sectorsFor(bytes) * kSectorSize;
}
