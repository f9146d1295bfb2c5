// The process-wide switches, set once from the command line and only read afterwards.
#pragma once

struct Options {
    bool verbose;
    bool progress;
    bool noLogo;
    bool abortOnMismatch;
};

extern Options gOptions;
