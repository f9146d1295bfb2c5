// Writes a UDF disc image of a folder, for test fixtures and the demo. The images are built to be read by
// independent readers too, so every descriptor carries a valid tag checksum and CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Metadata250: NSR03, a type 1 map plus a metadata partition map; the file set, file entries and
//              directories live in the metadata file (and its mirror), file data in the physical partition.
// Physical102: NSR02, one type 1 map holding everything.
// Virtual201:  NSR03, a type 1 map plus a virtual partition map; file entries and directories are addressed
//              through the VAT, whose file entry is the image's last sector.
// Every layout records the anchor at sector 256 and at the last sector less 256, the others but Virtual201
// at the last sector too, and a reserve copy of the volume descriptor sequence.
enum class UdfLayout { Metadata250, Physical102, Virtual201 };

struct UdfImageOptions {
    UdfLayout layout = UdfLayout::Metadata250;
    bool extendedFileEntries = false;        // EFE (tag 266) instead of FE (261) for every entry written
    bool longAllocationDescriptors = false;  // long_ad instead of short_ad where short_ad is allowed
    bool embedSmallFiles = false;            // files and directories that fit live inside their entry
    bool continuationArea = false;           // file entries' ADs spill into an allocation extent descriptor
    bool metadataTwoExtents = false;         // metadata file recorded in two extents (Metadata250 only)
    bool addDeletedEntries = false;          // a deleted FID next to real ones in each directory
    uint32_t maxExtentBytes = 0;             // split file data into extents of at most this; 0 = natural limit
    uint32_t seed = 1;                       // unique IDs, timestamps and volume set ID derive from it
};

// Writes IMAGEPATH from the tree under FOLDER (regular files and directories). Names are taken as UTF-8;
// a name with a character above U+00FF is recorded in 16-bit characters, any other in 8-bit ones.
// Returns false with a message in *error (when error is not null) on failure.
bool writeUdfImage(const std::string& folder, const std::string& imagePath, const UdfImageOptions& options,
                   std::string* error);

// The descriptor CRC of ECMA-167 (CRC-16 CCITT, polynomial 0x1021, initial value 0).
uint16_t udfCrc16(const uint8_t* data, size_t length);
