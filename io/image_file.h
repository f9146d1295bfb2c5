// ImageFile: a disc image on the host presented as a block device answering READ (10) and READ CAPACITY (10).
#pragma once

#include "io/block_device.h"
#include "io/host_file.h"

class ImageFile : public BlockDevice {
  public:
    static constexpr uint32_t kBlockSize = 2048;

    ImageFile() = default;
    ~ImageFile() override { file.Close(); }

    bool Open(const char* name) override;
    bool SpareQueryA() override { return false; }
    bool SpareQueryB() override { return true; }
    bool Execute(DeviceCommand* command, CommandStatus* status) override;
    bool SpareQueryC() override { return true; }
    bool Close() override;

  private:
    HostFile file;
};
