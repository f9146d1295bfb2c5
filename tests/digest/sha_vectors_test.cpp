// Published FIPS 180-4 examples and the all-zero hash unit, on every engine the machine offers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "digest/sha.h"
#include "engine_scope.h"
#include "reference_sha.h"

namespace {

struct Vector {
    const char* name;
    std::string message;
    const char* sha1;
    const char* sha256;
};

std::vector<Vector> fipsVectors() {
    return {
        {"abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes wait at the end: the two-block padding case.
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "pqrstnopqrstu",
         "a49b2446a02c645bf419f995b67091253a04a259",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"one million a", std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
}

const uint8_t* bytesOf(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

class DigestVectors : public ::testing::TestWithParam<DigestEngine> {};

TEST_P(DigestVectors, PublishedExamplesInOnePieceAndInOddPieces) {
    EngineScope scope(GetParam());
    ASSERT_TRUE(scope.selected());
    for (const Vector& v : fipsVectors()) {
        SCOPED_TRACE(v.name);
        uint8_t sha1[kSha1DigestBytes];
        Sha1Bytes(bytesOf(v.message), v.message.size(), sha1);
        EXPECT_EQ(hex(sha1, sizeof sha1), v.sha1);

        uint8_t sha256[kSha256DigestBytes];
        Sha256Bytes(bytesOf(v.message), v.message.size(), sha256);
        EXPECT_EQ(hex(sha256, sizeof sha256), v.sha256);

        // 37 bytes a piece leaves a different number of bytes waiting in the block at every step.
        Sha256Context context;
        Sha256Init(&context);
        for (size_t offset = 0; offset < v.message.size(); offset += 37) {
            Sha256UpdateBytes(&context, bytesOf(v.message) + offset,
                              std::min<size_t>(37, v.message.size() - offset));
        }
        Sha256Final(&context, sha256);
        EXPECT_EQ(hex(sha256, sizeof sha256), v.sha256);
    }
}

TEST_P(DigestVectors, ZeroHashUnitThroughTheUnitEntryPoints) {
    EngineScope scope(GetParam());
    ASSERT_TRUE(scope.selected());
    const std::vector<uint8_t> unit(kHashUnitBytes, 0);
    // The reference is checked against the published examples in ReferenceMatchesPublishedExamples.
    const std::string sha1Expected = hex(referenceSha1(unit));
    const std::string sha256Expected = hex(referenceSha256(unit));

    uint8_t sha1[kSha1DigestBytes];
    Sha1HashUnit(unit.data(), sha1);
    EXPECT_EQ(hex(sha1, sizeof sha1), sha1Expected);

    uint8_t sha256[kSha256DigestBytes];
    Sha256Context context;
    Sha256Init(&context);
    Sha256Update(&context, unit.data());
    Sha256Final(&context, sha256);
    EXPECT_EQ(hex(sha256, sizeof sha256), sha256Expected);
}

INSTANTIATE_TEST_SUITE_P(Engines, DigestVectors, ::testing::ValuesIn(availableEngines(true)),
                         EngineParamName());

// The oracle of the other tests must itself be right, or they would prove only agreement.
TEST(ReferenceDigest, ReferenceMatchesPublishedExamples) {
    for (const Vector& v : fipsVectors()) {
        SCOPED_TRACE(v.name);
        const std::vector<uint8_t> message(v.message.begin(), v.message.end());
        EXPECT_EQ(hex(referenceSha1(message)), v.sha1);
        EXPECT_EQ(hex(referenceSha256(message)), v.sha256);
    }
}

}  // namespace
