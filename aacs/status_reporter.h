// StatusLineReporter: the whole run at a glance on standard error (percent done, bytes, speed, time left, which
// clip), redrawn a few times a second; every event also goes on to the reporter it wraps.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "aacs/run_reporter.h"

// How the line reads for the figures it shows; apart so that its wording can be checked without a clock.
struct StatusFigures {
    uint64_t doneBytes;
    uint64_t totalBytes;
    double bytesPerSecond;  // 0 while unknown
    uint32_t clip;          // 1-based
    uint32_t clips;
    const char* clipName;
};
std::string statusLineText(const StatusFigures& figures);

class StatusLineReporter : public RunReporter {
public:
    explicit StatusLineReporter(RunReporter* inner) : inner(inner) {}
    ~StatusLineReporter() override { stop(); }

    void runStarted(const char* discPath) override { inner->runStarted(discPath); }
    void runFailed(RunFailure failure) override;
    void contentPairMerged(uint32_t pairNumber, const ContentCertificate& certificate, const ClipHashEntry* entries,
                           uint32_t entryCount) override {
        inner->contentPairMerged(pairNumber, certificate, entries, entryCount);
    }
    void discNoted(const DiscNote& note) override { inner->discNoted(note); }
    void discDamaged(const DiscDamage& damage) override { inner->discDamaged(damage); }
    void verificationStarted(const std::vector<ClipFile>& clips, bool useSha256) override;
    void clipStarted(const ClipFile& clip) override;
    void clipSkipped(const ClipFile& clip) override { inner->clipSkipped(clip); }
    void clipNotOpened(const ClipFile& clip, const char* path) override { inner->clipNotOpened(clip, path); }
    void clipSharesData(const ClipFile& clip, uint32_t sector) override { inner->clipSharesData(clip, sector); }
    void noHashUnit(const ClipFile& clip, uint32_t unitIndex) override { inner->noHashUnit(clip, unitIndex); }
    void unitMatched(const ClipFile& clip, uint64_t offset) override;
    void unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t expected[8],
                        const uint8_t actual[8]) override;
    void clipUnreadable(const ClipFile& clip, uint64_t offset) override { inner->clipUnreadable(clip, offset); }
    void clipShorter(const ClipFile& clip, uint64_t wholeUnits, uint32_t listedUnits) override {
        inner->clipShorter(clip, wholeUnits, listedUnits);
    }
    void clipFinished(const ClipFile& clip, const ClipResult& result) override;
    void clipMissing(uint32_t clipNumber) override { inner->clipMissing(clipNumber); }
    void runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) override;

private:
    void tick();
    void stop();

    RunReporter* inner;
    uint64_t totalBytes = 0;
    uint32_t clipCount = 0;
    // Written by the run as it verifies, read by the ticker.
    std::atomic<uint64_t> finishedBytes{0};  // of the clips done
    std::atomic<uint64_t> clipBytes{0};      // of the clip under way
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    uint32_t clipNumber = 0;
    std::string clipName;
    std::thread ticker;
};
