// The command-driven block device through which the UDF reader reaches a disc image.
#pragma once

#include <cstdint>

// One SCSI-style command as the caller fills it; a device reads only what its commands need.
struct DeviceCommand {
    uint8_t cdb[16];
    void* dataBuffer;
    uint32_t transferLength;
    uint32_t extraWord;
    uint8_t extraByte;
    uint8_t cdbLength;
};

struct CommandStatus {
    uint32_t bytesTransferred;
    uint32_t statusCode;
};

constexpr uint8_t kOpReadCapacity10 = 0x25;
constexpr uint8_t kOpRead10 = 0x28;

// Devices are addressed in 2,048-byte blocks; the slot order below is fixed.
class BlockDevice {
  public:
    BlockDevice() = default;
    virtual ~BlockDevice() = default;
    BlockDevice(const BlockDevice&) = delete;
    BlockDevice& operator=(const BlockDevice&) = delete;

    virtual bool Open(const char* name) = 0;
    virtual bool SpareQueryA() = 0;
    virtual bool SpareQueryB() = 0;
    // Fills the status record passed in, or lastStatus when none is.
    virtual bool Execute(DeviceCommand* command, CommandStatus* status) = 0;
    virtual bool SpareQueryC() = 0;
    virtual bool Close() = 0;

    CommandStatus lastStatus = {0, 0};
};
