// The counters of one run.
#pragma once

#include <cstdint>

struct RunTotals {
    uint32_t totalFiles;
    uint32_t matchedFiles;
    uint32_t mismatchedFiles;
    uint32_t mismatchedHashes;
    uint32_t skippedFiles;
    uint32_t startTicks;
};

// Adds one verifyClip result; totalFiles is counted by the caller.
void countResult(RunTotals* totals, int result);
