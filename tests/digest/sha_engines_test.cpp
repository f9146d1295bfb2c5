// Every hardware engine against the portable reference engine, and the rules of engine selection.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "digest/sha.h"
#include "engine_scope.h"
#include "reference_sha.h"

namespace {

struct Digests {
    std::string sha1;
    std::string sha256;
};

Digests digestsOn(DigestEngine engine, const std::vector<uint8_t>& message, size_t piece) {
    EngineScope scope(engine);
    EXPECT_TRUE(scope.selected());
    uint8_t sha1[kSha1DigestBytes];
    uint8_t sha256[kSha256DigestBytes];
    Sha1Bytes(message.data(), message.size(), sha1);
    Sha256Context context;
    Sha256Init(&context);
    for (size_t offset = 0; offset < message.size(); offset += piece) {
        Sha256UpdateBytes(&context, message.data() + offset, std::min(piece, message.size() - offset));
    }
    Sha256Final(&context, sha256);
    return {hex(sha1, sizeof sha1), hex(sha256, sizeof sha256)};
}

class HardwareEngine : public ::testing::TestWithParam<DigestEngine> {};

TEST_P(HardwareEngine, AgreesWithPortableOnRandomMessagesOfManyLengths) {
    std::mt19937 generator(1234);
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 300; ++length) lengths.push_back(length);
    for (int i = 0; i < 40; ++i)
        lengths.push_back(std::uniform_int_distribution<size_t>(301, 3 * 65536)(generator));
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> message(length);
        for (uint8_t& b : message) b = uint8_t(generator());
        const size_t piece = std::uniform_int_distribution<size_t>(1, 200)(generator);
        const Digests portable = digestsOn(DigestEngine::Portable, message, piece);
        const Digests hardware = digestsOn(GetParam(), message, piece);
        EXPECT_EQ(hardware.sha1, portable.sha1);
        EXPECT_EQ(hardware.sha256, portable.sha256);
    }
}

TEST_P(HardwareEngine, AgreesWithPortableOnRandomHashUnits) {
    std::mt19937 generator(99);
    std::vector<uint8_t> unit(kHashUnitBytes);
    for (int round = 0; round < 4; ++round) {
        for (uint8_t& b : unit) b = uint8_t(generator());
        std::string sha1[2];
        std::string sha256[2];
        const DigestEngine engines[2] = {DigestEngine::Portable, GetParam()};
        for (int i = 0; i < 2; ++i) {
            EngineScope scope(engines[i]);
            uint8_t digest1[kSha1DigestBytes];
            Sha1HashUnit(unit.data(), digest1);
            sha1[i] = hex(digest1, sizeof digest1);
            Sha256Context context;
            Sha256Init(&context);
            Sha256Update(&context, unit.data());
            uint8_t digest256[kSha256DigestBytes];
            Sha256Final(&context, digest256);
            sha256[i] = hex(digest256, sizeof digest256);
        }
        EXPECT_EQ(sha1[1], sha1[0]);
        EXPECT_EQ(sha256[1], sha256[0]);
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HardwareEngine);
INSTANTIATE_TEST_SUITE_P(Engines, HardwareEngine, ::testing::ValuesIn(availableEngines(false)),
                         EngineParamName());

TEST(DigestEngineSelection, RefusesEnginesThisMachineCannotRun) {
    const DigestEngine before = activeDigestEngine();
    for (DigestEngine engine : {DigestEngine::Portable, DigestEngine::X86Sha, DigestEngine::ArmCrypto}) {
        SCOPED_TRACE(digestEngineName(engine));
        if (digestEngineAvailable(engine)) continue;
        EXPECT_FALSE(selectDigestEngine(engine));
        EXPECT_EQ(activeDigestEngine(), before);
    }
    // The portable engine is the fallback everywhere.
    EXPECT_TRUE(digestEngineAvailable(DigestEngine::Portable));
}

// Without an override the process uses the hardware engine whenever there is one.
TEST(DigestEngineSelection, PrefersHardware) {
    const std::vector<DigestEngine> hardware = availableEngines(false);
    if (hardware.empty()) GTEST_SKIP() << "no hardware engine on this machine";
    EXPECT_EQ(activeDigestEngine(), hardware.front());
}

}  // namespace
