// The entry point: console set-up, the switch scan, banner or usage, and the choice of run.
#include <cctype>

#include "aacs/folder_run.h"
#include "aacs/options.h"
#include "app/options_scan.h"
#include "console/console.h"
#include "io/host_file.h"

#if __has_include("aacs/image_run.h")
#include "aacs/image_run.h"
#define TAMSEL_HAS_IMAGE_RUN 1
#endif

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
#ifdef TAMSEL_HAS_IMAGE_RUN
    return runImage(path);
#else
    printColored(kColorRed, "Failed to parse UDF file system in %s!\n", path);
    return 0;
#endif
}
