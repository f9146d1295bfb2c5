// Counting clip results and printing the end-of-run summary.
#include "aacs/run_summary.h"

#include "aacs/clip_verify.h"
#include "aacs/options.h"
#include "console/console.h"
#include "io/host_file.h"

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

void printSummary(const RunTotals* totals) {
    const uint32_t elapsed = HostTickCount() - totals->startTicks;
    printLine("--------------------------------");
    printPlain("Content hash      : %s\n", totals->mismatchedFiles == 0 ? "match" : "mismatch");
    printPlain("Total files       : %u\n", totals->totalFiles);
    printPlain("Matched files     : %u\n", totals->matchedFiles);
    if (totals->mismatchedFiles != 0) printPlain("Mismatched files  : %u\n", totals->mismatchedFiles);
    if (totals->mismatchedHashes != 0 && !gOptions.abortOnMismatch) {
        printPlain("Mismatched hashes : %u\n", totals->mismatchedHashes);
    }
    if (totals->skippedFiles != 0) printPlain("Skipped files     : %u\n", totals->skippedFiles);
    printPlain("Time elapsed      : %.1f s\n", static_cast<double>(static_cast<float>(elapsed) / 1000.0f));
}
