// Sector reads as READ (10) commands, READ CAPACITY (10), and the metadata cache that serves reads.
#include "udf/sector_io.h"

#include <cstring>

#include "io/block_device.h"
#include "io/byte_order.h"
#include "io/heap.h"
#include "udf/byte_view.h"

namespace {

void fillCommand(DeviceCommand* command, uint8_t opcode, void* data, uint32_t transferLength) {
    std::memset(command, 0, sizeof(*command));
    command->cdb[0] = opcode;
    command->dataBuffer = data;
    command->transferLength = transferLength;
    command->extraWord = 260;
    command->extraByte = 1;
    command->cdbLength = 10;
}

}  // namespace

uint32_t readSectors(UdfVolume* volume, uint32_t firstSector, uint32_t count, void* buffer) {
    if (volume == nullptr || volume->image == nullptr || buffer == nullptr || count == 0) {
        return 0;
    }
    uint8_t* position = static_cast<uint8_t*>(buffer);
    uint32_t sector = firstSector;
    uint32_t remaining = count;
    while (remaining > 0) {
        uint32_t n = remaining < kMaxSectorsPerCommand ? remaining : kMaxSectorsPerCommand;
        // READ (10) addresses 32-bit blocks; a range running past the last one is not wrapped to 0.
        if (uint64_t(sector) + n > 0x100000000ull) {
            break;
        }
        DeviceCommand command;
        fillCommand(&command, kOpRead10, position, n * kSectorSize);
        writeBe32(command.cdb + 2, sector);
        command.cdb[7] = uint8_t(n >> 8);
        command.cdb[8] = uint8_t(n);
        bool complete = volume->image->Execute(&command, nullptr);
        uint32_t delivered = volume->image->lastStatus.bytesTransferred / kSectorSize;
        if (!complete || delivered != n) {
            // The sectors before the fault are in the buffer and count; nothing after them is asked for.
            remaining -= delivered < n ? delivered : n;
            break;
        }
        sector += n;
        position += size_t(n) * kSectorSize;
        remaining -= n;
    }
    return count - remaining;
}

bool readLastSector(BlockDevice* image, uint32_t* lastSector) {
    *lastSector = 0;
    if (image == nullptr) {
        return false;
    }
    uint8_t data[8] = {};
    DeviceCommand command;
    fillCommand(&command, kOpReadCapacity10, data, sizeof(data));
    if (!image->Execute(&command, nullptr)) {
        return false;
    }
    *lastSector = readBe32(data);
    return true;
}

uint32_t readBlocks(UdfVolume* volume, uint32_t firstSector, uint32_t count, void* buffer) {
    if (volume == nullptr || buffer == nullptr || count == 0) {
        return 0;
    }
    uint64_t last = uint64_t(firstSector) + count - 1;
    if (volume->metadataCache != nullptr && volume->cacheFirstSector <= firstSector &&
        last <= volume->cacheLastSector) {
        std::memcpy(buffer,
                    volume->metadataCache + size_t(firstSector - volume->cacheFirstSector) * kSectorSize,
                    size_t(count) * kSectorSize);
        return count;
    }
    return readSectors(volume, firstSector, count, buffer);
}

uint32_t readSectorPart(UdfVolume* volume, uint32_t sector, uint32_t offset, uint32_t length, void* buffer) {
    if (offset >= kSectorSize || buffer == nullptr) {
        return 0;
    }
    uint8_t local[kSectorSize];
    if (readBlocks(volume, sector, 1, local) != 1) {
        return 0;
    }
    if (length > kSectorSize - offset) {
        length = kSectorSize - offset;
    }
    std::memcpy(buffer, local + offset, length);
    return length;
}

bool cacheMetadataFile(UdfVolume* volume, uint32_t firstSector, uint32_t count) {
    // A second metadata map replaces the copy of the first.
    heapFree(volume->metadataCache);
    volume->metadataCache = nullptr;
    volume->cacheFirstSector = 0;
    volume->cacheLastSector = 0;
    if (count == 0) {
        return true;
    }
    // A metadata file that reaches past the image could never be filled; refusing it before the
    // allocation keeps a forged extent length from asking the heap for gigabytes.
    uint32_t lastSector = 0;
    if (!readLastSector(volume->image, &lastSector) || uint64_t(firstSector) + count - 1 > lastSector) {
        return false;
    }
    uint8_t* cache = static_cast<uint8_t*>(heapAlloc(size_t(count) * kSectorSize));
    if (cache == nullptr) {
        return false;
    }
    volume->metadataCache = cache;
    volume->cacheFirstSector = firstSector;
    volume->cacheLastSector = firstSector + count - 1;
    for (uint32_t done = 0; done < count;) {
        uint32_t n = count - done < kMaxSectorsPerCommand ? count - done : kMaxSectorsPerCommand;
        if (readSectors(volume, firstSector + done, n, cache + size_t(done) * kSectorSize) != n) {
            // A partly filled copy must never serve a read, so it goes with the failure.
            heapFree(cache);
            volume->metadataCache = nullptr;
            volume->cacheFirstSector = 0;
            volume->cacheLastSector = 0;
            return false;
        }
        done += n;
    }
    return true;
}
