// OverlayDevice: a block device of blank sectors over which a fuzz input lays the sectors it supplies, and
// which can fail or come back short from a chosen sector on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "io/block_device.h"
#include "io/byte_order.h"

// The input format, little-endian:
//   u32 device size in sectors, u32 first failing sector, u8 fault mode (0 none, 1 fail, 2 short), 3 spare bytes,
//   then records of u32 sector, u16 length, and that many bytes laid from the start of the sector.
// A disc image is mostly blank or clip data the reader never parses, so a few kilobytes of records describe a
// volume of any size and the fuzzer's mutations land in descriptors rather than in padding.
namespace overlay {

constexpr uint32_t kSector = 2048;
constexpr size_t kHeaderBytes = 12;
constexpr size_t kRecordHeaderBytes = 6;
// Caps the sparse device at 128 MiB so that a forged metadata file, which the reader copies whole, stays
// a size an input can be run with many times a second.
constexpr uint32_t kMaxSectors = 1u << 16;

enum class Fault : uint8_t { None = 0, Fail = 1, Short = 2 };

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void putLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace overlay

class OverlayDevice : public BlockDevice {
  public:
    // Takes the input as it comes from the fuzzer; a truncated header gives an empty device.
    OverlayDevice(const uint8_t* data, size_t size) {
        if (size < overlay::kHeaderBytes) {
            return;
        }
        sectorCount = std::min(overlay::le32(data), overlay::kMaxSectors);
        faultSector = overlay::le32(data + 4);
        fault = static_cast<overlay::Fault>(data[8] % 3);
        size_t at = overlay::kHeaderBytes;
        while (size - at >= overlay::kRecordHeaderBytes) {
            uint32_t sector = overlay::le32(data + at);
            size_t length = size_t(data[at + 4]) | (size_t(data[at + 5]) << 8);
            at += overlay::kRecordHeaderBytes;
            length = std::min({length, size_t(overlay::kSector), size - at});
            if (sector < sectorCount) {
                uint8_t* target = sectorFor(sector);
                std::memcpy(target, data + at, length);
            }
            at += length;
        }
    }

    bool Open(const char*) override { return true; }
    bool SpareQueryA() override { return false; }
    bool SpareQueryB() override { return true; }
    bool SpareQueryC() override { return true; }
    bool Close() override { return true; }

    bool Execute(DeviceCommand* command, CommandStatus* status) override {
        if (command == nullptr) {
            return false;
        }
        uint8_t* out = static_cast<uint8_t*>(command->dataBuffer);
        if (command->cdb[0] == kOpReadCapacity10) {
            if (out == nullptr) {
                return false;
            }
            // As the image file answers: the last whole block, wrapping below one block.
            uint32_t last = sectorCount - 1;
            const uint8_t answer[8] = {uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last),
                                       0, 0, 8, 0};
            std::memcpy(out, answer, sizeof(answer));
            return true;
        }
        if (command->cdb[0] != kOpRead10) {
            return true;
        }
        uint32_t first = readBe32(command->cdb + 2);
        uint32_t count = readBe16(command->cdb + 7);
        // The reader must never ask for more than it gave room for.
        if (uint64_t(count) * overlay::kSector > command->transferLength) {
            __builtin_trap();
        }
        uint32_t delivered = 0;
        while (out != nullptr && delivered < count) {
            uint64_t s = uint64_t(first) + delivered;
            if (s >= sectorCount || (fault != overlay::Fault::None && s >= faultSector)) {
                break;
            }
            const uint8_t* source = find(uint32_t(s));
            uint8_t* target = out + size_t(delivered) * overlay::kSector;
            if (source != nullptr) {
                std::memcpy(target, source, overlay::kSector);
            } else {
                std::memset(target, 0, overlay::kSector);
            }
            ++delivered;
        }
        CommandStatus* target = status != nullptr ? status : &lastStatus;
        target->bytesTransferred = delivered * overlay::kSector;
        target->statusCode = 0;
        return delivered == count || fault == overlay::Fault::Short;
    }

    uint32_t sectors() const { return sectorCount; }

  private:
    uint8_t* sectorFor(uint32_t sector) {
        auto it = std::lower_bound(index.begin(), index.end(), sector,
                                   [](const Slot& slot, uint32_t s) { return slot.sector < s; });
        if (it != index.end() && it->sector == sector) {
            return &store[size_t(it->slot) * overlay::kSector];
        }
        uint32_t slot = uint32_t(store.size() / overlay::kSector);
        store.resize(store.size() + overlay::kSector, 0);
        index.insert(it, Slot{sector, slot});
        return &store[size_t(slot) * overlay::kSector];
    }

    const uint8_t* find(uint32_t sector) const {
        auto it = std::lower_bound(index.begin(), index.end(), sector,
                                   [](const Slot& slot, uint32_t s) { return slot.sector < s; });
        if (it == index.end() || it->sector != sector) {
            return nullptr;
        }
        return &store[size_t(it->slot) * overlay::kSector];
    }

    struct Slot {
        uint32_t sector;
        uint32_t slot;
    };
    std::vector<Slot> index;
    std::vector<uint8_t> store;
    uint32_t sectorCount = 0;
    uint32_t faultSector = 0;
    overlay::Fault fault = overlay::Fault::None;
};
