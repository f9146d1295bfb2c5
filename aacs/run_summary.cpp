// Counting clip results into the run's totals, and the verdict they give.
#include "aacs/run_summary.h"

void countResult(RunTotals* totals, const ClipResult& result) {
    ++totals->totalFiles;
    switch (verdictOf(result)) {
        case ClipVerdict::Matched:
            ++totals->matchedFiles;
            break;
        case ClipVerdict::Mismatched:
            ++totals->mismatchedFiles;
            totals->mismatchedHashes += result.mismatchedUnits;
            break;
        case ClipVerdict::Unverified:
            ++totals->unverifiedFiles;
            break;
        case ClipVerdict::Skipped:
            ++totals->skippedFiles;
            break;
    }
}

bool runMatched(const RunTotals& totals) {
    return totals.mismatchedFiles == 0 && totals.unverifiedFiles == 0 && totals.missingFiles == 0 &&
           !totals.damaged;
}

int runStatus(const RunTotals& totals) {
    uint64_t failed = uint64_t(totals.mismatchedFiles) + totals.unverifiedFiles + totals.missingFiles;
    if (failed == 0 && totals.damaged) failed = 1;
    return failed < INT32_MAX ? static_cast<int>(failed) : INT32_MAX;
}
