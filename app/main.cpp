// The entry point: console set-up, the switch scan, banner or usage, and the choice of run.
#include "aacs/folder_run.h"
#include "aacs/image_run.h"
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
    const char* path = nullptr;
    if (scanArguments(argc, argv, &gOptions, &path) == ScanResult::Help) {
        printUsage();
        return 0;
    }
    if (!gOptions.noLogo) printPlain("tamsel 1.2 - M2TS content hash verifier\n");
    if (!path) {
        printUsage();
        return 0;
    }
    if (IsDirectory(path)) return runFolder(path);
    return runImage(path);
}
