// The reader of a clip file of a disc folder.
#pragma once

#include <string>

#include "aacs/clip_verify.h"
#include "io/host_file.h"

// Read front to back in requests of many units, with the host's sequential-read hint; a request for a unit
// other than the next one seeks to it first.
class HostClipSource : public ClipSource {
public:
    explicit HostClipSource(std::string path) : filePath(std::move(path)) {}
    bool open() override;
    uint32_t readUnits(uint64_t first, uint32_t count, uint8_t* units) override;
    bool readTail(uint64_t offset, uint32_t length, uint8_t* buffer) override;
    void close() override { file.Close(); }
    const char* path() const override { return filePath.c_str(); }

private:
    std::string filePath;
    HostFile file;
    uint64_t nextUnit = 0;
};
