// Reading switches and the path from the command line, and the usage text.
#include "app/options_scan.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "console/console.h"

namespace {

bool equalsNoCase(const char* text, const char* expected) {
    for (; *text && *expected; ++text, ++expected) {
        if (std::tolower(static_cast<unsigned char>(*text)) != *expected) return false;
    }
    return *text == 0 && *expected == 0;
}

// The N of -tN: its decimal digits; none, or 0, leaves the choice to the run. Capped long before the value
// could wrap, as no machine has that many processors.
unsigned threadCount(const char* digits) {
    unsigned value = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits) {
        value = value * 10u + static_cast<unsigned>(*digits - '0');
        if (value > 9999) value = 9999;
    }
    return value;
}

}  // namespace

ScanResult scanArguments(int argc, char** argv, Options* options, const char** path) {
    // Held to the end of the scan, as -j may come after the paths: under -j standard output carries only
    // JSON, so the warnings go to standard error.
    std::vector<const char*> skipped;
    auto warned = [&](ScanResult result) {
        for (const char* arg : skipped) {
            const char* format = "Warning: only one directory can be verified at a time, \"%s\" was skipped\n";
            if (options->json) {
                std::fprintf(stderr, format, arg);
            } else {
                printPlain(format, arg);
            }
        }
        return result;
    };
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        // The long forms people try first; by the second-character rule they would mean nothing.
        if (std::strcmp(arg, "--help") == 0) return warned(ScanResult::Help);
        if (std::strcmp(arg, "--version") == 0) return warned(ScanResult::Version);
        if (isSwitchLead(arg[0])) {
            // Only the second character decides, so -abort acts as -a and -verbose as -v.
            switch (arg[1]) {
                case '?':
                case 'h':
                case 'H':
                    return warned(ScanResult::Help);
                case 'a':
                case 'A':
                    options->abortOnMismatch = true;
                    break;
                case 'n':
                case 'N':
                    options->noLogo = equalsNoCase(arg + 1, "nologo");
                    break;
                case 'p':
                case 'P':
                    options->progress = true;
                    break;
                case 'v':
                case 'V':
                    options->verbose = true;
                    break;
                case 't':
                case 'T':
                    options->hashThreads = threadCount(arg + 2);
                    break;
                case 'q':
                case 'Q':
                    options->quiet = true;
                    break;
                case 'j':
                case 'J':
                    options->json = true;
                    break;
                default:
                    break;
            }
        } else if (!*path) {
            *path = arg;
        } else {
            skipped.push_back(arg);
        }
    }
    return warned(ScanResult::Run);
}

void printUsage() {
    printPlain("tamsel - Verify the integrity of M2TS files\n");
    printPlain("Usage:\n");
    printPlain("\ttamsel [switch] [disc_root_path]\n");
    printPlain("Switch:\n");
    printPlain("\t-a      abort on mismatch hash\n");
    printPlain("\t-h      help\n");
    printPlain("\t-?      help\n");
    printPlain("\t-nologo suppress copyright message\n");
    printPlain("\t-p      show progress\n");
    printPlain("\t-tN     hash on N threads (default: one per processor)\n");
    printPlain("\t-q      only problems and the summary\n");
    printPlain("\t-j      JSON Lines report\n");
    printPlain("\t-v      verbose output\n");
    printPlain("Example:\n");
    printPlain("\ttamsel -v e:\\bd\\avatar\\\n");
}
