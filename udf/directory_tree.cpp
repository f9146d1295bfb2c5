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

namespace {

constexpr size_t kPathBufferSize = 256;

struct BuildContext {
    UdfVolume* volume;
    // The directories whose data has been parsed in this mount, by first data sector. A directory whose
    // data was parsed already (an entry naming an ancestor, or two entries sharing one directory) stays an
    // empty leaf, so no cycle or shared subtree is walked twice.
    SectorSet visited;
    uint32_t nodes;
};

// `fid` holds the whole descriptor, `header` its decoded fields.
DirectoryNode* makeNode(BuildContext* context, ByteView fid, const FileIdentifier& header) {
    UdfVolume* volume = context->volume;
    if (context->nodes >= kMaxTreeNodes) {
        return nullptr;
    }
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

    DirectoryNode* node =
        static_cast<DirectoryNode*>(volumeAlloc(volume, sizeof(DirectoryNode) + uint64_t(length) + 8));
    if (node == nullptr) {
        return nullptr;
    }
    ++context->nodes;
    node->name = reinterpret_cast<char*>(node + 1);
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
    if (node->entryLength == 0) {
        return node;
    }
    // A file entry that lies nowhere cannot be read, which fails the node as an unreadable one does.
    if (node->entrySector == kUnmappedSector) {
        return nullptr;
    }
    return readEntry(volume, node, header.icb) ? node : nullptr;
}

// Reads the directory's extents back to back into scratch; returns the bytes that hold data.
uint64_t readDirectoryData(UdfVolume* volume, ExtentRef* extents, uint32_t count, uint8_t** data) {
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // An extent whose type bits say it is not recorded holds no entries and is not read.
        if (extentType(extents[i].length) == kExtentRecorded) {
            total += extents[i].length;
        }
    }
    if (total > kMaxDirectoryBytes) {
        total = kMaxDirectoryBytes;
    }
    if (total == 0) {
        return 0;
    }
    // Each read writes whole sectors at its offset, so the last one may run up to a sector past total.
    uint8_t* buffer = reserveBytes(volume->scratch, roundToSectors(total) + kSectorSize);
    if (buffer == nullptr) {
        return 0;
    }
    *data = buffer;
    uint64_t capacity = roundToSectors(total) + kSectorSize;
    uint64_t offset = 0;
    for (uint32_t i = 0; i < count && offset < total; ++i) {
        ExtentRef& extent = extents[i];
        if (extentType(extent.length) != kExtentRecorded || extent.length == 0) {
            continue;
        }
        uint64_t wanted = extent.length < total - offset ? extent.length : total - offset;
        uint32_t got = readExtent(volume, &extent, buffer + offset, capacity - offset);
        uint64_t delivered = extent.kind == kExtentEmbedded ? got : uint64_t(got) * kSectorSize;
        if (delivered < wanted) {
            // What follows a short extent would not sit at its place; the entries end here.
            return offset + delivered;
        }
        offset += wanted;
    }
    return offset;
}

bool buildLevel(BuildContext* context, ExtentRef* extents, uint32_t count, DirectoryNode* directory,
                uint32_t depth) {
    UdfVolume* volume = context->volume;
    if (extents == nullptr || count == 0 || depth > kMaxDirectoryDepth) {
        return true;
    }
    uint8_t* data = nullptr;
    uint64_t total = readDirectoryData(volume, extents, count, &data);
    if (total == 0 || !context->visited.insert(directory->dataLocation)) {
        return true;
    }
    ByteView all(data, size_t(total));
    DirectoryNode* previous = nullptr;
    for (uint64_t offset = 0; offset < total;) {
        ByteView fid = all.from(offset);
        if (!fid.has(0, kFidHeaderSize)) {
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
            DirectoryNode* node = makeNode(context, fid.first(header.used), header);
            if (node == nullptr) {
                return false;
            }
            node->parent = directory;
            if (previous == nullptr) {
                directory->firstChild = node;
            } else {
                previous->nextSibling = node;
            }
            previous = node;
        }
        offset += header.next;
    }
    for (DirectoryNode* child = directory->firstChild; child != nullptr; child = child->nextSibling) {
        if (child->isDirectory) {
            buildLevel(context, child->dirExtents, child->extentCount, child, depth + 1);
        }
    }
    return true;
}

}  // namespace

bool buildDirectory(UdfVolume* volume, ExtentRef* extents, uint32_t count, DirectoryNode* directory) {
    if (volume == nullptr || directory == nullptr) {
        return false;
    }
    BuildContext context;
    context.volume = volume;
    context.nodes = 0;
    return buildLevel(&context, extents, count, directory, 0);
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
