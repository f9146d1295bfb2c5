// A deliberately plain SHA-1 and SHA-256, written straight from FIPS 180-4 and sharing nothing with digest/:
// padding built as bytes, full-length schedules, round loops. Slow, and only an oracle for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bit length written into the padding is normally 8 × the message size; a test may claim another one
// (with the same value mod 512) to reach length counts that no test could afford to hash.
std::vector<uint8_t> referenceSha1(const std::vector<uint8_t>& message);
std::vector<uint8_t> referenceSha256(const std::vector<uint8_t>& message, uint64_t bitLength);
std::vector<uint8_t> referenceSha256(const std::vector<uint8_t>& message);

std::string hex(const uint8_t* bytes, size_t length);
inline std::string hex(const std::vector<uint8_t>& bytes) {
    return hex(bytes.data(), bytes.size());
}
