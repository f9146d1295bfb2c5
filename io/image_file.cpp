// ImageFile: READ (10) and READ CAPACITY (10) carried out on a host file.
#include "io/image_file.h"

#include "io/byte_order.h"

bool ImageFile::Open(const char* name) {
    return file.Open(name);
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
            // A partial block at the end does not count; an image below one block wraps to 0xFFFFFFFF. An
            // image of more blocks than 32 bits can address answers 0xFFFFFFFF too, as a SCSI device does
            // when only READ CAPACITY (16) could tell its size, instead of wrapping to a small one.
            uint64_t blocks = file.Size() / kBlockSize;
            uint32_t lastBlock = blocks > 0x100000000ull ? 0xFFFFFFFFu : uint32_t(blocks - 1);
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
