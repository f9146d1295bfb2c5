// Explicit big-endian conversions and word access to a context block, whatever the host's byte order.
#pragma once

// Only for the files built with the default target flags (see sha_engine.h).
#include <cstdint>
#include <cstring>

inline uint32_t readBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void writeBe32(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
}

// The block doubles as the sixteen-word schedule window; memcpy keeps that free of aliasing and alignment
// assumptions and compiles to a plain load or store.
inline uint32_t blockWord(const uint8_t* block, unsigned index) {
    uint32_t word;
    std::memcpy(&word, block + 4 * index, sizeof word);
    return word;
}

inline void setBlockWord(uint8_t* block, unsigned index, uint32_t word) {
    std::memcpy(block + 4 * index, &word, sizeof word);
}

// Message bytes as they arrive become the native-order words that the compression expects.
inline void blockBytesToWords(uint8_t* block, const uint8_t* bytes) {
    for (unsigned i = 0; i < 16; ++i) setBlockWord(block, i, readBe32(bytes + 4 * i));
}
