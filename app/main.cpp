// The entry point: console set-up, the switch scan, banner or usage, and the choice of run.
#include "aacs/console_reporter.h"
#include "aacs/disc_run.h"
#include "aacs/options.h"
#include "app/options_scan.h"
#include "console/console.h"
#include "io/host_file.h"

int main(int argc, char** argv) {
    setupConsole();
    if (argc <= 1) {
        printUsage();
        return 0;
    }
    Options options{};
    const char* path = nullptr;
    if (scanArguments(argc, argv, &options, &path) == ScanResult::Help) {
        printUsage();
        return 0;
    }
    if (!options.noLogo) printPlain("tamsel 1.2 - M2TS content hash verifier\n");
    if (!path) {
        printUsage();
        return 0;
    }
    ConsoleReporter reporter(options);
    const RunSettings settings{options.abortOnMismatch, options.hashThreads};
    return hostExitStatus(IsDirectory(path) ? runFolder(path, settings, &reporter)
                                            : runImage(path, settings, &reporter));
}
