// Update and final steps shared by both algorithms, and the public entry points over the current engine.
#include "digest/sha.h"

#include <cstring>

#include "digest/sha_engine.h"
#include "digest/sha_words.h"

namespace {

const uint32_t kSha1Initial[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
const uint32_t kSha256Initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

template <typename Context>
using Compress = void (*)(Context*);
template <typename Context>
using CompressBlocks = void (*)(Context*, const uint8_t*, size_t);

template <typename Context>
void addLength(Context* context, size_t length) {
    const uint64_t count = length;
    const uint32_t low = uint32_t(count);
    context->lengthLow += low;
    context->lengthHigh += uint32_t(count >> 32) + (context->lengthLow < low ? 1 : 0);
}

template <typename Context>
void absorb(Context* context, const uint8_t* data, size_t length, Compress<Context> compress,
            CompressBlocks<Context> compressBlocks) {
    const size_t used = context->lengthLow % 64;
    addLength(context, length);
    if (used != 0) {
        const size_t fill = 64 - used;
        if (length < fill) {
            if (length != 0) std::memcpy(context->block + used, data, length);
            return;
        }
        // Only the bytes that complete the waiting block; the rest goes on from a block boundary.
        std::memcpy(context->block + used, data, fill);
        blockBytesToWords(context->block, context->block);
        compress(context);
        data += fill;
        length -= fill;
    }
    const size_t blockCount = length / 64;
    if (blockCount != 0) compressBlocks(context, data, blockCount);
    data += blockCount * 64;
    length -= blockCount * 64;
    if (length != 0) std::memcpy(context->block, data, length);
}

// FIPS 180-4 padding on the words of the block. The block holds schedule words from earlier compressions,
// so every word not filled here is cleared; only the waiting message bytes themselves are read.
template <typename Context, size_t kStateWords>
void finish(Context* context, Compress<Context> compress, uint8_t* digest) {
    uint8_t* block = context->block;
    const unsigned waiting = context->lengthLow % 64;
    const unsigned whole = waiting / 4;
    const unsigned partial = waiting % 4;
    for (unsigned i = 0; i < whole; ++i) setBlockWord(block, i, readBe32(block + 4 * i));
    uint32_t last = 0x80000000u >> (8 * partial);
    for (unsigned i = 0; i < partial; ++i) last |= uint32_t(block[4 * whole + i]) << (24 - 8 * i);
    setBlockWord(block, whole, last);
    unsigned firstClear = whole + 1;
    if (waiting > 55) {
        if (waiting < 60) setBlockWord(block, 15, 0);
        compress(context);
        firstClear = 0;
    }
    for (unsigned i = firstClear; i < 14; ++i) setBlockWord(block, i, 0);
    setBlockWord(block, 14, (context->lengthHigh << 3) | (context->lengthLow >> 29));
    setBlockWord(block, 15, context->lengthLow << 3);
    compress(context);
    for (size_t i = 0; i < kStateWords; ++i) writeBe32(digest + 4 * i, context->state[i]);
}

void sha1Init(Sha1Context* context) {
    context->lengthLow = 0;
    context->lengthHigh = 0;
    std::memcpy(context->state, kSha1Initial, sizeof kSha1Initial);
}

}  // namespace

void Sha1HashUnit(const uint8_t* data, uint8_t digest[20]) {
    const DigestEngineTable& engine = currentDigestEngine();
    Sha1Context context;
    sha1Init(&context);
    // The whole unit is known up front, so the length is set at once rather than counted per block.
    context.lengthLow = kHashUnitBytes;
    engine.compressSha1Blocks(&context, data, kHashUnitBytes / 64);
    finish<Sha1Context, 5>(&context, engine.compressSha1, digest);
}

void Sha1Bytes(const uint8_t* data, size_t length, uint8_t digest[20]) {
    const DigestEngineTable& engine = currentDigestEngine();
    Sha1Context context;
    sha1Init(&context);
    absorb(&context, data, length, engine.compressSha1, engine.compressSha1Blocks);
    finish<Sha1Context, 5>(&context, engine.compressSha1, digest);
}

void Sha256Init(Sha256Context* context) {
    context->lengthLow = 0;
    context->lengthHigh = 0;
    std::memcpy(context->state, kSha256Initial, sizeof kSha256Initial);
}

void Sha256UpdateBytes(Sha256Context* context, const uint8_t* data, size_t length) {
    const DigestEngineTable& engine = currentDigestEngine();
    absorb(context, data, length, engine.compressSha256, engine.compressSha256Blocks);
}

void Sha256Update(Sha256Context* context, const uint8_t* data) {
    Sha256UpdateBytes(context, data, kHashUnitBytes);
}

void Sha256Final(Sha256Context* context, uint8_t digest[32]) {
    finish<Sha256Context, 8>(context, currentDigestEngine().compressSha256, digest);
}

void Sha256Bytes(const uint8_t* data, size_t length, uint8_t digest[32]) {
    Sha256Context context;
    Sha256Init(&context);
    Sha256UpdateBytes(&context, data, length);
    Sha256Final(&context, digest);
}
