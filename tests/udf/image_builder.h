// A compact builder of small UDF images in memory: raw descriptors, and whole volumes of each partition kind.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/heap.h"
#include "tests/support/fake_device.h"
#include "udf/arena.h"
#include "udf/directory_tree.h"
#include "udf/udf_volume.h"

namespace udftest {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSector = 2048;

// memcpy that accepts an empty source (an empty vector's data() may be null).
inline void copyBytes(uint8_t* to, const uint8_t* from, size_t count) {
    if (count != 0) {
        std::memcpy(to, from, count);
    }
}

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}
inline void put64(uint8_t* p, uint64_t v) {
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}

inline Bytes shortAd(uint32_t length, uint32_t position) {
    Bytes b(8);
    put32(&b[0], length);
    put32(&b[4], position);
    return b;
}
inline Bytes longAd(uint32_t length, uint32_t block, uint16_t partition) {
    Bytes b(16);
    put32(&b[0], length);
    put32(&b[4], block);
    put16(&b[8], partition);
    return b;
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// An image that grows to whatever sector is touched.
struct Image {
    Bytes bytes;
    uint8_t* at(uint32_t sector) {
        if ((uint64_t(sector) + 1) * kSector > bytes.size()) {
            bytes.resize((size_t(sector) + 1) * kSector, 0);
        }
        return &bytes[size_t(sector) * kSector];
    }
    uint32_t sectors() const { return uint32_t(bytes.size() / kSector); }
};

inline void writeTag(uint8_t* p, uint16_t tag) {
    put16(p, tag);
}

// Volume structure descriptors at 16 on: each identifier with Structure Version 1.
inline void writeRecognition(Image& image, const std::vector<std::string>& identifiers, uint8_t version = 1) {
    for (size_t i = 0; i < identifiers.size(); ++i) {
        uint8_t* p = image.at(uint32_t(16 + i));
        std::memcpy(p + 1, identifiers[i].data(), identifiers[i].size() < 5 ? identifiers[i].size() : 5);
        p[6] = version;
    }
    image.at(25);
}

inline void writeAnchor(Image& image, uint32_t location, uint32_t sectors) {
    uint8_t* p = image.at(256);
    writeTag(p, 2);
    put32(p + 16, sectors * kSector);
    put32(p + 20, location);
}

// A partition of `length` blocks; by default one that reaches past any image, so only the image bounds it.
inline void writePartition(Image& image, uint32_t sector, uint16_t number, uint32_t start,
                           uint32_t length = UINT32_MAX) {
    uint8_t* p = image.at(sector);
    writeTag(p, 5);
    put16(p + 22, number);
    put32(p + 188, start);
    put32(p + 192, length);
}

inline Bytes type1Map(uint16_t number) {
    Bytes m(6);
    m[0] = 1;
    m[1] = 6;
    put16(&m[4], number);
    return m;
}

inline Bytes type2Map(const std::string& identifier, uint16_t number, uint32_t metadataLocation = 0) {
    Bytes m(64);
    m[0] = 2;
    m[1] = 64;
    std::memcpy(&m[5], identifier.data(), identifier.size());
    put16(&m[38], number);
    put32(&m[40], metadataLocation);
    return m;
}

inline void writeLogicalVolume(Image& image, uint32_t sector, const Bytes& fileSetLongAd,
                               const std::vector<Bytes>& maps, int32_t mapCountOverride = -1) {
    uint8_t* p = image.at(sector);
    writeTag(p, 6);
    std::memcpy(p + 248, fileSetLongAd.data(), 16);
    put32(p + 268, mapCountOverride >= 0 ? uint32_t(mapCountOverride) : uint32_t(maps.size()));
    size_t offset = 440;
    for (const Bytes& m : maps) {
        std::memcpy(p + offset, m.data(), m.size());
        offset += m.size();
    }
}

struct EntrySpec {
    bool extended = false;
    uint8_t adType = 0;  // 0 short, 1 long, 2 extended, 3 embedded
    uint64_t informationLength = 0;
    Bytes area;             // the allocation descriptors, or the embedded data
    uint32_t eaLength = 0;  // extended attribute bytes placed before the area
    int64_t adLengthOverride = -1;
    uint8_t timeMark = 0x5A;  // fills the modification timestamp
};

inline void writeFileEntry(uint8_t* p, const EntrySpec& fields) {
    std::memset(p, 0, kSector);
    writeTag(p, fields.extended ? 266 : 261);
    put16(p + 34, fields.adType);
    put64(p + 56, fields.informationLength);
    std::memset(p + (fields.extended ? 92 : 84), fields.timeMark, 12);
    uint32_t base = fields.extended ? 216 : 176;
    put32(p + (fields.extended ? 208 : 168), fields.eaLength);
    put32(p + (fields.extended ? 212 : 172),
          fields.adLengthOverride >= 0 ? uint32_t(fields.adLengthOverride) : uint32_t(fields.area.size()));
    // A forged L_EA is recorded as given; the area then has no place inside the block.
    if (uint64_t(base) + fields.eaLength + fields.area.size() <= kSector) {
        copyBytes(p + base + fields.eaLength, fields.area.data(), fields.area.size());
    }
}

// An allocation extent descriptor holding `descriptors`.
inline void writeContinuation(uint8_t* p, const Bytes& descriptors, int64_t adLengthOverride = -1) {
    std::memset(p, 0, kSector);
    writeTag(p, 258);
    put32(p + 20, adLengthOverride >= 0 ? uint32_t(adLengthOverride) : uint32_t(descriptors.size()));
    copyBytes(p + 24, descriptors.data(), descriptors.size());
}

inline Bytes name8(const std::string& text) {
    Bytes b(text.size() + 1, 8);
    for (size_t i = 0; i < text.size(); ++i) {
        b[i + 1] = uint8_t(text[i]);
    }
    return b;
}
inline Bytes name16(const std::u16string& text) {
    Bytes b{16};
    for (char16_t c : text) {
        b.push_back(uint8_t(c >> 8));
        b.push_back(uint8_t(c));
    }
    return b;
}

constexpr uint8_t kFidDirectory = 2;
constexpr uint8_t kFidDeleted = 4;
constexpr uint8_t kFidHidden = 1;
constexpr uint8_t kFidParent = 8;

inline Bytes fid(uint8_t characteristics, const Bytes& identifier, const Bytes& icb, uint32_t uniqueId = 0,
                 uint16_t implementationUse = 0) {
    size_t used = 38 + implementationUse + identifier.size();
    Bytes b((used + 3) & ~size_t(3), 0);
    writeTag(&b[0], 257);
    b[18] = characteristics;
    b[19] = uint8_t(identifier.size());
    std::memcpy(&b[20], icb.data(), 16);
    put32(&b[32], uniqueId);
    put16(&b[36], implementationUse);
    copyBytes(&b[38 + implementationUse], identifier.data(), identifier.size());
    return b;
}

enum class Layout { Physical, Metadata, MetadataTwoExtents, Virtual, VirtualLongVat };

// A whole volume. File entries and directories go to "meta" blocks (the physical partition, the
// metadata file or the virtual partition, as the layout has it); file data to physical blocks.
class DiscBuilder {
  public:
    static constexpr uint32_t kPartitionStart = 300;
    static constexpr uint32_t kMetadataFileEntry = 50;
    static constexpr uint32_t kMetadataExtentA = 100;
    static constexpr uint32_t kMetadataExtentB = 300;
    static constexpr uint32_t kMetadataExtentBlocks = 32;

    explicit DiscBuilder(Layout kind) : layout(kind) {
        metaRef = layout == Layout::Physical ? 0 : 1;
        nextData = layout == Layout::Physical ? 0 : 400;
        fileSetBlock = allocMeta(1);
    }

    bool metadata() const { return layout == Layout::Metadata || layout == Layout::MetadataTwoExtents; }
    bool virtualLayout() const { return layout == Layout::Virtual || layout == Layout::VirtualLongVat; }

    uint32_t allocMeta(uint32_t count) {
        if (layout == Layout::Physical) {
            return allocData(count);
        }
        uint32_t first = nextMeta;
        nextMeta += count;
        for (uint32_t v = first; v < nextMeta; ++v) {
            // Virtual blocks are laid out of order, so a run of them is never one run of sectors.
            vat.push_back(2000 - v * 3);
        }
        return first;
    }
    uint32_t allocData(uint32_t count) {
        uint32_t first = nextData;
        nextData += count;
        return first;
    }
    uint32_t metaSector(uint32_t block) const {
        if (layout == Layout::Physical) {
            return kPartitionStart + block;
        }
        if (virtualLayout()) {
            return kPartitionStart + vat.at(block);
        }
        if (layout == Layout::MetadataTwoExtents && block >= kMetadataExtentBlocks) {
            return kPartitionStart + kMetadataExtentB + block - kMetadataExtentBlocks;
        }
        return kPartitionStart + kMetadataExtentA + block;
    }
    uint32_t dataSector(uint32_t block) const { return kPartitionStart + block; }
    uint8_t* meta(uint32_t block) { return image.at(metaSector(block)); }
    uint8_t* data(uint32_t block) { return image.at(dataSector(block)); }

    // The data in consecutive physical blocks; returns the first.
    uint32_t putData(const Bytes& bytes) {
        uint32_t count = uint32_t((bytes.size() + kSector - 1) / kSector);
        uint32_t first = allocData(count == 0 ? 1 : count);
        for (size_t i = 0; i < bytes.size(); ++i) {
            data(first + uint32_t(i / kSector))[i % kSector] = bytes[i];
        }
        return first;
    }
    // A descriptor naming data in the physical partition, in the form the layout's files use.
    Bytes dataAd(uint32_t length, uint32_t block) const {
        return layout == Layout::Physical ? shortAd(length, block) : longAd(length, block, 0);
    }
    uint8_t dataAdType() const { return layout == Layout::Physical ? 0 : 1; }

    uint32_t entry(const EntrySpec& fields) {
        uint32_t block = allocMeta(1);
        writeFileEntry(meta(block), fields);
        return block;
    }
    uint32_t file(const Bytes& content, bool extended = false) {
        uint32_t block = putData(content);
        EntrySpec fields;
        fields.extended = extended;
        fields.adType = dataAdType();
        fields.informationLength = content.size();
        fields.area = dataAd(uint32_t(content.size()), block);
        return entry(fields);
    }
    // A directory holding the FIDs (parent entry first), data in consecutive meta blocks.
    uint32_t directory(const std::vector<Bytes>& children, bool extended = false) {
        Bytes all = fid(kFidDirectory | kFidParent, {}, longAd(kSector, 0, metaRef));
        for (const Bytes& c : children) {
            all.insert(all.end(), c.begin(), c.end());
        }
        uint32_t count = uint32_t((all.size() + kSector - 1) / kSector);
        uint32_t first = allocMeta(count);
        for (size_t i = 0; i < all.size(); ++i) {
            meta(first + uint32_t(i / kSector))[i % kSector] = all[i];
        }
        EntrySpec fields;
        fields.extended = extended;
        fields.adType = 0;
        fields.informationLength = all.size();
        fields.area = shortAd(uint32_t(all.size()), first);
        return entry(fields);
    }
    Bytes icb(uint32_t block, uint32_t length = kSector) const { return longAd(length, block, metaRef); }
    Bytes child(const std::string& name, uint32_t block, bool isDirectory = false,
                uint32_t uniqueId = 0) const {
        return fid(isDirectory ? kFidDirectory : 0, name8(name), icb(block), uniqueId);
    }

    Bytes finish(uint32_t rootBlock) {
        writeRecognition(image, {"BEA01", metadata() || virtualLayout() ? "NSR03" : "NSR02", "TEA01"});
        writeAnchor(image, 32, 4);
        writePartition(image, 32, 0, kPartitionStart);
        std::vector<Bytes> maps{type1Map(0)};
        if (metadata()) {
            maps.push_back(type2Map("*UDF Metadata Partition", 0, kMetadataFileEntry));
        } else if (virtualLayout()) {
            maps.push_back(type2Map("*UDF Virtual Partition", 0));
        }
        writeLogicalVolume(image, 33, longAd(kSector, fileSetBlock, metaRef), maps);
        writeTag(image.at(34), 8);
        uint8_t* fsd = meta(fileSetBlock);
        writeTag(fsd, 256);
        std::memcpy(fsd + 400, icb(rootBlock).data(), 16);
        if (metadata()) {
            writeMetadataFile();
        }
        if (virtualLayout()) {
            writeVat();
        }
        // The partition ends where the image does, as a writer records it.
        put32(image.at(32) + 192, image.sectors() - kPartitionStart);
        return image.bytes;
    }

    Layout layout;
    Image image;
    uint16_t metaRef = 0;
    uint32_t nextMeta = 0;
    uint32_t nextData = 0;
    uint32_t fileSetBlock = 0;
    std::vector<uint32_t> vat;
    uint32_t vatHeaderLength = 152;

  private:
    void writeMetadataFile() {
        EntrySpec fields;
        fields.adType = 0;
        if (layout == Layout::Metadata) {
            fields.area = shortAd(kMetadataExtentBlocks * 2 * kSector, kMetadataExtentA);
        } else {
            fields.area = cat({shortAd(kMetadataExtentBlocks * kSector, kMetadataExtentA),
                             shortAd(kMetadataExtentBlocks * kSector, kMetadataExtentB)});
        }
        fields.informationLength = kMetadataExtentBlocks * 2 * kSector;
        writeFileEntry(image.at(kPartitionStart + kMetadataFileEntry), fields);
        image.at(kPartitionStart + kMetadataExtentB + kMetadataExtentBlocks);
    }
    void writeVat() {
        Bytes table(vatHeaderLength, 0);
        put16(&table[0], uint16_t(vatHeaderLength));
        for (uint32_t entry : vat) {
            uint8_t b[4];
            put32(b, entry);
            table.insert(table.end(), b, b + 4);
        }
        uint32_t block = putData(table);
        EntrySpec fields;
        fields.informationLength = table.size();
        if (layout == Layout::VirtualLongVat) {
            fields.adType = 1;
            fields.area = longAd(uint32_t(table.size()), block, 0);
        } else {
            fields.adType = 0;
            fields.area = shortAd(uint32_t(table.size()), block);
        }
        // The VAT's entry is the last sector of the image, with the VAT's file type in its ICB tag.
        uint32_t last = image.sectors() > 2100 ? image.sectors() : 2100;
        writeFileEntry(image.at(last), fields);
        image.at(last)[16 + 11] = 248;
    }
};

// A volume over the bytes with its arena made but nothing mounted, for tests of single layers.
inline FakeDevice* attach(UdfVolume& volume, const Bytes& bytes) {
    FakeDevice* device = new FakeDevice(bytes);
    volume.image = device;
    volume.arena->arena = createArena(0x100000);
    return device;
}

inline std::unique_ptr<UdfVolume> mountBytes(const Bytes& bytes, bool* mounted,
                                             FakeDevice** device = nullptr) {
    std::unique_ptr<UdfVolume> volume(new UdfVolume());
    FakeDevice* memory = new FakeDevice(bytes);
    if (device != nullptr) {
        *device = memory;
    }
    *mounted = volume->openDevice(memory);
    return volume;
}

inline std::string childNames(const DirectoryNode* directory) {
    std::string out;
    for (const DirectoryNode* c = directory->firstChild; c != nullptr; c = c->nextSibling) {
        out += out.empty() ? "" : ",";
        out += c->name;
    }
    return out;
}

inline Bytes pattern(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        b[i] = uint8_t(seed + i * 7 + (i >> 11));
    }
    return b;
}

}  // namespace udftest
