// The x86-64 SHA-extension engine; this file alone is built with -msha -mssse3 -msse4.1.
#include <immintrin.h>

#include "digest/sha_engine.h"

namespace {

// Message words arrive either as big-endian bytes from the caller's buffer or as the native-order words
// that the final step leaves in the context block.
enum class Source { Bytes, Words };

// SHA-1 wants word 0 in the high lane, so bytes are reversed across the whole register.
template <Source kSource>
inline __m128i loadSha1Message(const uint8_t* p) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (kSource == Source::Bytes) {
        return _mm_shuffle_epi8(raw, _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL));
    }
    return _mm_shuffle_epi32(raw, 0x1b);
}

// One group of four rounds. Message vector g is m[g % 4]; the schedule for later groups is built in the
// same four registers as it is consumed (msg1 three groups ahead, xor two ahead, msg2 one ahead).
#define SHA1_QUAD(g, current, following)                                                                \
    {                                                                                                   \
        if ((g) == 0) {                                                                                 \
            current = _mm_add_epi32(current, m[0]);                                                     \
        } else {                                                                                        \
            current = _mm_sha1nexte_epu32(current, m[(g) % 4]);                                         \
        }                                                                                               \
        following = abcd;                                                                               \
        if ((g) >= 3 && (g) <= 18) m[((g) + 1) % 4] = _mm_sha1msg2_epu32(m[((g) + 1) % 4], m[(g) % 4]); \
        abcd = _mm_sha1rnds4_epu32(abcd, current, (g) / 5);                                             \
        if ((g) >= 1 && (g) <= 16) m[((g) + 3) % 4] = _mm_sha1msg1_epu32(m[((g) + 3) % 4], m[(g) % 4]); \
        if ((g) >= 2 && (g) <= 17) m[((g) + 2) % 4] = _mm_xor_si128(m[((g) + 2) % 4], m[(g) % 4]);      \
    }

template <Source kSource>
void sha1Blocks(uint32_t* state, const uint8_t* data, size_t blockCount) {
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
    __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);
    for (size_t block = 0; block < blockCount; ++block, data += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i e1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i) m[i] = loadSha1Message<kSource>(data + 16 * i);
        // clang-format off
        SHA1_QUAD(0, e0, e1); SHA1_QUAD(1, e1, e0); SHA1_QUAD(2, e0, e1); SHA1_QUAD(3, e1, e0);
        SHA1_QUAD(4, e0, e1); SHA1_QUAD(5, e1, e0); SHA1_QUAD(6, e0, e1); SHA1_QUAD(7, e1, e0);
        SHA1_QUAD(8, e0, e1); SHA1_QUAD(9, e1, e0); SHA1_QUAD(10, e0, e1); SHA1_QUAD(11, e1, e0);
        SHA1_QUAD(12, e0, e1); SHA1_QUAD(13, e1, e0); SHA1_QUAD(14, e0, e1); SHA1_QUAD(15, e1, e0);
        SHA1_QUAD(16, e0, e1); SHA1_QUAD(17, e1, e0); SHA1_QUAD(18, e0, e1); SHA1_QUAD(19, e1, e0);
        // clang-format on
        e0 = _mm_sha1nexte_epu32(e0, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
    state[4] = uint32_t(_mm_extract_epi32(e0, 3));
}

#undef SHA1_QUAD

template <Source kSource>
inline __m128i loadSha256Message(const uint8_t* p) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (kSource == Source::Bytes) {
        return _mm_shuffle_epi8(raw, _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL));
    }
    return raw;
}

// One group of four rounds, two per sha256rnds2. Message vector g is m[g % 4]; msg2 completes the vector
// for the next group while msg1 starts the one three groups ahead.
#define SHA256_QUAD(g)                                                                                       \
    {                                                                                                        \
        __m128i wk = _mm_add_epi32(                                                                          \
            m[(g) % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * (g)))); \
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);                                                        \
        if ((g) >= 3 && (g) <= 14) {                                                                         \
            const __m128i carried = _mm_alignr_epi8(m[(g) % 4], m[((g) + 3) % 4], 4);                        \
            m[((g) + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(m[((g) + 1) % 4], carried), m[(g) % 4]);   \
        }                                                                                                    \
        wk = _mm_shuffle_epi32(wk, 0x0e);                                                                    \
        abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);                                                        \
        if ((g) >= 1 && (g) <= 12) m[((g) + 3) % 4] = _mm_sha256msg1_epu32(m[((g) + 3) % 4], m[(g) % 4]);    \
    }

template <Source kSource>
void sha256Blocks(uint32_t* state, const uint8_t* data, size_t blockCount) {
    // The instructions keep the state as the pairs ABEF and CDGH.
    const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xb1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1b);
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xf0);
    for (size_t block = 0; block < blockCount; ++block, data += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        __m128i m[4];
        for (int i = 0; i < 4; ++i) m[i] = loadSha256Message<kSource>(data + 16 * i);
        // clang-format off
        SHA256_QUAD(0); SHA256_QUAD(1); SHA256_QUAD(2); SHA256_QUAD(3);
        SHA256_QUAD(4); SHA256_QUAD(5); SHA256_QUAD(6); SHA256_QUAD(7);
        SHA256_QUAD(8); SHA256_QUAD(9); SHA256_QUAD(10); SHA256_QUAD(11);
        SHA256_QUAD(12); SHA256_QUAD(13); SHA256_QUAD(14); SHA256_QUAD(15);
        // clang-format on
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xf0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
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

const DigestEngineTable kX86ShaEngine = {DigestEngine::X86Sha, compressSha1, compressSha1Blocks,
                                         compressSha256, compressSha256Blocks};
