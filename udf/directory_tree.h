// The directory tree built once at mount, and the path lookup over it.
#pragma once

#include <cstdint>

#include "udf/directory_node.h"
#include "udf/extents.h"
#include "udf/udf_volume.h"

// Deeper directories are kept as empty leaves: no disc nests this far, and it bounds the recursion.
constexpr uint32_t kMaxDirectoryDepth = 256;
// Directory data beyond this many bytes is left unread; a stream folder of 99,999 clips needs under 6 MiB.
constexpr uint32_t kMaxDirectoryBytes = 32u << 20;
// Entries one mount makes at most (about 100 bytes each), and the bytes of their names. A disc names its
// clips, clip information files and playlists with five digits, so even three folders of 100,000 files each
// stay below both; a forged image of overlapping directories, or of entries that name one directory again
// and again, stops here instead of taking hundreds of megabytes.
constexpr uint32_t kMaxTreeNodes = 1u << 19;
constexpr uint64_t kMaxTreeNameBytes = 16u << 20;

// Builds the whole tree below `directory`. Entries whose file entry cannot be read, and directory data that
// does not arrive whole, are recorded as damage and skipped; the build stops quietly at the budget above.
// False only when memory runs out.
bool buildDirectory(UdfVolume* volume, ExtentRef* extents, uint32_t count, DirectoryNode* directory);

// Looks `path` up from `start` (null: the root). Separators are '/' and '\\', mixed and repeated freely;
// names compare byte for byte. A null path gives the start; a path over 254 bytes finds nothing.
DirectoryNode* findNode(UdfVolume* volume, DirectoryNode* start, const char* path);
