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
    // The copy only saves reads: a metadata file larger than the bound, one reaching past the image, or one
    // with a sector that does not arrive is read from the image instead, where what cannot be read is named
    // as damage of the entries and directories it held.
    if (area.count == 1 && total <= kMaxMetadataCacheSectors) {
        cacheMetadataFile(volume, start + runs[0].start, uint32_t(total));
    }
    return true;
}

namespace {

// The file type the ICB tag of a VAT's file entry gives (UDF 2.00 and later).
constexpr uint8_t kFileTypeVat = 248;
constexpr uint32_t kIcbFileTypeOffset = 27;

// The VAT's file entry into `workSector`: the last sector, else the newest VAT entry among the sectors just
// before it. Only a file entry of the VAT's type is taken there, so a file's entry is never mistaken for it.
bool findVatEntry(UdfVolume* volume, uint32_t lastSector, uint8_t* workSector, uint32_t* entrySector) {
    DescriptorArea area = {};
    if (readSectors(volume, lastSector, 1, workSector) == 1 &&
        locateDescriptors(ByteView(workSector, kSectorSize), &area)) {
        *entrySector = lastSector;
        return true;
    }
    for (uint32_t back = 1; back <= kVatSearchSectors && back <= lastSector; ++back) {
        uint32_t sector = lastSector - back;
        ByteView entry(workSector, kSectorSize);
        if (readSectors(volume, sector, 1, workSector) == 1 && locateDescriptors(entry, &area) &&
            entry.u8(kIcbFileTypeOffset) == kFileTypeVat) {
            *entrySector = sector;
            return true;
        }
    }
    return false;
}

}  // namespace

bool setupVirtualPartition(UdfVolume* volume, PartitionMap* map, uint8_t* workSector) {
    if (map->descriptor == nullptr) {
        // No partition to lay the virtual blocks on: the map stays unmapped.
        return true;
    }
    // Every virtual map reads the one VAT of the volume; a second one shares the table of the first.
    for (uint32_t k = 0; k < volume->mapCount && volume->maps != nullptr; ++k) {
        const PartitionMap& other = volume->maps[k];
        if (&other != map && other.kind == PartitionKind::Virtual && other.vat != nullptr) {
            map->vat = other.vat;
            map->runCount = other.runCount;
            return true;
        }
    }
    uint32_t lastSector = 0;
    if (!readLastSector(volume->image, &lastSector) || lastSector == 0) {
        return false;
    }
    uint32_t entrySector = 0;
    if (!findVatEntry(volume, lastSector, workSector, &entrySector)) {
        return false;
    }
    if (entrySector != lastSector) {
        volume->notes.vatSector = entrySector;
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

    // A virtual block lies on a block of the partition, so the VAT maps no more blocks than the partition
    // has, and none past the image's end; a forged table of a gigabyte yields no more entries than that.
    const PartitionSlot& partition = *map->descriptor;
    uint64_t entryLimit = kMaxVatEntries;
    entryLimit = partition.length < entryLimit ? partition.length : entryLimit;
    uint64_t inImage = partition.start <= lastSector ? uint64_t(lastSector) - partition.start + 1 : 0;
    entryLimit = inImage < entryLimit ? inImage : entryLimit;

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
        ExtentRef extent = decodeAllocationDescriptor(entry, area, 0, map->partitionNumber, entrySector);
        uint32_t sector = mapBlock(volume, &extent);
        // Only the bytes that can hold the entries allowed are read: the header (16 bits of length) and the
        // entries; nor can the VAT reach past the image. A VAT that lies nowhere leaves the map without runs.
        uint64_t recorded = extent.length & kExtentLengthMask;
        uint64_t useful = 0xFFFF + entryLimit * 4;
        uint64_t sectors = sectorsFor(recorded < useful ? recorded : useful);
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
    entries = entries < present ? entries : present;
    entries = entries < entryLimit ? entries : entryLimit;
    bool ok = true;
    map->vat = nullptr;
    map->runCount = 0;
    if (entries != 0) {
        uint32_t* decoded = static_cast<uint32_t*>(volumeAlloc(volume, entries * sizeof(uint32_t)));
        if (decoded == nullptr) {
            ok = false;
        } else {
            for (uint64_t i = 0; i < entries; ++i) {
                decoded[i] = vat.le32(header + i * 4);
            }
            map->vat = decoded;
            map->runCount = uint32_t(entries);
        }
    }
    heapFree(heapTable);
    return ok;
}
