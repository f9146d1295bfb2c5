// Merging content file pairs into the table, including files shorter than their counts.
#include <gtest/gtest.h>

#include <vector>

#include "aacs/console_reporter.h"
#include "aacs/content_table.h"

namespace {

void be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

std::vector<uint8_t> certificate(uint8_t type, uint8_t beeByte, uint32_t units, uint16_t digests) {
    std::vector<uint8_t> c = {type, beeByte};
    be32(c, 0x0A0B0C0D);
    c.push_back(2);
    c.push_back(1);
    be32(c, units);
    c.push_back(static_cast<uint8_t>(digests >> 8));
    c.push_back(static_cast<uint8_t>(digests));
    c.push_back(0x01);
    c.push_back(0x02);
    return c;
}

struct Entry {
    uint32_t firstUnit, clip, aux;
};

std::vector<uint8_t> hashTable(const std::vector<Entry>& entries, uint32_t values, uint8_t seed) {
    std::vector<uint8_t> t;
    for (const Entry& e : entries) {
        be32(t, e.firstUnit);
        be32(t, e.clip);
        be32(t, e.aux);
    }
    for (uint32_t v = 0; v < values * 8; ++v) t.push_back(static_cast<uint8_t>(seed + v));
    return t;
}

class ContentTable : public ::testing::Test {
protected:
    void TearDown() override { releaseContentTable(&table); }
    // Merged as a run merges a pair: the table grows, and the console reporter shows what was merged.
    void merge(const std::vector<uint8_t>& cert, const std::vector<uint8_t>& tbl, int pair = 1) {
        const uint32_t before = table.entryCount;
        ContentCertificate merged;
        if (addContentPair(&table, cert.data(), cert.size(), tbl.data(), tbl.size(), &merged)) {
            ConsoleReporter reporter(options);
            reporter.contentPairMerged(static_cast<uint32_t>(pair), merged, table.entries + before,
                                       table.entryCount - before);
        }
    }
    ContentHashTable table{};
    Options options{};
};

}  // namespace

TEST_F(ContentTable, OnePairGivesEntriesRunsAndValues) {
    merge(certificate(0x10, 0x80, 10, 2), hashTable({{0, 1, 0}, {6, 2, 0xABCDEF01}}, 10, 0x40));
    ASSERT_TRUE(table.present);
    EXPECT_TRUE(table.useSha256);
    ASSERT_EQ(table.entryCount, 2u);
    ASSERT_EQ(table.unitHashCount, 10u);
    EXPECT_EQ(table.entries[1].firstUnit, 6u);
    EXPECT_EQ(table.entries[1].clipNumber, 2u);
    EXPECT_EQ(table.entries[1].auxValue, 0xABCDEF01u);
    EXPECT_EQ(runEnd(&table, 0), 6u);
    EXPECT_EQ(runEnd(&table, 1), 10u);
    EXPECT_EQ(table.unitHashes[0][0], 0x40);
    EXPECT_EQ(table.unitHashes[9][7], static_cast<uint8_t>(0x40 + 79));
}

TEST_F(ContentTable, SecondPairAppendsAndDecidesTheDigest) {
    merge(certificate(0x10, 0, 3, 1), hashTable({{0, 1, 0}}, 3, 0x00));
    merge(certificate(0x01, 0, 2, 1), hashTable({{3, 7, 0}}, 2, 0x80), 2);
    EXPECT_FALSE(table.useSha256);
    ASSERT_EQ(table.entryCount, 2u);
    ASSERT_EQ(table.unitHashCount, 5u);
    EXPECT_EQ(table.entries[1].clipNumber, 7u);
    EXPECT_EQ(table.unitHashes[3][0], 0x80);
    EXPECT_EQ(table.unitHashes[2][7], 23);
}

TEST_F(ContentTable, CertificateTypeSelectsTheDigest) {
    const struct {
        uint8_t type;
        bool sha256;
    } cases[] = {{0x10, true}, {0x00, false}, {0x01, false}, {0x11, false}};
    for (const auto& c : cases) {
        merge(certificate(c.type, 0, 0, 0), {});
        EXPECT_EQ(table.useSha256, c.sha256) << int(c.type);
    }
}

TEST_F(ContentTable, EmptyPairMakesTheTablePresent) {
    merge(certificate(0x10, 0, 0, 0), {});
    EXPECT_TRUE(table.present);
    EXPECT_EQ(table.entryCount, 0u);
    EXPECT_EQ(table.unitHashCount, 0u);
}

TEST_F(ContentTable, ShortFilesContributeOnlyWhatTheyHold) {
    // Certificate below 16 bytes: passed over, nothing merged.
    std::vector<uint8_t> cert = certificate(0x10, 0, 4, 2);
    std::vector<uint8_t> shortCert(cert.begin(), cert.begin() + 15);
    merge(shortCert, hashTable({{0, 1, 0}, {2, 2, 0}}, 4, 0));
    EXPECT_FALSE(table.present);
    EXPECT_EQ(table.entryCount, 0u);

    // Table cut inside the second record: one whole record, no values.
    std::vector<uint8_t> full = hashTable({{0, 1, 0}, {2, 2, 0}}, 4, 0);
    merge(cert, std::vector<uint8_t>(full.begin(), full.begin() + 20));
    EXPECT_TRUE(table.present);
    EXPECT_EQ(table.entryCount, 1u);
    EXPECT_EQ(table.unitHashCount, 0u);

    // Table cut inside the third value: two whole values after both records.
    releaseContentTable(&table);
    merge(cert, std::vector<uint8_t>(full.begin(), full.begin() + 24 + 8 * 2 + 5));
    EXPECT_EQ(table.entryCount, 2u);
    EXPECT_EQ(table.unitHashCount, 2u);
}

TEST_F(ContentTable, VerboseDumpIsExact) {
    options.verbose = true;
    testing::internal::CaptureStdout();
    merge(certificate(0x10, 0x80, 10, 2), hashTable({{0, 1, 0}, {6, 2, 0x1F}}, 10, 0));
    merge(certificate(0x00, 0x7F, 0, 0), {}, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "  Layer 1\n\tCertType=16\n\tBEE=1\n\tTotalNumberOfHashUnits=168496141\n\tTotalNumberOfLayers=2\n"
              "\tLayerNumber=1\n\tNumberOfHashUnits=10\n\tNumberOfDigests=2\n\tApplicantID=258\n"
              "\t00000000 00001.m2ts 00000000\n\t00000006 00002.m2ts 0000001f\n"
              "  Layer 2\n\tCertType=0\n\tBEE=0\n\tTotalNumberOfHashUnits=168496141\n\tTotalNumberOfLayers=2\n"
              "\tLayerNumber=1\n\tNumberOfHashUnits=0\n\tNumberOfDigests=0\n\tApplicantID=258\n");
}

TEST_F(ContentTable, QuietWithoutVerbose) {
    testing::internal::CaptureStdout();
    merge(certificate(0x10, 0x80, 10, 2), hashTable({{0, 1, 0}, {6, 2, 0}}, 10, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A table never takes more than any disc holds, whatever its counts claim or however often one file is named;
// what is left out marks it cut.
TEST_F(ContentTable, LimitsLeaveTheRestOutAndMarkTheTableCut) {
    const uint16_t perPair = 0xFFFF;
    const std::vector<uint8_t> manyEntries = hashTable(std::vector<Entry>(perPair, Entry{0, 1, 0}), 0, 0);
    for (uint32_t pair = 1; !table.cut; ++pair) {
        ASSERT_LE(pair, kMaxTableEntries / perPair + 1);
        merge(certificate(0x10, 0, 0, perPair), manyEntries, int(pair));
    }
    EXPECT_EQ(table.entryCount, kMaxTableEntries);

    releaseContentTable(&table);
    const uint32_t values = kMaxTableUnits / 3 + 1;
    const std::vector<uint8_t> manyValues = hashTable({{0, 1, 0}}, values, 7);
    for (int pair = 1; pair <= 3; ++pair) {
        merge(certificate(0x10, 0, values, 1), manyValues, pair);
        EXPECT_EQ(table.cut, pair == 3) << pair;
    }
    EXPECT_EQ(table.unitHashCount, kMaxTableUnits);
    EXPECT_EQ(table.entryCount, 3u);
}

TEST(RunEnd, NeverBeyondTheLoadedValues) {
    ClipHashEntry entries[] = {{0, 1, 0}, {50, 2, 0}};
    uint8_t values[10][8] = {};
    ContentHashTable t{entries, 2, values, 10, false, true, false, 2, 10};
    EXPECT_EQ(runEnd(&t, 0), 10u);
    EXPECT_EQ(runEnd(&t, 1), 10u);
}
