// The descriptor walk of the mount: sequence, partitions, maps and their set-up, file set, root entry.
#include "udf/volume_descriptors.h"

#include "udf/arena.h"
#include "udf/block_mapping.h"
#include "udf/ecma_layout.h"
#include "udf/file_entry.h"
#include "udf/identifier_pool.h"
#include "udf/partition_setup.h"
#include "udf/sector_io.h"

namespace {

struct SequenceState {
    uint32_t partitionCount;
    bool haveLogicalVolume;
    ExtentRef fileSet;
};

void readPartitionMap(ByteView map, PartitionMap* out) {
    out->mapType = map.u8(0);
    out->kind = PartitionKind::Unrecognised;
    if (out->mapType == 1) {
        out->partitionNumber = map.le16(4);
        out->kind = PartitionKind::Physical;
        return;
    }
    if (out->mapType != 2 || !map.has(5, 23)) {
        return;
    }
    const uint8_t* identifier = map.data + 5;
    if (matchesIdentifier(identifier, StandardId::MetadataPartition)) {
        out->kind = PartitionKind::Metadata;
        out->partitionNumber = map.le16(38);
        out->metadataFileLocation = map.le32(40);
    } else if (matchesIdentifier(identifier, StandardId::VirtualPartition)) {
        out->kind = PartitionKind::Virtual;
        out->partitionNumber = map.le16(38);
    } else if (matchesIdentifier(identifier, StandardId::SparablePartition)) {
        out->kind = PartitionKind::Sparable;
    }
}

bool readLogicalVolume(UdfVolume* volume, ByteView descriptor, SequenceState* state) {
    uint32_t count = descriptor.le32(268);
    // Every map takes at least two bytes (type and length) inside the descriptor's sector; a count
    // beyond that is forged and would only ask for a huge table.
    if (count > (kSectorSize - kPartitionMapsOffset) / 2) {
        return false;
    }
    PartitionMap* maps =
        static_cast<PartitionMap*>(volumeAlloc(volume, uint64_t(count) * sizeof(PartitionMap)));
    if (maps == nullptr) {
        return false;
    }
    volume->maps = maps;
    volume->mapCount = count;
    state->fileSet = decodeLongAd(descriptor, 248);
    state->haveLogicalVolume = true;
    volume->defaultPartition = state->fileSet.partition;
    if ((volume->vrsFlags & kNsrEdition2) != 0 && count == 2) {
        return false;
    }
    uint64_t offset = kPartitionMapsOffset;
    for (uint32_t k = 0; k < count; ++k) {
        maps[k].kind = PartitionKind::Unrecognised;
    }
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t length = descriptor.u8(offset + 1);
        // A map of length 0 would be read again and again; one running past the sector is cut off.
        // Maps not reached keep type 0 and so map nothing.
        if (length < 2 || !descriptor.has(offset, length)) {
            break;
        }
        readPartitionMap(descriptor.from(offset).first(length), &maps[k]);
        offset += length;
    }
    return true;
}

bool walkSequence(UdfVolume* volume, uint32_t location, uint32_t sectorCount, SequenceState* state) {
    uint8_t* buffer = reserveBytes(volume->scratch, uint64_t(kSequenceReadSectors) * kSectorSize);
    if (buffer == nullptr) {
        return false;
    }
    uint32_t available = 0;
    for (uint32_t j = 0; j < sectorCount; ++j) {
        uint32_t slot = j % kSequenceReadSectors;
        if (slot == 0) {
            available = readSectors(volume, location + j, kSequenceReadSectors, buffer);
            // A command that came back short tells only that it failed; the sectors before the fault
            // are fetched one by one so the walk can still use them.
            while (available < kSequenceReadSectors &&
                   readSectors(volume, location + j + available, 1,
                               buffer + size_t(available) * kSectorSize) == 1) {
                ++available;
            }
            if (available == 0) {
                return false;
            }
        }
        // A read that came back in part is walked only over the sectors that arrived.
        if (slot >= available) {
            return true;
        }
        ByteView descriptor(buffer + size_t(slot) * kSectorSize, kSectorSize);
        switch (descriptor.le16(0)) {
            case kTagPrimaryVolume:
            case kTagImplementationUse:
            case kTagUnallocatedSpace:
                break;
            case kTagPartition:
                // Two slots; a third partition descriptor is ignored.
                if (state->partitionCount < 2) {
                    volume->partitions[state->partitionCount].number = descriptor.le16(22);
                    volume->partitions[state->partitionCount].start = descriptor.le32(188);
                    ++state->partitionCount;
                }
                break;
            case kTagLogicalVolume:
                if (!readLogicalVolume(volume, descriptor, state)) {
                    return false;
                }
                break;
            default:
                return true;
        }
    }
    return true;
}

bool linkAndSetUp(UdfVolume* volume, uint32_t partitionCount) {
    for (uint32_t k = 0; k < volume->mapCount; ++k) {
        PartitionMap& map = volume->maps[k];
        for (uint32_t s = 0; s < partitionCount; ++s) {
            if (volume->partitions[s].number == map.partitionNumber) {
                map.descriptor = &volume->partitions[s];
            }
        }
        choosePartitionMapping(&map);
    }
    for (uint32_t k = 0; k < volume->mapCount; ++k) {
        PartitionMap& map = volume->maps[k];
        if (map.mapType != 2) {
            continue;
        }
        // The map beneath a type 2 map is named by index; one outside the table cannot be followed.
        if (map.partitionNumber >= volume->mapCount || volume->maps[map.partitionNumber].mapType != 1) {
            return false;
        }
        if (map.kind == PartitionKind::Metadata &&
            !setupMetadataPartition(volume, &map, volume->scratch->data)) {
            return false;
        }
        if (map.kind == PartitionKind::Virtual &&
            !setupVirtualPartition(volume, &map, volume->scratch->data)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool readVolumeDescriptors(UdfVolume* volume, ExtentRef* rootExtent, uint32_t* rootEntrySector) {
    volume->defaultPartition = 0;
    uint8_t* buffer = reserveBytes(volume->scratch, uint64_t(kSequenceReadSectors) * kSectorSize);
    if (buffer == nullptr || readSectors(volume, kAnchorSector, 1, buffer) != 1) {
        return false;
    }
    ByteView anchor(buffer, kSectorSize);
    uint32_t sequenceSectors = anchor.le32(16) / kSectorSize;
    uint32_t sequenceLocation = anchor.le32(20);

    SequenceState state = {};
    if (sequenceSectors != 0 && !walkSequence(volume, sequenceLocation, sequenceSectors, &state)) {
        return false;
    }
    // Without a logical volume descriptor there is no file set to start from.
    if (!state.haveLogicalVolume) {
        return false;
    }
    if (!linkAndSetUp(volume, state.partitionCount)) {
        return false;
    }

    // The file set descriptor and the root file entry are single-block descriptors; only their first
    // sector is read, whatever length the image records for them.
    buffer = volume->scratch->data;
    ExtentRef fileSet = state.fileSet;
    fileSet.length = fileSet.length < kSectorSize ? fileSet.length : kSectorSize;
    if (readExtent(volume, &fileSet, buffer, kSectorSize) == 0) {
        return false;
    }
    ExtentRef rootIcb = decodeLongAd(ByteView(buffer, kSectorSize), 400);
    *rootEntrySector = mapBlock(volume, &rootIcb);
    // A root entry that lies nowhere cannot be read, like an unreadable one: the root stays empty.
    if (*rootEntrySector == kUnmappedSector) {
        return true;
    }
    ExtentRef rootFirst = rootIcb;
    rootFirst.length = rootIcb.length < kSectorSize ? rootIcb.length : kSectorSize;
    if (readExtent(volume, &rootFirst, buffer, kSectorSize) == 0) {
        return true;
    }
    ByteView entry(buffer, kSectorSize);
    // Only the first descriptor is used. The undefined forms 4 to 7 refuse the volume; extended descriptors
    // leave the root without data.
    DescriptorArea area = {};
    if (!locateDescriptors(entry, &area) || area.type > kAdEmbedded) {
        return false;
    }
    if (area.type != kAdExtended) {
        *rootExtent = decodeAllocationDescriptor(entry, area, 0, volume->defaultPartition, *rootEntrySector);
    }
    return true;
}
