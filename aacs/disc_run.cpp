// The run: content pairs merged into one table, every kept clip verified in order, the clips the table lists
// that no file carried, and the summary.
#include "aacs/disc_run.h"

#include <algorithm>

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

// Verifies every clip that passed the name test, then names the listed clips that none of them carried.
void verifyClips(DiscSource* source, const std::vector<ClipFile>& clips, const ContentIndex& index,
                 uint8_t* unit, const RunSettings& settings, RunReporter* reporter, RunTotals* totals) {
    const VerifySettings verify{settings.abortOnMismatch};
    std::vector<uint32_t> carried;
    for (size_t i = 0; i < clips.size(); ++i) {
        if (!clips[i].kept) continue;
        carried.push_back(clips[i].number);
        std::unique_ptr<ClipSource> clip = source->openClip(i);
        ClipResult result = verifyClip(index, unit, clip.get(), clips[i], verify, reporter);
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

// Every run that verifies nothing ends with status 1, so that no failure reads as an intact disc.
int runDisc(DiscSource* source, const RunSettings& settings, RunReporter* reporter) {
    reporter->runStarted(source->path());
    if (!source->mount()) {
        reporter->discNotMounted(source->path());
        return 1;
    }
    if (!source->hasContentFolder()) {
        reporter->contentFolderMissing();
        return 1;
    }
    ContentHashTable table{};
    loadContentPairs(source, &table, reporter);
    if (!table.present) {
        reporter->contentTableMissing();
        releaseContentTable(&table);
        return 1;
    }
    std::vector<ClipFile> clips;
    source->listClips(&clips);
    auto* unit = static_cast<uint8_t*>(heapAlloc(kHashUnitSize));
    if (!unit) {
        releaseContentTable(&table);
        return 1;
    }

    RunTotals totals{};
    totals.startTicks = HostTickCount();
    {
        const ContentIndex index(&table);
        verifyClips(source, clips, index, unit, settings, reporter, &totals);
    }
    reporter->runFinished(totals, HostTickCount() - totals.startTicks);
    heapFree(unit);
    releaseContentTable(&table);
    return runStatus(totals);
}
