// DirectoryNode: one file or directory of the mounted file system, as the tree keeps it.
#pragma once

#include <cstdint>

#include "udf/extents.h"

struct DirectoryNode {
    DirectoryNode* firstChild;
    DirectoryNode* nextSibling;
    DirectoryNode* parent;
    uint8_t isDirectory;
    uint8_t nameIsUtf8;
    uint8_t hasEmbeddedData;
    uint32_t uniqueId;
    uint32_t entrySector;
    uint32_t entryLength;
    uint8_t modificationTime[12];
    union {
        uint64_t size;          // files
        ExtentRef* dirExtents;  // directories
    };
    uint32_t extentCount;
    uint32_t dataLocation;
    FileExtent* fileExtents;
    // Zero-terminated; lies in the same arena piece right after the node, with 8 spare bytes.
    char* name;
};
