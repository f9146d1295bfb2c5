// FakeDevice: the in-memory BlockDevice of the reader's tests and fuzz targets, with faults and a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/block_device.h"

// One READ (10) as the device decoded it.
struct ReadCommand {
    uint32_t sector;
    uint32_t count;
    void* buffer;
};

// A device of 2,048-byte sectors answering READ (10) and READ CAPACITY (10) as the image file does. It holds
// only the sectors laid on it; every other sector reads as blank, so a fuzz input of a few records describes
// a volume of any size. It can fail, or come back short, over a chosen range of sectors, and it keeps every
// command it was given.
class FakeDevice : public BlockDevice {
  public:
    enum class Fault : uint8_t { None, Fail, Short };
    static constexpr uint32_t kSectorSize = 2048;

    // `sectorCount` blank sectors.
    explicit FakeDevice(uint32_t sectorCount);
    // The image's sectors; a partial sector at its end does not count, as for an image file.
    explicit FakeDevice(const std::vector<uint8_t>& image);

    // Lays `length` bytes (at most a sector's) from the start of the sector; one past the device is ignored.
    void lay(uint32_t sector, const uint8_t* bytes, size_t length);

    // Sectors from `first` up to `end` do not arrive. Fail: the command answers false; Short: it answers true
    // and only its byte count tells that it delivered just the sectors before the fault.
    void failFrom(uint32_t first, Fault kind = Fault::Fail, uint64_t end = UINT64_MAX);

    uint32_t sectors() const { return sectorCount; }

    bool Open(const char*) override { return true; }
    bool SpareQueryA() override { return false; }
    bool SpareQueryB() override { return true; }
    bool Execute(DeviceCommand* command, CommandStatus* status) override;
    bool SpareQueryC() override { return true; }
    bool Close() override { return true; }

    std::vector<DeviceCommand> commands;  // every command, as it was handed in
    std::vector<ReadCommand> reads;       // the READ (10) commands among them, decoded
    int capacityQueries = 0;
    bool statusPassed = false;  // whether any caller passed a status record of its own
    Fault fault = Fault::None;
    uint64_t faultSector = 0;
    uint64_t faultEnd = UINT64_MAX;

  private:
    struct Slot {
        uint32_t sector;
        uint32_t offset;  // in store, in sectors
    };
    const uint8_t* find(uint32_t sector) const;
    bool faulty(uint64_t sector) const;

    uint32_t sectorCount = 0;
    std::vector<Slot> index;  // ordered by sector
    std::vector<uint8_t> store;
};
