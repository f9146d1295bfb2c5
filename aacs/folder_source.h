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
    bool readUnit(uint64_t ordinal, uint8_t* unit) override;
    void close() override;
    const char* path() const override { return filePath.c_str(); }

private:
    std::string filePath;
    std::FILE* stream = nullptr;
    uint64_t nextUnit = 0;
};
