// JsonReporter: a run as JSON Lines on standard output, one object per clip as its result is known, one per
// missing clip, and a summary (or one failure object), for scripts that check a shelf of discs.
#pragma once

#include <string>

#include "aacs/run_reporter.h"

// Mismatching units listed in a clip's object at most; the count of all of them is always given.
constexpr uint32_t kMaxReportedMismatches = 64;

class JsonReporter : public RunReporter {
public:
    void runStarted(const char* discPath) override;
    void runFailed(RunFailure failure) override;
    void contentPairMerged(uint32_t, const ContentCertificate&, const ClipHashEntry*, uint32_t) override {}
    void discNoted(const DiscNote& note) override;
    void discDamaged(const DiscDamage& damage) override;
    void verificationStarted(const std::vector<ClipFile>& clips, bool useSha256) override;
    void clipStarted(const ClipFile& clip) override;
    void clipSkipped(const ClipFile&) override {}
    void clipNotOpened(const ClipFile&, const char*) override {}
    void clipSharesData(const ClipFile& clip, uint32_t sector) override;
    void noHashUnit(const ClipFile& clip, uint32_t unitIndex) override;
    void unitMatched(const ClipFile&, uint64_t) override {}
    void unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t expected[8],
                        const uint8_t actual[8]) override;
    void clipUnreadable(const ClipFile& clip, uint64_t offset) override;
    void clipShorter(const ClipFile&, uint64_t, uint32_t) override {}
    void clipFinished(const ClipFile& clip, const ClipResult& result) override;
    void clipMissing(uint32_t clipNumber) override;
    void runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) override;

private:
    std::string discPath;
    const char* digest = "";
    // What the clip under way has shown so far.
    std::string mismatches;
    uint32_t listedMismatches = 0;
    std::string where;  // the unit or offset at which it stopped, when it did
};

// Appends `text` as a JSON string: quotes, backslashes and control bytes escaped, and any byte that is not part
// of well-formed UTF-8 written as the character of that value, so that the output is always valid JSON.
void appendJsonString(std::string* out, const char* text);
