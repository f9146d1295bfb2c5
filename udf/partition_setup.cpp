// Metadata partitions from the metadata file's extents, virtual partitions from the VAT in the last sector.
#include "udf/partition_setup.h"

#include "io/heap.h"
#include "udf/arena.h"
#include "udf/block_mapping.h"
#include "udf/ecma_layout.h"
#include "udf/sector_io.h"

namespace {

PartitionRun* allocateRuns(UdfVolume* volume, PartitionMap* map, uint32_t count) {
    map->runCount = 0;
    map->runs = nullptr;
    if (count == 0) {
        return nullptr;
    }
    map->runs = static_cast<PartitionRun*>(volumeAlloc(volume, uint64_t(count) * sizeof(PartitionRun)));
    if (map->runs != nullptr) {
        map->runCount = count;
    }
    return map->runs;
}

}  // namespace

bool setupMetadataPartition(UdfVolume* volume, PartitionMap* map, uint8_t* workSector) {
    if (map->descriptor == nullptr) {
        // No partition to find the metadata file in: the map stays unmapped.
        return true;
    }
    uint32_t start = map->descriptor->start;
    if (readSectors(volume, start + map->metadataFileLocation, 1, workSector) != 1) {
        return false;
    }
    ByteView entry(workSector, kSectorSize);
    DescriptorArea area = {};
    if (!locateDescriptors(entry, &area) || area.count == 0 || area.type == kAdExtended) {
        return true;
    }
    if (area.type != kAdShort && area.type != kAdLong) {
        return false;
    }
    PartitionRun* runs = allocateRuns(volume, map, area.count);
    if (runs == nullptr) {
        return false;
    }
    uint64_t total = 0;
    for (uint32_t i = 0; i < area.count; ++i) {
        // The metadata file lies in the partition of the map's descriptor; a long_ad's partition is not
        // consulted.
        ExtentRef extent = decodeAllocationDescriptor(entry, area, i, map->partitionNumber, 0);
        runs[i].start = extent.block;
        runs[i].blockCount = uint32_t(sectorsFor(extent.length));
        total += runs[i].blockCount;
    }
    if (area.count == 1) {
        return cacheMetadataFile(volume, start + runs[0].start, uint32_t(total));
    }
    return true;
}

bool setupVirtualPartition(UdfVolume* volume, PartitionMap* map, uint8_t* workSector) {
    uint32_t lastSector = 0;
    if (!readLastSector(volume->image, &lastSector) || lastSector == 0) {
        return false;
    }
    if (readSectors(volume, lastSector, 1, workSector) != 1) {
        return false;
    }
    ByteView entry(workSector, kSectorSize);
    // The undefined forms 4 to 7 refuse the volume; a VAT given by extended descriptors is not read.
    DescriptorArea area = {};
    if (!locateDescriptors(entry, &area) || area.type > kAdEmbedded) {
        return false;
    }
    if (area.type == kAdExtended) {
        return true;
    }

    ByteView descriptors = entry.from(area.offset).first(area.length);
    const uint8_t* table = descriptors.data;
    uint64_t tableBytes = descriptors.size;
    uint8_t* heapTable = nullptr;
    if (area.type != kAdEmbedded) {
        if (area.count == 0) {
            return true;
        }
        // The default partition of such a volume is this virtual one, still without runs; short descriptors
        // name the type 1 partition beneath it (checked to be type 1 before this call).
        ExtentRef extent = decodeAllocationDescriptor(entry, area, 0, map->partitionNumber, lastSector);
        uint32_t sector = mapBlock(volume, &extent);
        // The VAT cannot reach past the image; this bound keeps a forged length from a huge allocation. A VAT
        // that lies nowhere leaves the map without runs.
        uint64_t sectors = sectorsFor(extent.length & kExtentLengthMask);
        uint64_t available =
            sector != kUnmappedSector && sector <= lastSector ? uint64_t(lastSector) - sector + 1 : 0;
        if (sectors > available) {
            sectors = available;
        }
        if (sectors != 0) {
            heapTable = static_cast<uint8_t*>(heapAlloc(size_t(sectors) * kSectorSize));
            if (heapTable == nullptr) {
                return false;
            }
        }
        uint32_t got = sectors != 0 ? readSectors(volume, sector, uint32_t(sectors), heapTable) : 0;
        table = heapTable;
        tableBytes = uint64_t(got) * kSectorSize;
        uint64_t recorded = extent.length & kExtentLengthMask;
        if (tableBytes > recorded) {
            tableBytes = recorded;
        }
    }

    // Entries only from the bytes that were read, whatever the information length claims.
    ByteView vat(table, size_t(tableBytes));
    uint64_t header = vat.le16(0);
    uint64_t informationLength = area.informationLength;
    uint64_t entries = informationLength > header ? (informationLength - header) / 4 : 0;
    uint64_t present = tableBytes > header ? (tableBytes - header) / 4 : 0;
    if (entries > present) {
        entries = present;
    }
    bool ok = true;
    if (entries != 0) {
        PartitionRun* runs = allocateRuns(volume, map, uint32_t(entries));
        if (runs == nullptr) {
            ok = false;
        } else {
            for (uint32_t i = 0; i < entries; ++i) {
                runs[i].start = vat.le32(header + uint64_t(i) * 4);
                runs[i].blockCount = 1;
            }
        }
    }
    heapFree(heapTable);
    return ok;
}
