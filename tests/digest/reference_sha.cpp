// The plain oracle digests used by the engine tests.
#include "reference_sha.h"

namespace {

uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}
uint32_t rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

std::vector<uint8_t> pad(std::vector<uint8_t> message, uint64_t bitLength) {
    message.push_back(0x80);
    while (message.size() % 64 != 56) message.push_back(0);
    for (int shift = 56; shift >= 0; shift -= 8) message.push_back(uint8_t(bitLength >> shift));
    return message;
}

uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16 |
           uint32_t(bytes[offset + 2]) << 8 | uint32_t(bytes[offset + 3]);
}

std::vector<uint8_t> toBytes(const uint32_t* words, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(words[i] >> shift));
    }
    return out;
}

}  // namespace

std::vector<uint8_t> referenceSha1(const std::vector<uint8_t>& message) {
    const std::vector<uint8_t> padded = pad(message, uint64_t(message.size()) * 8);
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    for (size_t block = 0; block < padded.size(); block += 64) {
        uint32_t w[80];
        for (int t = 0; t < 16; ++t) w[t] = wordAt(padded, block + 4 * t);
        for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t temp = rotl(a, 5) + f + e + k + w[t];
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = temp;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    return toBytes(h, 5);
}

std::vector<uint8_t> referenceSha256(const std::vector<uint8_t>& message, uint64_t bitLength) {
    static const uint32_t k[64] = {
        0x428A2F98, 0x71374491, 0xB5C0FBCF, 0xE9B5DBA5, 0x3956C25B, 0x59F111F1, 0x923F82A4, 0xAB1C5ED5,
        0xD807AA98, 0x12835B01, 0x243185BE, 0x550C7DC3, 0x72BE5D74, 0x80DEB1FE, 0x9BDC06A7, 0xC19BF174,
        0xE49B69C1, 0xEFBE4786, 0x0FC19DC6, 0x240CA1CC, 0x2DE92C6F, 0x4A7484AA, 0x5CB0A9DC, 0x76F988DA,
        0x983E5152, 0xA831C66D, 0xB00327C8, 0xBF597FC7, 0xC6E00BF3, 0xD5A79147, 0x06CA6351, 0x14292967,
        0x27B70A85, 0x2E1B2138, 0x4D2C6DFC, 0x53380D13, 0x650A7354, 0x766A0ABB, 0x81C2C92E, 0x92722C85,
        0xA2BFE8A1, 0xA81A664B, 0xC24B8B70, 0xC76C51A3, 0xD192E819, 0xD6990624, 0xF40E3585, 0x106AA070,
        0x19A4C116, 0x1E376C08, 0x2748774C, 0x34B0BCB5, 0x391C0CB3, 0x4ED8AA4A, 0x5B9CCA4F, 0x682E6FF3,
        0x748F82EE, 0x78A5636F, 0x84C87814, 0x8CC70208, 0x90BEFFFA, 0xA4506CEB, 0xBEF9A3F7, 0xC67178F2};
    const std::vector<uint8_t> padded = pad(message, bitLength);
    uint32_t h[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                     0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
    for (size_t block = 0; block < padded.size(); block += 64) {
        uint32_t w[64];
        for (int t = 0; t < 16; ++t) w[t] = wordAt(padded, block + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t v[8];
        for (int i = 0; i < 8; ++i) v[i] = h[i];
        for (int t = 0; t < 64; ++t) {
            const uint32_t e = v[4], a = v[0];
            const uint32_t t1 =
                v[7] + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & v[5]) ^ (~e & v[6])) + k[t] + w[t];
            const uint32_t t2 =
                (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
            for (int i = 7; i > 0; --i) v[i] = v[i - 1];
            v[4] += t1;
            v[0] = t1 + t2;
        }
        for (int i = 0; i < 8; ++i) h[i] += v[i];
    }
    return toBytes(h, 8);
}

std::vector<uint8_t> referenceSha256(const std::vector<uint8_t>& message) {
    return referenceSha256(message, uint64_t(message.size()) * 8);
}

std::string hex(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}
