// The portable compression functions, the reference that every hardware engine must agree with.
#include "digest/sha_engine.h"
#include "digest/sha_words.h"

const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

inline uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}
inline uint32_t rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

// clang-format off
// Eighty rounds written out so that the five working variables never leave registers; schedule word t
// lives in block word t mod 16.
#define W(i) blockWord(block, (i) & 15)
#define SCHEDULE(i) \
    (next = rotl(W((i) + 13) ^ W((i) + 8) ^ W((i) + 2) ^ W(i), 1), setBlockWord(block, (i) & 15, next), next)
#define R0(v, w, x, y, z, i)                                            \
    z += ((w & (x ^ y)) ^ y) + W(i) + 0x5a827999 + rotl(v, 5); \
    w = rotl(w, 30);
#define R1(v, w, x, y, z, i)                                                 \
    z += ((w & (x ^ y)) ^ y) + SCHEDULE(i) + 0x5a827999 + rotl(v, 5); \
    w = rotl(w, 30);
#define R2(v, w, x, y, z, i)                                     \
    z += (w ^ x ^ y) + SCHEDULE(i) + 0x6ed9eba1 + rotl(v, 5); \
    w = rotl(w, 30);
#define R3(v, w, x, y, z, i)                                                   \
    z += (((w | x) & y) | (w & x)) + SCHEDULE(i) + 0x8f1bbcdc + rotl(v, 5); \
    w = rotl(w, 30);
#define R4(v, w, x, y, z, i)                                     \
    z += (w ^ x ^ y) + SCHEDULE(i) + 0xca62c1d6 + rotl(v, 5); \
    w = rotl(w, 30);

// clang-format on
inline void sha1Compress(uint32_t* state, uint8_t* block) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    uint32_t next;
    // clang-format off
    R0(a,b,c,d,e, 0); R0(e,a,b,c,d, 1); R0(d,e,a,b,c, 2); R0(c,d,e,a,b, 3); R0(b,c,d,e,a, 4);
    R0(a,b,c,d,e, 5); R0(e,a,b,c,d, 6); R0(d,e,a,b,c, 7); R0(c,d,e,a,b, 8); R0(b,c,d,e,a, 9);
    R0(a,b,c,d,e, 10); R0(e,a,b,c,d, 11); R0(d,e,a,b,c, 12); R0(c,d,e,a,b, 13); R0(b,c,d,e,a, 14);
    R0(a,b,c,d,e, 15); R1(e,a,b,c,d, 16); R1(d,e,a,b,c, 17); R1(c,d,e,a,b, 18); R1(b,c,d,e,a, 19);
    R2(a,b,c,d,e, 20); R2(e,a,b,c,d, 21); R2(d,e,a,b,c, 22); R2(c,d,e,a,b, 23); R2(b,c,d,e,a, 24);
    R2(a,b,c,d,e, 25); R2(e,a,b,c,d, 26); R2(d,e,a,b,c, 27); R2(c,d,e,a,b, 28); R2(b,c,d,e,a, 29);
    R2(a,b,c,d,e, 30); R2(e,a,b,c,d, 31); R2(d,e,a,b,c, 32); R2(c,d,e,a,b, 33); R2(b,c,d,e,a, 34);
    R2(a,b,c,d,e, 35); R2(e,a,b,c,d, 36); R2(d,e,a,b,c, 37); R2(c,d,e,a,b, 38); R2(b,c,d,e,a, 39);
    R3(a,b,c,d,e, 40); R3(e,a,b,c,d, 41); R3(d,e,a,b,c, 42); R3(c,d,e,a,b, 43); R3(b,c,d,e,a, 44);
    R3(a,b,c,d,e, 45); R3(e,a,b,c,d, 46); R3(d,e,a,b,c, 47); R3(c,d,e,a,b, 48); R3(b,c,d,e,a, 49);
    R3(a,b,c,d,e, 50); R3(e,a,b,c,d, 51); R3(d,e,a,b,c, 52); R3(c,d,e,a,b, 53); R3(b,c,d,e,a, 54);
    R3(a,b,c,d,e, 55); R3(e,a,b,c,d, 56); R3(d,e,a,b,c, 57); R3(c,d,e,a,b, 58); R3(b,c,d,e,a, 59);
    R4(a,b,c,d,e, 60); R4(e,a,b,c,d, 61); R4(d,e,a,b,c, 62); R4(c,d,e,a,b, 63); R4(b,c,d,e,a, 64);
    R4(a,b,c,d,e, 65); R4(e,a,b,c,d, 66); R4(d,e,a,b,c, 67); R4(c,d,e,a,b, 68); R4(b,c,d,e,a, 69);
    R4(a,b,c,d,e, 70); R4(e,a,b,c,d, 71); R4(d,e,a,b,c, 72); R4(c,d,e,a,b, 73); R4(b,c,d,e,a, 74);
    R4(a,b,c,d,e, 75); R4(e,a,b,c,d, 76); R4(d,e,a,b,c, 77); R4(c,d,e,a,b, 78); R4(b,c,d,e,a, 79);
    // clang-format on
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

#undef SCHEDULE
#undef R0
#undef R1
#undef R2
#undef R3
#undef R4

// clang-format off
#define BIG_SIGMA0(x) (rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22))
#define BIG_SIGMA1(x) (rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25))
#define SMALL_SIGMA0(x) (rotr(x, 7) ^ rotr(x, 18) ^ ((x) >> 3))
#define SMALL_SIGMA1(x) (rotr(x, 17) ^ rotr(x, 19) ^ ((x) >> 10))
#define ROUND(a, b, c, d, e, f, g, h, i, word)                                              \
    h += BIG_SIGMA1(e) + (g ^ (e & (f ^ g))) + k[i] + (word);                              \
    d += h;                                                                                \
    h += BIG_SIGMA0(a) + ((a & b) | (c & (a | b)));
// The first pass reads the message words; the later passes first grow schedule word i + 16 × pass in
// place of word i.
#define SCHEDULED(i)                                                                                    \
    (pass == 0 ? W(i)                                                                                   \
               : (next = W(i) + SMALL_SIGMA1(W((i) + 14)) + W((i) + 9) + SMALL_SIGMA0(W((i) + 1)),     \
                  setBlockWord(block, i, next), next))
#define P(a, b, c, d, e, f, g, h, i) ROUND(a, b, c, d, e, f, g, h, i, SCHEDULED(i))

// clang-format on
// Sixty-four rounds as four passes of sixteen: after sixteen rounds the variables are back in their
// starting roles, so one written-out pass serves all four. Kept as a loop on purpose: unrolled, the
// compiler keeps too many schedule words in registers and spills them.
inline void sha256Compress(uint32_t* state, uint8_t* block) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t next;
    const uint32_t* k = kSha256RoundConstants;
    for (int pass = 0; pass < 4; ++pass, k += 16) {
        // clang-format off
        P(a, b, c, d, e, f, g, h, 0); P(h, a, b, c, d, e, f, g, 1);
        P(g, h, a, b, c, d, e, f, 2); P(f, g, h, a, b, c, d, e, 3);
        P(e, f, g, h, a, b, c, d, 4); P(d, e, f, g, h, a, b, c, 5);
        P(c, d, e, f, g, h, a, b, 6); P(b, c, d, e, f, g, h, a, 7);
        P(a, b, c, d, e, f, g, h, 8); P(h, a, b, c, d, e, f, g, 9);
        P(g, h, a, b, c, d, e, f, 10); P(f, g, h, a, b, c, d, e, 11);
        P(e, f, g, h, a, b, c, d, 12); P(d, e, f, g, h, a, b, c, 13);
        P(c, d, e, f, g, h, a, b, 14); P(b, c, d, e, f, g, h, a, 15);
        // clang-format on
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#undef W
#undef BIG_SIGMA0
#undef BIG_SIGMA1
#undef SMALL_SIGMA0
#undef SMALL_SIGMA1
#undef ROUND
#undef SCHEDULED
#undef P

void compressSha1(Sha1Context* context) {
    sha1Compress(context->state, context->block);
}

void compressSha1Blocks(Sha1Context* context, const uint8_t* data, size_t blockCount) {
    for (size_t i = 0; i < blockCount; ++i, data += 64) {
        blockBytesToWords(context->block, data);
        sha1Compress(context->state, context->block);
    }
}

void compressSha256(Sha256Context* context) {
    sha256Compress(context->state, context->block);
}

void compressSha256Blocks(Sha256Context* context, const uint8_t* data, size_t blockCount) {
    for (size_t i = 0; i < blockCount; ++i, data += 64) {
        blockBytesToWords(context->block, data);
        sha256Compress(context->state, context->block);
    }
}

}  // namespace

const DigestEngineTable kPortableEngine = {DigestEngine::Portable, compressSha1, compressSha1Blocks,
                                           compressSha256, compressSha256Blocks};
