// ImageFile: READ (10) and READ CAPACITY (10) carried out on a host file.
#include "io/image_file.h"

namespace {

uint32_t readBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void writeBe32(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
}

}  // namespace

bool ImageFile::Open(const char* name) {
    return file.Open(name, kHostRead);
}

bool ImageFile::Close() {
    file.Close();
    return true;
}

bool ImageFile::Execute(DeviceCommand* command, CommandStatus* status) {
    if (command == nullptr) {
        return false;
    }
    uint8_t* data = static_cast<uint8_t*>(command->dataBuffer);
    switch (command->cdb[0]) {
        case kOpReadCapacity10: {
            if (data == nullptr) {
                return false;
            }
            // A partial block at the end does not count; an image below one block wraps to 0xFFFFFFFF.
            uint32_t lastBlock = uint32_t(file.Size() / kBlockSize) - 1;
            writeBe32(data, lastBlock);
            writeBe32(data + 4, kBlockSize);
            return true;
        }
        case kOpRead10: {
            uint32_t block = readBe32(command->cdb + 2);
            uint32_t count = (uint32_t(command->cdb[7]) << 8) | command->cdb[8];
            uint32_t bytes = count * kBlockSize;
            uint32_t got = 0;
            if (bytes != 0 && data != nullptr) {
                file.Seek(int64_t(uint64_t(block) * kBlockSize), kSeekBegin);
                got = file.Read(data, bytes);
            }
            CommandStatus* target = status != nullptr ? status : &lastStatus;
            target->bytesTransferred = got;
            target->statusCode = 0;
            return got == bytes;
        }
        default:
            return true;
    }
}
