// The entry point: console set-up, the switch scan, banner or usage, the way the run is reported, and the run.
#include "aacs/console_reporter.h"
#include "aacs/disc_run.h"
#include "aacs/json_reporter.h"
#include "aacs/options.h"
#include "aacs/status_reporter.h"
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
    switch (scanArguments(argc, argv, &options, &path)) {
        case ScanResult::Help:
            printUsage();
            return 0;
        case ScanResult::Version:
            printPlain("tamsel 1.2\n");
            return 0;
        case ScanResult::Run:
            break;
    }
    // A report for scripts, or only the problems: no banner.
    if (!options.noLogo && !options.quiet && !options.json) printPlain("tamsel 1.2 - M2TS content hash verifier\n");
    if (!path) {
        printUsage();
        return 0;
    }
    ConsoleReporter text(options);
    JsonReporter json;
    RunReporter* reporter = options.json ? static_cast<RunReporter*>(&json) : &text;
    StatusLineReporter status(reporter);
    // Progress lines redraw the terminal's last line themselves; the status line then stays off that terminal.
    const bool progressOnTerminal = options.progress && !options.json && statusLineSharesOutput();
    if (statusLineAvailable() && !options.quiet && !progressOnTerminal) reporter = &status;
    const RunSettings settings{options.abortOnMismatch, options.hashThreads};
    return hostExitStatus(IsDirectory(path) ? runFolder(path, settings, reporter) : runImage(path, settings, reporter));
}
