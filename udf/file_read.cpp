// File data reads: embedded data, the direct way straight into the caller's buffer, and the bounce way.
#include "udf/file_read.h"

#include <cstring>

#include "io/heap.h"
#include "udf/byte_view.h"
#include "udf/sector_io.h"

namespace {

bool readEmbedded(UdfVolume* volume, const DirectoryNode* node, uint64_t position, uint8_t* destination,
                  uint32_t n, uint32_t* bytesRead) {
    if (node->entrySector == kUnmappedSector) {
        return false;
    }
    uint8_t local[kSectorSize];
    uint32_t wanted = node->size < kSectorSize ? uint32_t(node->size) : kSectorSize;
    uint32_t available = readSectorPart(volume, node->entrySector, node->dataLocation, wanted, local);
    if (available == 0) {
        return false;
    }
    // A size larger than what lies in the entry's sector is read only as far as the sector goes.
    if (position >= available) {
        return false;
    }
    if (n > available - position) {
        n = uint32_t(available - position);
    }
    std::memcpy(destination, local + position, n);
    *bytesRead = n;
    return true;
}

}  // namespace

uint32_t collectRuns(const DirectoryNode* node, HeapArray<SectorRun>* runs, uint64_t first, uint32_t count,
                     ExtentCursor* cursor) {
    uint64_t c = 0;
    uint32_t i = 0;
    // A read that goes on from where the last one of this file ended starts at that extent, so reading a file
    // of many extents from start to end walks its extent list once, not once per read.
    if (cursor != nullptr && cursor->node == node && cursor->sector <= first && cursor->extent < node->extentCount) {
        i = cursor->extent;
        c = cursor->sector;
    }
    uint64_t end = first + count;
    uint32_t toFind = count;
    for (; i < node->extentCount && toFind > 0 && c < end; ++i) {
        const FileExtent& extent = node->fileExtents[i];
        uint64_t s = sectorsFor(extent.length);
        uint64_t lo = c > first ? c : first;
        uint64_t hi = c + s < end ? c + s : end;
        if (lo < hi) {
            uint32_t overlap = uint32_t(hi - lo);
            // The sectors of an unmapped extent stay unmapped rather than becoming sectors after the marker.
            uint32_t sector =
                extent.sector == kUnmappedSector ? kUnmappedSector : uint32_t(extent.sector + (lo - c));
            if (!runs->push({sector, overlap})) {
                break;
            }
            toFind -= overlap;
            if (cursor != nullptr) {
                *cursor = {node, i, c};
            }
        }
        c += s;
    }
    return runs->size();
}

bool readFileRange(UdfVolume* volume, const DirectoryNode* node, uint64_t position, void* destination,
                   uint32_t length, uint32_t* bytesRead, uint8_t wholeSectors) {
    *bytesRead = 0;
    if (volume == nullptr || node == nullptr || node->isDirectory || position >= node->size) {
        return false;
    }
    if (length == 0) {
        return true;
    }
    if (destination == nullptr) {
        return false;
    }
    uint8_t* out = static_cast<uint8_t*>(destination);
    uint32_t n = node->size - position < length ? uint32_t(node->size - position) : length;
    if (node->hasEmbeddedData) {
        return readEmbedded(volume, node, position, out, n, bytesRead);
    }

    uint32_t head = uint32_t(position % kSectorSize);
    uint64_t firstSector = position / kSectorSize;
    uint32_t sectorCount = uint32_t(sectorsFor(uint64_t(head) + n));
    HeapArray<SectorRun> runs;
    uint32_t runCount = collectRuns(node, &runs, firstSector, sectorCount, &volume->readCursor);

    if (head == 0 && (wholeSectors != 0 || n % kSectorSize == 0)) {
        uint32_t sectorsRead = 0;
        for (uint32_t r = 0; r < runCount; ++r) {
            // Data that lies nowhere ends the read, as an unreadable sector does.
            if (runs[r].sector == kUnmappedSector) {
                break;
            }
            uint32_t got = readBlocks(volume, runs[r].sector, runs[r].count, out);
            if (got != runs[r].count) {
                sectorsRead += got;
                break;
            }
            out += size_t(got) * kSectorSize;
            sectorsRead += got;
        }
        uint64_t bytes = sectorsRead == sectorCount ? n : uint64_t(sectorsRead) * kSectorSize;
        *bytesRead = uint32_t(bytes < n ? bytes : n);
        return *bytesRead > 0;
    }

    uint8_t bounce[kSectorSize];
    uint32_t left = n;
    bool first = true;
    for (uint32_t r = 0; r < runCount && left > 0; ++r) {
        for (uint32_t s = 0; s < runs[r].count && left > 0; ++s) {
            // Bytes after an unreadable sector would land at the wrong place, so the read ends there.
            if (runs[r].sector == kUnmappedSector || readBlocks(volume, runs[r].sector + s, 1, bounce) != 1) {
                return *bytesRead > 0;
            }
            uint32_t from = first ? head : 0;
            uint32_t take = kSectorSize - from < left ? kSectorSize - from : left;
            std::memcpy(out, bounce + from, take);
            out += take;
            left -= take;
            *bytesRead += take;
            first = false;
        }
    }
    return *bytesRead > 0;
}

uint8_t* readWholeFile(UdfVolume* volume, const DirectoryNode* node, uint32_t* size) {
    *size = 0;
    if (node == nullptr || node->isDirectory || node->size > kMaxWholeFileSize) {
        return nullptr;
    }
    uint32_t fileSize = uint32_t(node->size);
    uint64_t capacity = fileSize == 0 ? kSectorSize : roundToSectors(fileSize);
    uint8_t* buffer = static_cast<uint8_t*>(heapAlloc(size_t(capacity)));
    if (buffer == nullptr) {
        return nullptr;
    }
    uint32_t bytesRead = 0;
    if (!readFileRange(volume, node, 0, buffer, fileSize, &bytesRead, 1) || bytesRead != fileSize) {
        heapFree(buffer);
        return nullptr;
    }
    *size = fileSize;
    return buffer;
}
