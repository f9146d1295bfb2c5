// Fuzz target: the whole run over an image laid on a sparse fake device (the mount target's input format):
// mount, content pairs, the listing, the pipeline that reads ahead and hashes on a worker, the missing clips
// and the summary, with the run's counts checked against what was reported.
#include <cstddef>
#include <cstdint>

#include "aacs/disc_run.h"
#include "aacs/disc_source.h"
#include "fuzz/overlay_input.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Keeps what the run reported, so the totals it ends with can be checked against it.
class CountingReporter : public RunReporter {
public:
    uint32_t clips = 0, matched = 0, mismatched = 0, unverified = 0, skipped = 0, missing = 0;
    bool failed = false, finished = false, damaged = false;
    RunTotals totals{};

    void runStarted(const char*) override {}
    void runFailed(RunFailure) override { failed = true; }
    void contentPairMerged(uint32_t, const ContentCertificate&, const ClipHashEntry*, uint32_t) override {}
    void discNoted(const DiscNote&) override {}
    void discDamaged(const DiscDamage&) override { damaged = true; }
    void verificationStarted(const std::vector<ClipFile>&, bool) override {}
    void clipStarted(const ClipFile&) override {}
    void clipSkipped(const ClipFile&) override {}
    void clipNotOpened(const ClipFile&, const char*) override {}
    void clipSharesData(const ClipFile&, uint32_t) override {}
    void noHashUnit(const ClipFile&, uint32_t) override {}
    void unitMatched(const ClipFile& clip, uint64_t offset) override { check(offset < clip.size); }
    void unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t*, const uint8_t*) override {
        check(offset < clip.size);
    }
    void clipUnreadable(const ClipFile&, uint64_t) override {}
    void clipShorter(const ClipFile&, uint64_t wholeUnits, uint32_t listedUnits) override {
        check(wholeUnits < listedUnits);
    }
    void clipFinished(const ClipFile&, const ClipResult& result) override {
        ++clips;
        switch (verdictOf(result)) {
            case ClipVerdict::Matched:
                // Intact only when every whole unit the table lists was compared.
                check(result.wholeUnits == result.listedUnits && result.shortfall == Shortfall::None);
                ++matched;
                break;
            case ClipVerdict::Mismatched:
                ++mismatched;
                break;
            case ClipVerdict::Unverified:
                ++unverified;
                break;
            case ClipVerdict::Skipped:
                ++skipped;
                break;
        }
    }
    void clipMissing(uint32_t) override { ++missing; }
    void runFinished(const RunTotals& t, uint32_t) override {
        finished = true;
        totals = t;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CountingReporter reporter;
    const RunSettings settings{false, 1};
    const int status = runImageDevice(overlay::deviceFrom(data, size).release(), "fuzz", settings, &reporter);
    check(reporter.failed != reporter.finished);
    if (reporter.failed) {
        check(status == 1 && reporter.clips == 0);
        return 0;
    }
    const RunTotals& t = reporter.totals;
    check(t.totalFiles == reporter.clips);
    check(t.matchedFiles == reporter.matched && t.mismatchedFiles == reporter.mismatched);
    check(t.unverifiedFiles == reporter.unverified && t.skippedFiles == reporter.skipped);
    check(t.missingFiles == reporter.missing && t.damaged == reporter.damaged);
    check(status == runStatus(t));
    check((status == 0) == runMatched(t));
    return 0;
}
