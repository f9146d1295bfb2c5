// The mount sequence: volume recognition, the descriptors, the root node and the tree built below it.
#include "udf/mount.h"

#include "udf/arena.h"
#include "udf/block_mapping.h"
#include "udf/byte_view.h"
#include "udf/directory_tree.h"
#include "udf/identifier_pool.h"
#include "udf/sector_io.h"
#include "udf/volume_descriptors.h"

namespace {

constexpr uint32_t kRecognitionFirstSector = 16;
constexpr uint32_t kRecognitionSectors = 10;

}  // namespace

bool recognizeVolume(UdfVolume* volume) {
    uint8_t* buffer = reserveBytes(volume->scratch, uint64_t(kRecognitionSectors) * kSectorSize);
    if (buffer == nullptr ||
        readSectors(volume, kRecognitionFirstSector, kRecognitionSectors, buffer) != kRecognitionSectors) {
        return false;
    }
    bool found = false;
    for (uint32_t i = 0; i < kRecognitionSectors; ++i) {
        const uint8_t* descriptor = buffer + size_t(i) * kSectorSize;
        if (matchesIdentifier(descriptor + 1, StandardId::NsrEdition2)) {
            volume->vrsFlags |= kNsrEdition2;
            found = true;
        } else if (matchesIdentifier(descriptor + 1, StandardId::NsrEdition3)) {
            volume->vrsFlags |= kNsrEdition3;
            found = true;
        }
        if (descriptor[6] == 0) {
            break;
        }
    }
    return found;
}

bool UdfVolume::mount() {
    if (image == nullptr || scratch == nullptr || entryScratch == nullptr) {
        return false;
    }
    if (!recognizeVolume(this)) {
        return false;
    }
    // READ CAPACITY (10) answers 0xFFFFFFFF for an image of 2^32 sectors or more (8 TiB, far beyond any
    // disc): its size cannot be told, and the anchors and the VAT at its end cannot be found.
    if (!readLastSector(image, &lastSector) || lastSector == 0xFFFFFFFF) {
        return false;
    }
    ExtentRef* rootExtent = static_cast<ExtentRef*>(volumeAlloc(this, sizeof(ExtentRef)));
    if (rootExtent == nullptr) {
        return false;
    }
    uint32_t rootEntrySector = 0;
    if (!readVolumeDescriptors(this, rootExtent, &rootEntrySector)) {
        return false;
    }
    DirectoryNode* node = static_cast<DirectoryNode*>(volumeAlloc(this, sizeof(DirectoryNode) + 8));
    if (node == nullptr) {
        return false;
    }
    node->name = reinterpret_cast<char*>(node + 1);
    node->parent = node;
    node->isDirectory = 1;
    node->entrySector = rootEntrySector;
    node->dirExtents = rootExtent;
    node->extentCount = 1;
    node->dataLocation = mapBlock(this, rootExtent);
    root = node;
    return buildDirectory(this, rootExtent, 1, node);
}
