// File entries: extent reads, the allocation descriptors of a node and their continuation areas.
#include "udf/file_entry.h"

#include <cstring>

#include "io/heap.h"
#include "udf/arena.h"
#include "udf/block_mapping.h"
#include "udf/directory_node.h"
#include "udf/sector_io.h"
#include "udf/volume_damage.h"

namespace {

// The tag of the Allocation Extent Descriptor that opens every continuation area.
constexpr uint16_t kTagAllocationExtent = 258;

// A file's descriptors, in its entry or in a continuation area: recorded extents are appended,
// continuations followed in place, the other two types skipped.
bool collectFileExtents(UdfVolume* volume, const DirectoryNode* owner, ByteView block, const DescriptorArea& area,
                        HeapArray<FileExtent>* list, SectorSet* followed) {
    for (uint32_t i = 0; i < area.count; ++i) {
        ExtentRef extent = decodeAllocationDescriptor(block, area, i, volume->defaultPartition, 0);
        uint32_t type = extentType(extent.length);
        if (type == kExtentRecorded) {
            // An unmapped extent keeps its place in the file and reads as missing.
            if (!list->push({mapBlock(volume, &extent), extent.length})) {
                return false;
            }
        } else if (type == kExtentContinuation) {
            extent.length &= kExtentLengthMask;
            if (!followContinuation(volume, owner, extent, area.type, list, followed)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

uint32_t readExtent(UdfVolume* volume, const ExtentRef* extent, void* destination, uint64_t capacity,
                    uint32_t* failedSector) {
    if (failedSector != nullptr) {
        *failedSector = kUnmappedSector;
    }
    if (volume == nullptr || extent == nullptr || destination == nullptr) {
        return 0;
    }
    if (extent->kind == kExtentEmbedded) {
        uint32_t length = capacity < extent->length ? uint32_t(capacity) : extent->length;
        uint32_t copied = readSectorPart(volume, extent->block, extent->partition, length, destination);
        if (copied == 0 && failedSector != nullptr) {
            *failedSector = extent->block;
        }
        return copied;
    }
    if (extent->kind != kExtentLong) {
        return 0;
    }
    uint64_t wanted = sectorsFor(extent->length);
    if (wanted > capacity / kSectorSize) {
        wanted = capacity / kSectorSize;
    }
    const PartitionMap* map = partitionMapAt(volume, extent->partition);
    uint8_t* position = static_cast<uint8_t*>(destination);
    uint32_t block = extent->block;
    uint32_t total = 0;
    while (total < wanted) {
        BlockPlace place = mapPartitionBlock(map, block);
        if (place.sector == kUnmappedSector) {
            break;
        }
        uint32_t n = uint32_t(wanted - total < place.contiguous ? wanted - total : place.contiguous);
        uint32_t got = readBlocks(volume, place.sector, n, position);
        total += got;
        if (got != n) {
            if (failedSector != nullptr) {
                *failedSector = place.sector + got;
            }
            return total;
        }
        position += size_t(n) * kSectorSize;
        block += n;
    }
    return total;
}

bool followContinuation(UdfVolume* volume, const DirectoryNode* owner, ExtentRef area, uint8_t form,
                        HeapArray<FileExtent>* list, SectorSet* followed) {
    uint32_t sector = mapBlock(volume, &area);
    // An area that lies nowhere holds no extents, and costs nothing of the mount's budget; the file it
    // belongs to then reads short, and the damage says why.
    if (sector == kUnmappedSector) {
        recordDamage(volume, VolumeDamageKind::ExtentsUnreadable, sector, owner);
        return true;
    }
    if (volume->continuationAreasLeft == 0 || !followed->insert(sector)) {
        return true;
    }
    --volume->continuationAreasLeft;
    // On the heap, not the stack: areas nest as deep as the set of followed areas allows.
    uint8_t* block = static_cast<uint8_t*>(heapAlloc(kMaxEntryBytes));
    if (block == nullptr) {
        return false;
    }
    uint32_t length = area.length < kMaxEntryBytes ? area.length : kMaxEntryBytes;
    area.length = length;
    bool ok = true;
    uint32_t failed = kUnmappedSector;
    ByteView view(block, length);
    // A sector that does not arrive, or one that holds no allocation extent descriptor (a ripper's zeros in
    // place of an unreadable sector), contributes no extents.
    if (readExtent(volume, &area, block, kMaxEntryBytes, &failed) == 0) {
        recordDamage(volume, VolumeDamageKind::ExtentsUnreadable, failed, owner);
    } else if (view.le16(0) != kTagAllocationExtent) {
        recordDamage(volume, VolumeDamageKind::ExtentsUnreadable, sector, owner);
    } else {
        ok = collectFileExtents(volume, owner, view, locateContinuationDescriptors(view, form), list, followed);
    }
    heapFree(block);
    return ok;
}

EntryRead readEntry(UdfVolume* volume, DirectoryNode* node, const ExtentRef& icb) {
    uint32_t length = node->entryLength < kMaxEntryBytes ? node->entryLength : kMaxEntryBytes;
    if (length == 0) {
        return EntryRead::Unreadable;
    }
    uint8_t* buffer = reserveBytes(volume->entryScratch, roundToSectors(length));
    if (buffer == nullptr) {
        return EntryRead::NoMemory;
    }
    ExtentRef first = icb;
    first.length = length;
    uint32_t failed = kUnmappedSector;
    if (readExtent(volume, &first, buffer, roundToSectors(length), &failed) == 0) {
        recordDamage(volume, VolumeDamageKind::EntryUnreadable, failed, node);
        return EntryRead::Unreadable;
    }
    ByteView entry(buffer, roundToSectors(length));
    DescriptorArea area = {};
    // A block that holds no file entry is what a ripper leaves for a sector it could not read: zeros.
    if (!locateDescriptors(entry, &area)) {
        recordDamage(volume, VolumeDamageKind::EntryUnreadable, node->entrySector, node);
        return EntryRead::Unreadable;
    }
    std::memcpy(node->modificationTime, entry.data + area.modificationOffset, sizeof(node->modificationTime));

    if (node->isDirectory) {
        if (area.type != kAdShort && area.type != kAdLong && area.type != kAdEmbedded) {
            // Only short, long and embedded directories are read; any other is an empty directory.
            return EntryRead::Read;
        }
        uint32_t n = (area.type == kAdEmbedded || area.count == 0) ? 1 : area.count;
        // Past the mount's budget a directory stays empty rather than costing more memory.
        if (n > volume->extentRecordsLeft) {
            return EntryRead::Read;
        }
        volume->extentRecordsLeft -= n;
        ExtentRef* extents = static_cast<ExtentRef*>(volumeAlloc(volume, uint64_t(n) * sizeof(ExtentRef)));
        if (extents == nullptr) {
            return EntryRead::NoMemory;
        }
        for (uint32_t i = 0; i < n; ++i) {
            // With L_AD 0 the one record still comes from where descriptor 0 would stand, inside the block.
            extents[i] =
                decodeAllocationDescriptor(entry, area, i, volume->defaultPartition, node->entrySector);
        }
        limitToInformationLength(extents, n, area.informationLength);
        node->dirExtents = extents;
        node->extentCount = n;
        // For data embedded in the entry that is the entry's own sector.
        node->dataLocation = mapBlock(volume, &extents[0]);
        return EntryRead::Read;
    }

    node->size = area.informationLength;
    if (area.type == kAdEmbedded) {
        node->hasEmbeddedData = 1;
        node->dataLocation = area.offset & 0xFFFF;
        return EntryRead::Read;
    }
    if (area.type != kAdShort && area.type != kAdLong) {
        return EntryRead::Read;
    }
    HeapArray<FileExtent> list;
    SectorSet followed(kMaxContinuationAreas);
    if (!collectFileExtents(volume, node, entry, area, &list, &followed)) {
        return EntryRead::NoMemory;
    }
    // Past the mount's budget a file keeps its size but no extents, so reading it comes up short.
    if (list.size() > volume->extentRecordsLeft) {
        return EntryRead::Read;
    }
    volume->extentRecordsLeft -= list.size();
    node->extentCount = list.size();
    if (list.size() != 0) {
        node->fileExtents =
            static_cast<FileExtent*>(volumeAlloc(volume, uint64_t(list.size()) * sizeof(FileExtent)));
        if (node->fileExtents == nullptr) {
            node->extentCount = 0;
            return EntryRead::NoMemory;
        }
        std::memcpy(node->fileExtents, list.data(), size_t(list.size()) * sizeof(FileExtent));
    }
    return EntryRead::Read;
}

void limitToInformationLength(ExtentRef* extents, uint32_t count, uint64_t informationLength) {
    uint64_t left = informationLength;
    for (uint32_t i = 0; i < count; ++i) {
        ExtentRef& extent = extents[i];
        // Extents that are not recorded hold no part of the data; their length is left as it stands.
        if (extent.kind == kExtentEmbedded || extentType(extent.length) == kExtentRecorded) {
            uint64_t bytes = extent.kind == kExtentEmbedded ? extent.length : extent.length & kExtentLengthMask;
            if (bytes > left) {
                extent.length = uint32_t(left);
            }
            left -= bytes < left ? bytes : left;
        }
    }
}
