// Big-endian fields: SCSI command blocks, the content files and the digests store their integers this way.
#pragma once

// The one definition for the whole program. These are inline, so a file compiled with extra target flags
// (digest/sha_x86.cpp, digest/sha_arm.cpp) must not include this header: the linker could keep its copy,
// with instructions other processors lack, for every caller.

#include <cstdint>

inline uint16_t readBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline uint32_t readBe32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void writeBe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}
