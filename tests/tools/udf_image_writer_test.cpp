// Tests of the UDF image writer. Images are checked by readers written elsewhere (7-Zip, libudfread,
// udfclient), each on the layouts it handles, and by a small inspector here for the structures that lenient
// readers would accept either way (which kind of entry, descriptor or name form an option asks for).
#include "tools/udf_image_writer.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Tree = std::map<std::string, std::string>;  // relative path → contents, or "<dir>"

const fs::path kSourceDir = fs::path(__FILE__).parent_path().parent_path().parent_path();

// Distinguishes this process's scratch names from those of other test processes running at the same time.
const std::string& processTag() {
    static const std::string tag = std::to_string(std::random_device{}());
    return tag;
}

class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("tamsel_udfw_" + processTag() + "_" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        // udfclient leaves read-only directories behind.
        for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(path_, ec);
    }
    fs::path operator/(const std::string& name) const { return path_ / fs::u8path(name); }

private:
    fs::path path_;
};

bool haveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

int shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string quote(const fs::path& p) { return "'" + p.u8string() + "'"; }

std::string pattern(size_t size, uint32_t seed) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

void writeFile(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// A small disc: content files, clips of awkward sizes, an empty file, a nested directory, a directory whose
// data spans several blocks and, unless ASCII_ONLY, an 8-bit name above 0x7F and 16-bit names.
void makeTree(const fs::path& root, bool asciiOnly) {
    writeFile(root / "AACS/Content000.cer", pattern(5000, 1));
    writeFile(root / "AACS/ContentHash000.tbl", pattern(300, 2));
    writeFile(root / "BDMV/STREAM/00001.m2ts", pattern(600001, 3));
    writeFile(root / "BDMV/STREAM/00002.m2ts", pattern(3 * 2048, 4));
    writeFile(root / "BDMV/index.bdmv", pattern(1, 5));
    writeFile(root / "empty", "");
    writeFile(root / "a/b/c/deep.txt", "deep\n");
    for (int i = 0; i < 40; ++i) {
        writeFile(root / ("many/file_with_a_rather_long_name_" + std::to_string(i) + ".bin"), pattern(i * 37, 10 + i));
    }
    if (!asciiOnly) {
        writeFile(root / fs::u8path("Ünï/é4096"), pattern(4096, 6));
        writeFile(root / fs::u8path("日本/テスト.bin"), pattern(2500, 7));
        writeFile(root / fs::u8path("日本/mixed_é_字"), pattern(20, 8));
    }
}

Tree readTree(const fs::path& root) {
    Tree t;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
        const std::string rel = fs::relative(it->path(), root).u8string();
        if (it->is_directory()) {
            t[rel] = "<dir>";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            t[rel] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return t;
}

Bytes readBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

enum Reader { kSevenZip = 1, kUdfread = 2, kUdfclient = 4 };

// Extracts IMAGE into OUT with one reader; false when the reader is missing (reason in *skip) or fails.
bool extract(Reader reader, const fs::path& image, const fs::path& out, std::string* skip) {
    fs::create_directories(out);
    switch (reader) {
        case kSevenZip:
            if (!haveTool("7zz")) return *skip = "7zz missing", false;
            return shell("LANG=C.UTF-8 7zz x -tudf -y -o" + quote(out) + " " + quote(image)) == 0;
        case kUdfread: {
            // Built once per test process and removed when the process ends.
            static struct BuiltTool {
                std::string path;
                ~BuiltTool() {
                    std::error_code ec;
                    if (!path.empty()) fs::remove(path, ec);
                }
            } built;
            std::string& tool = built.path;
            if (tool.empty()) {
                const fs::path src = kSourceDir / "scripts/udfread_dump.c";
                const fs::path bin = fs::temp_directory_path() / ("tamsel_udfread_dump_" + processTag());
                if (!fs::exists("/usr/include/udfread/udfread.h") || !fs::exists(src) ||
                    shell("cc -O2 -o " + quote(bin) + " " + quote(src) + " -ludfread") != 0) {
                    return *skip = "libudfread not available", false;
                }
                tool = bin.string();
            }
            return shell(quote(tool) + " " + quote(image) + " " + quote(out)) == 0;
        }
        case kUdfclient:
            if (!haveTool("udfclient")) return *skip = "udfclient missing", false;
            return shell("sh " + quote(kSourceDir / "scripts/udfclient_extract.sh") + " " + quote(image) + " " +
                         quote(out)) == 0;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------------
// A minimal inspector: finds an entry by path and shows its raw structures.

uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t le32(const uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }
uint64_t le64(const uint8_t* p) { return le32(p) | (uint64_t(le32(p + 4)) << 32); }

// True when the tag's checksum and CRC hold over the AVAILABLE bytes.
bool tagSound(const uint8_t* d, size_t available) {
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i) {
        if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
    }
    const uint32_t crcLength = le16(d + 10);
    return sum == d[4] && 16 + crcLength <= available && udfCrc16(d + 16, crcLength) == le16(d + 8);
}

struct Ad {
    uint32_t length;  // with type bits
    uint32_t block;
    uint16_t ref;
};

struct Entry {
    const uint8_t* d = nullptr;
    uint16_t ref = 0;  // partition the entry was read from
    uint16_t tag = 0;
    uint8_t adType = 0;
    uint8_t fileType = 0;
    uint64_t size = 0;
    const uint8_t* area = nullptr;
    uint32_t areaLength = 0;
};

struct Fid {
    uint8_t characteristics;
    Ad icb;
    Bytes ident;
};

class Inspector {
public:
    explicit Inspector(const fs::path& image) : img_(readBytes(image)) {
        const uint8_t* anchor = sector(256);
        if (!anchor || le16(anchor) != 2) return;
        for (uint32_t s = le32(anchor + 20), n = 0; n < 16; ++n, ++s) {
            const uint8_t* d = sector(s);
            if (!d) return;
            if (le16(d) == 5) partStart_ = le32(d + 188);
            if (le16(d) == 6) lvd_ = d;
            if (le16(d) == 8) break;
        }
        if (!lvd_) return;
        const uint8_t* m = lvd_ + 440;
        for (uint32_t k = 0; k < le32(lvd_ + 268); ++k, m += m[1]) {
            const std::string id(reinterpret_cast<const char*>(m) + 5, 23);
            kinds_.push_back(m[0] == 1                                             ? 'P'
                             : id == std::string("*UDF Metadata Partition", 23)    ? 'M'
                             : id.compare(0, 22, "*UDF Virtual Partition") == 0 ? 'V'
                                                                                   : '?');
            if (kinds_.back() == 'M') metaEntry_ = sector(partStart_ + le32(m + 40));
        }
        if (metaEntry_) {
            const Entry e = parse(metaEntry_, 0);
            for (uint32_t i = 0; i + 8 <= e.areaLength; i += 8) {
                metaRuns_.push_back({le32(e.area + i), le32(e.area + i + 4), 0});
            }
        }
        if (std::find(kinds_.begin(), kinds_.end(), 'V') != kinds_.end()) {
            vatEntry_ = parse(sector(sectors() - 1), 0);
            const Bytes vat = data(vatEntry_);
            for (size_t i = le16(vat.data()); i + 4 <= vat.size(); i += 4) vat_.push_back(le32(vat.data() + i));
        }
        const uint8_t* fsd = block(le16(lvd_ + 256), le32(lvd_ + 252));
        if (fsd) root_ = entryAt({le32(fsd + 400), le32(fsd + 404), static_cast<uint16_t>(le16(fsd + 408))});
    }

    uint32_t sectors() const { return static_cast<uint32_t>(img_.size() / 2048); }
    const uint8_t* sector(uint32_t s) const { return s < sectors() ? img_.data() + size_t(s) * 2048 : nullptr; }
    const std::vector<char>& kinds() const { return kinds_; }
    const std::vector<Ad>& metaRuns() const { return metaRuns_; }
    const Entry& vatEntry() const { return vatEntry_; }
    const std::vector<uint32_t>& vat() const { return vat_; }
    const uint8_t* metaEntry() const { return metaEntry_; }

    const uint8_t* block(uint16_t ref, uint32_t b) const {
        if (ref >= kinds_.size()) return nullptr;
        if (kinds_[ref] == 'P') return sector(partStart_ + b);
        if (kinds_[ref] == 'V') return b < vat_.size() ? sector(partStart_ + vat_[b]) : nullptr;
        for (const Ad& run : metaRuns_) {
            const uint32_t count = run.length / 2048;
            if (b < count) return sector(partStart_ + run.block + b);
            b -= count;
        }
        return nullptr;
    }

    Entry parse(const uint8_t* d, uint16_t ref) const {
        Entry e;
        if (!d) return e;
        e.d = d;
        e.ref = ref;
        e.tag = static_cast<uint16_t>(le16(d));
        e.adType = d[34] & 7;
        e.fileType = d[27];
        e.size = le64(d + 56);
        const uint32_t header = e.tag == 266 ? 216 : 176;
        e.areaLength = le32(d + header - 4);
        e.area = d + header + le32(d + header - 8);
        return e;
    }
    Entry entryAt(const Ad& icb) const { return parse(block(icb.ref, icb.block), icb.ref); }

    // The allocation descriptors of an entry, continuation areas followed; AREAS counts those.
    std::vector<Ad> ads(const Entry& e, int* areas = nullptr) const {
        std::vector<Ad> out;
        walkAds(e.area, e.areaLength, e.adType, e.ref, &out, areas, 0);
        return out;
    }

    Bytes data(const Entry& e) const {
        if (e.adType == 3) return Bytes(e.area, e.area + e.areaLength);
        Bytes out;
        for (const Ad& ad : ads(e)) {
            for (uint32_t off = 0; off < (ad.length & 0x3FFFFFFF); off += 2048) {
                const uint8_t* b = block(ad.ref, ad.block + off / 2048);
                if (!b) return Bytes();
                out.insert(out.end(), b, b + std::min<uint32_t>(2048, (ad.length & 0x3FFFFFFF) - off));
            }
        }
        out.resize(std::min<size_t>(out.size(), e.size));
        return out;
    }

    std::vector<Fid> fids(const Entry& dir) const {
        std::vector<Fid> out;
        const Bytes d = data(dir);
        for (size_t at = 0; at + 38 <= d.size();) {
            const uint8_t* f = d.data() + at;
            const size_t length = (38 + le16(f + 36) + f[19] + 3) & ~size_t(3);
            if (le16(f) != 257 || !tagSound(f, d.size() - at)) break;
            const uint8_t* id = f + 38 + le16(f + 36);
            out.push_back({f[18], {le32(f + 20), le32(f + 24), static_cast<uint16_t>(le16(f + 28))},
                           Bytes(id, id + f[19])});
            at += length;
        }
        return out;
    }

    // Finds a path of raw identifiers (compression ID included) from the root.
    bool find(const std::vector<Bytes>& path, Entry* out, Fid* fid = nullptr) const {
        Entry cur = root_;
        for (const Bytes& name : path) {
            bool found = false;
            for (const Fid& f : fids(cur)) {
                if (f.ident == name && !(f.characteristics & 4)) {
                    cur = entryAt(f.icb);
                    if (fid) *fid = f;
                    found = true;
                    break;
                }
            }
            if (!found) return false;
        }
        *out = cur;
        return cur.d != nullptr;
    }
    const Entry& root() const { return root_; }

private:
    void walkAds(const uint8_t* p, uint32_t length, uint8_t type, uint16_t ref, std::vector<Ad>* out, int* areas,
                 int depth) const {
        const uint32_t size = type == 0 ? 8 : type == 1 ? 16 : 0;
        if (!size || depth > 16) return;
        for (uint32_t i = 0; i + size <= length; i += size) {
            Ad ad{le32(p + i), le32(p + i + 4), type == 1 ? static_cast<uint16_t>(le16(p + i + 8)) : ref};
            if ((ad.length >> 30) == 3) {
                const uint8_t* aed = block(ad.ref, ad.block);
                if (!aed || le16(aed) != 258 || !tagSound(aed, 2048)) return;
                if (areas) ++*areas;
                walkAds(aed + 24, le32(aed + 20), type, ad.ref, out, areas, depth + 1);
            } else if (ad.length != 0) {
                out->push_back(ad);
            }
        }
    }

    Bytes img_;
    uint32_t partStart_ = 0;
    const uint8_t* lvd_ = nullptr;
    std::vector<char> kinds_;
    const uint8_t* metaEntry_ = nullptr;
    std::vector<Ad> metaRuns_;
    Entry vatEntry_;
    std::vector<uint32_t> vat_;
    Entry root_;
};

Bytes id8(const std::string& latin1) {
    // Built in one piece: inserting into a one-byte vector trips a false array-bounds warning in GCC 12.
    Bytes b(latin1.size() + 1);
    b[0] = 8;
    std::copy(latin1.begin(), latin1.end(), b.begin() + 1);
    return b;
}

std::vector<Bytes> path8(std::initializer_list<const char*> parts) {
    std::vector<Bytes> out;
    for (const char* p : parts) out.push_back(id8(p));
    return out;
}

UdfImageOptions layoutOptions(UdfLayout layout) {
    UdfImageOptions o;
    o.layout = layout;
    return o;
}

// ---------------------------------------------------------------------------------------------------------

TEST(UdfCrc16, MatchesTheStandardsExampleAndDetectsChanges) {
    const uint8_t example[] = {0x70, 0x6A, 0x77};  // ECMA-167's worked example: CRC 0x3299
    EXPECT_EQ(udfCrc16(example, 3), 0x3299);
    EXPECT_EQ(udfCrc16(example, 0), 0);
    const uint8_t changed[] = {0x70, 0x6A, 0x76};
    EXPECT_NE(udfCrc16(changed, 3), 0x3299);
}

struct RoundTripCase {
    const char* name;
    UdfImageOptions options;
    int readers;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

UdfImageOptions with(UdfLayout layout, void (*tweak)(UdfImageOptions&)) {
    UdfImageOptions o = layoutOptions(layout);
    tweak(o);
    return o;
}

void plain(UdfImageOptions&) {}
void efe(UdfImageOptions& o) { o.extendedFileEntries = true; }
void longAds(UdfImageOptions& o) { o.longAllocationDescriptors = true; }
void embed(UdfImageOptions& o) { o.embedSmallFiles = true; }
void continuation(UdfImageOptions& o) { o.continuationArea = true; }
void smallExtents(UdfImageOptions& o) { o.maxExtentBytes = 8192; }
void deleted(UdfImageOptions& o) { o.addDeletedEntries = true; }
void twoExtents(UdfImageOptions& o) { o.metadataTwoExtents = true; }
void everything(UdfImageOptions& o) {
    o.extendedFileEntries = o.longAllocationDescriptors = o.embedSmallFiles = true;
    o.continuationArea = o.addDeletedEntries = true;
    o.maxExtentBytes = 2048;  // long descriptors of 300 extents need a chain of continuation areas
    o.seed = 77;
}

// Which independent reader can read what: 7-Zip follows neither continuation areas nor a VAT nor a
// metadata file of several extents; libudfread follows continuation areas but no VAT nor split metadata
// file; udfclient reads all of them but only keeps ASCII names.
constexpr int kAll = kSevenZip | kUdfread | kUdfclient;
constexpr int kNo7z = kUdfread | kUdfclient;

const RoundTripCase kRoundTrips[] = {
    {"Metadata250", with(UdfLayout::Metadata250, plain), kAll},
    {"Metadata250Efe", with(UdfLayout::Metadata250, efe), kAll},
    {"Metadata250LongAds", with(UdfLayout::Metadata250, longAds), kAll},
    {"Metadata250Embedded", with(UdfLayout::Metadata250, embed), kAll},
    {"Metadata250Continuation", with(UdfLayout::Metadata250, continuation), kNo7z},
    {"Metadata250SmallExtents", with(UdfLayout::Metadata250, smallExtents), kNo7z},
    {"Metadata250Deleted", with(UdfLayout::Metadata250, deleted), kAll},
    {"Metadata250TwoExtents", with(UdfLayout::Metadata250, twoExtents), kUdfclient},
    {"Metadata250Everything", with(UdfLayout::Metadata250, everything), kNo7z},
    {"Physical102", with(UdfLayout::Physical102, plain), kAll},
    {"Physical102Efe", with(UdfLayout::Physical102, efe), kAll},
    {"Physical102LongAds", with(UdfLayout::Physical102, longAds), kAll},
    {"Physical102Embedded", with(UdfLayout::Physical102, embed), kAll},
    {"Physical102Continuation", with(UdfLayout::Physical102, continuation), kNo7z},
    {"Physical102SmallExtents", with(UdfLayout::Physical102, smallExtents), kAll},
    {"Physical102Deleted", with(UdfLayout::Physical102, deleted), kAll},
    {"Physical102Everything", with(UdfLayout::Physical102, everything), kNo7z},
    {"Virtual201", with(UdfLayout::Virtual201, plain), kUdfclient},
    {"Virtual201Efe", with(UdfLayout::Virtual201, efe), kUdfclient},
    {"Virtual201LongAds", with(UdfLayout::Virtual201, longAds), kUdfclient},
    {"Virtual201Embedded", with(UdfLayout::Virtual201, embed), kUdfclient},
    {"Virtual201Continuation", with(UdfLayout::Virtual201, continuation), kUdfclient},
    {"Virtual201SmallExtents", with(UdfLayout::Virtual201, smallExtents), kUdfclient},
    {"Virtual201Deleted", with(UdfLayout::Virtual201, deleted), kUdfclient},
    {"Virtual201Everything", with(UdfLayout::Virtual201, everything), kUdfclient},
};

class UdfImageRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(UdfImageRoundTrip, IndependentReadersExtractTheFolder) {
    const RoundTripCase& c = GetParam();
    TempDir tmp;
    std::string skipped;
    int checked = 0;
    for (Reader reader : {kSevenZip, kUdfread, kUdfclient}) {
        if (!(c.readers & reader)) continue;
        const bool ascii = reader == kUdfclient;
        const std::string tag = std::to_string(reader);
        const fs::path folder = tmp / ("src" + tag), image = tmp / ("img" + tag), out = tmp / ("out" + tag);
        makeTree(folder, ascii);
        std::string error;
        ASSERT_TRUE(writeUdfImage(folder.u8string(), image.u8string(), c.options, &error)) << error;
        std::string why;
        const bool ok = extract(reader, image, out, &why);
        if (!why.empty()) {
            skipped += why + "; ";
            continue;
        }
        EXPECT_TRUE(ok) << "reader " << reader << " failed on " << c.name;
        EXPECT_EQ(readTree(out), readTree(folder)) << "reader " << reader << " on " << c.name;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << skipped;
}

INSTANTIATE_TEST_SUITE_P(Layouts, UdfImageRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTripCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------------------

class UdfImageStructure : public testing::Test {
protected:
    void SetUp() override { makeTree(tmp_ / "src", false); }
    Inspector write(const UdfImageOptions& o) {
        const fs::path image = tmp_ / ("img" + std::to_string(count_++));
        std::string error;
        EXPECT_TRUE(writeUdfImage((tmp_ / "src").u8string(), image.u8string(), o, &error)) << error;
        return Inspector(image);
    }
    TempDir tmp_;
    int count_ = 0;
};

TEST_F(UdfImageStructure, LayoutsRecordTheirRecognitionAndPartitionMaps) {
    struct {
        UdfLayout layout;
        const char* nsr;
        std::vector<char> maps;
    } cases[] = {{UdfLayout::Metadata250, "NSR03", {'P', 'M'}},
                 {UdfLayout::Physical102, "NSR02", {'P'}},
                 {UdfLayout::Virtual201, "NSR03", {'P', 'V'}}};
    for (const auto& c : cases) {
        const Inspector in = write(layoutOptions(c.layout));
        ASSERT_NE(in.sector(17), nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.sector(17)) + 1, 5), c.nsr);
        EXPECT_EQ(in.kinds(), c.maps);
        ASSERT_NE(in.root().d, nullptr);
        EXPECT_TRUE(tagSound(in.root().d, 2048));
        Entry e;
        ASSERT_TRUE(in.find(path8({"BDMV", "STREAM", "00001.m2ts"}), &e));
        EXPECT_EQ(e.size, 600001u);
    }
}

TEST_F(UdfImageStructure, VatFileEntryIsTheLastSectorAndMapsEveryEntry) {
    for (auto tweak : {plain, embed, longAds}) {
        const Inspector in = write(with(UdfLayout::Virtual201, tweak));
        const Entry& vat = in.vatEntry();
        ASSERT_NE(vat.d, nullptr);
        EXPECT_EQ(vat.tag, 261);
        EXPECT_TRUE(tagSound(vat.d, 2048));
        EXPECT_EQ(vat.fileType, 248);
        EXPECT_EQ(vat.adType, tweak == embed ? 3 : tweak == longAds ? 1 : 0);
        EXPECT_EQ(le16(in.data(vat).data()), 152u);  // header length of the 2.00 VAT
        // Every directory member resolves through the VAT to a sound entry away from its virtual number.
        Entry dir;
        ASSERT_TRUE(in.find(path8({"many"}), &dir));
        for (const Fid& f : in.fids(dir)) {
            if (f.ident.empty()) continue;
            ASSERT_LT(f.icb.block, in.vat().size());
            EXPECT_NE(in.vat()[f.icb.block], f.icb.block);
            EXPECT_EQ(f.icb.ref, 1);
            EXPECT_TRUE(tagSound(in.entryAt(f.icb).d, 2048));
        }
    }
}

TEST_F(UdfImageStructure, EntryKindAndDescriptorFormFollowTheOptions) {
    struct {
        UdfLayout layout;
        void (*tweak)(UdfImageOptions&);
        uint16_t tag;
        uint8_t dirAds;
        uint8_t fileAds;
    } cases[] = {
        {UdfLayout::Physical102, plain, 261, 0, 0},   {UdfLayout::Physical102, longAds, 261, 1, 1},
        {UdfLayout::Physical102, efe, 266, 0, 0},     {UdfLayout::Metadata250, plain, 261, 0, 1},
        {UdfLayout::Metadata250, longAds, 261, 1, 1}, {UdfLayout::Metadata250, efe, 266, 0, 1},
        {UdfLayout::Virtual201, plain, 261, 0, 1},    {UdfLayout::Virtual201, efe, 266, 0, 1},
    };
    for (const auto& c : cases) {
        const Inspector in = write(with(c.layout, c.tweak));
        Entry dir, file;
        ASSERT_TRUE(in.find(path8({"AACS"}), &dir));
        ASSERT_TRUE(in.find(path8({"AACS", "Content000.cer"}), &file));
        EXPECT_EQ(dir.tag, c.tag);
        EXPECT_EQ(file.tag, c.tag);
        EXPECT_EQ(dir.adType, c.dirAds);
        EXPECT_EQ(file.adType, c.fileAds);
        EXPECT_EQ(dir.fileType, 4);
        EXPECT_EQ(file.fileType, 5);
        for (const Ad& ad : in.ads(file)) EXPECT_EQ(ad.ref, 0) << "file data lies in the physical partition";
        EXPECT_EQ(in.data(file), bytesOf(pattern(5000, 1)));
    }
}

TEST_F(UdfImageStructure, SmallFilesAndDirectoriesAreEmbeddedOnlyWhenAsked) {
    for (bool embedded : {false, true}) {
        UdfImageOptions o = layoutOptions(UdfLayout::Metadata250);
        o.embedSmallFiles = embedded;
        const Inspector in = write(o);
        Entry small, big, dir, bigDir;
        ASSERT_TRUE(in.find(path8({"AACS", "ContentHash000.tbl"}), &small));
        ASSERT_TRUE(in.find(path8({"BDMV", "STREAM", "00002.m2ts"}), &big));
        ASSERT_TRUE(in.find(path8({"AACS"}), &dir));
        ASSERT_TRUE(in.find(path8({"many"}), &bigDir));
        EXPECT_EQ(small.adType == 3, embedded);
        EXPECT_EQ(dir.adType == 3, embedded);
        EXPECT_NE(big.adType, 3) << "6144 bytes cannot fit in an entry";
        EXPECT_NE(bigDir.adType, 3);
        EXPECT_EQ(in.data(small), bytesOf(pattern(300, 2)));
    }
}

TEST_F(UdfImageStructure, ExtentsAreSplitAndSpillIntoContinuationAreas) {
    struct {
        UdfLayout layout;
        uint32_t maxExtent;
        bool continuation;
        size_t extents;
        int areas;
    } cases[] = {
        {UdfLayout::Physical102, 0, false, 1, 0},
        {UdfLayout::Physical102, 0, true, 1, 1},           // the single descriptor moves to the area
        {UdfLayout::Physical102, 65536, false, 10, 0},     // 600001 bytes in 64 KiB pieces
        {UdfLayout::Physical102, 65536, true, 10, 1},
        {UdfLayout::Metadata250, 2048, false, 293, 2},     // 293 long descriptors overflow the entry twice
        {UdfLayout::Virtual201, 8192, true, 74, 1},
    };
    for (const auto& c : cases) {
        UdfImageOptions o = layoutOptions(c.layout);
        o.maxExtentBytes = c.maxExtent;
        o.continuationArea = c.continuation;
        const Inspector in = write(o);
        Entry clip;
        ASSERT_TRUE(in.find(path8({"BDMV", "STREAM", "00001.m2ts"}), &clip));
        int areas = 0;
        const std::vector<Ad> ads = in.ads(clip, &areas);
        EXPECT_EQ(ads.size(), c.extents);
        EXPECT_EQ(areas, c.areas);
        for (size_t i = 0; i + 1 < ads.size(); ++i) {
            if (c.maxExtent) {
                EXPECT_EQ(ads[i].length, c.maxExtent);
            }
            EXPECT_GT(ads[i + 1].block, ads[i].block + ads[i].length / 2048) << "split extents are not adjacent";
        }
        EXPECT_EQ(in.data(clip), bytesOf(pattern(600001, 3)));
    }
}

TEST_F(UdfImageStructure, MetadataFileInTwoExtentsMatchesItsMirror) {
    for (bool two : {false, true}) {
        UdfImageOptions o = layoutOptions(UdfLayout::Metadata250);
        o.metadataTwoExtents = two;
        const Inspector in = write(o);
        ASSERT_NE(in.metaEntry(), nullptr);
        EXPECT_EQ(le16(in.metaEntry()), 266) << "the metadata file is always an extended entry";
        EXPECT_EQ(in.metaEntry()[27], 250);
        ASSERT_EQ(in.metaRuns().size(), two ? 2u : 1u);
        if (two) {
            const Ad& a = in.metaRuns()[0];
            EXPECT_GT(in.metaRuns()[1].block, a.block + a.length / 2048);
        }
        // The mirror entry follows the metadata entry; its one extent must hold the same bytes.
        const Entry mirror = in.parse(in.metaEntry() + 2048, 0);
        EXPECT_EQ(mirror.fileType, 251);
        const Entry meta = in.parse(in.metaEntry(), 0);
        const Bytes metaBytes = in.data(meta);
        EXPECT_EQ(metaBytes.size(), meta.size);
        EXPECT_EQ(in.data(mirror), metaBytes);
        Entry e;
        EXPECT_TRUE(in.find(path8({"a", "b", "c", "deep.txt"}), &e));
    }
}

TEST_F(UdfImageStructure, NamesAreRecordedIn8Or16BitCharacters) {
    const Inspector in = write(layoutOptions(UdfLayout::Physical102));
    Entry e;
    // "Ünï" and "é4096" fit 8 bits; anything with a character above U+00FF is 16-bit throughout.
    EXPECT_TRUE(in.find({id8("\xDCn\xEF"), id8("\xE9" "4096")}, &e));
    const Bytes japan{16, 0x65, 0xE5, 0x67, 0x2C};
    const Bytes test{16, 0x30, 0xC6, 0x30, 0xB9, 0x30, 0xC8, 0, '.', 0, 'b', 0, 'i', 0, 'n'};
    const Bytes mixed{16, 0, 'm', 0, 'i', 0, 'x', 0, 'e', 0, 'd', 0, '_', 0, 0xE9, 0, '_', 0x5B, 0x57};
    EXPECT_TRUE(in.find({japan, test}, &e));
    EXPECT_EQ(e.size, 2500u);
    EXPECT_TRUE(in.find({japan, mixed}, &e));
}

TEST_F(UdfImageStructure, DeletedEntriesAppearInEveryDirectoryOnlyWhenAsked) {
    for (bool withDeleted : {false, true}) {
        UdfImageOptions o = layoutOptions(UdfLayout::Virtual201);
        o.addDeletedEntries = withDeleted;
        const Inspector in = write(o);
        for (const auto& dirPath : {path8({}), path8({"BDMV", "STREAM"}), path8({"a", "b", "c"})}) {
            Entry dir;
            ASSERT_TRUE(in.find(dirPath, &dir));
            int deletedCount = 0, live = 0;
            for (const Fid& f : in.fids(dir)) {
                if (f.characteristics & 4) {
                    ++deletedCount;
                    EXPECT_EQ(f.icb.length, 0u);
                } else if (!f.ident.empty()) {
                    ++live;
                }
            }
            EXPECT_EQ(deletedCount, withDeleted ? 1 : 0);
            EXPECT_GT(live, 0);
        }
    }
}

TEST_F(UdfImageStructure, DirectoryDataSpanningBlocksHasSoundDescriptors) {
    const Inspector in = write(layoutOptions(UdfLayout::Metadata250));
    Entry dir;
    ASSERT_TRUE(in.find(path8({"many"}), &dir));
    EXPECT_GT(dir.size, 2048u);
    // fids() stops at the first unsound descriptor, so all 40 plus the parent must come back.
    EXPECT_EQ(in.fids(dir).size(), 41u);
}

TEST(UdfImageWriter, OutputDependsOnlyOnFolderOptionsAndSeed) {
    TempDir tmp;
    makeTree(tmp / "src", false);
    auto image = [&](UdfImageOptions o, const std::string& name) {
        std::string error;
        EXPECT_TRUE(writeUdfImage((tmp / "src").u8string(), (tmp / name).u8string(), o, &error)) << error;
        return readBytes(tmp / name);
    };
    for (UdfLayout layout : {UdfLayout::Metadata250, UdfLayout::Physical102, UdfLayout::Virtual201}) {
        UdfImageOptions o = layoutOptions(layout);
        const Bytes first = image(o, "a");
        EXPECT_EQ(image(o, "b"), first);
        o.seed = 2;
        const Bytes reseeded = image(o, "c");
        EXPECT_EQ(reseeded.size(), first.size());
        EXPECT_NE(reseeded, first);
    }
}

TEST(UdfImageWriter, RefusesWhatItCannotRecord) {
    TempDir tmp;
    makeTree(tmp / "src", true);
    const std::string src = (tmp / "src").u8string(), img = (tmp / "img").u8string();
    UdfImageOptions badExtent;
    badExtent.maxExtentBytes = 3000;
    UdfImageOptions twoOnPhysical = layoutOptions(UdfLayout::Physical102);
    twoOnPhysical.metadataTwoExtents = true;
    struct {
        std::string folder;
        UdfImageOptions options;
    } cases[] = {{(tmp / "missing").u8string(), UdfImageOptions()}, {src, badExtent}, {src, twoOnPhysical}};
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(writeUdfImage(c.folder, img, c.options, &error));
        EXPECT_FALSE(error.empty());
    }
#ifndef _WIN32
    // Only a POSIX host keeps a name's bytes as given; Windows converts them through its code page.
    writeFile(tmp / "bad" / "name\xFF", "x");  // not UTF-8
    std::string error;
    EXPECT_FALSE(writeUdfImage((tmp / "bad").u8string(), img, UdfImageOptions(), &error));
    EXPECT_NE(error.find("UTF-8"), std::string::npos);
#endif
}

}  // namespace
