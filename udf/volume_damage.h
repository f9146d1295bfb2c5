// Damage records: the structures the mount could not read, each with the path it belongs to.
#pragma once

#include <cstdint>

#include "udf/udf_volume.h"

struct DirectoryNode;

// Counts the damage and records it while records are left. The path is the node's: a file, a directory with
// a trailing '/', the root as "/".
void recordDamage(UdfVolume* volume, VolumeDamageKind kind, uint32_t sector, const DirectoryNode* node);
// The same for a structure that has no node yet; `path` must outlive the volume.
void recordDamageAt(UdfVolume* volume, VolumeDamageKind kind, uint32_t sector, const char* path);
