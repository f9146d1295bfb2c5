// The disc image: the UDF volume mounted, content files and clips looked up and read inside it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "aacs/disc_run.h"
#include "io/block_device.h"
#include "udf/directory_tree.h"
#include "udf/block_mapping.h"
#include "udf/file_read.h"
#include "udf/udf_volume.h"

namespace {

// A clip inside the image: unit k is read from byte k × 196,608 of the file; a request for many units goes
// to the reader as one range.
class ImageClipSource : public ClipSource {
public:
    ImageClipSource(UdfVolume* volume, const DirectoryNode* node) : volume(volume), node(node) {}
    bool open() override { return true; }
    uint32_t readUnits(uint64_t first, uint32_t count, uint8_t* units) override {
        uint32_t got = 0;
        readFileRange(volume, node, first * kHashUnitSize, units, count * kHashUnitSize, &got, 0);
        return got / kHashUnitSize;
    }
    // The offset follows whole units, so it starts a sector; the buffer holds a whole unit, so the last sector
    // may be written whole and the tail goes as one read.
    bool readTail(uint64_t offset, uint32_t length, uint8_t* buffer) override {
        uint32_t got = 0;
        return readFileRange(volume, node, offset, buffer, length, &got, 1) && got == length;
    }
    void close() override {}
    const char* path() const override { return node->name; }

private:
    UdfVolume* volume;
    const DirectoryNode* node;
};

// Marks the kept clips whose data lies where an earlier clip's data, or an earlier part of their own, lies. Sectors
// are claimed in run order, so the first clip to hold data is verified and every later holder is reported.
void markSharedData(std::vector<ClipFile>* clips, const std::vector<const DirectoryNode*>& nodes) {
    std::map<uint64_t, uint64_t> claimed;  // first sector -> end, disjoint
    for (size_t i = 0; i < clips->size(); ++i) {
        ClipFile& clip = (*clips)[i];
        const DirectoryNode* node = nodes[i];
        if (!clip.kept || node->hasEmbeddedData || !node->fileExtents) continue;
        // Only the sectors the file's size reaches are ever read.
        uint64_t sectorsLeft = (clip.size + 2047) / 2048;
        for (uint32_t e = 0; e < node->extentCount && sectorsLeft > 0; ++e) {
            const FileExtent& extent = node->fileExtents[e];
            const uint64_t length = std::min<uint64_t>((uint64_t(extent.length) + 2047) / 2048, sectorsLeft);
            sectorsLeft -= length;
            if (extent.sector == kUnmappedSector || length == 0) continue;
            const uint64_t first = extent.sector;
            const uint64_t end = first + length;
            auto next = claimed.lower_bound(first);
            if (next != claimed.begin() && std::prev(next)->second > first) {
                next = std::prev(next);
            }
            if (!clip.sharesData && next != claimed.end() && next->first < end) {
                clip.sharesData = true;
                clip.sharedSector = static_cast<uint32_t>(std::max(first, next->first));
            }
            // Merge with every claimed interval it touches.
            uint64_t mergedFirst = first;
            uint64_t mergedEnd = end;
            while (next != claimed.end() && next->first <= mergedEnd) {
                mergedFirst = std::min(mergedFirst, next->first);
                mergedEnd = std::max(mergedEnd, next->second);
                next = claimed.erase(next);
            }
            claimed[mergedFirst] = mergedEnd;
        }
    }
}

DamageKind kindOf(VolumeDamageKind kind) {
    switch (kind) {
        case VolumeDamageKind::EntryUnreadable:
            return DamageKind::EntryUnreadable;
        case VolumeDamageKind::DirectoryUnreadable:
            return DamageKind::DirectoryUnreadable;
        case VolumeDamageKind::ExtentsUnreadable:
            break;
    }
    return DamageKind::ExtentsUnreadable;
}

// Only exact clip names count inside an image: ten bytes ending in ".m2ts" or ".fmts", case included.
bool isClipName(const DirectoryNode* node) {
    if (node->isDirectory) return false;
    const char* dot = std::strrchr(node->name, '.');
    if (!dot || std::strlen(node->name) != 10) return false;
    return std::strcmp(dot + 1, "m2ts") == 0 || std::strcmp(dot + 1, "fmts") == 0;
}

class ImageSource : public DiscSource {
public:
    ImageSource(const char* imagePath, BlockDevice* device) : imagePath(imagePath), device(device) {}

    const char* path() const override { return imagePath; }
    bool mount() override {
        if (!device) return volume.open(imagePath);
        BlockDevice* given = device;
        device = nullptr;
        return volume.openDevice(given);
    }
    ~ImageSource() override { delete device; }

    void describeMount(std::vector<DiscNote>* notes, std::vector<DiscDamage>* damage) override {
        const MountNotes& used = volume.notes;
        if (used.anchorSector != 256) notes->push_back({NoteKind::ReserveAnchor, used.anchorSector});
        if (used.reserveSequence) notes->push_back({NoteKind::ReserveSequence, used.sequenceSector});
        if (used.vatSector != 0) notes->push_back({NoteKind::VatBeforeEnd, used.vatSector});
        const uint32_t found = volumeDamageCount(&volume);
        uint32_t named = 0;
        for (; const VolumeDamage* record = volumeDamageAt(&volume, named); ++named) {
            damage->push_back({kindOf(record->kind), record->path ? record->path : "", record->sector});
        }
        if (found > named) damage->push_back({DamageKind::MoreUnrecorded, "", found - named});
    }
    bool hasContentFolder() override {
        DirectoryNode* aacs = findNode(&volume, nullptr, "AACS/");
        if (!aacs) return false;
        // Indexed once, so that a folder of many thousand pairs costs a search per file, not a walk.
        for (DirectoryNode* child = aacs->firstChild; child; child = child->nextSibling) contents.push_back(child);
        std::stable_sort(contents.begin(), contents.end(), [](const DirectoryNode* a, const DirectoryNode* b) {
            return std::strcmp(a->name, b->name) < 0;
        });
        return true;
    }

    PairLookup loadPair(uint32_t index, ContentPairFiles* files) override {
        char name[32];
        std::snprintf(name, sizeof name, "Content%03u.cer", index);
        files->certificateFound = loadContentFile(name, &files->certificate, &files->certificateSize);
        std::snprintf(name, sizeof name, "ContentHash%03u.tbl", index);
        files->hashTableFound = loadContentFile(name, &files->hashTable, &files->hashTableSize);
        return files->certificateFound && files->hashTableFound ? PairLookup::Loaded : PairLookup::End;
    }

    // The children of the stream folder in the tree's order.
    void listClips(std::vector<ClipFile>* clips) override {
        DirectoryNode* stream = findNode(&volume, nullptr, "BDMV/STREAM/");
        if (!stream) return;
        for (DirectoryNode* child = stream->firstChild; child; child = child->nextSibling) {
            ClipFile clip;
            clip.name = child->name;
            clip.size = child->isDirectory ? 0 : child->size;
            clip.number = clipNumberOf(child->name);
            clip.kept = isClipName(child);
            clips->push_back(clip);
            nodes.push_back(child);
        }
        markSharedData(clips, nodes);
    }

    std::unique_ptr<ClipSource> openClip(size_t index) override {
        return std::unique_ptr<ClipSource>(new ImageClipSource(&volume, nodes[index]));
    }

private:
    // False when AACS/ holds no such name; a file that cannot be read whole leaves *bytes null.
    bool loadContentFile(const char* name, uint8_t** bytes, uint64_t* size) {
        // Of entries with the same name, the first in the folder's order counts, as a path lookup finds it.
        auto found = std::lower_bound(contents.begin(), contents.end(), name,
                                      [](const DirectoryNode* node, const char* n) { return std::strcmp(node->name, n) < 0; });
        if (found == contents.end() || std::strcmp((*found)->name, name) != 0) return false;
        const DirectoryNode* node = *found;
        if (!node->isDirectory && node->size > kMaxContentFileBytes) return true;
        uint32_t length = 0;
        *bytes = readWholeFile(&volume, node, &length);
        *size = length;
        return true;
    }

    const char* imagePath;
    BlockDevice* device;  // until the volume takes it
    UdfVolume volume;
    std::vector<const DirectoryNode*> contents;  // the AACS folder's entries, by name
    std::vector<const DirectoryNode*> nodes;
};

}  // namespace

int runImage(const char* path, const RunSettings& settings, RunReporter* reporter) {
    ImageSource source(path, nullptr);
    return runDisc(&source, settings, reporter);
}

int runImageDevice(BlockDevice* device, const char* label, const RunSettings& settings, RunReporter* reporter) {
    ImageSource source(label, device);
    return runDisc(&source, settings, reporter);
}
