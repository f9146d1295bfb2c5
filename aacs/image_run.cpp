// The image run: content files and clips looked up and read inside the mounted image.
#include "aacs/image_run.h"

#include <cstring>

#include "aacs/clip_verify.h"
#include "aacs/content_table.h"
#include "aacs/options.h"
#include "aacs/run_summary.h"
#include "console/console.h"
#include "io/heap.h"
#include "io/host_file.h"
#include "udf/directory_tree.h"
#include "udf/file_read.h"
#include "udf/udf_volume.h"

namespace {

// A clip inside the image: unit k is read from byte k × 196,608 of the file.
class ImageClipSource : public ClipSource {
public:
    ImageClipSource(UdfVolume* volume, const DirectoryNode* node) : volume(volume), node(node) {}
    bool open() override { return true; }
    bool readUnit(uint64_t ordinal, uint8_t* unit) override {
        uint32_t got = 0;
        return readFileRange(volume, node, ordinal * kHashUnitSize, unit, kHashUnitSize, &got, 0) &&
               got == kHashUnitSize;
    }
    void close() override {}
    const char* path() const override { return node->name; }

private:
    UdfVolume* volume;
    const DirectoryNode* node;
};

// Only exact clip names count inside an image: ten bytes ending in ".m2ts" or ".fmts", case included.
bool isClipName(const DirectoryNode* node) {
    if (node->isDirectory) return false;
    const char* dot = std::strrchr(node->name, '.');
    if (!dot || std::strlen(node->name) != 10) return false;
    return std::strcmp(dot + 1, "m2ts") == 0 || std::strcmp(dot + 1, "fmts") == 0;
}

void loadContentPairs(UdfVolume* volume, DirectoryNode* aacs, ContentHashTable* table) {
    char name[32];
    for (int i = 0;; ++i) {
        formatString(name, "Content%03d.cer", i);
        DirectoryNode* certNode = findNode(volume, aacs, name);
        if (!certNode) return;
        uint32_t certSize = 0;
        uint8_t* cert = readWholeFile(volume, certNode, &certSize);
        formatString(name, "ContentHash%03d.tbl", i);
        DirectoryNode* tableNode = findNode(volume, aacs, name);
        if (!tableNode) {
            heapFree(cert);
            return;
        }
        uint32_t tableSize = 0;
        uint8_t* hashes = readWholeFile(volume, tableNode, &tableSize);
        if (cert && hashes) addContentPair(table, cert, certSize, hashes, tableSize, i + 1);
        heapFree(cert);
        heapFree(hashes);
    }
}

int verifyMountedImage(UdfVolume* volume) {
    DirectoryNode* aacs = findNode(volume, nullptr, "AACS/");
    if (!aacs) {
        printColored(kColorRed, "AACS directory not present, abort!\n");
        return 0;
    }
    ContentHashTable table{};
    loadContentPairs(volume, aacs, &table);
    if (!table.present) {
        printColored(kColorRed, "Content hash table missing, unable to verify integrity of M2TS files.\n");
        releaseContentTable(&table);
        return 1;
    }
    DirectoryNode* stream = findNode(volume, nullptr, "BDMV/STREAM/");
    if (!stream) {
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
    for (DirectoryNode* child = stream->firstChild; child; child = child->nextSibling) {
        if (!isClipName(child)) continue;
        ImageClipSource source(volume, child);
        countResult(&totals, verifyClip(&table, unit, &source, child->name, clipNumberOf(child->name),
                                        table.useSha256, child->size));
        ++totals.totalFiles;
    }
    printSummary(&totals);
    heapFree(unit);
    releaseContentTable(&table);
    return static_cast<int>(totals.mismatchedFiles);
}

}  // namespace

int runImage(const char* path) {
    if (gOptions.verbose) printPlain("Verify content hash of %s\n", path);
    UdfVolume volume;
    if (!volume.open(path)) {
        printColored(kColorRed, "Failed to parse UDF file system in %s!\n", path);
        return 0;
    }
    return verifyMountedImage(&volume);
}
