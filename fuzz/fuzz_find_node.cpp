// Fuzz target: findNode on arbitrary paths against a fixed tree, checked against a plain model of the lookup,
// and the UTF-16 name conversion on arbitrary units, checked against its own length count.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/utf16.h"
#include "tests/udf/image_builder.h"
#include "udf/directory_tree.h"

namespace {

using namespace udftest;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// A small tree with the disc's fixed paths, duplicates, empty and 16-bit names, a file with children's name
// and a deep chain, mounted once for all inputs.
struct FixedTree {
    std::unique_ptr<UdfVolume> volume;
    std::vector<DirectoryNode*> nodes;

    FixedTree() {
        DiscBuilder b(Layout::Metadata);
        uint32_t cer = b.file(pattern(100, 1));
        uint32_t tbl = b.file(pattern(200, 2));
        uint32_t aacs = b.directory({b.child("Content000.cer", cer), b.child("ContentHash000.tbl", tbl),
                                     b.child("Content000.cer", tbl)});
        uint32_t clip = b.file(pattern(3000, 3));
        uint32_t stream = b.directory({b.child("00001.m2ts", clip), b.child("00002.m2ts", clip),
                                       b.child("STREAM", clip)});
        uint32_t bdmv = b.directory({b.child("STREAM", stream, true), b.child("stream", clip)});
        uint32_t deep = b.directory({b.child("leaf", clip)});
        for (int level = 0; level < 6; ++level) {
            deep = b.directory({b.child("d", deep, true), b.child("x", clip)});
        }
        uint32_t root = b.directory({
            b.child("AACS", aacs, true),
            b.child("BDMV", bdmv, true),
            b.child("AACS", clip),
            fid(0, Bytes{8}, b.icb(clip)),
            fid(0, name16(u"caf\u00e9"), b.icb(clip)),
            fid(0, name16(u"\u20ac\U0001F600"), b.icb(clip)),
            b.child(".", clip),
            b.child("..", clip),
            b.child("d", deep, true),
        });
        bool mounted = false;
        volume = mountBytes(b.finish(root), &mounted);
        check(mounted);
        collect(volume->root);
    }

    void collect(DirectoryNode* node) {
        nodes.push_back(node);
        for (DirectoryNode* c = node->firstChild; c != nullptr; c = c->nextSibling) {
            collect(c);
        }
    }
};

// The lookup as described: separators of either kind, leading and repeated ones dropped, components
// matched one level at a time from the first child on, paths whose normal form does not fit refused.
DirectoryNode* modelLookup(DirectoryNode* base, const std::string& path) {
    std::vector<std::string> components;
    std::string current;
    size_t normalised = 0;
    bool inSeparator = true;
    for (char c : path) {
        bool separator = c == '/' || c == '\\';
        if (separator) {
            if (!inSeparator) {
                components.push_back(current);
                current.clear();
                ++normalised;
            }
            inSeparator = true;
            continue;
        }
        inSeparator = false;
        current += c;
        ++normalised;
    }
    if (!inSeparator || components.empty()) {
        components.push_back(current);
    }
    // The normal form and the two zero bytes after it fit the 256-byte buffer.
    if (normalised > 254) {
        return nullptr;
    }
    DirectoryNode* node = base;
    for (const std::string& component : components) {
        DirectoryNode* match = nullptr;
        for (DirectoryNode* c = node->firstChild; c != nullptr && match == nullptr; c = c->nextSibling) {
            if (component == c->name) {
                match = c;
            }
        }
        if (match == nullptr) {
            return nullptr;
        }
        node = match;
    }
    return node;
}

void fuzzLookup(const uint8_t* data, size_t size) {
    static FixedTree tree;
    if (size < 1) {
        return;
    }
    DirectoryNode* start = data[0] == 0 ? nullptr : tree.nodes[data[0] % tree.nodes.size()];
    std::string path(reinterpret_cast<const char*>(data + 1), size - 1);
    path = path.c_str();
    DirectoryNode* found = findNode(tree.volume.get(), start, path.c_str());
    check(found == modelLookup(start != nullptr ? start : tree.volume->root, path));
}

// The conversion writes up to one character past the limit before it notices; the buffer is sized to that
// exactly so any byte more is outside it.
void fuzzConversion(const uint8_t* data, size_t size) {
    if (size < 2) {
        return;
    }
    uint32_t limit = uint32_t(data[0]) | (uint32_t(data[1]) << 8);
    // The units are copied to a block of their exact size, so no read past the last unit goes unseen.
    std::vector<uint8_t> units(data + 2, data + size - (size - 2) % 2);
    uint32_t count = uint32_t(units.size() / 2);
    uint32_t length = utf8Length(units.data(), count);
    check(length <= uint64_t(count) * 4);
    std::vector<uint8_t> out(size_t(limit) + 4);
    uint32_t written = utf16beToUtf8(units.data(), count, out.data(), limit);
    check(written == 0 || written == length);
    // With room for the whole name, as a node's name is sized, the conversion always completes.
    if (length <= uint64_t(limit) + 1) {
        check(written == length);
    }
    // And it agrees with itself given exactly the room the count asked for, as the tree build uses it.
    std::vector<uint8_t> exact(size_t(length) + 4);
    check(utf16beToUtf8(units.data(), count, exact.data(), length + 1) == length);
    if (written == length && length != 0) {
        check(std::memcmp(out.data(), exact.data(), length) == 0);
    }
}

}  // namespace

// Input: a mode byte (even: a lookup, odd: a name conversion), then the lookup's start node and path, or
// the conversion's 16-bit limit and units.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        fuzzLookup(data + 1, size - 1);
    } else {
        fuzzConversion(data + 1, size - 1);
    }
    return 0;
}
