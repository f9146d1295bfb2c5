// The run: content pairs merged into one table, every kept clip verified in order, totals and the summary.
#include "aacs/disc_run.h"

#include "aacs/clip_verify.h"
#include "io/heap.h"
#include "io/host_file.h"

namespace {

void loadContentPairs(DiscSource* source, ContentHashTable* table, RunReporter* reporter) {
    for (uint32_t i = 0;; ++i) {
        ContentPairFiles files;
        PairLookup lookup = source->loadPair(i, &files);
        if (lookup == PairLookup::Loaded) mergeContentPair(table, files, i + 1, reporter);
        heapFree(files.certificate);
        heapFree(files.hashTable);
        if (lookup == PairLookup::End) return;
    }
}

}  // namespace

void mergeContentPair(ContentHashTable* table, const ContentPairFiles& files, uint32_t pairNumber,
                      RunReporter* reporter) {
    // A pair of which one file could not be loaded is passed over.
    if (!files.certificate || !files.hashTable) return;
    const uint32_t before = table->entryCount;
    ContentCertificate certificate;
    if (addContentPair(table, files.certificate, files.certificateSize, files.hashTable, files.hashTableSize,
                       &certificate)) {
        reporter->contentPairMerged(pairNumber, certificate, table->entries + before, table->entryCount - before);
    }
}

int runDisc(DiscSource* source, const RunSettings& settings, RunReporter* reporter) {
    reporter->runStarted(source->path());
    if (!source->mount()) {
        reporter->discNotMounted(source->path());
        return 0;
    }
    if (!source->hasContentFolder()) {
        reporter->contentFolderMissing();
        return 0;
    }
    ContentHashTable table{};
    loadContentPairs(source, &table, reporter);
    if (!table.present) {
        reporter->contentTableMissing();
        releaseContentTable(&table);
        return 1;
    }
    std::vector<ClipFile> clips;
    if (!source->listClips(&clips)) {
        releaseContentTable(&table);
        return 1;
    }
    auto* unit = static_cast<uint8_t*>(heapAlloc(kHashUnitSize));
    if (!unit) {
        releaseContentTable(&table);
        return 0;
    }

    RunTotals totals{};
    totals.startTicks = HostTickCount();
    const VerifySettings verify{settings.abortOnMismatch};
    for (size_t i = 0; i < clips.size(); ++i) {
        if (!clips[i].kept) continue;
        std::unique_ptr<ClipSource> clip = source->openClip(i);
        countResult(&totals, verifyClip(&table, unit, clip.get(), clips[i], verify, reporter));
        ++totals.totalFiles;
    }
    reporter->runFinished(totals, HostTickCount() - totals.startTicks);
    heapFree(unit);
    releaseContentTable(&table);
    return static_cast<int>(totals.mismatchedFiles);
}
