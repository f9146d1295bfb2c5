// The disc folder: content files from ROOT/AACS, clips from ROOT/BDMV/STREAM through the host's wildcard search.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "aacs/disc_run.h"
#include "aacs/folder_source.h"
#include "io/directory_scan.h"
#include "io/host_file.h"

namespace {

// Paths of any length: a path the host cannot open then fails like any other unopenable file.
std::string composePath(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string path;
    if (length > 0) {
        path.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&path[0], path.size(), format, again);
        path.resize(static_cast<size_t>(length));
    }
    va_end(again);
    return path;
}

class FolderSource : public DiscSource {
public:
    explicit FolderSource(const char* root) : root(root) {}

    const char* path() const override { return root; }
    bool mount() override { return true; }
    bool hasContentFolder() override { return IsDirectory(composePath("%s%cAACS", root, sep).c_str()); }

    PairLookup loadPair(uint32_t index, ContentPairFiles* files) override {
        const int i = static_cast<int>(index);
        files->certificateFound = loadContentFile(composePath("%s%cAACS%cContent%03d.cer", root, sep, sep, i),
                                                  &files->certificate, &files->certificateSize);
        files->hashTableFound = loadContentFile(composePath("%s%cAACS%cContentHash%03d.tbl", root, sep, sep, i),
                                                &files->hashTable, &files->hashTableSize);
        return files->certificateFound && files->hashTableFound ? PairLookup::Loaded : PairLookup::End;
    }

    // The wildcard is the name test: every entry it returns is a clip, in the order the host returns them.
    void listClips(std::vector<ClipFile>* clips) override {
        DirectoryScan scan;
        FindEntry entry;
        std::string pattern = composePath("%s%cBDMV%cSTREAM%c?????.m2ts", root, sep, sep, sep);
        for (bool found = scan.First(pattern.c_str(), &entry); found; found = scan.Next(&entry)) {
            ClipFile clip;
            clip.name = entry.name;
            clip.size = (static_cast<uint64_t>(entry.sizeHigh) << 32) | entry.sizeLow;
            clip.number = clipNumberOf(entry.name);
            clip.kept = true;
            clips->push_back(clip);
        }
        listed = *clips;
    }

    std::unique_ptr<ClipSource> openClip(size_t index) override {
        return std::unique_ptr<ClipSource>(new HostClipSource(
            composePath("%s%cBDMV%cSTREAM%c%s", root, sep, sep, sep, listed[index].name.c_str())));
    }

private:
    // False when nothing of that name exists; one that cannot be loaded (empty, unreadable, a directory)
    // leaves *bytes null.
    static bool loadContentFile(const std::string& path, uint8_t** bytes, uint64_t* size) {
        if (!PathExists(path.c_str())) return false;
        *bytes = LoadWholeFile(path.c_str(), size, kMaxContentFileBytes);
        return true;
    }

    const char* root;
    const char sep = kPathSeparator;
    std::vector<ClipFile> listed;
};

}  // namespace

// A regular file only, so a FIFO or a socket named like a clip is refused at once instead of waited on; a copy
// still being written is opened all the same.
bool HostClipSource::open() {
    nextUnit = 0;
    return file.Open(filePath.c_str(), kOpenRegularOnly | kOpenShareWriters);
}

uint32_t HostClipSource::readUnits(uint64_t first, uint32_t count, uint8_t* units) {
    if (first != nextUnit) {
        if (file.Seek(static_cast<int64_t>(first * kHashUnitSize), kSeekBegin) != first * kHashUnitSize) return 0;
        nextUnit = first;
    }
    const uint32_t whole = file.Read(units, count * kHashUnitSize) / kHashUnitSize;
    nextUnit += whole;
    return whole;
}

bool HostClipSource::readTail(uint64_t offset, uint32_t length, uint8_t* buffer) {
    if (file.Seek(static_cast<int64_t>(offset), kSeekBegin) != offset) return false;
    nextUnit = UINT64_MAX;  // the position is past the units now
    return file.Read(buffer, length) == length;
}

int runFolder(const char* root, const RunSettings& settings, RunReporter* reporter) {
    FolderSource source(root);
    return runDisc(&source, settings, reporter);
}
