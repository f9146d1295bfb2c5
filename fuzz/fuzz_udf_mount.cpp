// Fuzz target: mount an image laid over blank sectors, check what the mount recorded, walk the whole tree,
// look up the fixed paths and read every file through in hash units, as the image run does, and whole and in
// unaligned ranges, checking what each read reports. Run with a memory and a time limit, so that an input
// that makes the reader take too much of either is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/overlay_input.h"
#include "io/heap.h"
#include "udf/directory_tree.h"
#include "udf/file_read.h"
#include "udf/udf_volume.h"

namespace {

constexpr uint32_t kUnit = 196608;
// Files are read through, unit by unit, until the bytes read by all files reach the device's size: the image
// run hashes no more clip bytes than its image holds, since data that files or extents share is reported
// rather than hashed again. Claims of exabytes stop there too.
constexpr uint64_t kWholeFileLimit = 4u << 20;
constexpr uint32_t kMaxFilesRead = 256;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

const char* const kPaths[] = {
    "AACS/",
    "AACS",
    "/AACS/",
    "\\AACS\\\\",
    "AACS/Content000.cer",
    "AACS/ContentHash000.tbl",
    "AACS/Content001.cer",
    "AACS/ContentHash001.tbl",
    "BDMV/STREAM/",
    "BDMV\\STREAM",
    "BDMV/STREAM/00001.m2ts",
    "",
    "/",
    ".",
    "..",
};

// A range read must report no more than it was asked for and the file holds, and true exactly when it
// delivered something.
uint32_t readChecked(UdfVolume* volume, const DirectoryNode* node, uint64_t position, uint8_t* out,
                     uint32_t length, uint8_t wholeSectors) {
    uint32_t got = 0xFFFFFFFF;
    bool ok = readFileRange(volume, node, position, out, length, &got, wholeSectors);
    check(got != 0xFFFFFFFF);
    check(got <= length);
    if (position < node->size) {
        check(got <= node->size - position);
    } else {
        check(!ok && got == 0);
    }
    if (length != 0) {
        check(ok == (got > 0));
    }
    return got;
}

void readFile(UdfVolume* volume, const DirectoryNode* node, std::vector<uint8_t>& unit, std::vector<uint8_t>& other,
              uint64_t* budget) {
    if (node->size <= kWholeFileLimit || node->size > kMaxWholeFileSize) {
        uint32_t size = 0;
        uint8_t* whole = readWholeFile(volume, node, &size);
        if (whole != nullptr) {
            check(size == node->size);
            heapFree(whole);
        }
    }
    // Clip verification's reads: whole units at unit positions until one comes back short.
    uint32_t firstUnitBytes = 0;
    for (uint64_t k = 0; *budget >= kUnit; ++k) {
        uint32_t got = readChecked(volume, node, k * kUnit, k == 0 ? unit.data() : other.data(), kUnit, 0);
        *budget -= kUnit;
        if (k == 0) {
            firstUnitBytes = got;
        }
        if (got != kUnit) {
            break;
        }
    }
    // The first unit read again must give the same bytes; then the bounce way over a range inside it must
    // agree with what the direct way delivered there.
    if (firstUnitBytes > 0) {
        uint32_t again = readChecked(volume, node, 0, other.data(), kUnit, 0);
        if (again == firstUnitBytes) {
            check(std::memcmp(unit.data(), other.data(), again) == 0);
        }
        struct Range {
            uint64_t position;
            uint32_t length;
        };
        const Range ranges[] = {{100, 5000}, {2047, 2}, {2048, 2048}, {1, 4095}, {0, 1000}};
        for (const Range& r : ranges) {
            if (r.position + r.length > firstUnitBytes) {
                continue;
            }
            uint32_t got = readChecked(volume, node, r.position, other.data(), r.length, 0);
            if (got == r.length) {
                check(std::memcmp(unit.data() + r.position, other.data(), r.length) == 0);
            }
        }
        // The whole-sector way may write the last sector in full; the buffer holds a whole unit.
        readChecked(volume, node, 0, other.data(), 1000, 1);
    }
    // Positions at the end and far beyond any extent.
    if (node->size > 0) {
        readChecked(volume, node, node->size - 1, other.data(), 10, 0);
        uint64_t lastUnit = (node->size - 1) / kUnit * kUnit;
        readChecked(volume, node, lastUnit, other.data(), kUnit, 0);
    }
    readChecked(volume, node, node->size, other.data(), kUnit, 0);
    readChecked(volume, node, uint64_t(1) << 44, other.data(), kUnit, 0);
    readChecked(volume, node, 0, other.data(), 0, 0);
}


// What the mount recorded: its reserves within the image, every damage record complete and no more of them
// than were counted.
void checkRecords(const UdfVolume& volume) {
    uint32_t last = volume.lastSector;
    const MountNotes& notes = volume.notes;
    check(notes.anchorSector == 256 || notes.anchorSector == last || notes.anchorSector + 256 == last);
    check(notes.vatSector == 0 || notes.vatSector < last);
    uint32_t recorded = 0;
    while (const VolumeDamage* damage = volumeDamageAt(&volume, recorded)) {
        // A file with an empty name at the root has an empty path; every path is there.
        check(damage->path != nullptr);
        check(std::strlen(damage->path) < (1u << 20));
        ++recorded;
    }
    // Only a refused allocation of a path leaves damage counted but not recorded below the limit.
    check(recorded == volumeDamageCount(&volume) ||
          (recorded == kMaxRecordedDamage && volumeDamageCount(&volume) > recorded));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UdfVolume volume;
    std::unique_ptr<FakeDevice> device = overlay::deviceFrom(data, size);
    uint64_t budget = uint64_t(device->sectors()) * FakeDevice::kSectorSize;
    if (!volume.openDevice(device.release())) {
        return 0;
    }
    check(volume.root != nullptr);
    checkRecords(volume);
    std::vector<uint8_t> unit(kUnit);
    std::vector<uint8_t> other(kUnit);

    // Depth first through every node, checking the links the build made.
    std::vector<DirectoryNode*> pending;
    pending.push_back(volume.root);
    uint32_t visited = 0;
    uint32_t filesRead = 0;
    while (!pending.empty()) {
        DirectoryNode* node = pending.back();
        pending.pop_back();
        check(++visited <= kMaxTreeNodes + 1);
        check(std::strlen(node->name) < 65536);
        for (DirectoryNode* child = node->firstChild; child != nullptr; child = child->nextSibling) {
            check(child->parent == node);
            check(node->isDirectory);
            pending.push_back(child);
        }
        if (!node->isDirectory && filesRead < kMaxFilesRead) {
            ++filesRead;
            readFile(&volume, node, unit, other, &budget);
        } else if (node->isDirectory) {
            uint32_t ignored = 0;
            check(readWholeFile(&volume, node, &ignored) == nullptr);
            check(!readFileRange(&volume, node, 0, unit.data(), kUnit, &ignored, 0) && ignored == 0);
        }
    }

    for (const char* path : kPaths) {
        DirectoryNode* found = findNode(&volume, nullptr, path);
        if (found != nullptr && path[0] != '\0') {
            check(findNode(&volume, found, nullptr) == found);
        }
    }
    DirectoryNode* aacs = findNode(&volume, nullptr, "AACS/");
    if (aacs != nullptr) {
        findNode(&volume, aacs, "Content000.cer");
        findNode(&volume, aacs, "ContentHash000.tbl");
    }
    return 0;
}
