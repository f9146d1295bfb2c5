// The reader of a clip file of a disc folder.
#pragma once

#include <cstdio>
#include <string>

#include "aacs/clip_verify.h"

// Read front to back through one unbuffered C stream: a unit other than the next one is not read.
class HostClipSource : public ClipSource {
public:
    explicit HostClipSource(std::string path) : filePath(std::move(path)) {}
    ~HostClipSource() override { close(); }
    bool open() override;
    uint32_t readUnits(uint64_t first, uint32_t count, uint8_t* units) override;
    void close() override;
    const char* path() const override { return filePath.c_str(); }

private:
    std::string filePath;
    std::FILE* stream = nullptr;
    uint64_t nextUnit = 0;
};
