// Damage records of the mount and the volume's answers about them.
#include "udf/volume_damage.h"

#include <cstring>

#include "udf/arena.h"
#include "udf/directory_node.h"

namespace {

// Parents followed when a path is spelled; the tree is never deeper than its depth limit, and a parent
// chain that does not end at the root must not be followed for ever.
constexpr uint32_t kMaxPathComponents = 1024;

bool isRoot(const DirectoryNode* node) {
    return node->parent == nullptr || node->parent == node;
}

}  // namespace

void recordDamageAt(UdfVolume* volume, VolumeDamageKind kind, uint32_t sector, const char* path) {
    ++volume->damageFound;
    if (volume->damageRecorded >= kMaxRecordedDamage || path == nullptr) {
        return;
    }
    volume->damage[volume->damageRecorded++] = {kind, sector, path};
}

void recordDamage(UdfVolume* volume, VolumeDamageKind kind, uint32_t sector, const DirectoryNode* node) {
    if (node == nullptr || isRoot(node)) {
        recordDamageAt(volume, kind, sector, "/");
        return;
    }
    if (volume->damageRecorded >= kMaxRecordedDamage) {
        ++volume->damageFound;
        return;
    }
    // The bytes of every component with its separator, the root's empty name and separator left out.
    uint64_t length = node->isDirectory ? 1 : 0;
    uint32_t steps = 0;
    const DirectoryNode* n = node;
    for (; !isRoot(n) && steps < kMaxPathComponents; n = n->parent, ++steps) {
        length += std::strlen(n->name) + (n == node ? 0 : 1);
    }
    char* path = static_cast<char*>(volumeAlloc(volume, length + 1));
    if (path == nullptr) {
        // Counted, but with no path to show it is not recorded.
        ++volume->damageFound;
        return;
    }
    uint64_t end = length;
    if (node->isDirectory) {
        path[--end] = '/';
    }
    n = node;
    for (uint32_t i = 0; i < steps; ++i, n = n->parent) {
        size_t size = std::strlen(n->name);
        if (n != node) {
            path[--end] = '/';
        }
        end -= size;
        std::memcpy(path + end, n->name, size);
    }
    recordDamageAt(volume, kind, sector, path);
}

uint32_t volumeDamageCount(const UdfVolume* volume) {
    return volume != nullptr ? volume->damageFound : 0;
}

const VolumeDamage* volumeDamageAt(const UdfVolume* volume, uint32_t index) {
    if (volume == nullptr || index >= volume->damageRecorded) {
        return nullptr;
    }
    return &volume->damage[index];
}
