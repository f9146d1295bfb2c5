// ConsoleReporter: a run told in the tool's own console text, plain and coloured.
#pragma once

#include <string>

#include "aacs/options.h"
#include "aacs/run_reporter.h"

class ConsoleReporter : public RunReporter {
public:
    // Uses verbose (heading, content dump, skipped clips), progress (a line per matching unit), abortOnMismatch
    // (the short mismatch line, no mismatched-hashes count) and quiet (only the problems and the summary).
    explicit ConsoleReporter(const Options& options) : options(options) {}

    void runStarted(const char* discPath) override;
    void runFailed(RunFailure failure) override;
    void contentPairMerged(uint32_t pairNumber, const ContentCertificate& certificate, const ClipHashEntry* entries,
                           uint32_t entryCount) override;
    void discNoted(const DiscNote& note) override;
    void discDamaged(const DiscDamage& damage) override;
    void verificationStarted(const std::vector<ClipFile>&, bool) override {}
    void clipStarted(const ClipFile&) override {}
    void clipSkipped(const ClipFile& clip) override;
    void clipNotOpened(const ClipFile& clip, const char* path) override;
    void clipSharesData(const ClipFile& clip, uint32_t sector) override;
    void noHashUnit(const ClipFile& clip, uint32_t unitIndex) override;
    void unitMatched(const ClipFile& clip, uint64_t offset) override;
    void unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t expected[8],
                        const uint8_t actual[8]) override;
    void clipUnreadable(const ClipFile& clip, uint64_t offset) override;
    void clipShorter(const ClipFile& clip, uint64_t wholeUnits, uint32_t listedUnits) override;
    void clipFinished(const ClipFile& clip, const ClipResult& result) override;
    void clipMissing(uint32_t clipNumber) override;
    void runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) override;

private:
    bool verbose() const { return options.verbose && !options.quiet; }

    Options options;
    std::string discPath;
};
