// UDF image writer for test fixtures. The whole volume is planned first (block numbers of every
// descriptor, entry and extent), then the structural sectors are built in memory and written together with
// the file data, which is streamed from the source folder.
#include "tools/udf_image_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBlock = 2048;
constexpr uint32_t kAnchorSector = 256;
constexpr uint32_t kMainVds = 32;
constexpr uint32_t kReserveVds = 48;
constexpr uint32_t kVdsSectors = 16;
constexpr uint32_t kLvidSector = 64;
constexpr uint32_t kPartitionStart = 288;      // a start well clear of the anchor, so offsets show up
constexpr uint32_t kMaxExtent = 0x3FFFF800;    // largest whole-block length the 30-bit field can hold
constexpr uint32_t kExtentNextArea = 3u << 30; // extent type 3: the extent holds more descriptors
constexpr uint32_t kVatHeaderLength = 152;
constexpr int kMaxDepth = 64;

enum : uint16_t {
    kTagPvd = 1,
    kTagAnchor = 2,
    kTagIuvd = 4,
    kTagPd = 5,
    kTagLvd = 6,
    kTagUsd = 7,
    kTagTd = 8,
    kTagLvid = 9,
    kTagFsd = 256,
    kTagFid = 257,
    kTagAed = 258,
    kTagFe = 261,
    kTagEfe = 266,
};

enum : uint8_t {
    kFileTypeDirectory = 4,
    kFileTypeRegular = 5,
    kFileTypeVat = 248,
    kFileTypeMetadata = 250,
    kFileTypeMetadataMirror = 251,
};

enum : uint8_t { kAdShort = 0, kAdLong = 1, kAdEmbedded = 3 };

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}
void put64(uint8_t* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// memcpy of an empty vector would pass a null source.
void copyBytes(uint8_t* dest, const Bytes& from) {
    if (!from.empty()) std::memcpy(dest, from.data(), from.size());
}

uint32_t blocksFor(uint64_t bytes) { return static_cast<uint32_t>((bytes + kBlock - 1) / kBlock); }

// Fills in the 16-byte descriptor tag over a descriptor whose body is already written.
void finishTag(uint8_t* d, uint16_t id, uint16_t version, uint32_t location, size_t crcLength) {
    put16(d, id);
    put16(d + 2, version);
    d[5] = 0;
    put16(d + 6, 1);  // tag serial number
    put16(d + 8, udfCrc16(d + 16, crcLength));
    put16(d + 10, static_cast<uint32_t>(crcLength));
    put32(d + 12, location);
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i) {
        if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
    }
    d[4] = sum;
}

bool decodeUtf8(const std::string& s, std::vector<uint32_t>* out) {
    size_t i = 0;
    while (i < s.size()) {
        const uint8_t c = static_cast<uint8_t>(s[i]);
        int extra;
        uint32_t cp;
        if (c < 0x80) {
            extra = 0;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(extra) >= s.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const uint8_t cc = static_cast<uint8_t>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        out->push_back(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

// OSTA compressed unicode: compression ID 8 when every character fits a byte, else 16 (UTF-16 big-endian).
bool encodeIdentifier(const std::string& utf8, Bytes* out) {
    std::vector<uint32_t> cps;
    if (!decodeUtf8(utf8, &cps)) return false;
    const bool wide = std::any_of(cps.begin(), cps.end(), [](uint32_t c) { return c > 0xFF; });
    out->clear();
    out->push_back(wide ? 16 : 8);
    for (uint32_t c : cps) {
        if (!wide) {
            out->push_back(static_cast<uint8_t>(c));
            continue;
        }
        auto unit = [out](uint32_t u) {
            out->push_back(static_cast<uint8_t>(u >> 8));
            out->push_back(static_cast<uint8_t>(u));
        };
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return true;
}

// A fixed-size d-string: identifier, zero padding, and the used length in the last byte.
void putDstring(uint8_t* field, size_t size, const std::string& text) {
    if (text.empty()) return;  // an empty d-string is all zeros
    Bytes id;
    encodeIdentifier(text, &id);
    if (id.size() > size - 1) id.resize(size - 1);
    copyBytes(field, id);
    field[size - 1] = static_cast<uint8_t>(id.size());
}

void putCharspec(uint8_t* p) {
    p[0] = 0;  // CS0
    std::memcpy(p + 1, "OSTA Compressed Unicode", 23);
}

// Entity identifier: flags, 23-byte identifier, 8-byte suffix (UDF revision first where the suffix is UDF's).
void putEntity(uint8_t* p, const char* identifier, uint16_t udfRevision) {
    std::memcpy(p + 1, identifier, std::strlen(identifier));
    put16(p + 24, udfRevision);
}

struct Timestamp {
    uint8_t bytes[12] = {};
};

Timestamp makeTimestamp(uint32_t seed) {
    Timestamp t;
    put16(t.bytes, 0x1000);  // local time, UTC offset 0
    put16(t.bytes + 2, 2010 + seed % 20);
    t.bytes[4] = static_cast<uint8_t>(1 + (seed / 20) % 12);
    t.bytes[5] = static_cast<uint8_t>(1 + (seed / 240) % 28);
    t.bytes[6] = static_cast<uint8_t>((seed / 7) % 24);
    t.bytes[7] = static_cast<uint8_t>((seed / 3) % 60);
    t.bytes[8] = static_cast<uint8_t>((seed * 7) % 60);
    return t;
}

struct Extent {
    uint32_t block = 0;  // in the partition the descriptor form addresses
    uint32_t length = 0; // with the extent type in the top two bits
};

struct Node {
    std::string name;
    Bytes ident;
    fs::path path;
    bool isDir = false;
    uint64_t size = 0;  // file bytes, or directory data bytes
    int parent = -1;
    std::vector<int> children;
    uint64_t uniqueId = 0;
    bool embedded = false;
    uint32_t feBlock = 0;   // meta space
    uint32_t dirBlock = 0;  // meta space, directories not embedded
    std::vector<uint32_t> aedBlocks;  // meta space
    std::vector<Extent> extents;      // file data, physical partition
    uint32_t subdirs = 0;
};

uint32_t fidLength(size_t identLength) { return static_cast<uint32_t>((38 + identLength + 3) & ~size_t(3)); }

const char kDeletedName[] = "~deleted~";

struct EntryParams {
    bool extended = false;
    uint8_t fileType = 0;
    uint64_t uniqueId = 0;
    uint64_t infoLength = 0;
    uint64_t blocksRecorded = 0;
    uint16_t linkCount = 1;
    uint32_t permissions = 0;
    uint8_t adType = kAdShort;
    Bytes area;  // allocation descriptors or embedded data
};

void appendShortAd(Bytes* out, uint32_t length, uint32_t position) {
    uint8_t ad[8] = {};
    put32(ad, length);
    put32(ad + 4, position);
    out->insert(out->end(), ad, ad + 8);
}

void appendLongAd(Bytes* out, uint32_t length, uint32_t block, uint16_t partition, uint32_t uniqueId = 0) {
    uint8_t ad[16] = {};
    put32(ad, length);
    put32(ad + 4, block);
    put16(ad + 8, partition);
    put32(ad + 12, uniqueId);  // implementation use: 2 flag bytes, then the UDF unique ID
    out->insert(out->end(), ad, ad + 16);
}

class Writer {
public:
    Writer(const UdfImageOptions& o) : o_(o) {}

    bool run(const std::string& folder, const std::string& imagePath, std::string* error);

private:
    bool fail(const std::string& message) {
        error_ = message;
        return false;
    }
    bool scan(const fs::path& dir, int self, int depth);
    void plan();
    bool buildMeta();
    void buildEntry(uint8_t* dest, const EntryParams& e, uint32_t location) const;
    void buildDirectory(const Node& n, Bytes* data) const;
    void buildVolume();
    bool writeImage(const std::string& imagePath);

    uint32_t entryHeader() const { return o_.extendedFileEntries ? 216 : 176; }
    uint16_t tagVersion() const { return o_.layout == UdfLayout::Physical102 ? 2 : 3; }
    uint16_t udfRevision() const {
        switch (o_.layout) {
            case UdfLayout::Physical102: return 0x0102;
            case UdfLayout::Virtual201: return 0x0201;
            default: return 0x0250;
        }
    }
    // Directories and continuation areas live in the meta space; file data always in the physical one.
    uint16_t metaRef() const { return o_.layout == UdfLayout::Physical102 ? 0 : 1; }
    bool metaLong() const { return o_.longAllocationDescriptors; }
    bool dataLong() const { return o_.longAllocationDescriptors || o_.layout != UdfLayout::Physical102; }
    uint32_t metaToPhysical(uint32_t block) const;

    const UdfImageOptions& o_;
    std::string error_;
    Timestamp time_;
    std::vector<Node> nodes_;
    uint32_t fileCount_ = 0, dirCount_ = 0;
    uint64_t nextUniqueId_ = 0;

    // Plan, all in blocks.
    uint32_t metaBlocks_ = 0;  // M
    uint32_t fsdBlock_ = 0;
    std::vector<Extent> metaExtents_;  // Metadata250: physical extents of the metadata file
    uint32_t mirrorBlock_ = 0;
    uint32_t metaBase_ = 0;  // Physical102/Virtual201: physical block of meta block 0
    uint32_t vatDataBlock_ = 0, vatDataBlocks_ = 0, vatFeBlock_ = 0;
    bool vatEmbedded_ = false;
    uint32_t partitionLength_ = 0;
    uint32_t totalSectors_ = 0;

    Bytes meta_;                           // meta space contents, metaBlocks_ × 2048
    std::map<uint32_t, Bytes> sectors_;    // image sector → bytes (whole sectors)
};

bool Writer::scan(const fs::path& dir, int self, int depth) {
    if (depth > kMaxDepth) return fail("directory tree too deep at " + dir.string());
    std::error_code ec;
    std::vector<std::pair<std::string, fs::path>> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        entries.emplace_back(it->path().filename().u8string(), it->path());
    }
    if (ec) return fail("cannot list " + dir.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end());  // directory order must not depend on the host
    for (const auto& entry : entries) {
        Node n;
        n.name = entry.first;
        n.path = entry.second;
        n.parent = self;
        const fs::file_status st = fs::status(n.path, ec);
        if (ec) return fail("cannot stat " + n.path.string());
        if (fs::is_directory(st)) {
            n.isDir = true;
        } else if (fs::is_regular_file(st)) {
            n.size = fs::file_size(n.path, ec);
            if (ec) return fail("cannot size " + n.path.string());
        } else {
            return fail("not a regular file or directory: " + n.path.string());
        }
        if (!encodeIdentifier(n.name, &n.ident)) return fail("name is not UTF-8: " + n.path.string());
        if (n.ident.size() > 255) return fail("name too long: " + n.path.string());
        nodes_.push_back(n);
        nodes_[self].children.push_back(static_cast<int>(nodes_.size() - 1));
    }
    const std::vector<int> children = nodes_[self].children;
    for (int child : children) {
        if (!nodes_[child].isDir) continue;
        ++nodes_[self].subdirs;
        if (!scan(nodes_[child].path, child, depth + 1)) return false;
    }
    return true;
}

// Spreads COUNT allocation descriptors of AD_SIZE bytes over the entry (ENTRY_BYTES of room) and as many
// allocation extent descriptors as needed. Gives the real descriptors per area; every area but the last
// also ends with the descriptor of the next area. FORCE_SPILL moves all but the first into a continuation.
std::vector<size_t> spreadDescriptors(size_t count, size_t adSize, size_t entryBytes, bool forceSpill) {
    std::vector<size_t> areas;
    size_t room = entryBytes / adSize;
    size_t left = count;
    bool first = true;
    while (true) {
        const bool forced = first && forceSpill && left > 0;
        if (!forced && left <= room) {
            areas.push_back(left);
            return areas;
        }
        const size_t here = forced ? std::min<size_t>(left > 1 ? 1 : 0, room - 1) : room - 1;
        areas.push_back(here);
        left -= here;
        room = (kBlock - 24) / adSize;
        first = false;
    }
}

void Writer::plan() {
    nextUniqueId_ = 16 + (o_.seed % 1000) * 16;  // IDs 1 to 15 are reserved
    const uint32_t entryRoom = kBlock - entryHeader();
    for (size_t i = 0; i < nodes_.size(); ++i) {
        Node& n = nodes_[i];
        n.uniqueId = i == 0 ? 0 : nextUniqueId_++;
        if (n.isDir) {
            ++dirCount_;
            uint64_t bytes = fidLength(0);
            for (int c : n.children) bytes += fidLength(nodes_[c].ident.size());
            if (o_.addDeletedEntries) bytes += fidLength(sizeof(kDeletedName));
            n.size = bytes;
        } else {
            ++fileCount_;
        }
        n.embedded = o_.embedSmallFiles && n.size <= entryRoom;
    }

    // Meta space: the file set descriptor and its terminator, then each node in preorder with its
    // directory data or continuation areas right behind its entry.
    uint32_t next = 0;
    fsdBlock_ = next;
    next += 2;
    std::vector<int> order;
    std::vector<int> stack{0};
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        order.push_back(i);
        const auto& ch = nodes_[i].children;
        for (auto it = ch.rbegin(); it != ch.rend(); ++it) stack.push_back(*it);
    }
    const uint32_t limit = o_.maxExtentBytes ? o_.maxExtentBytes : kMaxExtent;
    std::vector<std::vector<uint32_t>> dataLengths(nodes_.size());
    for (int i : order) {
        Node& n = nodes_[i];
        n.feBlock = next++;
        if (n.isDir) {
            if (!n.embedded) {
                n.dirBlock = next;
                next += blocksFor(n.size);
            }
            continue;
        }
        if (n.embedded) continue;
        for (uint64_t left = n.size; left > 0;) {
            const uint32_t len = static_cast<uint32_t>(std::min<uint64_t>(left, limit));
            dataLengths[i].push_back(len);
            left -= len;
        }
        const size_t areas = spreadDescriptors(dataLengths[i].size(), dataLong() ? 16 : 8, entryRoom,
                                               o_.continuationArea).size();
        for (size_t k = 1; k < areas; ++k) n.aedBlocks.push_back(next++);
    }
    metaBlocks_ = next;

    uint32_t dataStart = 0;
    switch (o_.layout) {
        case UdfLayout::Physical102:
            metaBase_ = 0;
            dataStart = metaBlocks_;
            break;
        case UdfLayout::Metadata250: {
            // Blocks 0 and 1: metadata and mirror file entries; then the metadata file (possibly in two
            // pieces around the mirror), the mirror, and the file data.
            const uint32_t first = o_.metadataTwoExtents ? metaBlocks_ / 2 : metaBlocks_;
            metaExtents_.push_back({2, first * kBlock});
            mirrorBlock_ = 2 + first;
            if (first < metaBlocks_) metaExtents_.push_back({mirrorBlock_ + metaBlocks_, (metaBlocks_ - first) * kBlock});
            dataStart = 2 + 2 * metaBlocks_;
            break;
        }
        case UdfLayout::Virtual201:
            dataStart = 0;
            break;
    }

    uint32_t data = dataStart;
    for (int i : order) {
        Node& n = nodes_[i];
        for (size_t k = 0; k < dataLengths[i].size(); ++k) {
            // A gap between split extents, so a reader that runs past an extent's end reads wrong bytes.
            if (k > 0 && o_.maxExtentBytes) ++data;
            n.extents.push_back({data, dataLengths[i][k]});
            data += blocksFor(dataLengths[i][k]);
        }
    }

    // Anchors lie at 256, at the last sector less 256 and (but for write-once media, whose last sector is the
    // VAT's entry) at the last sector, as UDF records them for a reader whose sector 256 is lost.
    if (o_.layout == UdfLayout::Virtual201) {
        metaBase_ = data;
        const uint64_t vatBytes = kVatHeaderLength + 4ull * metaBlocks_;
        vatEmbedded_ = o_.embedSmallFiles && vatBytes <= entryRoom;
        vatDataBlock_ = metaBase_ + metaBlocks_;
        vatDataBlocks_ = vatEmbedded_ ? 0 : blocksFor(vatBytes);
        // The anchor at the last sector less 256 takes the first of the blocks left free before the VAT.
        vatFeBlock_ = vatDataBlock_ + vatDataBlocks_ + kAnchorSector;
        partitionLength_ = vatFeBlock_ + 1;
        totalSectors_ = kPartitionStart + partitionLength_;  // the VAT entry is the last sector
    } else {
        partitionLength_ = data;
        totalSectors_ = kPartitionStart + partitionLength_ + kAnchorSector + 1;
    }
}

uint32_t Writer::metaToPhysical(uint32_t block) const {
    if (o_.layout != UdfLayout::Metadata250) return metaBase_ + block;
    for (const Extent& e : metaExtents_) {
        const uint32_t count = e.length / kBlock;
        if (block < count) return e.block + block;
        block -= count;
    }
    return 0;
}

void Writer::buildEntry(uint8_t* d, const EntryParams& e, uint32_t location) const {
    const uint32_t header = e.extended ? 216 : 176;
    std::memset(d, 0, kBlock);
    // ICB tag: strategy 4, one entry, file type, flags (allocation descriptor type).
    put16(d + 16 + 4, 4);
    put16(d + 16 + 8, 1);
    d[16 + 11] = e.fileType;
    put16(d + 34, e.adType);
    put32(d + 36, 0xFFFFFFFF);  // uid
    put32(d + 40, 0xFFFFFFFF);  // gid
    put32(d + 44, e.permissions);
    put16(d + 48, e.linkCount);
    put64(d + 56, e.infoLength);
    if (e.extended) {
        put64(d + 64, e.infoLength);  // object size
        put64(d + 72, e.blocksRecorded);
        for (int at : {80, 92, 104, 116}) std::memcpy(d + at, time_.bytes, 12);
        put32(d + 128, 1);  // checkpoint
        putEntity(d + 168, "*tamsel", 0);
        put64(d + 200, e.uniqueId);
        put32(d + 212, static_cast<uint32_t>(e.area.size()));
    } else {
        put64(d + 64, e.blocksRecorded);
        for (int at : {72, 84, 96}) std::memcpy(d + at, time_.bytes, 12);
        put32(d + 108, 1);
        putEntity(d + 128, "*tamsel", 0);
        put64(d + 160, e.uniqueId);
        put32(d + 172, static_cast<uint32_t>(e.area.size()));
    }
    copyBytes(d + header, e.area);
    finishTag(d, e.extended ? kTagEfe : kTagFe, tagVersion(), location, header + e.area.size() - 16);
}

void Writer::buildDirectory(const Node& n, Bytes* data) const {
    const uint32_t base = n.embedded ? n.feBlock : n.dirBlock;
    auto addFid = [&](uint8_t characteristics, const Node* target, uint64_t uid, const Bytes& ident) {
        const size_t at = data->size();
        data->resize(at + fidLength(ident.size()), 0);
        uint8_t* f = data->data() + at;
        put16(f + 16, 1);  // file version number
        f[18] = characteristics;
        f[19] = static_cast<uint8_t>(ident.size());
        if (target) {
            Bytes icb;
            appendLongAd(&icb, kBlock, target->feBlock, metaRef(), static_cast<uint32_t>(uid));
            std::memcpy(f + 20, icb.data(), 16);
        }
        copyBytes(f + 38, ident);
        const uint32_t location = n.embedded ? base : base + static_cast<uint32_t>(at / kBlock);
        finishTag(f, kTagFid, tagVersion(), location, fidLength(ident.size()) - 16);
    };
    const Node& parent = nodes_[n.parent < 0 ? 0 : n.parent];
    addFid(0x0A, &parent, parent.uniqueId, Bytes());  // directory | parent
    const Bytes deletedIdent(kDeletedName, kDeletedName + sizeof(kDeletedName));
    bool deletedDone = !o_.addDeletedEntries;
    for (int c : n.children) {
        const Node& child = nodes_[c];
        addFid(child.isDir ? 0x02 : 0x00, &child, child.uniqueId, child.ident);
        if (!deletedDone) {
            addFid(0x04, nullptr, 0, deletedIdent);
            deletedDone = true;
        }
    }
    if (!deletedDone) addFid(0x04, nullptr, 0, deletedIdent);
}

bool Writer::buildMeta() {
    meta_.assign(static_cast<size_t>(metaBlocks_) * kBlock, 0);
    const uint16_t rev = udfRevision();
    const std::string volumeName = "TAMSEL";

    uint8_t* fsd = meta_.data() + fsdBlock_ * kBlock;
    std::memcpy(fsd + 16, time_.bytes, 12);
    put16(fsd + 28, 3);
    put16(fsd + 30, 3);
    put32(fsd + 32, 1);
    put32(fsd + 36, 1);
    putCharspec(fsd + 48);
    putDstring(fsd + 112, 128, volumeName);
    putCharspec(fsd + 240);
    putDstring(fsd + 304, 32, volumeName);
    Bytes root;
    appendLongAd(&root, kBlock, nodes_[0].feBlock, metaRef());
    std::memcpy(fsd + 400, root.data(), 16);
    putEntity(fsd + 416, "*OSTA UDF Compliant", rev);
    finishTag(fsd, kTagFsd, tagVersion(), fsdBlock_, 512 - 16);
    finishTag(meta_.data() + (fsdBlock_ + 1) * kBlock, kTagTd, tagVersion(), fsdBlock_ + 1, 512 - 16);

    for (const Node& n : nodes_) {
        EntryParams e;
        e.extended = o_.extendedFileEntries;
        e.uniqueId = n.uniqueId;
        e.infoLength = n.size;
        if (n.isDir) {
            e.fileType = kFileTypeDirectory;
            e.linkCount = static_cast<uint16_t>(1 + n.subdirs);
            e.permissions = 0x14A5;  // read and execute for everyone
            Bytes dir;
            buildDirectory(n, &dir);
            if (n.embedded) {
                e.adType = kAdEmbedded;
                e.area = dir;
            } else {
                copyBytes(meta_.data() + static_cast<size_t>(n.dirBlock) * kBlock, dir);
                e.blocksRecorded = blocksFor(dir.size());
                e.adType = metaLong() ? kAdLong : kAdShort;
                if (metaLong()) {
                    appendLongAd(&e.area, static_cast<uint32_t>(dir.size()), n.dirBlock, metaRef());
                } else {
                    appendShortAd(&e.area, static_cast<uint32_t>(dir.size()), n.dirBlock);
                }
            }
        } else {
            e.fileType = kFileTypeRegular;
            e.permissions = 0x1084;  // read for everyone
            if (n.embedded) {
                e.adType = kAdEmbedded;
                e.area.resize(static_cast<size_t>(n.size));
                std::ifstream in(n.path, std::ios::binary);
                in.read(reinterpret_cast<char*>(e.area.data()), static_cast<std::streamsize>(n.size));
                if (!in && n.size > 0) return fail("cannot read " + n.path.string());
            } else {
                const bool lng = dataLong();
                e.adType = lng ? kAdLong : kAdShort;
                auto add = [&](Bytes* out, const Extent& x, bool inMeta) {
                    if (lng) {
                        appendLongAd(out, x.length, x.block, inMeta ? metaRef() : 0);
                    } else {
                        appendShortAd(out, x.length, x.block);
                    }
                };
                for (const Extent& x : n.extents) e.blocksRecorded += blocksFor(x.length);
                const std::vector<size_t> areas = spreadDescriptors(
                    n.extents.size(), lng ? 16 : 8, kBlock - entryHeader(), o_.continuationArea);
                size_t k = 0;
                for (size_t j = 0; j < areas[0]; ++j) add(&e.area, n.extents[k++], false);
                if (areas.size() > 1) add(&e.area, Extent{n.aedBlocks[0], kExtentNextArea | kBlock}, true);
                for (size_t a = 1; a < areas.size(); ++a) {
                    Bytes ads;
                    for (size_t j = 0; j < areas[a]; ++j) add(&ads, n.extents[k++], false);
                    if (a + 1 < areas.size()) add(&ads, Extent{n.aedBlocks[a], kExtentNextArea | kBlock}, true);
                    const uint32_t block = n.aedBlocks[a - 1];
                    uint8_t* d = meta_.data() + static_cast<size_t>(block) * kBlock;
                    put32(d + 20, static_cast<uint32_t>(ads.size()));
                    copyBytes(d + 24, ads);
                    finishTag(d, kTagAed, tagVersion(), block, 8 + ads.size());
                }
            }
        }
        buildEntry(meta_.data() + static_cast<size_t>(n.feBlock) * kBlock, e, n.feBlock);
    }
    return true;
}

void Writer::buildVolume() {
    const uint16_t rev = udfRevision();
    const uint16_t ver = tagVersion();
    const std::string volumeName = "TAMSEL";
    auto sector = [this](uint32_t s) {
        Bytes& b = sectors_[s];
        b.assign(kBlock, 0);
        return b.data();
    };

    const char* vrs[3] = {"BEA01", o_.layout == UdfLayout::Physical102 ? "NSR02" : "NSR03", "TEA01"};
    for (uint32_t i = 0; i < 3; ++i) {
        uint8_t* d = sector(16 + i);
        std::memcpy(d + 1, vrs[i], 5);
        d[6] = 1;  // structure version
    }

    char volumeSet[17];
    std::snprintf(volumeSet, sizeof volumeSet, "%08X%08X", o_.seed * 2654435761u, o_.seed ^ 0x5A17C0DEu);
    const bool virtualLayout = o_.layout == UdfLayout::Virtual201;
    for (uint32_t base : {kMainVds, kReserveVds}) {
        uint32_t s = base;
        uint32_t vdsn = 1;

        uint8_t* d = sector(s);
        put32(d + 16, vdsn++);
        putDstring(d + 24, 32, volumeName);
        put16(d + 56, 1);
        put16(d + 58, 1);
        put16(d + 60, 2);
        put16(d + 62, 2);
        put32(d + 64, 1);
        put32(d + 68, 1);
        putDstring(d + 72, 128, std::string(volumeSet) + volumeName);
        putCharspec(d + 200);
        putCharspec(d + 264);
        putEntity(d + 344, "*tamsel", 0);
        std::memcpy(d + 376, time_.bytes, 12);
        putEntity(d + 388, "*tamsel", 0);
        finishTag(d, kTagPvd, ver, s, 512 - 16);

        d = sector(++s);
        put32(d + 16, vdsn++);
        putEntity(d + 20, "*UDF LV Info", rev);
        putCharspec(d + 52);
        putDstring(d + 116, 128, volumeName);
        putEntity(d + 352, "*tamsel", 0);
        finishTag(d, kTagIuvd, ver, s, 512 - 16);

        d = sector(++s);
        put32(d + 16, vdsn++);
        put16(d + 20, 1);  // allocated
        put16(d + 22, 0);  // partition number
        putEntity(d + 24, o_.layout == UdfLayout::Physical102 ? "+NSR02" : "+NSR03", 0);
        put32(d + 184, virtualLayout ? 2 : 1);  // write-once or read-only
        put32(d + 188, kPartitionStart);
        put32(d + 192, partitionLength_);
        putEntity(d + 196, "*tamsel", 0);
        finishTag(d, kTagPd, ver, s, 512 - 16);

        d = sector(++s);
        put32(d + 16, vdsn++);
        putCharspec(d + 20);
        putDstring(d + 84, 128, volumeName);
        put32(d + 212, kBlock);
        putEntity(d + 216, "*OSTA UDF Compliant", rev);
        Bytes fsd;
        appendLongAd(&fsd, kBlock, fsdBlock_, metaRef());
        std::memcpy(d + 248, fsd.data(), 16);
        putEntity(d + 272, "*tamsel", 0);
        put32(d + 432, 2 * kBlock);
        put32(d + 436, kLvidSector);
        uint8_t* m = d + 440;
        m[0] = 1;
        m[1] = 6;
        put16(m + 2, 1);  // volume sequence number
        put16(m + 4, 0);  // partition number
        uint32_t mapBytes = 6;
        if (o_.layout != UdfLayout::Physical102) {
            m += 6;
            m[0] = 2;
            m[1] = 64;
            put16(m + 36, 1);
            put16(m + 38, 0);
            if (virtualLayout) {
                putEntity(m + 4, "*UDF Virtual Partition", rev);
            } else {
                putEntity(m + 4, "*UDF Metadata Partition", rev);
                put32(m + 40, 0);           // metadata file entry
                put32(m + 44, 1);           // mirror file entry
                put32(m + 48, 0xFFFFFFFF);  // no bitmap: the volume is read-only
                put32(m + 52, 32);          // allocation unit, blocks
                put16(m + 56, 32);          // alignment unit, blocks
                m[58] = 1;                  // the mirror duplicates the metadata
            }
            mapBytes += 64;
        }
        put32(d + 264, mapBytes);
        put32(d + 268, mapBytes == 6 ? 1 : 2);
        finishTag(d, kTagLvd, ver, s, 440 + mapBytes - 16);

        d = sector(++s);
        put32(d + 16, vdsn++);
        finishTag(d, kTagUsd, ver, s, 24 - 16);

        d = sector(++s);
        finishTag(d, kTagTd, ver, s, 512 - 16);
    }

    const uint32_t maps = o_.layout == UdfLayout::Physical102 ? 1 : 2;
    uint8_t* d = sector(kLvidSector);
    std::memcpy(d + 16, time_.bytes, 12);
    put32(d + 28, 1);  // closed
    put64(d + 40, nextUniqueId_);
    put32(d + 72, maps);
    put32(d + 76, 46);
    put32(d + 80 + 4 * maps, partitionLength_);
    if (maps == 2) put32(d + 84 + 4 * maps, metaBlocks_);
    uint8_t* iu = d + 80 + 8 * maps;
    putEntity(iu, "*tamsel", 0);
    put32(iu + 32, fileCount_);
    put32(iu + 36, dirCount_);
    put16(iu + 40, rev);
    put16(iu + 42, rev);
    put16(iu + 44, rev);
    finishTag(d, kTagLvid, ver, kLvidSector, 80 + 8 * maps + 46 - 16);
    finishTag(sector(kLvidSector + 1), kTagTd, ver, kLvidSector + 1, 512 - 16);

    std::vector<uint32_t> anchors{kAnchorSector, totalSectors_ - 1 - kAnchorSector};
    if (!virtualLayout) anchors.push_back(totalSectors_ - 1);
    for (uint32_t s : anchors) {
        d = sector(s);
        put32(d + 16, kVdsSectors * kBlock);
        put32(d + 20, kMainVds);
        put32(d + 24, kVdsSectors * kBlock);
        put32(d + 28, kReserveVds);
        finishTag(d, kTagAnchor, ver, s, 512 - 16);
    }

    auto placeMeta = [&](uint32_t physicalBlock, uint32_t metaBlock) {
        uint8_t* p = sector(kPartitionStart + physicalBlock);
        std::memcpy(p, meta_.data() + static_cast<size_t>(metaBlock) * kBlock, kBlock);
    };
    for (uint32_t b = 0; b < metaBlocks_; ++b) {
        placeMeta(metaToPhysical(b), b);
        if (o_.layout == UdfLayout::Metadata250) placeMeta(mirrorBlock_ + b, b);
    }

    EntryParams e;
    e.extended = o_.extendedFileEntries;
    if (o_.layout == UdfLayout::Metadata250) {
        e.extended = true;  // UDF 2.50 records the metadata file and its mirror only in extended entries
        e.infoLength = static_cast<uint64_t>(metaBlocks_) * kBlock;
        e.blocksRecorded = metaBlocks_;
        e.fileType = kFileTypeMetadata;
        for (const Extent& x : metaExtents_) appendShortAd(&e.area, x.length, x.block);
        buildEntry(sector(kPartitionStart), e, 0);
        e.fileType = kFileTypeMetadataMirror;
        e.area.clear();
        appendShortAd(&e.area, metaBlocks_ * kBlock, mirrorBlock_);
        buildEntry(sector(kPartitionStart + 1), e, 1);
    } else if (virtualLayout) {
        Bytes vat(kVatHeaderLength + 4 * static_cast<size_t>(metaBlocks_), 0);
        put16(vat.data(), kVatHeaderLength);
        putDstring(vat.data() + 4, 128, volumeName);
        put32(vat.data() + 132, 0xFFFFFFFF);  // no previous VAT
        put32(vat.data() + 136, fileCount_);
        put32(vat.data() + 140, dirCount_);
        put16(vat.data() + 144, rev);
        put16(vat.data() + 146, rev);
        put16(vat.data() + 148, rev);
        for (uint32_t v = 0; v < metaBlocks_; ++v) put32(vat.data() + kVatHeaderLength + 4 * v, metaBase_ + v);
        e.fileType = kFileTypeVat;
        e.infoLength = vat.size();
        if (vatEmbedded_) {
            e.adType = kAdEmbedded;
            e.area = vat;
        } else {
            e.blocksRecorded = vatDataBlocks_;
            for (uint32_t b = 0; b < vatDataBlocks_; ++b) {
                const size_t from = static_cast<size_t>(b) * kBlock;
                uint8_t* p = sector(kPartitionStart + vatDataBlock_ + b);
                std::memcpy(p, vat.data() + from, std::min<size_t>(kBlock, vat.size() - from));
            }
            if (o_.longAllocationDescriptors) {
                e.adType = kAdLong;
                appendLongAd(&e.area, static_cast<uint32_t>(vat.size()), vatDataBlock_, 0);
            } else {
                e.adType = kAdShort;
                appendShortAd(&e.area, static_cast<uint32_t>(vat.size()), vatDataBlock_);
            }
        }
        buildEntry(sector(kPartitionStart + vatFeBlock_), e, vatFeBlock_);
    }
}

bool Writer::writeImage(const std::string& imagePath) {
    std::ofstream out(imagePath, std::ios::binary | std::ios::trunc);
    if (!out) return fail("cannot create " + imagePath);
    for (const auto& s : sectors_) {
        out.seekp(static_cast<std::streamoff>(s.first) * kBlock);
        out.write(reinterpret_cast<const char*>(s.second.data()), static_cast<std::streamsize>(s.second.size()));
    }
    std::vector<char> chunk(1 << 20);
    for (const Node& n : nodes_) {
        if (n.extents.empty()) continue;
        std::ifstream in(n.path, std::ios::binary);
        for (const Extent& x : n.extents) {
            out.seekp(static_cast<std::streamoff>(kPartitionStart + x.block) * kBlock);
            for (uint32_t left = x.length; left > 0;) {
                const uint32_t len = std::min<uint32_t>(left, static_cast<uint32_t>(chunk.size()));
                in.read(chunk.data(), len);
                if (in.gcount() != static_cast<std::streamsize>(len)) return fail("cannot read " + n.path.string());
                out.write(chunk.data(), len);
                left -= len;
            }
        }
    }
    out.close();
    if (!out) return fail("cannot write " + imagePath);
    return true;
}

bool Writer::run(const std::string& folder, const std::string& imagePath, std::string* error) {
    const bool ok = [&] {
        if (o_.maxExtentBytes % kBlock != 0 || o_.maxExtentBytes > kMaxExtent) {
            return fail("maxExtentBytes must be a multiple of 2048 below 1 GiB");
        }
        if (o_.metadataTwoExtents && o_.layout != UdfLayout::Metadata250) {
            return fail("metadataTwoExtents needs the Metadata250 layout");
        }
        std::error_code ec;
        if (!fs::is_directory(fs::u8path(folder), ec)) return fail("not a directory: " + folder);
        time_ = makeTimestamp(o_.seed);
        Node root;
        root.isDir = true;
        root.path = fs::u8path(folder);
        nodes_.push_back(root);
        if (!scan(root.path, 0, 0)) return false;
        plan();
        for (const Node& n : nodes_) {
            if (n.isDir && n.size > kMaxExtent) return fail("directory too large: " + n.path.string());
        }
        return buildMeta() && (buildVolume(), true) && writeImage(imagePath);
    }();
    if (!ok && error) *error = error_;
    return ok;
}

}  // namespace

bool writeUdfImage(const std::string& folder, const std::string& imagePath, const UdfImageOptions& options,
                   std::string* error) {
    Writer writer(options);
    return writer.run(folder, imagePath, error);
}

uint16_t udfCrc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int b = 0; b < 8; ++b) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}
