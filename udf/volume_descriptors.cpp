// The descriptor walk of the mount: sequence, partitions, maps and their set-up, file set, root entry.
#include "udf/volume_descriptors.h"

#include <cstring>

#include "udf/arena.h"
#include "udf/block_mapping.h"
#include "udf/ecma_layout.h"
#include "udf/file_entry.h"
#include "udf/identifier_pool.h"
#include "udf/partition_setup.h"
#include "udf/sector_io.h"
#include "udf/volume_damage.h"

namespace {

constexpr uint16_t kTagAnchor = 2;

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
    if (count > kMaxPartitionMaps) {
        return false;
    }
    // One table, as large as a descriptor can fill, serves every logical volume descriptor of the walk: a
    // later one replaces what an earlier one set, so a sequence of thousands costs no more than one.
    if (volume->maps == nullptr) {
        volume->maps =
            static_cast<PartitionMap*>(volumeAlloc(volume, uint64_t(kMaxPartitionMaps) * sizeof(PartitionMap)));
        if (volume->maps == nullptr) {
            return false;
        }
    }
    PartitionMap* maps = volume->maps;
    std::memset(maps, 0, size_t(kMaxPartitionMaps) * sizeof(PartitionMap));
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

// False when not one sector of the sequence arrives or a logical volume descriptor is refused.
bool walkSequence(UdfVolume* volume, uint32_t location, uint32_t sectorCount, SequenceState* state) {
    uint8_t* buffer = reserveBytes(volume->scratch, uint64_t(kSequenceReadSectors) * kSectorSize);
    if (buffer == nullptr) {
        return false;
    }
    if (sectorCount > kMaxSequenceSectors) {
        sectorCount = kMaxSequenceSectors;
    }
    uint32_t available = 0;
    for (uint32_t j = 0; j < sectorCount; ++j) {
        uint32_t slot = j % kSequenceReadSectors;
        if (slot == 0) {
            if (uint64_t(location) + j > UINT32_MAX) {
                return true;
            }
            available = readSectors(volume, location + j, kSequenceReadSectors, buffer);
            if (available == 0 && j == 0) {
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
                    PartitionSlot& slot = volume->partitions[state->partitionCount];
                    slot.number = descriptor.le16(22);
                    slot.start = descriptor.le32(188);
                    slot.length = descriptor.le32(192);
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

// The first of sector 256, the last sector less 256 and the last sector that holds an anchor, read into
// `buffer`; the last two are where UDF records the anchor again, for a disc whose sector 256 is lost.
bool findAnchor(UdfVolume* volume, uint8_t* buffer) {
    uint32_t last = volume->lastSector;
    uint32_t candidates[3] = {kAnchorSector, 0, 0};
    uint32_t count = 1;
    if (last >= 2 * kAnchorSector) {
        candidates[count++] = last - kAnchorSector;
    }
    if (last > kAnchorSector && last != candidates[count - 1]) {
        candidates[count++] = last;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (readSectors(volume, candidates[i], 1, buffer) == 1 &&
            ByteView(buffer, kSectorSize).le16(0) == kTagAnchor) {
            volume->notes.anchorSector = candidates[i];
            return true;
        }
    }
    return false;
}

// A sequence that yields a partition and a logical volume; otherwise the partition table it left is cleared
// for the next one.
bool walkUsable(UdfVolume* volume, uint32_t location, uint32_t sectorCount, SequenceState* state) {
    *state = {};
    bool walked = sectorCount != 0 && walkSequence(volume, location, sectorCount, state);
    if (walked && state->haveLogicalVolume && state->partitionCount != 0) {
        return true;
    }
    std::memset(volume->partitions, 0, sizeof(volume->partitions));
    volume->mapCount = 0;
    volume->defaultPartition = 0;
    return false;
}

}  // namespace

bool readVolumeDescriptors(UdfVolume* volume, ExtentRef* rootExtent, uint32_t* rootEntrySector) {
    volume->defaultPartition = 0;
    uint8_t* buffer = reserveBytes(volume->scratch, uint64_t(kSequenceReadSectors) * kSectorSize);
    if (buffer == nullptr || !findAnchor(volume, buffer)) {
        return false;
    }
    ByteView anchor(buffer, kSectorSize);
    uint32_t mainSectors = anchor.le32(16) / kSectorSize;
    uint32_t mainLocation = anchor.le32(20);
    uint32_t reserveSectors = anchor.le32(24) / kSectorSize;
    uint32_t reserveLocation = anchor.le32(28);

    // Without a logical volume descriptor there is no file set to start from, and without a partition
    // nothing to find it in: the reserve copy of the sequence is walked instead.
    SequenceState state = {};
    volume->notes.sequenceSector = mainLocation;
    if (!walkUsable(volume, mainLocation, mainSectors, &state)) {
        if (!walkUsable(volume, reserveLocation, reserveSectors, &state)) {
            return false;
        }
        volume->notes.reserveSequence = true;
        volume->notes.sequenceSector = reserveLocation;
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
    // A root entry that cannot be read, lies nowhere or is no file entry leaves the root empty, and is
    // named as damage.
    if (*rootEntrySector == kUnmappedSector) {
        recordDamageAt(volume, VolumeDamageKind::EntryUnreadable, kUnmappedSector, "/");
        return true;
    }
    ExtentRef rootFirst = rootIcb;
    rootFirst.length = rootIcb.length < kSectorSize ? rootIcb.length : kSectorSize;
    uint32_t failed = kUnmappedSector;
    if (readExtent(volume, &rootFirst, buffer, kSectorSize, &failed) == 0) {
        recordDamageAt(volume, VolumeDamageKind::EntryUnreadable, failed, "/");
        return true;
    }
    ByteView entry(buffer, kSectorSize);
    DescriptorArea area = {};
    if (!locateDescriptors(entry, &area)) {
        recordDamageAt(volume, VolumeDamageKind::EntryUnreadable, *rootEntrySector, "/");
        return true;
    }
    // Only the first descriptor is used. The undefined forms 4 to 7 refuse the volume; extended descriptors
    // leave the root without data.
    if (area.type > kAdEmbedded) {
        return false;
    }
    if (area.type != kAdExtended) {
        *rootExtent = decodeAllocationDescriptor(entry, area, 0, volume->defaultPartition, *rootEntrySector);
        limitToInformationLength(rootExtent, 1, area.informationLength);
    }
    return true;
}
