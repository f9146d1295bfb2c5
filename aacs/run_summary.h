// The counters of one run.
#pragma once

#include <cstdint>

#include "aacs/clip_verify.h"

struct RunTotals {
    uint32_t totalFiles;  // clip files found that passed the name test, whatever their result
    uint32_t matchedFiles;
    uint32_t mismatchedFiles;
    uint32_t mismatchedHashes;
    uint32_t unverifiedFiles;
    uint32_t missingFiles;  // listed in the table, carried by no clip file
    uint32_t skippedFiles;
    uint32_t startTicks;
    bool damaged;  // a structure of the disc could not be read or used whole
};

// Adds one clip's result.
void countResult(RunTotals* totals, const ClipResult& result);

// Whether the disc is intact: no clip mismatched, unverified or missing, and nothing damaged.
bool runMatched(const RunTotals& totals);
// The exit status of a completed run: clips mismatched, unverified or missing (at least 1 when something was
// damaged), at most INT32_MAX.
int runStatus(const RunTotals& totals);
