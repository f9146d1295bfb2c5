// RunReporter: every message of a run, as events, so that one run serves every way of reporting it.
#pragma once

#include <cstdint>

#include "aacs/clip_verify.h"
#include "aacs/content_table.h"
#include "aacs/run_summary.h"

struct ClipFile;

class RunReporter {
public:
    virtual ~RunReporter() = default;

    virtual void runStarted(const char* discPath) = 0;
    virtual void discNotMounted(const char* discPath) = 0;
    virtual void contentFolderMissing() = 0;
    virtual void contentPairMerged(uint32_t pairNumber, const ContentCertificate& certificate,
                                   const ClipHashEntry* entries, uint32_t entryCount) = 0;
    virtual void contentTableMissing() = 0;

    // A clip below the smallest hashed size.
    virtual void clipSkipped(const ClipFile& clip) = 0;
    virtual void clipNotOpened(const ClipFile& clip, const char* path) = 0;
    // No value for the clip: unitIndex is 0 when it has no entry, else where its values ran out.
    virtual void noHashUnit(const ClipFile& clip, uint32_t unitIndex) = 0;
    virtual void unitMatched(const ClipFile& clip, uint64_t offset) = 0;
    virtual void unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t expected[8],
                                const uint8_t actual[8]) = 0;
    virtual void clipUnreadable(const ClipFile& clip, uint64_t offset) = 0;
    virtual void clipShorter(const ClipFile& clip, uint64_t wholeUnits, uint32_t listedUnits) = 0;
    // The clip is done: every message of it has been reported.
    virtual void clipFinished(const ClipFile& clip, const ClipResult& result) = 0;
    // A clip the table lists that no clip file carried; after the last clip.
    virtual void clipMissing(uint32_t clipNumber) = 0;

    virtual void runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) = 0;
};
