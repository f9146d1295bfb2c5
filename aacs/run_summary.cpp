// Counting clip results into the run's totals.
#include "aacs/run_summary.h"

#include "aacs/clip_verify.h"

void countResult(RunTotals* totals, int result) {
    if (result == 0) {
        ++totals->matchedFiles;
    } else if (result > 0) {
        ++totals->mismatchedFiles;
        totals->mismatchedHashes += static_cast<uint32_t>(result);
    } else if (result == kClipSkipped) {
        ++totals->skippedFiles;
    }
}
