// MemoryDevice: an in-memory BlockDevice for the reader's tests that can fail or come back short from a
// chosen sector.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "io/block_device.h"
#include "io/byte_order.h"

struct ReadCommand {
    uint32_t sector;
    uint32_t count;
    void* buffer;
};

class MemoryDevice : public BlockDevice {
  public:
    enum class Fault { None, Fail, Short };

    explicit MemoryDevice(std::vector<uint8_t> image) : bytes(std::move(image)) {}

    bool Open(const char*) override { return true; }
    bool SpareQueryA() override { return false; }
    bool SpareQueryB() override { return true; }
    bool SpareQueryC() override { return true; }
    bool Close() override { return true; }

    bool Execute(DeviceCommand* command, CommandStatus* status) override {
        uint8_t* data = static_cast<uint8_t*>(command->dataBuffer);
        if (command->cdb[0] == kOpReadCapacity10) {
            uint32_t last = uint32_t(bytes.size() / 2048) - 1;
            const uint8_t answer[8] = {
                uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last), 0, 0, 8, 0};
            std::memcpy(data, answer, 8);
            ++capacityQueries;
            return true;
        }
        if (command->cdb[0] != kOpRead10) {
            return true;
        }
        uint32_t sector = readBe32(command->cdb + 2);
        uint32_t count = readBe16(command->cdb + 7);
        reads.push_back({sector, count, data});
        uint32_t delivered = 0;
        while (delivered < count) {
            uint64_t s = uint64_t(sector) + delivered;
            if ((fault != Fault::None && s >= faultSector && s < faultEnd) || (s + 1) * 2048 > bytes.size()) {
                break;
            }
            std::memcpy(data + size_t(delivered) * 2048, bytes.data() + s * 2048, 2048);
            ++delivered;
        }
        CommandStatus* target = status != nullptr ? status : &lastStatus;
        target->bytesTransferred = delivered * 2048;
        target->statusCode = 0;
        // A short transfer that still answers true is the case only the byte count reveals.
        return delivered == count || fault == Fault::Short;
    }

    // Sectors from `sector` on (up to `end`) do not arrive.
    void failFrom(uint32_t sector, Fault kind = Fault::Fail, uint64_t end = UINT64_MAX) {
        faultSector = sector;
        faultEnd = end;
        fault = kind;
    }

    std::vector<uint8_t> bytes;
    std::vector<ReadCommand> reads;
    int capacityQueries = 0;
    Fault fault = Fault::None;
    uint64_t faultSector = 0;
    uint64_t faultEnd = UINT64_MAX;
};
