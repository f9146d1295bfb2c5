// The folder run: content files from ROOT/AACS, clips from ROOT/BDMV/STREAM.
#include "aacs/folder_run.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "aacs/clip_verify.h"
#include "aacs/content_table.h"
#include "aacs/options.h"
#include "aacs/run_summary.h"
#include "console/console.h"
#include "io/directory_scan.h"
#include "io/heap.h"
#include "io/host_file.h"

namespace {

// Paths of any length: a path the host cannot open then fails like any other unopenable file.
std::string composePath(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string path;
    if (length > 0) {
        path.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&path[0], path.size(), format, again);
        path.resize(static_cast<size_t>(length));
    }
    va_end(again);
    return path;
}

void loadContentPairs(const char* root, ContentHashTable* table) {
    const char sep = kPathSeparator;
    for (int i = 0;; ++i) {
        std::string certPath = composePath("%s%cAACS%cContent%03d.cer", root, sep, sep, i);
        if (!PathExists(certPath.c_str())) return;
        uint64_t certSize = 0;
        uint8_t* cert = LoadWholeFile(certPath.c_str(), &certSize);
        std::string tablePath = composePath("%s%cAACS%cContentHash%03d.tbl", root, sep, sep, i);
        if (!PathExists(tablePath.c_str())) {
            heapFree(cert);
            return;
        }
        uint64_t tableSize = 0;
        uint8_t* hashes = LoadWholeFile(tablePath.c_str(), &tableSize);
        if (cert && hashes) addContentPair(table, cert, certSize, hashes, tableSize, i + 1);
        heapFree(cert);
        heapFree(hashes);
    }
}

}  // namespace

int runFolder(const char* root) {
    const char sep = kPathSeparator;
    if (gOptions.verbose) printPlain("Verify content hash of %s\n", root);
    if (!IsDirectory(composePath("%s%cAACS", root, sep).c_str())) {
        printColored(kColorRed, "AACS directory not present, abort!\n");
        return 0;
    }
    ContentHashTable table{};
    loadContentPairs(root, &table);
    if (!table.present) {
        printColored(kColorRed, "Content hash table missing, unable to verify integrity of M2TS files.\n");
        releaseContentTable(&table);
        return 1;
    }
    auto* unit = static_cast<uint8_t*>(heapAlloc(kHashUnitSize));
    if (!unit) {
        releaseContentTable(&table);
        return 0;
    }

    RunTotals totals{};
    totals.startTicks = HostTickCount();
    DirectoryScan scan;
    FindEntry entry;
    std::string pattern = composePath("%s%cBDMV%cSTREAM%c?????.m2ts", root, sep, sep, sep);
    for (bool found = scan.First(pattern.c_str(), &entry); found; found = scan.Next(&entry)) {
        std::string clipPath = composePath("%s%cBDMV%cSTREAM%c%s", root, sep, sep, sep, entry.name);
        const uint64_t size = (static_cast<uint64_t>(entry.sizeHigh) << 32) | entry.sizeLow;
        HostClipSource source(clipPath.c_str());
        countResult(&totals, verifyClip(&table, unit, &source, entry.name, clipNumberOf(entry.name),
                                        table.useSha256, size));
        ++totals.totalFiles;
    }
    printSummary(&totals);
    heapFree(unit);
    releaseContentTable(&table);
    return static_cast<int>(totals.mismatchedFiles);
}
