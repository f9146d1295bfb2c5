// The identifier pool: the five standard identifiers decipher correctly and none is stored in plain text.
#include "udf/identifier_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "identifier_pool_storage.h"

namespace generated {
struct PoolCall {
    uint32_t first;
    uint32_t second;
    uint32_t third;
};
#include "udf/identifier_pool_data.inc"
}  // namespace generated

namespace {

// Built from pieces so that the test itself holds no whole identifier either.
std::string plain(StandardId id) {
    switch (id) {
        case StandardId::NsrEdition2:
            return std::string("NSR") + "02";
        case StandardId::NsrEdition3:
            return std::string("NSR") + "03";
        case StandardId::MetadataPartition:
            return std::string("*UDF ") + "Metadata Partition";
        case StandardId::VirtualPartition:
            return std::string("*UDF ") + "Virtual Partition";
        case StandardId::SparablePartition:
            return std::string("*UDF ") + "Sparable Partition";
    }
    return {};
}

const StandardId kAll[] = {StandardId::NsrEdition2, StandardId::NsrEdition3, StandardId::MetadataPartition,
                           StandardId::VirtualPartition, StandardId::SparablePartition};

bool contains(const std::vector<uint8_t>& haystack, const std::string& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TEST(IdentifierPool, NoPlainIdentifierInTheLibrary) {
    std::ifstream archive(TAMSEL_UDF_ARCHIVE, std::ios::binary);
    ASSERT_TRUE(archive.good()) << TAMSEL_UDF_ARCHIVE;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(archive)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1000u);
    for (StandardId id : kAll) {
        // Even the distinctive part alone must not appear.
        std::string text = plain(id);
        EXPECT_FALSE(contains(bytes, text)) << text;
        EXPECT_FALSE(contains(bytes, text.substr(0, 4))) << text;
    }
}

TEST(IdentifierPool, DeciphersEachIdentifierOverItsWidthOnceAndInPlace) {
    size_t poolSize = 0;
    const uint8_t* pool = identifierPoolBytes(&poolSize);
    for (StandardId id : kAll) {
        std::string text = plain(id);
        size_t width = identifierWidth(id);
        EXPECT_EQ(width, text.size() <= 5 ? 5u : 23u);
        std::string padded = text + std::string(width - text.size(), '\0');
        const uint8_t* first = standardIdentifier(id);
        ASSERT_NE(first, nullptr);
        EXPECT_GE(first, pool);
        EXPECT_LE(first + width, pool + poolSize);  // deciphered where it lies, not copied out
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(first), width), padded);
        // A second request finds the entry deciphered and must not decipher it again.
        EXPECT_EQ(standardIdentifier(id), first);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(first), width), padded);
        EXPECT_TRUE(matchesIdentifier(reinterpret_cast<const uint8_t*>(padded.data()), id));
        std::string other = padded;
        other[width - 1] = 'x';
        EXPECT_FALSE(matchesIdentifier(reinterpret_cast<const uint8_t*>(other.data()), id));
    }
}

TEST(IdentifierPool, AtRestPoolHoldsNoPlainTextAndBadCallsAreRefused) {
    // The generated data once more, as it is before anything deciphers it.
    for (StandardId id : kAll) {
        std::vector<uint8_t> atRest(std::begin(generated::identifierPool),
                                    std::end(generated::identifierPool));
        EXPECT_FALSE(contains(atRest, plain(id).substr(0, 4)));
    }
    const generated::PoolCall* calls[] = {&generated::kNsrEdition2Call, &generated::kNsrEdition3Call,
                                          &generated::kMetadataPartitionCall};
    for (const generated::PoolCall* call : calls) {
        uint32_t offset = call->first ^ call->second ^ generated::kPoolConstantA;
        uint32_t length = call->second ^ call->third ^ generated::kPoolConstantB;
        // The same entry asked for with another second value: its state byte no longer reads 0 or 2.
        uint32_t second = call->second ^ 1;
        EXPECT_EQ(decipherPoolString(offset ^ second ^ generated::kPoolConstantA, second,
                                     length ^ second ^ generated::kPoolConstantB),
                  nullptr);
        // Offsets or lengths that reach past the pool.
        EXPECT_EQ(decipherPoolString(call->first ^ 0x10000, call->second, call->third), nullptr);
        EXPECT_EQ(decipherPoolString(call->first, call->second, call->third ^ 0x1000), nullptr);
        EXPECT_EQ(decipherPoolString(0xFFFFFFFE ^ call->second ^ generated::kPoolConstantA, call->second,
                                     call->third),
                  nullptr);
    }
    EXPECT_FALSE(matchesIdentifier(nullptr, StandardId::NsrEdition3));
}

}  // namespace
