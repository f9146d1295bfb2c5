// Verifying one clip against the table: thresholds, mismatches, runs, values running out, unreadable units.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "aacs/clip_verify.h"
#include "aacs/console_reporter.h"
#include "aacs/disc_source.h"
#include "aacs/folder_source.h"
#include "console/console.h"
#include "digest/sha.h"
#include "tests/support/test_support.h"
#include "tools/sampledisc.h"

namespace {

// A clip held in memory that can stop delivering from a chosen byte on.
class MemoryClip : public ClipSource {
public:
    MemoryClip(uint64_t size, uint32_t seed = 7) : bytes(size) { fillClipBytes(seed, 0, 0, bytes.data(), bytes.size()); }
    bool open() override {
        ++opens;
        return openable;
    }
    // Counts each unit asked for, as a source read one unit at a time would.
    uint32_t readUnits(uint64_t first, uint32_t count, uint8_t* units) override {
        for (uint32_t i = 0; i < count; ++i) {
            ++reads;
            uint64_t start = (first + i) * kHashUnitSize;
            if (start + kHashUnitSize > bytes.size() || start + kHashUnitSize > failFrom) return i;
            std::memcpy(units + size_t(i) * kHashUnitSize, bytes.data() + start, kHashUnitSize);
        }
        return count;
    }
    bool readTail(uint64_t offset, uint32_t length, uint8_t* buffer) override {
        ++tailReads;
        if (offset + length > bytes.size() || offset + length > failFrom) return false;
        std::memcpy(buffer, bytes.data() + offset, length);
        return true;
    }
    void close() override { ++closes; }
    const char* path() const override { return "/disc/BDMV/STREAM/00001.m2ts"; }

    void corrupt(uint32_t unit) { bytes[unit * static_cast<size_t>(kHashUnitSize) + 17] ^= 0xFF; }
    std::vector<uint8_t> unitHash(uint32_t unit, bool sha256) const {
        std::vector<uint8_t> v(8);
        unitHashValue(bytes.data() + static_cast<size_t>(unit) * kHashUnitSize, sha256, v.data());
        return v;
    }

    std::vector<uint8_t> bytes;
    uint64_t failFrom = UINT64_MAX;
    bool openable = true;
    int opens = 0, reads = 0, closes = 0, tailReads = 0;
};

// A table whose entries are given and whose values are the true ones of `clip` for units [0, values),
// zero past the clip's end.
struct Table {
    Table(const MemoryClip& clip, std::vector<ClipHashEntry> list, uint32_t valueCount, bool sha256)
        : entries(std::move(list)), values(valueCount) {
        const uint64_t clipUnits = clip.bytes.size() / kHashUnitSize;
        for (uint32_t u = 0; u < valueCount && u < clipUnits; ++u) {
            std::vector<uint8_t> v = clip.unitHash(u, sha256);
            std::memcpy(values[u].data(), v.data(), 8);
        }
        table.entries = entries.data();
        table.entryCount = static_cast<uint32_t>(entries.size());
        table.unitHashes = reinterpret_cast<uint8_t(*)[8]>(values.data());
        table.unitHashCount = valueCount;
        table.useSha256 = sha256;
        table.present = true;
    }
    std::vector<ClipHashEntry> entries;
    std::vector<std::array<uint8_t, 8>> values;
    ContentHashTable table{};
};

// A result in words, so a failing comparison says what the clip came to.
std::string describe(const ClipResult& r) {
    static const char* const kShortfalls[] = {"", "not opened", "no entry", "values ran out", "unreadable", "shorter",
                                              "shared data"};
    switch (verdictOf(r)) {
        case ClipVerdict::Matched:
            return "matched";
        case ClipVerdict::Skipped:
            return "skipped";
        case ClipVerdict::Mismatched:
            return "mismatched " + std::to_string(r.mismatchedUnits) +
                   (r.shortfall == Shortfall::None ? "" : std::string(", ") + kShortfalls[int(r.shortfall)]);
        case ClipVerdict::Unverified:
            return std::string("unverified: ") + kShortfalls[int(r.shortfall)];
    }
    return "?";
}

class VerifyClip : public ::testing::Test {
protected:
    // Verifies as a run does, the clip's closing report included; the output is what the console shows.
    std::string run(const Table& t, ClipSource& clip, uint32_t number, uint64_t size) {
        ConsoleReporter reporter(options);
        ContentIndex index(&t.table);
        ClipFile file{"00001.m2ts", size, number, true};
        ReadingFeed feed(&clip, unit.data(), t.table.useSha256);
        testing::internal::CaptureStdout();
        last = verifyClip(index, &feed, file, VerifySettings{options.abortOnMismatch}, &reporter);
        reporter.clipFinished(file, last);
        output = testing::internal::GetCapturedStdout();
        return describe(last);
    }
    std::string run(const Table& t, MemoryClip& clip, uint32_t number = 1) {
        return run(t, clip, number, clip.bytes.size());
    }
    ClipResult last;
    Options options{};
    std::vector<uint8_t> unit = std::vector<uint8_t>(kHashUnitSize);
    std::string output;
};

}  // namespace

TEST_F(VerifyClip, SkipThresholdIsSevenUnits) {
    options.verbose = true;
    MemoryClip small(kMinHashedClipSize - 1);
    // Six whole units, and the table lists no more than that.
    Table t(small, {{0, 1, 0}}, 6, true);
    EXPECT_EQ(run(t, small), "skipped");
    EXPECT_EQ(output, "00001.m2ts was skipped due to no content hash\n");
    EXPECT_EQ(small.opens, 0);

    MemoryClip exact(kMinHashedClipSize);
    Table t2(exact, {{0, 1, 0}}, 7, true);
    EXPECT_EQ(run(t2, exact), "matched");
    EXPECT_EQ(output, "00001.m2ts content hash match\n");
    EXPECT_EQ(exact.reads, 7);  // the size says where the units end
    EXPECT_EQ(exact.closes, 1);
}

// A clip cut short (an interrupted copy): the units it has are verified, and the clip is not called intact.
TEST_F(VerifyClip, ClipShorterThanItsTableIsVerifiedAsFarAsItGoes) {
    MemoryClip whole(10 * kHashUnitSize);
    Table t(whole, {{0, 1, 0}}, 10, true);
    char unitTwo[17];
    hexString(t.values[2].data(), 8, unitTwo);
    const struct {
        uint64_t size;
        bool corruptUnitTwo;
        const char* result;
        std::string expected;
    } cases[] = {
        {9 * kHashUnitSize, false, "unverified: shorter",
         "00001.m2ts is shorter than its content hash table: 9 of 10 hash units\n"},
        // Cut inside its seventh unit: below the smallest hashed size, yet listed with more than it holds.
        {13 * kHashUnitSize / 2, false, "unverified: shorter",
         "00001.m2ts is shorter than its content hash table: 6 of 10 hash units\n"},
        {kHashUnitSize / 2, false, "unverified: shorter",
         "00001.m2ts is shorter than its content hash table: 0 of 10 hash units\n"},
        {8 * kHashUnitSize, true, "mismatched 1, shorter",
         std::string("00001.m2ts content hash mismatch at offset 393216 (25%), expected hash=") + unitTwo +
             "\n00001.m2ts is shorter than its content hash table: 8 of 10 hash units\n"},
    };
    for (const auto& c : cases) {
        MemoryClip clip(c.size);
        if (c.corruptUnitTwo) clip.corrupt(2);
        EXPECT_EQ(run(t, clip), c.result) << c.size;
        EXPECT_EQ(output, c.expected) << c.size;
        EXPECT_EQ(uint64_t(clip.reads), c.size / kHashUnitSize) << c.size;
        EXPECT_EQ(last.wholeUnits, c.size / kHashUnitSize);
        EXPECT_EQ(last.listedUnits, 10u);
    }
}

TEST_F(VerifyClip, HalfUnitAtTheEndIsNeverCompared) {
    MemoryClip clip(15 * kHashUnitSize / 2);
    Table t(clip, {{0, 1, 0}}, 7, false);
    clip.bytes.back() ^= 1;  // inside the last half unit
    EXPECT_EQ(run(t, clip), "matched");
    EXPECT_EQ(output, "00001.m2ts content hash match\n");
}

// The last partial unit has no value, but a clip cut inside it is not whole: it must be readable.
TEST_F(VerifyClip, LastPartialUnitMustBeReadable) {
    MemoryClip clip(15 * kHashUnitSize / 2);
    Table t(clip, {{0, 1, 0}}, 7, true);
    EXPECT_EQ(run(t, clip), "matched");
    EXPECT_EQ(clip.tailReads, 1);
    clip.failFrom = 7 * kHashUnitSize + 1000;
    EXPECT_EQ(run(t, clip), "unverified: unreadable");
    EXPECT_EQ(output, "00001.m2ts cannot be read at offset 1376256\n");
    // A clip that stopped before its last whole unit never reads what follows.
    clip.tailReads = 0;
    options.abortOnMismatch = true;
    clip.corrupt(0);
    EXPECT_EQ(run(t, clip), "mismatched 1");
    EXPECT_EQ(clip.tailReads, 0);
}

TEST_F(VerifyClip, MismatchAtUnitFiveOfTen) {
    for (bool sha256 : {true, false}) {
        MemoryClip clip(10 * kHashUnitSize);
        Table t(clip, {{0, 1, 0}}, 10, sha256);
        clip.corrupt(5);
        char expected[17];
        hexString(t.values[5].data(), 8, expected);
        EXPECT_EQ(run(t, clip), "mismatched 1");
        EXPECT_EQ(output, std::string("00001.m2ts content hash mismatch at offset 983040 (50%), expected hash=") +
                              expected + "\n");
    }
}

TEST_F(VerifyClip, AbortStopsAtTheFirstMismatchWithoutTheMatchLine) {
    MemoryClip clip(10 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}}, 10, true);
    clip.corrupt(5);
    clip.corrupt(8);
    EXPECT_EQ(run(t, clip), "mismatched 2");
    EXPECT_NE(output.find("offset 983040 (50%)"), std::string::npos);
    EXPECT_NE(output.find("offset 1572864 (80%)"), std::string::npos);
    EXPECT_EQ(output.find("content hash match"), std::string::npos);

    options.abortOnMismatch = true;
    EXPECT_EQ(run(t, clip), "mismatched 1");
    EXPECT_EQ(output, "00001.m2ts content hash mismatch\n");
}

TEST_F(VerifyClip, ProgressLinesThenThePaddedMatchLine) {
    options.progress = true;
    MemoryClip clip(8 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}}, 8, true);
    EXPECT_EQ(run(t, clip), "matched");
    std::string want;
    for (int u = 0; u < 8; ++u) {
        want += "00001.m2ts content hash match at offset " + std::to_string(u * 196608) + " (" +
                std::to_string(u * 100 / 8) + "%)\r";
    }
    want += "00001.m2ts content hash match" + std::string(69, ' ') + "\n";
    EXPECT_EQ(output, want);
}

TEST_F(VerifyClip, ClipWithoutEntryIsUnverifiedWithoutMatchLine) {
    MemoryClip clip(8 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}}, 8, true);
    EXPECT_EQ(run(t, clip, 12), "unverified: no entry");
    EXPECT_EQ(output, "No hash unit 0/00012/0\n");
    EXPECT_EQ(clip.opens, 1);
    EXPECT_EQ(clip.closes, 1);
    EXPECT_EQ(clip.reads, 0);
}

TEST_F(VerifyClip, CannotOpenReportsThePath) {
    MemoryClip clip(8 * kHashUnitSize);
    clip.openable = false;
    Table t(clip, {}, 0, true);
    EXPECT_EQ(run(t, clip), "unverified: not opened");
    EXPECT_EQ(output, "cannot open file /disc/BDMV/STREAM/00001.m2ts\n");
}

// More whole units than values: the clip gained data the table does not vouch for.
TEST_F(VerifyClip, ValuesRunningOutReportTheUnitIndex) {
    MemoryClip clip(45 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}}, 41, true);
    EXPECT_EQ(run(t, clip), "unverified: values ran out");
    EXPECT_EQ(output, "No hash unit 0/00001/41\n");
    EXPECT_EQ(clip.reads, 41);
}

TEST_F(VerifyClip, ClipOwningSeveralRunsMovesToItsNextRun) {
    // Clip 1 owns values 0-3 and 8-11; clip 2 owns 4-7 in between.
    MemoryClip clip(8 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}, {4, 2, 0}, {8, 1, 0}}, 12, true);
    for (uint32_t u = 4; u < 8; ++u) {
        std::vector<uint8_t> v = clip.unitHash(u, true);
        std::memcpy(t.values[u + 4].data(), v.data(), 8);
        std::memset(t.values[u].data(), 0, 8);
    }
    EXPECT_EQ(run(t, clip), "matched");
    EXPECT_EQ(output, "00001.m2ts content hash match\n");
}

TEST_F(VerifyClip, WrongBytesOfTheDigestMismatchEveryUnit) {
    MemoryClip clip(7 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}}, 7, true);
    for (uint32_t u = 0; u < 7; ++u) {
        // The first 8 bytes of the digest instead of the last 8.
        uint8_t digest[32];
        Sha256Context c;
        Sha256Init(&c);
        Sha256Update(&c, clip.bytes.data() + static_cast<size_t>(u) * kHashUnitSize);
        Sha256Final(&c, digest);
        std::memcpy(t.values[u].data(), digest, 8);
    }
    EXPECT_EQ(run(t, clip), "mismatched 7");
}

TEST_F(VerifyClip, TablesThatPointPastTheirValuesNeverReadThem) {
    const struct {
        std::vector<ClipHashEntry> entries;
        uint32_t values;
        const char* expected;
        const char* result;
    } cases[] = {
        // First run starts beyond the loaded values.
        {{{500, 1, 0}}, 7, "No hash unit 0/00001/500\n", "unverified: values ran out"},
        // Next entry's start lies beyond the values: the run ends with them.
        {{{0, 1, 0}, {900, 1, 0}}, 7, "No hash unit 0/00001/900\n", "unverified: values ran out"},
        // Runs that go backwards: the clip's later entry starts before the current unit.
        {{{5, 1, 0}, {2, 1, 0}}, 9, "No hash unit 0/00001/5\n", "unverified: values ran out"},
    };
    for (const auto& c : cases) {
        MemoryClip clip(9 * kHashUnitSize);
        Table t(clip, c.entries, c.values, true);
        EXPECT_EQ(run(t, clip), c.result);
        EXPECT_EQ(output.substr(0, std::strlen(c.expected)), c.expected) << output;
    }
}

// Found by fuzzing: a later run that covers nothing gave one value all the same, one more than the clip's
// listed units, so verification asked for a unit the reader ahead of it had not read.
TEST_F(VerifyClip, RunsThatCoverNothingGiveNoValue) {
    const struct {
        std::vector<ClipHashEntry> entries;
        const char* expected;
        const char* result;
    } cases[] = {
        // Clip 1 owns 0-3, an empty run at 4, then 4-8: the empty run is passed over.
        {{{0, 1, 0}, {4, 1, 0}, {4, 1, 0}}, "00001.m2ts content hash match\n", "matched"},
        // Clip 1 owns 0-5, then a run from 6 that ends at 3 where clip 2's begins: its values end at 6.
        {{{0, 1, 0}, {6, 1, 0}, {3, 2, 0}}, "No hash unit 0/00001/6\n", "unverified: values ran out"},
    };
    for (const auto& c : cases) {
        MemoryClip clip(9 * kHashUnitSize);
        Table t(clip, c.entries, 9, true);
        EXPECT_EQ(run(t, clip), c.result);
        EXPECT_EQ(output, c.expected);
        // Never more values than the clip's listed units, which the reader ahead reads.
        const ContentIndex index(&t.table);
        EXPECT_LE(uint64_t(clip.reads), planClip(index, ClipFile{"00001.m2ts", clip.bytes.size(), 1, true}).units);
    }
}

TEST_F(VerifyClip, UnreadableUnitBeforeTheEndIsAFailure) {
    MemoryClip clip(10 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}}, 10, true);
    clip.failFrom = 3 * kHashUnitSize + 100;
    EXPECT_EQ(run(t, clip), "unverified: unreadable");
    EXPECT_EQ(output, "00001.m2ts cannot be read at offset 589824\n");

    clip.corrupt(1);
    EXPECT_EQ(run(t, clip), "mismatched 1, unreadable");
    EXPECT_NE(output.find("cannot be read at offset 589824\n"), std::string::npos);
    EXPECT_EQ(output.find("content hash match"), std::string::npos);
}

// A folder clip read through its real file: the directory listing gave one size, and by the time the file is
// read it holds less (a copy still being written, a network share that dropped).
TEST_F(VerifyClip, HostFileShorterThanItsListedSizeIsNotCalledIntact) {
    testsupport::TempDir dir;
    MemoryClip clip(8 * kHashUnitSize);
    Table t(clip, {{0, 1, 0}}, 8, true);
    const uint64_t listed = clip.bytes.size();
    const struct {
        uint64_t onDisk;
        const char* result;
        const char* expected;
    } cases[] = {
        {listed, "matched", "00001.m2ts content hash match\n"},
        {11 * kHashUnitSize / 2, "unverified: unreadable", "00001.m2ts cannot be read at offset 983040\n"},
        {0, "unverified: unreadable", "00001.m2ts cannot be read at offset 0\n"},
    };
    for (const auto& c : cases) {
        std::string path = dir.sub("00001.m2ts");
        testsupport::writeFile(path, std::vector<uint8_t>(clip.bytes.begin(), clip.bytes.begin() + long(c.onDisk)));
        HostClipSource source(path);
        EXPECT_EQ(run(t, source, 1, listed), c.result) << c.onDisk;
        EXPECT_EQ(output, c.expected) << c.onDisk;
    }
}

TEST(UnitPercent, TruncatesAndNeverDividesByZero) {
    EXPECT_EQ(unitPercent(983040, 1966080), 50);
    EXPECT_EQ(unitPercent(196608, 1376256), 14);
    EXPECT_EQ(unitPercent(5, 0), 0);
}

TEST(ClipNumber, LeadingDigitsLikeTheCRuntime) {
    const struct {
        const char* name;
        uint32_t number;
    } cases[] = {{"00001.m2ts", 1}, {"12345.M2TS", 12345}, {"1.m2ts", 1}, {"ab.m2ts", 0},
                 {" 42.m2ts", 42},  {"+7.m2ts", 7},        {"-1.m2ts", 0xFFFFFFFFu}};
    for (const auto& c : cases) EXPECT_EQ(clipNumberOf(c.name), c.number) << c.name;
}
