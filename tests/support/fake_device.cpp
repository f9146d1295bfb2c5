// The fake device's command decoding, sparse store and faults.
#include "tests/support/fake_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "io/byte_order.h"

FakeDevice::FakeDevice(uint32_t sectorCount) : sectorCount(sectorCount) {}

FakeDevice::FakeDevice(const std::vector<uint8_t>& image)
    : sectorCount(uint32_t(image.size() / kSectorSize)) {
    for (uint32_t s = 0; s < sectorCount; ++s) {
        const uint8_t* sector = image.data() + size_t(s) * kSectorSize;
        // Blank sectors take no room: most of a disc image is clip data the reader never parses, or nothing.
        if (std::any_of(sector, sector + kSectorSize, [](uint8_t b) { return b != 0; })) {
            lay(s, sector, kSectorSize);
        }
    }
}

void FakeDevice::lay(uint32_t sector, const uint8_t* bytes, size_t length) {
    if (sector >= sectorCount) {
        return;
    }
    auto it = std::lower_bound(index.begin(), index.end(), sector,
                               [](const Slot& slot, uint32_t s) { return slot.sector < s; });
    if (it == index.end() || it->sector != sector) {
        Slot slot = {sector, uint32_t(store.size() / kSectorSize)};
        store.resize(store.size() + kSectorSize, 0);
        it = index.insert(it, slot);
    }
    std::memcpy(&store[size_t(it->offset) * kSectorSize], bytes, std::min<size_t>(length, kSectorSize));
}

void FakeDevice::failFrom(uint32_t first, Fault kind, uint64_t end) {
    faultSector = first;
    faultEnd = end;
    fault = kind;
}

const uint8_t* FakeDevice::find(uint32_t sector) const {
    auto it = std::lower_bound(index.begin(), index.end(), sector,
                               [](const Slot& slot, uint32_t s) { return slot.sector < s; });
    if (it == index.end() || it->sector != sector) {
        return nullptr;
    }
    return &store[size_t(it->offset) * kSectorSize];
}

bool FakeDevice::faulty(uint64_t sector) const {
    return fault != Fault::None && sector >= faultSector && sector < faultEnd;
}

bool FakeDevice::Execute(DeviceCommand* command, CommandStatus* status) {
    if (command == nullptr) {
        return false;
    }
    commands.push_back(*command);
    statusPassed = statusPassed || status != nullptr;
    uint8_t* data = static_cast<uint8_t*>(command->dataBuffer);
    if (command->cdb[0] == kOpReadCapacity10) {
        ++capacityQueries;
        if (data == nullptr) {
            return false;
        }
        // The last whole sector, wrapping below one sector, as the image file answers.
        writeBe32(data, sectorCount - 1);
        writeBe32(data + 4, kSectorSize);
        return true;
    }
    if (command->cdb[0] != kOpRead10) {
        return true;
    }
    uint32_t first = readBe32(command->cdb + 2);
    uint32_t count = readBe16(command->cdb + 7);
    reads.push_back({first, count, data});
    // The reader must never ask for more than it gave room for; no test or fuzz input may pass that by.
    if (uint64_t(count) * kSectorSize > command->transferLength) {
        std::abort();
    }
    uint32_t delivered = 0;
    while (data != nullptr && delivered < count) {
        uint64_t s = uint64_t(first) + delivered;
        if (s >= sectorCount || faulty(s)) {
            break;
        }
        const uint8_t* source = find(uint32_t(s));
        uint8_t* target = data + size_t(delivered) * kSectorSize;
        if (source != nullptr) {
            std::memcpy(target, source, kSectorSize);
        } else {
            std::memset(target, 0, kSectorSize);
        }
        ++delivered;
    }
    CommandStatus* target = status != nullptr ? status : &lastStatus;
    target->bytesTransferred = delivered * kSectorSize;
    target->statusCode = 0;
    // A short transfer that still answers true is the case only the byte count reveals.
    return delivered == count || fault == Fault::Short;
}
