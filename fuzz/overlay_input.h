// The overlay input of the mount target: a sparse fake device described by a few records, read and written.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tests/support/fake_device.h"

// The input format, little-endian:
//   u32 device size in sectors, u32 first failing sector, u8 fault mode (0 none, 1 fail, 2 short), 3 spare
//   bytes, then records of u32 sector, u16 length, and that many bytes laid from the start of the sector.
// A disc image is mostly blank or clip data the reader never parses, so a few kilobytes of records describe a
// volume of any size and the fuzzer's mutations land in descriptors rather than in padding.
namespace overlay {

constexpr size_t kHeaderBytes = 12;
constexpr size_t kRecordHeaderBytes = 6;
// Devices of up to 1 GiB, as large as the reader's own bounds must hold against: a forged metadata file, VAT
// or clip may claim all of it, and the target runs with a memory and a time limit.
constexpr uint32_t kMaxSectors = 1u << 19;

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void putLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// The device an input describes; a truncated header gives an empty device.
inline std::unique_ptr<FakeDevice> deviceFrom(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes) {
        return std::unique_ptr<FakeDevice>(new FakeDevice(uint32_t(0)));
    }
    std::unique_ptr<FakeDevice> device(new FakeDevice(std::min(le32(data), kMaxSectors)));
    device->failFrom(le32(data + 4), static_cast<FakeDevice::Fault>(data[8] % 3));
    size_t at = kHeaderBytes;
    while (size - at >= kRecordHeaderBytes) {
        uint32_t sector = le32(data + at);
        size_t length = size_t(data[at + 4]) | (size_t(data[at + 5]) << 8);
        at += kRecordHeaderBytes;
        length = std::min({length, size_t(FakeDevice::kSectorSize), size - at});
        device->lay(sector, data + at, length);
        at += length;
    }
    return device;
}

// The header of an input without a fault.
inline void putHeader(std::vector<uint8_t>& out, uint32_t sectors) {
    putLe32(out, sectors);
    putLe32(out, 0);
    out.insert(out.end(), 4, 0);
}

// One record: the sector's bytes up to its last non-zero one; a blank sector needs none.
inline void putRecord(std::vector<uint8_t>& out, uint32_t sector, const uint8_t* bytes) {
    size_t length = FakeDevice::kSectorSize;
    while (length > 0 && bytes[length - 1] == 0) {
        --length;
    }
    if (length == 0) {
        return;
    }
    putLe32(out, sector);
    out.push_back(uint8_t(length));
    out.push_back(uint8_t(length >> 8));
    out.insert(out.end(), bytes, bytes + length);
}

}  // namespace overlay
