// The run: content pairs merged into one table, every kept clip verified in order, the clips the table lists
// that no file carried, and the summary.
#include "aacs/disc_run.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>

#include "aacs/clip_verify.h"
#include "aacs/verify_pipeline.h"
#include "io/heap.h"
#include "io/host_file.h"

namespace {

// The name a run gives a content file in its messages.
std::string contentFileName(const char* format, uint32_t index) {
    char name[48];
    std::snprintf(name, sizeof name, format, index);
    return name;
}

// Merges one loaded pair and reports it; false when it could not be used, with the file to blame in *unusable.
bool mergeContentPair(ContentHashTable* table, const ContentPairFiles& files, uint32_t index,
                      uint32_t* layers, std::string* unusable, RunReporter* reporter) {
    if (!files.certificate || !files.hashTable) {
        *unusable = contentFileName(files.certificate ? "AACS/ContentHash%03u.tbl" : "AACS/Content%03u.cer", index);
        return false;
    }
    const uint32_t before = table->entryCount;
    ContentCertificate certificate;
    if (!addContentPair(table, files.certificate, files.certificateSize, files.hashTable, files.hashTableSize,
                        &certificate)) {
        *unusable = contentFileName("AACS/Content%03u.cer", index);
        return false;
    }
    *layers = std::max<uint32_t>(*layers, certificate.TotalNumberOfLayers);
    reporter->contentPairMerged(index + 1, certificate, table->entries + before, table->entryCount - before);
    return true;
}

// Content files named one by one; past these the rest are counted, as the mount counts its structures.
constexpr size_t kMaxNamedContentDamage = 64;

// Loads the pairs from 000 on, to the first that does not exist, or until the table is full: a later pair could
// add nothing. A pair that exists but cannot be used, a lone file of a pair, or fewer pairs than the
// certificates name layers leave a layer's clips listed nowhere: that is damage, not a smaller disc. A table
// that filled up says so itself, and the pairs after it were never looked at.
std::vector<DiscDamage> loadContentPairs(DiscSource* source, ContentHashTable* table, RunReporter* reporter) {
    std::vector<DiscDamage> damage;
    uint32_t unnamed = 0;
    uint32_t merged = 0;
    uint32_t layers = 0;
    for (uint32_t i = 0; !table->cut; ++i) {
        ContentPairFiles files;
        const PairLookup lookup = source->loadPair(i, &files);
        std::string unusable;
        if (lookup == PairLookup::Loaded) {
            if (mergeContentPair(table, files, i, &layers, &unusable, reporter)) ++merged;
        } else if (files.certificateFound != files.hashTableFound) {
            unusable = contentFileName(files.certificateFound ? "AACS/ContentHash%03u.tbl" : "AACS/Content%03u.cer", i);
        }
        heapFree(files.certificate);
        heapFree(files.hashTable);
        if (!unusable.empty()) {
            if (damage.size() < kMaxNamedContentDamage) {
                damage.push_back({DamageKind::ContentFileUnusable, unusable, 0});
            } else {
                ++unnamed;
            }
        }
        if (lookup == PairLookup::End) break;
    }
    if (unnamed != 0) damage.push_back({DamageKind::MoreUnrecorded, "", unnamed});
    if (damage.empty() && !table->cut && merged < layers) {
        damage.push_back({DamageKind::LayersMissing, "AACS/", merged, layers});
    }
    return damage;
}

// Units read with one request, and the chunks the reader may keep in flight: enough for every worker to
// find a unit while the reader fills the next chunk and verification frees the oldest.
constexpr uint32_t kChunkUnits = 8;
uint32_t slotsFor(unsigned workers) { return std::max<uint32_t>(4, 2 + (2 * workers + kChunkUnits - 1) / kChunkUnits); }

using FeedMaker = std::function<std::unique_ptr<UnitFeed>(size_t position, size_t listIndex)>;

// Verifies every clip that passed the name test, in order, then names the listed clips that none of them
// carried. `position` counts the kept clips.
void verifyClips(const std::vector<ClipFile>& clips, const ContentIndex& index, const FeedMaker& feedFor,
                 const RunSettings& settings, RunReporter* reporter, RunTotals* totals) {
    const VerifySettings verify{settings.abortOnMismatch};
    std::vector<uint32_t> carried;
    size_t position = 0;
    for (size_t i = 0; i < clips.size(); ++i) {
        if (!clips[i].kept) continue;
        carried.push_back(clips[i].number);
        reporter->clipStarted(clips[i]);
        std::unique_ptr<UnitFeed> feed = feedFor(position++, i);
        ClipResult result = verifyClip(index, feed.get(), clips[i], verify, reporter);
        countResult(totals, result);
        reporter->clipFinished(clips[i], result);
    }
    std::sort(carried.begin(), carried.end());
    for (uint32_t number : index.numbersInTableOrder()) {
        if (std::binary_search(carried.begin(), carried.end(), number)) continue;
        reporter->clipMissing(number);
        ++totals->missingFiles;
    }
}

// One clip read and hashed on the calling thread, a unit at a time: the run's way when no thread can be had.
class OwnedSourceFeed : public UnitFeed {
public:
    OwnedSourceFeed(std::unique_ptr<ClipSource> clip, uint8_t* unit, bool useSha256)
        : source(std::move(clip)), reading(source.get(), unit, useSha256) {}
    bool open() override { return reading.open(); }
    const char* path() const override { return reading.path(); }
    bool next(uint8_t tail[8]) override { return reading.next(tail); }
    bool tailReadable(uint64_t offset, uint32_t length) override { return reading.tailReadable(offset, length); }
    void close() override { reading.close(); }

private:
    std::unique_ptr<ClipSource> source;
    ReadingFeed reading;
};

// Reads on this thread (the one that owns the source), hashes on the workers, and verifies and reports on one
// more thread. False when the threads or their buffers cannot be had, before anything was verified.
bool verifyPipelined(DiscSource* source, const std::vector<ClipFile>& clips, const ContentIndex& index,
                     const RunSettings& settings, RunReporter* reporter, RunTotals* totals) {
    std::vector<PipelineClip> work;
    for (size_t i = 0; i < clips.size(); ++i) {
        if (clips[i].kept) work.push_back({i, planClip(index, clips[i])});
    }
    const unsigned workers = hashThreadsFor(settings.hashThreads);
    VerifyPipeline pipeline(std::move(work), index.table()->useSha256, workers, kChunkUnits, slotsFor(workers));
    if (!pipeline.start()) return false;
    std::thread verifier;
    try {
        verifier = std::thread([&] {
            verifyClips(clips, index, [&](size_t position, size_t) { return pipeline.feed(position); }, settings,
                        reporter, totals);
        });
    } catch (...) {
        return false;
    }
    pipeline.readAll(source);
    verifier.join();
    return true;
}

}  // namespace

unsigned hashThreadsFor(unsigned requested) {
    unsigned threads = requested != 0 ? requested : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    return threads < kMaxHashThreads ? threads : kMaxHashThreads;
}

// Every run that verifies nothing ends with status 1, so that no failure reads as an intact disc.
int runDisc(DiscSource* source, const RunSettings& settings, RunReporter* reporter) {
    reporter->runStarted(source->path());
    if (!source->mount()) {
        reporter->runFailed(RunFailure::NotMounted);
        return 1;
    }
    // Said before anything else, as what the damage hides (the content folder, a clip) comes up later.
    std::vector<DiscNote> notes;
    std::vector<DiscDamage> damage;
    source->describeMount(&notes, &damage);
    for (const DiscNote& note : notes) reporter->discNoted(note);
    for (const DiscDamage& found : damage) reporter->discDamaged(found);
    if (!source->hasContentFolder()) {
        reporter->runFailed(RunFailure::NoContentFolder);
        return 1;
    }
    ContentHashTable table{};
    const std::vector<DiscDamage> contentDamage = loadContentPairs(source, &table, reporter);
    // With nothing merged the failure says it all.
    if (!table.present) {
        reporter->runFailed(RunFailure::NoContentTable);
        releaseContentTable(&table);
        return 1;
    }
    std::vector<ClipFile> clips;
    source->listClips(&clips);
    reporter->verificationStarted(clips, table.useSha256);

    RunTotals totals{};
    for (const DiscDamage& found : contentDamage) reporter->discDamaged(found);
    totals.damaged = !damage.empty() || !contentDamage.empty();
    if (table.cut) {
        reporter->discDamaged({DamageKind::TableTooLarge, "AACS/", 0});
        totals.damaged = true;
    }
    totals.startTicks = HostTickCount();
    bool verified;
    {
        const ContentIndex index(&table);
        verified = verifyPipelined(source, clips, index, settings, reporter, &totals);
        uint8_t* unit = verified ? nullptr : static_cast<uint8_t*>(heapAlloc(kHashUnitSize));
        if (unit) {
            verifyClips(clips, index,
                        [&](size_t, size_t i) {
                            return std::unique_ptr<UnitFeed>(
                                new OwnedSourceFeed(source->openClip(i), unit, table.useSha256));
                        },
                        settings, reporter, &totals);
            verified = true;
        }
        heapFree(unit);
    }
    releaseContentTable(&table);
    if (!verified) {
        reporter->runFailed(RunFailure::NoMemory);
        return 1;
    }
    reporter->runFinished(totals, HostTickCount() - totals.startTicks);
    return runStatus(totals);
}
