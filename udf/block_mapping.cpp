// The mapping functions of the partition kinds and the mapping of extents through them.
#include "udf/block_mapping.h"

namespace {

constexpr BlockPlace kUnmapped = {kUnmappedSector, 0};

// A block past the sectors a READ (10) can address is unmapped, not wrapped to a low sector; `contiguous` is cut
// to stay within them. This also covers a type 1 partition's last block, which has no block after it, and a VAT
// entry of all ones, which marks a virtual block that is not used.
BlockPlace place(uint64_t sector, uint64_t contiguous) {
    if (sector >= kUnmappedSector) {
        return kUnmapped;
    }
    const uint64_t room = uint64_t(kUnmappedSector) - sector;
    return {uint32_t(sector), uint32_t(contiguous < room ? contiguous : room)};
}

// A type 1 partition lies whole from its start.
BlockPlace mapPhysical(const PartitionMap& map, uint32_t block) {
    return place(uint64_t(map.descriptor->start) + block, UINT32_MAX - block);
}

// The runs lie end to end over the map's blocks: the metadata file's extents in order.
BlockPlace mapThroughRuns(const PartitionMap& map, uint32_t block) {
    uint64_t before = 0;
    for (uint32_t i = 0; i < map.runCount; ++i) {
        const PartitionRun& run = map.runs[i];
        if (block >= before && block - before < run.blockCount) {
            uint32_t into = uint32_t(block - before);
            return place(uint64_t(map.descriptor->start) + run.start + into, run.blockCount - into);
        }
        before += run.blockCount;
    }
    return kUnmapped;
}

// The VAT is indexed by the virtual block itself; this keeps mapping constant-time on a VAT of many thousand
// entries.
BlockPlace mapThroughVat(const PartitionMap& map, uint32_t block) {
    if (map.vat == nullptr || block >= map.runCount) {
        return kUnmapped;
    }
    return place(uint64_t(map.descriptor->start) + map.vat[block], 1);
}

// Sparable maps (their sparing tables are not read), unrecognised ones and unknown map types.
BlockPlace mapNothing(const PartitionMap&, uint32_t) {
    return kUnmapped;
}

}  // namespace

const PartitionMap* partitionMapAt(const UdfVolume* volume, uint16_t partition) {
    if (volume == nullptr || volume->maps == nullptr || partition >= volume->mapCount) {
        return nullptr;
    }
    return &volume->maps[partition];
}

void choosePartitionMapping(PartitionMap* map) {
    map->mapper = mapNothing;
    if (map->mapType == 1) {
        map->mapper = mapPhysical;
    } else if (map->mapType == 2 && map->kind == PartitionKind::Metadata) {
        map->mapper = mapThroughRuns;
    } else if (map->mapType == 2 && map->kind == PartitionKind::Virtual) {
        map->mapper = mapThroughVat;
    }
}

BlockPlace mapPartitionBlock(const PartitionMap* map, uint32_t block) {
    if (map == nullptr || map->descriptor == nullptr || map->mapper == nullptr) {
        return kUnmapped;
    }
    BlockPlace place = map->mapper(*map, block);
    // A sum that lands on the marker itself cannot be told from it, so it is not a place either.
    return place.sector == kUnmappedSector ? kUnmapped : place;
}

uint32_t mapBlock(const UdfVolume* volume, const ExtentRef* extent) {
    if (extent == nullptr) {
        return kUnmappedSector;
    }
    if (extent->kind == kExtentEmbedded) {
        return extent->block;
    }
    if (extent->kind != kExtentLong) {
        return kUnmappedSector;
    }
    return mapPartitionBlock(partitionMapAt(volume, extent->partition), extent->block).sector;
}
