// The shared update and final steps: every count of waiting bytes, partly filled blocks, the 64-bit length
// and the independence of consecutive units, checked on every engine against the plain oracle.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "digest/sha.h"
#include "engine_scope.h"
#include "reference_sha.h"

namespace {

std::vector<uint8_t> randomBytes(size_t length, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = uint8_t(generator());
    return bytes;
}

std::vector<uint8_t> sha1Of(const std::vector<uint8_t>& message) {
    std::vector<uint8_t> digest(kSha1DigestBytes);
    Sha1Bytes(message.data(), message.size(), digest.data());
    return digest;
}

// The context starts out full of stale bytes, as a reused stack slot would be; Final must not depend on
// anything in the block beyond the waiting message bytes.
std::vector<uint8_t> sha256InPieces(const std::vector<uint8_t>& message, const std::vector<size_t>& pieces) {
    Sha256Context context;
    std::memset(&context, 0xa5, sizeof context);
    Sha256Init(&context);
    size_t offset = 0;
    for (size_t i = 0; offset < message.size(); ++i) {
        const size_t length = std::min(pieces[i % pieces.size()], message.size() - offset);
        Sha256UpdateBytes(&context, message.data() + offset, length);
        offset += length;
    }
    std::vector<uint8_t> digest(kSha256DigestBytes);
    Sha256Final(&context, digest.data());
    return digest;
}

class DigestPadding : public ::testing::TestWithParam<DigestEngine> {
  protected:
    void SetUp() override { ASSERT_TRUE(scope_.selected()); }
    EngineScope scope_{GetParam()};
};

// 56 to 59 waiting bytes need word 15 cleared in the first of two blocks; 60 to 63 fill it; 55 is the
// last count that fits the length in one block. Whole blocks in front leave schedule words in the block.
TEST_P(DigestPadding, EveryWaitingCountPadsLikeTheReference) {
    const size_t waitingCounts[] = {0, 1, 3, 4, 5, 52, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};
    for (size_t wholeBlocks = 0; wholeBlocks < 3; ++wholeBlocks) {
        for (size_t waiting : waitingCounts) {
            const size_t length = 64 * wholeBlocks + waiting;
            SCOPED_TRACE(length);
            const std::vector<uint8_t> message = randomBytes(length, uint32_t(length));
            EXPECT_EQ(hex(sha1Of(message)), hex(referenceSha1(message)));
            EXPECT_EQ(hex(sha256InPieces(message, {length ? length : 1})), hex(referenceSha256(message)));
        }
    }
}

TEST_P(DigestPadding, PiecesThatLeaveTheBlockPartlyFilled) {
    const std::vector<uint8_t> message = randomBytes(1000, 7);
    const std::string expected = hex(referenceSha256(message));
    const std::vector<std::vector<size_t>> splits = {{1},     {3}, {63}, {64}, {65}, {55, 9}, {0, 17, 0, 200},
                                                     {999, 1}};
    for (const std::vector<size_t>& pieces : splits) {
        SCOPED_TRACE(::testing::PrintToString(pieces));
        EXPECT_EQ(hex(sha256InPieces(message, pieces)), expected);
    }
}

// Not a call the verifier makes, but the unit entry point must still take only the bytes that complete
// the waiting block first.
TEST_P(DigestPadding, UnitUpdateAfterAPartialBlock) {
    const std::vector<uint8_t> unit = randomBytes(kHashUnitBytes, 11);
    for (size_t prefixLength : {1, 3, 55, 56, 63}) {
        SCOPED_TRACE(prefixLength);
        const std::vector<uint8_t> prefix = randomBytes(prefixLength, 12);
        std::vector<uint8_t> whole = prefix;
        whole.insert(whole.end(), unit.begin(), unit.end());

        Sha256Context context;
        Sha256Init(&context);
        Sha256UpdateBytes(&context, prefix.data(), prefix.size());
        Sha256Update(&context, unit.data());
        uint8_t digest[kSha256DigestBytes];
        Sha256Final(&context, digest);
        EXPECT_EQ(hex(digest, sizeof digest), hex(referenceSha256(whole)));
    }
}

// A message of more than 4 GiB is out of reach, so the count is started just below the wrap; the digest
// must then carry the 64-bit bit count that the oracle is told.
TEST_P(DigestPadding, ByteCountCarriesIntoTheHighWord) {
    const std::vector<uint8_t> message = randomBytes(0x200 + 20, 5);
    Sha256Context context;
    Sha256Init(&context);
    context.lengthLow = 0xffffff00u;
    Sha256UpdateBytes(&context, message.data(), message.size());
    EXPECT_EQ(context.lengthHigh, 1u);
    EXPECT_EQ(context.lengthLow, 0x100u + 20);
    uint8_t digest[kSha256DigestBytes];
    Sha256Final(&context, digest);
    const uint64_t bytesClaimed = 0x100000000ull + 0x100 + 20;
    EXPECT_EQ(hex(digest, sizeof digest), hex(referenceSha256(message, bytesClaimed * 8)));
}

// Each unit gets a fresh computation: A, B, A again must give A's digest twice, and both entry points
// (length set at once for SHA-1, counted for the byte variant) agree with the oracle.
TEST_P(DigestPadding, ConsecutiveUnitsAreIndependent) {
    const std::vector<uint8_t> first = randomBytes(kHashUnitBytes, 21);
    std::vector<uint8_t> second = first;
    second.back() ^= 1;
    const std::vector<const std::vector<uint8_t>*> order = {&first, &second, &first};

    std::vector<std::string> sha1Digests;
    std::vector<std::string> sha256Digests;
    for (const std::vector<uint8_t>* unit : order) {
        uint8_t sha1[kSha1DigestBytes];
        Sha1HashUnit(unit->data(), sha1);
        sha1Digests.push_back(hex(sha1, sizeof sha1));
        Sha256Context context;
        Sha256Init(&context);
        Sha256Update(&context, unit->data());
        uint8_t sha256[kSha256DigestBytes];
        Sha256Final(&context, sha256);
        sha256Digests.push_back(hex(sha256, sizeof sha256));
    }
    EXPECT_EQ(sha1Digests[0], hex(referenceSha1(first)));
    EXPECT_EQ(sha1Digests[1], hex(referenceSha1(second)));
    EXPECT_EQ(sha1Digests[2], sha1Digests[0]);
    EXPECT_EQ(hex(sha1Of(first)), sha1Digests[0]);
    EXPECT_EQ(sha256Digests[0], hex(referenceSha256(first)));
    EXPECT_EQ(sha256Digests[1], hex(referenceSha256(second)));
    EXPECT_EQ(sha256Digests[2], sha256Digests[0]);
}

INSTANTIATE_TEST_SUITE_P(Engines, DigestPadding, ::testing::ValuesIn(availableEngines(true)),
                         EngineParamName());

}  // namespace
