// The switches of one invocation, read once from the command line.
#pragma once

struct Options {
    bool verbose;
    bool progress;
    bool noLogo;
    bool abortOnMismatch;
    unsigned hashThreads;  // -tN; 0 for one per logical processor
    bool quiet;            // -q: only the problems and the summary
    bool json;             // -j: a JSON Lines report instead of the text
};
