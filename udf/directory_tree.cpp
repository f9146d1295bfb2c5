// Directory tree: File Identifier Descriptors into nodes with their names, the recursive build and findNode.
#include "udf/directory_tree.h"

#include <cstring>

#include "io/heap.h"
#include "io/utf16.h"
#include "udf/arena.h"
#include "udf/block_mapping.h"
#include "udf/ecma_layout.h"
#include "udf/file_entry.h"
#include "udf/sector_set.h"
#include "udf/volume_damage.h"

namespace {

constexpr size_t kPathBufferSize = 256;
constexpr uint16_t kTagFileIdentifier = 257;

struct BuildContext {
    UdfVolume* volume;
    // The directories whose data has been parsed in this mount, by first data sector. A directory whose
    // data was parsed already (an entry naming an ancestor, or two entries sharing one directory) stays an
    // empty leaf, so no cycle or shared subtree is walked twice; it is checked before the data is read.
    SectorSet visited;
    uint32_t nodes;
    uint64_t nameBytes;
    // The budget is spent or the arena refused: no further node is made anywhere.
    bool stopped;
    bool outOfMemory;
};

enum class NodeResult : uint8_t { Made, Skipped, Stop };

// `fid` holds the whole descriptor, `header` its decoded fields. A node whose file entry cannot be read is
// recorded as damage and skipped; its siblings are not affected.
NodeResult makeNode(BuildContext* context, DirectoryNode* directory, ByteView fid, const FileIdentifier& header,
                    DirectoryNode** made) {
    UdfVolume* volume = context->volume;
    ByteView identifier = fid.from(header.identifierOffset).first(header.identifierLength);
    uint8_t compression = identifier.u8(0);
    ByteView characters = identifier.from(1);
    uint32_t n = uint32_t(characters.size);

    bool wide = compression == 16;
    bool convert = false;
    uint32_t length = n;
    if (wide) {
        length = n / 2;
        for (uint32_t i = 0; i < n / 2; ++i) {
            if (characters.data[2 * i] != 0) {
                convert = true;
            }
        }
        if (convert) {
            length = utf8Length(characters.data, n / 2);
        }
    }
    // Checked before anything is allocated or read for the node.
    if (context->nodes >= kMaxTreeNodes || context->nameBytes + length > kMaxTreeNameBytes) {
        context->stopped = true;
        return NodeResult::Stop;
    }

    DirectoryNode* node =
        static_cast<DirectoryNode*>(volumeAlloc(volume, sizeof(DirectoryNode) + uint64_t(length) + 8));
    if (node == nullptr) {
        context->stopped = context->outOfMemory = true;
        return NodeResult::Stop;
    }
    ++context->nodes;
    context->nameBytes += length;
    node->name = reinterpret_cast<char*>(node + 1);
    node->parent = directory;
    node->isDirectory = (header.characteristics & kCharacteristicDirectory) != 0 ? 1 : 0;
    node->entrySector = mapBlock(volume, &header.icb);
    node->entryLength = header.icb.length;
    node->uniqueId = header.uniqueId;
    uint8_t* name = reinterpret_cast<uint8_t*>(node->name);
    if (convert) {
        node->nameIsUtf8 = 1;
        utf16beToUtf8(characters.data, n / 2, name, length + 1);
    } else if (wide) {
        for (uint32_t i = 0; i < n / 2; ++i) {
            name[i] = characters.data[2 * i + 1];
        }
    } else if (n != 0) {
        std::memcpy(name, characters.data, n);
    }
    *made = node;
    if (node->entryLength == 0) {
        return NodeResult::Made;
    }
    // A file entry that lies nowhere cannot be read, like an unreadable one.
    if (node->entrySector == kUnmappedSector) {
        recordDamage(volume, VolumeDamageKind::EntryUnreadable, kUnmappedSector, node);
        return NodeResult::Skipped;
    }
    switch (readEntry(volume, node, header.icb)) {
        case EntryRead::Read:
            return NodeResult::Made;
        case EntryRead::Unreadable:
            return NodeResult::Skipped;
        case EntryRead::NoMemory:
            break;
    }
    context->stopped = context->outOfMemory = true;
    return NodeResult::Stop;
}

// The extents of a directory's data that hold it: recorded ones of some length.
bool holdsData(const ExtentRef& extent) {
    return extentType(extent.length) == kExtentRecorded && extent.length != 0;
}

// The image sector that holds byte `offset` of the directory's data laid end to end, as readDirectoryData
// lays it; kUnmappedSector when that block lies nowhere.
uint32_t sectorAtOffset(const UdfVolume* volume, const ExtentRef* extents, uint32_t count, uint64_t offset) {
    uint64_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const ExtentRef& extent = extents[i];
        if (!holdsData(extent)) {
            continue;
        }
        if (offset < at + extent.length) {
            if (extent.kind == kExtentEmbedded) {
                return extent.block;
            }
            uint64_t block = extent.block + (offset - at) / kSectorSize;
            if (block > UINT32_MAX) {
                return kUnmappedSector;
            }
            return mapPartitionBlock(partitionMapAt(volume, extent.partition), uint32_t(block)).sector;
        }
        at += extent.length;
    }
    return kUnmappedSector;
}

struct DirectoryData {
    uint8_t* bytes;
    uint64_t size;   // bytes that arrived, from the start
    bool cut;        // the data ends before its extents do: a sector did not arrive
    uint32_t failedSector;
};

// Reads the directory's extents back to back into scratch, as far as they arrive.
DirectoryData readDirectoryData(UdfVolume* volume, const ExtentRef* extents, uint32_t count) {
    DirectoryData out = {nullptr, 0, false, kUnmappedSector};
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // An extent whose type bits say it is not recorded holds no entries and is not read.
        if (holdsData(extents[i])) {
            total += extents[i].length;
        }
    }
    if (total > kMaxDirectoryBytes) {
        total = kMaxDirectoryBytes;
    }
    if (total == 0) {
        return out;
    }
    // Each read writes whole sectors at its offset, so the last one may run up to a sector past total.
    uint64_t capacity = roundToSectors(total) + kSectorSize;
    uint8_t* buffer = reserveBytes(volume->scratch, capacity);
    if (buffer == nullptr) {
        return out;
    }
    out.bytes = buffer;
    uint64_t offset = 0;
    for (uint32_t i = 0; i < count && offset < total; ++i) {
        const ExtentRef& extent = extents[i];
        if (!holdsData(extent)) {
            continue;
        }
        uint64_t wanted = extent.length < total - offset ? extent.length : total - offset;
        uint32_t failed = kUnmappedSector;
        uint32_t got = readExtent(volume, &extent, buffer + offset, capacity - offset, &failed);
        uint64_t delivered = extent.kind == kExtentEmbedded ? got : uint64_t(got) * kSectorSize;
        if (delivered < wanted) {
            // What follows a short extent would not sit at its place; the entries end here.
            out.size = offset + delivered;
            out.cut = true;
            out.failedSector = failed;
            return out;
        }
        offset += wanted;
    }
    out.size = offset;
    return out;
}

void buildLevel(BuildContext* context, ExtentRef* extents, uint32_t count, DirectoryNode* directory,
                uint32_t depth) {
    UdfVolume* volume = context->volume;
    if (extents == nullptr || count == 0 || depth > kMaxDirectoryDepth || context->stopped) {
        return;
    }
    bool hasData = false;
    for (uint32_t i = 0; i < count && !hasData; ++i) {
        hasData = holdsData(extents[i]);
    }
    if (!hasData) {
        return;
    }
    // A directory met before is not read again: the check comes before the read, so that thousands of
    // entries naming one directory cost nothing more than their own nodes. Data that lies nowhere is not
    // read at all, and each such directory is still named as damage.
    if (directory->dataLocation != kUnmappedSector && !context->visited.insert(directory->dataLocation)) {
        return;
    }
    DirectoryData data = readDirectoryData(volume, extents, count);
    bool damaged = data.cut;
    uint32_t damagedSector = data.failedSector;
    ByteView all(data.bytes, size_t(data.size));
    DirectoryNode* previous = nullptr;
    for (uint64_t offset = 0; offset < data.size && !context->stopped;) {
        ByteView fid = all.from(offset);
        if (!fid.has(0, kFidHeaderSize)) {
            break;
        }
        // A ripper writes zeros for a sector it could not read: an entry that is no File Identifier
        // Descriptor ends the readable part of the directory there.
        if (fid.le16(0) != kTagFileIdentifier) {
            damaged = true;
            damagedSector = sectorAtOffset(volume, extents, count, offset);
            break;
        }
        FileIdentifier header = decodeFileIdentifier(fid);
        // A descriptor running past the directory data ends the walk instead of reading beyond it.
        if (!fid.has(0, header.used)) {
            break;
        }
        if (header.identifierLength == 0) {
            if (directory == volume->root) {
                directory->uniqueId = header.uniqueId;
            }
        } else if ((header.characteristics & kCharacteristicDeleted) == 0) {
            DirectoryNode* node = nullptr;
            if (makeNode(context, directory, fid.first(header.used), header, &node) == NodeResult::Made) {
                if (previous == nullptr) {
                    directory->firstChild = node;
                } else {
                    previous->nextSibling = node;
                }
                previous = node;
            }
        }
        offset += header.next;
    }
    if (damaged) {
        recordDamage(volume, VolumeDamageKind::DirectoryUnreadable, damagedSector, directory);
    }
    for (DirectoryNode* child = directory->firstChild; child != nullptr; child = child->nextSibling) {
        if (child->isDirectory) {
            buildLevel(context, child->dirExtents, child->extentCount, child, depth + 1);
        }
    }
}

}  // namespace

bool buildDirectory(UdfVolume* volume, ExtentRef* extents, uint32_t count, DirectoryNode* directory) {
    if (volume == nullptr || directory == nullptr) {
        return false;
    }
    BuildContext context;
    context.volume = volume;
    context.nodes = 0;
    context.nameBytes = 0;
    context.stopped = false;
    context.outOfMemory = false;
    buildLevel(&context, extents, count, directory, 0);
    return !context.outOfMemory;
}

DirectoryNode* findNode(UdfVolume* volume, DirectoryNode* start, const char* path) {
    if (volume == nullptr || volume->root == nullptr) {
        return nullptr;
    }
    DirectoryNode* base = start != nullptr ? start : volume->root;
    if (path == nullptr) {
        return base;
    }
    char components[kPathBufferSize] = {};
    size_t used = 0;
    const char* p = path;
    while (*p == '/' || *p == '\\') {
        ++p;
    }
    for (; *p != '\0'; ++p) {
        bool separator = *p == '/' || *p == '\\';
        if (separator && used > 0 && components[used - 1] == '\0') {
            continue;
        }
        // Two zero bytes must follow the last component.
        if (used + 2 >= kPathBufferSize) {
            return nullptr;
        }
        components[used++] = separator ? '\0' : *p;
    }
    const char* component = components;
    DirectoryNode* candidate = base->firstChild;
    while (candidate != nullptr) {
        if (std::strcmp(candidate->name, component) != 0) {
            candidate = candidate->nextSibling;
            continue;
        }
        const char* following = component + std::strlen(component) + 1;
        if (*following == '\0') {
            return candidate;
        }
        component = following;
        candidate = candidate->firstChild;
    }
    return nullptr;
}
