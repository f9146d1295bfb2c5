// The Armv8 Cryptographic Extension engine; this file alone is built with -march=armv8-a+crypto.
#include <arm_neon.h>

#include "digest/sha_engine.h"

namespace {

// Message words arrive either as big-endian bytes from the caller's buffer or as the native-order words
// that the final step leaves in the context block.
enum class Source { Bytes, Words };

template <Source kSource>
inline uint32x4_t loadMessage(const uint8_t* p) {
    const uint8x16_t raw = vld1q_u8(p);
    if (kSource == Source::Bytes) return vreinterpretq_u32_u8(vrev32q_u8(raw));
    return vreinterpretq_u32_u8(raw);
}

const uint32_t kSha1RoundConstants[4] = {0x5a827999, 0x6ed9eba1, 0x8f1bbcdc, 0xca62c1d6};

// One group of four rounds with message vector m[g % 4]; the vector four groups ahead is grown in its
// place once this group has used it. The choose, parity and majority instructions follow the round ranges.
#define SHA1_QUAD(g, round)                                                                           \
    {                                                                                                 \
        const uint32x4_t wk = vaddq_u32(m[(g) % 4], vdupq_n_u32(kSha1RoundConstants[(g) / 5]));       \
        const uint32_t eNext = vsha1h_u32(vgetq_lane_u32(abcd, 0));                                   \
        abcd = round(abcd, e, wk);                                                                    \
        if ((g) < 16) {                                                                               \
            m[(g) % 4] = vsha1su1q_u32(vsha1su0q_u32(m[(g) % 4], m[((g) + 1) % 4], m[((g) + 2) % 4]), \
                                       m[((g) + 3) % 4]);                                             \
        }                                                                                             \
        e = eNext;                                                                                    \
    }

template <Source kSource>
void sha1Blocks(uint32_t* state, const uint8_t* data, size_t blockCount) {
    uint32x4_t abcd = vld1q_u32(state);
    uint32_t e = state[4];
    for (size_t block = 0; block < blockCount; ++block, data += 64) {
        const uint32x4_t abcdSaved = abcd;
        const uint32_t eSaved = e;
        uint32x4_t m[4];
        for (int i = 0; i < 4; ++i) m[i] = loadMessage<kSource>(data + 16 * i);
        // clang-format off
        SHA1_QUAD(0, vsha1cq_u32); SHA1_QUAD(1, vsha1cq_u32); SHA1_QUAD(2, vsha1cq_u32);
        SHA1_QUAD(3, vsha1cq_u32); SHA1_QUAD(4, vsha1cq_u32);
        SHA1_QUAD(5, vsha1pq_u32); SHA1_QUAD(6, vsha1pq_u32); SHA1_QUAD(7, vsha1pq_u32);
        SHA1_QUAD(8, vsha1pq_u32); SHA1_QUAD(9, vsha1pq_u32);
        SHA1_QUAD(10, vsha1mq_u32); SHA1_QUAD(11, vsha1mq_u32); SHA1_QUAD(12, vsha1mq_u32);
        SHA1_QUAD(13, vsha1mq_u32); SHA1_QUAD(14, vsha1mq_u32);
        SHA1_QUAD(15, vsha1pq_u32); SHA1_QUAD(16, vsha1pq_u32); SHA1_QUAD(17, vsha1pq_u32);
        SHA1_QUAD(18, vsha1pq_u32); SHA1_QUAD(19, vsha1pq_u32);
        // clang-format on
        abcd = vaddq_u32(abcd, abcdSaved);
        e += eSaved;
    }
    vst1q_u32(state, abcd);
    state[4] = e;
}

#undef SHA1_QUAD

// One group of four rounds with message vector m[g % 4], grown four groups ahead in its place.
#define SHA256_QUAD(g)                                                                                    \
    {                                                                                                     \
        const uint32x4_t wk = vaddq_u32(m[(g) % 4], vld1q_u32(kSha256RoundConstants + 4 * (g)));          \
        if ((g) < 12) {                                                                                   \
            m[(g) % 4] = vsha256su1q_u32(vsha256su0q_u32(m[(g) % 4], m[((g) + 1) % 4]), m[((g) + 2) % 4], \
                                         m[((g) + 3) % 4]);                                               \
        }                                                                                                 \
        const uint32x4_t abcdBefore = abcd;                                                               \
        abcd = vsha256hq_u32(abcd, efgh, wk);                                                             \
        efgh = vsha256h2q_u32(efgh, abcdBefore, wk);                                                      \
    }

template <Source kSource>
void sha256Blocks(uint32_t* state, const uint8_t* data, size_t blockCount) {
    uint32x4_t abcd = vld1q_u32(state);
    uint32x4_t efgh = vld1q_u32(state + 4);
    for (size_t block = 0; block < blockCount; ++block, data += 64) {
        const uint32x4_t abcdSaved = abcd;
        const uint32x4_t efghSaved = efgh;
        uint32x4_t m[4];
        for (int i = 0; i < 4; ++i) m[i] = loadMessage<kSource>(data + 16 * i);
        // clang-format off
        SHA256_QUAD(0); SHA256_QUAD(1); SHA256_QUAD(2); SHA256_QUAD(3);
        SHA256_QUAD(4); SHA256_QUAD(5); SHA256_QUAD(6); SHA256_QUAD(7);
        SHA256_QUAD(8); SHA256_QUAD(9); SHA256_QUAD(10); SHA256_QUAD(11);
        SHA256_QUAD(12); SHA256_QUAD(13); SHA256_QUAD(14); SHA256_QUAD(15);
        // clang-format on
        abcd = vaddq_u32(abcd, abcdSaved);
        efgh = vaddq_u32(efgh, efghSaved);
    }
    vst1q_u32(state, abcd);
    vst1q_u32(state + 4, efgh);
}

#undef SHA256_QUAD

void compressSha1(Sha1Context* context) {
    sha1Blocks<Source::Words>(context->state, context->block, 1);
}

void compressSha1Blocks(Sha1Context* context, const uint8_t* data, size_t blockCount) {
    sha1Blocks<Source::Bytes>(context->state, data, blockCount);
}

void compressSha256(Sha256Context* context) {
    sha256Blocks<Source::Words>(context->state, context->block, 1);
}

void compressSha256Blocks(Sha256Context* context, const uint8_t* data, size_t blockCount) {
    sha256Blocks<Source::Bytes>(context->state, data, blockCount);
}

}  // namespace

const DigestEngineTable kArmCryptoEngine = {DigestEngine::ArmCrypto, compressSha1, compressSha1Blocks,
                                            compressSha256, compressSha256Blocks};
