// The pipeline gives verification exactly what reading and hashing one unit at a time gives: the same
// events in the same order, whatever the number of workers, the chunk size or the read-ahead.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "aacs/clip_verify.h"
#include "aacs/disc_source.h"
#include "aacs/run_reporter.h"
#include "aacs/verify_pipeline.h"
#include "tools/sampledisc.h"

namespace {

struct MemoryClip {
    std::vector<uint8_t> bytes;
    bool openable = true;
    uint64_t failFromUnit = UINT64_MAX;
    bool tailReadable = true;
};

class MemoryClipSource : public ClipSource {
public:
    explicit MemoryClipSource(const MemoryClip* clip) : clip(clip) {}
    bool open() override { return clip->openable; }
    uint32_t readUnits(uint64_t first, uint32_t count, uint8_t* units) override {
        uint32_t got = 0;
        for (; got < count; ++got) {
            uint64_t unit = first + got;
            if (unit >= clip->failFromUnit || (unit + 1) * kHashUnitSize > clip->bytes.size()) break;
            std::memcpy(units + size_t(got) * kHashUnitSize, clip->bytes.data() + unit * kHashUnitSize,
                        kHashUnitSize);
        }
        return got;
    }
    bool readTail(uint64_t offset, uint32_t length, uint8_t* buffer) override {
        if (!clip->tailReadable || offset + length > clip->bytes.size()) return false;
        std::memcpy(buffer, clip->bytes.data() + offset, length);
        return true;
    }
    void close() override {}
    const char* path() const override { return "/disc/clip"; }

private:
    const MemoryClip* clip;
};

// Only what the reader asks of a source: the clips.
class MemoryDisc : public DiscSource {
public:
    explicit MemoryDisc(const std::vector<MemoryClip>* clips) : clips(clips) {}
    const char* path() const override { return "memory"; }
    bool mount() override { return true; }
    bool hasContentFolder() override { return true; }
    PairLookup loadPair(uint32_t, ContentPairFiles*) override { return PairLookup::End; }
    void listClips(std::vector<ClipFile>*) override {}
    std::unique_ptr<ClipSource> openClip(size_t index) override {
        return std::unique_ptr<ClipSource>(new MemoryClipSource(&(*clips)[index]));
    }

private:
    const std::vector<MemoryClip>* clips;
};

// Every event as a line of text, so two runs compare as two strings.
class RecordingReporter : public RunReporter {
public:
    std::string log;
    void runStarted(const char*) override {}
    void runFailed(RunFailure) override {}
    void contentPairMerged(uint32_t, const ContentCertificate&, const ClipHashEntry*, uint32_t) override {}
    void discNoted(const DiscNote&) override {}
    void discDamaged(const DiscDamage&) override {}
    void verificationStarted(const std::vector<ClipFile>&, bool) override {}
    void clipStarted(const ClipFile& c) override { log += c.name + " started\n"; }
    void clipSkipped(const ClipFile& c) override { log += c.name + " skipped\n"; }
    void clipNotOpened(const ClipFile& c, const char* path) override { log += c.name + " not opened " + path + "\n"; }
    void clipSharesData(const ClipFile& c, uint32_t sector) override {
        log += c.name + " shares " + std::to_string(sector) + "\n";
    }
    void noHashUnit(const ClipFile& c, uint32_t u) override { log += c.name + " no unit " + std::to_string(u) + "\n"; }
    void unitMatched(const ClipFile& c, uint64_t offset) override {
        log += c.name + " match " + std::to_string(offset) + "\n";
    }
    void unitMismatched(const ClipFile& c, uint64_t offset, const uint8_t expected[8], const uint8_t actual[8]) override {
        log += c.name + " mismatch " + std::to_string(offset) + " " + std::to_string(expected[0]) + "/" +
               std::to_string(actual[0]) + "\n";
    }
    void clipUnreadable(const ClipFile& c, uint64_t offset) override {
        log += c.name + " unreadable " + std::to_string(offset) + "\n";
    }
    void clipShorter(const ClipFile& c, uint64_t whole, uint32_t listed) override {
        log += c.name + " shorter " + std::to_string(whole) + "/" + std::to_string(listed) + "\n";
    }
    void clipFinished(const ClipFile& c, const ClipResult& r) override {
        log += c.name + " done " + std::to_string(int(verdictOf(r))) + " " + std::to_string(r.mismatchedUnits) + "\n";
    }
    void clipMissing(uint32_t) override {}
    void runFinished(const RunTotals&, uint32_t) override {}
};

// Clips of every kind a run meets, with a table of their true values (clip 5 has no entry, clip 7 more units
// than values).
struct Disc {
    std::vector<MemoryClip> clips;
    std::vector<ClipFile> files;
    std::vector<ClipHashEntry> entries;
    std::vector<std::array<uint8_t, 8>> values;
    ContentHashTable table{};

    Disc() {
        struct Shape {
            uint64_t units;
            std::vector<uint32_t> corrupt;
            bool openable;
            uint64_t failFrom;
            bool listed;
            uint32_t listedUnits;
        };
        const Shape shapes[] = {
            {10, {}, true, UINT64_MAX, true, 10},  {9, {3, 7}, true, UINT64_MAX, true, 9},
            {8, {}, false, UINT64_MAX, true, 8},   {12, {}, true, 5, true, 12},
            {7, {}, true, UINT64_MAX, false, 0},   {3, {}, true, UINT64_MAX, true, 3},
            {11, {}, true, UINT64_MAX, true, 9},   {17, {0, 16}, true, UINT64_MAX, true, 17},
            {8, {}, true, UINT64_MAX, true, 10},   {12, {1}, true, 5, true, 12},
            {9, {}, true, UINT64_MAX, true, 9},
        };
        uint32_t number = 1;
        for (const Shape& shape : shapes) {
            MemoryClip clip;
            clip.bytes.resize(shape.units * kHashUnitSize + 1000);
            fillClipBytes(3, number, 0, clip.bytes.data(), clip.bytes.size());
            clip.openable = shape.openable;
            clip.failFromUnit = shape.failFrom;
            // The last clip cannot be read past its whole units.
            clip.tailReadable = number != sizeof(shapes) / sizeof(shapes[0]);
            if (shape.listed) {
                entries.push_back({uint32_t(values.size()), number, 0});
                for (uint32_t u = 0; u < shape.listedUnits; ++u) {
                    std::array<uint8_t, 8> value{};
                    if (u < shape.units) unitHashValue(clip.bytes.data() + size_t(u) * kHashUnitSize, true, value.data());
                    values.push_back(value);
                }
            }
            for (uint32_t u : shape.corrupt) clip.bytes[size_t(u) * kHashUnitSize + 5] ^= 0x40;
            char name[16];
            std::snprintf(name, sizeof name, "%05u.m2ts", number);
            files.push_back({name, clip.bytes.size(), number, true});
            clips.push_back(std::move(clip));
            ++number;
        }
        table.entries = entries.data();
        table.entryCount = uint32_t(entries.size());
        table.unitHashes = reinterpret_cast<uint8_t(*)[8]>(values.data());
        table.unitHashCount = uint32_t(values.size());
        table.useSha256 = true;
        table.present = true;
    }
};

std::string sequentialRun(const Disc& disc, bool abort) {
    ContentIndex index(&disc.table);
    RecordingReporter reporter;
    std::vector<uint8_t> unit(kHashUnitSize);
    for (size_t i = 0; i < disc.files.size(); ++i) {
        MemoryClipSource source(&disc.clips[i]);
        ReadingFeed feed(&source, unit.data(), true);
        reporter.clipStarted(disc.files[i]);
        ClipResult result = verifyClip(index, &feed, disc.files[i], VerifySettings{abort}, &reporter);
        reporter.clipFinished(disc.files[i], result);
    }
    return reporter.log;
}

std::string pipelinedRun(const Disc& disc, bool abort, unsigned workers, uint32_t chunk, uint32_t slots) {
    ContentIndex index(&disc.table);
    std::vector<PipelineClip> plan;
    for (size_t i = 0; i < disc.files.size(); ++i) plan.push_back({i, planClip(index, disc.files[i])});
    VerifyPipeline pipeline(plan, true, workers, chunk, slots);
    EXPECT_TRUE(pipeline.start());
    RecordingReporter reporter;
    std::thread verifier([&] {
        for (size_t i = 0; i < disc.files.size(); ++i) {
            reporter.clipStarted(disc.files[i]);
            std::unique_ptr<UnitFeed> feed = pipeline.feed(i);
            ClipResult result = verifyClip(index, feed.get(), disc.files[i], VerifySettings{abort}, &reporter);
            reporter.clipFinished(disc.files[i], result);
        }
    });
    MemoryDisc source(&disc.clips);
    pipeline.readAll(&source);
    verifier.join();
    return reporter.log;
}

}  // namespace

TEST(VerifyPipeline, GivesWhatOneUnitAtATimeGives) {
    const Disc disc;
    for (bool abort : {false, true}) {
        const std::string want = sequentialRun(disc, abort);
        // The log must hold every kind of event, or the comparison proves little.
        for (const char* event : {" skipped", " not opened", " no unit ", " match ", " mismatch ", " unreadable ",
                                  " shorter "}) {
            EXPECT_NE(want.find(event), std::string::npos) << event;
        }
        const struct {
            unsigned workers;
            uint32_t chunk;
            uint32_t slots;
        } shapes[] = {{1, 1, 1}, {1, 8, 4}, {2, 3, 2}, {4, 1, 8}, {3, 16, 2}, {8, 2, 3}, {2, 5, 1}};
        for (const auto& s : shapes) {
            EXPECT_EQ(pipelinedRun(disc, abort, s.workers, s.chunk, s.slots), want)
                << "abort " << abort << ", workers " << s.workers << ", chunk " << s.chunk << ", slots " << s.slots;
        }
    }
}

// Many clips through a ring of one slot: read-ahead into the next clip, clips closed early, and the reader never
// waiting on a slot that verification has stopped freeing.
TEST(VerifyPipeline, EndsOnEveryShapeOfRun) {
    const Disc disc;
    Disc many;
    for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < disc.files.size(); ++i) {
            many.clips.push_back(disc.clips[i]);
            many.files.push_back(disc.files[i]);
        }
    }
    many.entries = disc.entries;
    many.values = disc.values;
    many.table = disc.table;
    many.table.entries = many.entries.data();
    many.table.unitHashes = reinterpret_cast<uint8_t(*)[8]>(many.values.data());
    for (bool abort : {false, true}) {
        const std::string want = sequentialRun(many, abort);
        EXPECT_EQ(pipelinedRun(many, abort, 3, 4, 1), want) << abort;
        EXPECT_EQ(pipelinedRun(many, abort, 2, 1, 2), want) << abort;
    }
}
