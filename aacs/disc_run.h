// The one verification run over a disc source, and the two runs the front end starts.
#pragma once

#include <cstdint>

#include "aacs/content_table.h"
#include "aacs/disc_source.h"
#include "aacs/run_reporter.h"

class BlockDevice;

struct RunSettings {
    bool abortOnMismatch;
    unsigned hashThreads;  // hash workers; 0 for one per logical processor
};

// Hash workers for a request: 0 means one per logical processor; never more than kMaxHashThreads, which keeps
// the units in flight (and so memory) bounded on large machines.
constexpr unsigned kMaxHashThreads = 32;
unsigned hashThreadsFor(unsigned requested);

// Returns the exit status: mismatched clips, or 0/1 in the failure cases.
int runDisc(DiscSource* source, const RunSettings& settings, RunReporter* reporter);

// A disc copied to a folder of the host: content files from ROOT/AACS, clips from ROOT/BDMV/STREAM.
int runFolder(const char* root, const RunSettings& settings, RunReporter* reporter);
// A disc image file holding a UDF file system.
int runImage(const char* path, const RunSettings& settings, RunReporter* reporter);
// The same over a device already open, which the run owns from here on; `label` names it in messages.
int runImageDevice(BlockDevice* device, const char* label, const RunSettings& settings, RunReporter* reporter);

