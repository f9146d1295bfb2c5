// The switches of one invocation, read once from the command line.
#pragma once

struct Options {
    bool verbose;
    bool progress;
    bool noLogo;
    bool abortOnMismatch;
    unsigned hashThreads;  // -tN; 0 for one per logical processor
};
