// tamsel-sampledisc: writes a sample disc folder (and optionally an image of it) from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/sampledisc.h"
#include "tools/udf_image_writer.h"

namespace {

void usage() {
    std::printf(
        "usage: tamsel-sampledisc ROOT [options]\n"
        "       tamsel-sampledisc --demo DIR      (writes DIR/intact and DIR/damaged)\n"
        "options:\n"
        "  --seed N          bytes of every clip follow from this seed (default 1)\n"
        "  --sha1            SHA-1 certificate (default SHA-256)\n"
        "  --pairs N         number of content file pairs (default 1)\n"
        "  --clip CLIP       NAME:SIZE[:pair=P][:number=N][:notable][:corrupt=U+U...]\n"
        "                    SIZE in bytes, or with suffix u (hash units, may be fractional), K, M, G\n"
        "  --no-aacs         leave out the AACS folder\n"
        "  --no-stream       leave out BDMV/STREAM\n"
        "  --udf LAYOUT IMG  also write a UDF image of ROOT; LAYOUT is metadata250, physical102 or virtual201\n"
        "  --image-only      write no disc: only image the folder ROOT as it is (with --udf)\n"
        "  --udf-options O   comma-separated: efe, longad, embed, continuation, metadata2, deleted, extent=BYTES\n");
}

bool parseSize(const std::string& text, uint64_t* size) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || value < 0) return false;
    std::string suffix(end);
    double scale = 1;
    if (suffix == "u") scale = static_cast<double>(kSampleUnit);
    else if (suffix == "K") scale = 1024.0;
    else if (suffix == "M") scale = 1024.0 * 1024;
    else if (suffix == "G") scale = 1024.0 * 1024 * 1024;
    else if (!suffix.empty()) return false;
    *size = static_cast<uint64_t>(value * scale);
    return true;
}

bool parseLayout(const std::string& text, UdfLayout* layout) {
    if (text == "metadata250") *layout = UdfLayout::Metadata250;
    else if (text == "physical102") *layout = UdfLayout::Physical102;
    else if (text == "virtual201") *layout = UdfLayout::Virtual201;
    else return false;
    return true;
}

bool parseImageOptions(const std::string& text, UdfImageOptions* options) {
    size_t at = 0;
    while (at < text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        std::string o = text.substr(at, comma - at);
        at = comma + 1;
        if (o == "efe") options->extendedFileEntries = true;
        else if (o == "longad") options->longAllocationDescriptors = true;
        else if (o == "embed") options->embedSmallFiles = true;
        else if (o == "continuation") options->continuationArea = true;
        else if (o == "metadata2") options->metadataTwoExtents = true;
        else if (o == "deleted") options->addDeletedEntries = true;
        else if (o.rfind("extent=", 0) == 0) options->maxExtentBytes = static_cast<uint32_t>(std::strtoul(o.c_str() + 7, nullptr, 10));
        else return false;
    }
    return true;
}

bool parseClip(const std::string& fields, SampleClip* clip) {
    size_t colon = fields.find(':');
    if (colon == std::string::npos) return false;
    clip->name = fields.substr(0, colon);
    std::string rest = fields.substr(colon + 1);
    std::string field;
    bool first = true;
    for (size_t at = 0; at <= rest.size();) {
        size_t next = rest.find(':', at);
        if (next == std::string::npos) next = rest.size();
        field = rest.substr(at, next - at);
        at = next + 1;
        if (first) {
            if (!parseSize(field, &clip->size)) return false;
            first = false;
        } else if (field == "notable") {
            clip->inTable = false;
        } else if (field.rfind("pair=", 0) == 0) {
            clip->pair = static_cast<uint32_t>(std::strtoul(field.c_str() + 5, nullptr, 10));
        } else if (field.rfind("number=", 0) == 0) {
            clip->clipNumber = static_cast<uint32_t>(std::strtoul(field.c_str() + 7, nullptr, 10));
        } else if (field.rfind("corrupt=", 0) == 0) {
            const char* p = field.c_str() + 8;
            while (*p) {
                char* end = nullptr;
                clip->corruptUnits.push_back(static_cast<uint32_t>(std::strtoul(p, &end, 10)));
                if (end == p) return false;
                p = *end == '+' ? end + 1 : end;
            }
        } else {
            return false;
        }
        if (next == rest.size()) break;
    }
    return true;
}

int writeOrReport(const std::string& root, const SampleDisc& disc) {
    std::string error;
    if (!writeSampleDisc(root, disc, &error)) {
        std::fprintf(stderr, "tamsel-sampledisc: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        usage();
        return 2;
    }
    if (std::strcmp(argv[1], "--demo") == 0 && argc == 3) {
        // Three clips each: a long one, one of seven and a half units, and one too short to be hashed.
        SampleDisc disc;
        disc.seed = 2026;
        disc.clips = {{"00001.m2ts", 24 * kSampleUnit, 0, 0, true, {}},
                      {"00002.m2ts", 15 * kSampleUnit / 2, 0, 0, true, {}},
                      {"00003.m2ts", 200000, 0, 0, true, {}}};
        std::string dir = argv[2];
        if (writeOrReport(dir + "/intact", disc) != 0) return 1;
        disc.clips[0].corruptUnits = {5, 17};
        return writeOrReport(dir + "/damaged", disc);
    }
    std::string root = argv[1];
    SampleDisc disc;
    std::string imagePath;
    UdfImageOptions imageOptions;
    bool imageOnly = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--seed" && value(&v)) {
            disc.seed = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
        } else if (arg == "--sha1") {
            disc.sha256 = false;
        } else if (arg == "--pairs" && value(&v)) {
            disc.pairs = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
        } else if (arg == "--clip" && value(&v)) {
            SampleClip clip;
            if (!parseClip(v, &clip)) {
                std::fprintf(stderr, "tamsel-sampledisc: bad clip '%s'\n", v.c_str());
                return 2;
            }
            disc.clips.push_back(clip);
        } else if (arg == "--no-aacs") {
            disc.writeAacs = false;
        } else if (arg == "--image-only") {
            imageOnly = true;
        } else if (arg == "--no-stream") {
            disc.writeStream = false;
        } else if (arg == "--udf" && value(&v) && parseLayout(v, &imageOptions.layout) && value(&imagePath)) {
        } else if (arg == "--udf-options" && value(&v) && parseImageOptions(v, &imageOptions)) {
        } else {
            usage();
            return 2;
        }
    }
    if (!imageOnly && writeOrReport(root, disc) != 0) return 1;
    if (!imagePath.empty()) {
        imageOptions.seed = disc.seed;
        std::string error;
        if (!writeUdfImage(root, imagePath, imageOptions, &error)) {
            std::fprintf(stderr, "tamsel-sampledisc: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
