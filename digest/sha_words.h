// Word access to a context block and big-endian message words, whatever the host's byte order.
#pragma once

// Only for the files built with the default target flags (see sha_engine.h), and so is the one set of
// big-endian helpers it takes readBe32 and writeBe32 from.
#include <cstdint>
#include <cstring>

#include "io/byte_order.h"

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
