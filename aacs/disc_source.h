// DiscSource: where a run finds a disc's content files and clips, a folder of the host or a mounted image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "aacs/clip_verify.h"
#include "aacs/run_reporter.h"

// One entry of the stream folder, in the order the run visits it.
struct ClipFile {
    std::string name;  // as the folder or image records it; the name every message shows
    uint64_t size = 0;
    uint32_t number = 0;  // the leading digits of the name
    bool kept = false;    // passes the run's name test; other entries are neither verified nor counted
    // Its data lies where an earlier clip's, or an earlier part of its own, lies (an image only): it is not
    // hashed again, so a forged image cannot make a run read far more than the image holds.
    bool sharesData = false;
    uint32_t sharedSector = 0;  // the first such sector
};

// One content certificate and its content hash table, each whole on the process heap (heapFree), or null
// when that file exists but could not be loaded.
struct ContentPairFiles {
    uint8_t* certificate = nullptr;
    uint64_t certificateSize = 0;
    uint8_t* hashTable = nullptr;
    uint64_t hashTableSize = 0;
    // Whether a file of that name exists, loaded or not.
    bool certificateFound = false;
    bool hashTableFound = false;
};

enum class PairLookup {
    End,     // the certificate or its hash table does not exist: loading stops
    Loaded,  // both exist; either may still be null (unreadable, empty, a directory, too large)
};

class DiscSource {
public:
    virtual ~DiscSource() = default;

    // The disc's path as the command line gave it.
    virtual const char* path() const = 0;
    // A folder is always there; an image must mount first.
    virtual bool mount() = 0;
    // What the mount used besides the main structures, and the structures it could not read.
    virtual void describeMount(std::vector<DiscNote>*, std::vector<DiscDamage>*) {}
    virtual bool hasContentFolder() = 0;
    // Pair `index` (0 for Content000.cer and ContentHash000.tbl): both are looked up, and loaded when found.
    virtual PairLookup loadPair(uint32_t index, ContentPairFiles* files) = 0;
    // Every entry of the stream folder in the run's order; none when there is no stream folder.
    virtual void listClips(std::vector<ClipFile>* clips) = 0;
    // The reader of entry `index` of the last listing.
    virtual std::unique_ptr<ClipSource> openClip(size_t index) = 0;
};

// The number a clip file's name gives: its leading decimal digits, after optional blanks and a sign.
uint32_t clipNumberOf(const char* name);

// A name from a disc as every message shows it: control bytes (below 0x20, and 0x7F) written as \xHH, so that
// a name cannot move the cursor, change colours or end a line.
std::string printableName(const char* name);
