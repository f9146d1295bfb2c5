// VerifyPipeline: clips read ahead on one thread, their units hashed on several, and handed to verification
// strictly in clip and unit order, so that a run takes as long as the slower of reading and hashing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "aacs/clip_verify.h"

class DiscSource;

// One clip of the run as the reader sees it: the listing entry, and what verification will ask of it.
struct PipelineClip {
    size_t listIndex;
    ClipPlan plan;
};

class VerifyPipeline {
public:
    // chunkUnits units are read with one request; the reader keeps at most `slots` chunks in flight.
    VerifyPipeline(std::vector<PipelineClip> clips, bool useSha256, unsigned workers, uint32_t chunkUnits,
                   uint32_t slots);
    ~VerifyPipeline();
    VerifyPipeline(const VerifyPipeline&) = delete;
    VerifyPipeline& operator=(const VerifyPipeline&) = delete;

    // Takes the buffers and starts the hash workers; false when either cannot be had.
    bool start();
    // Opens and reads every clip whose plan opens it, in order, on the calling thread, which must be the one
    // that owns the source. Returns when all are read, or closed early by verification.
    void readAll(DiscSource* source);
    // The feed of clip `position`; verification takes them in order, each closed before the next is opened.
    std::unique_ptr<UnitFeed> feed(size_t position);

private:
    class Feed;
    struct Slot {
        uint8_t* data = nullptr;
        size_t position = 0;   // which clip
        uint64_t first = 0;    // ordinal of its first unit within the clip
        uint32_t requested = 0;
        uint32_t delivered = 0;  // whole units read; fewer than requested when the read failed
        uint32_t claimed = 0;    // units handed to workers
        uint32_t finished = 0;   // units the workers are done with
        bool discarding = false; // its clip was closed: no unit is handed out any more
        bool tail = false;       // the clip's last partial unit, read only to know it can be; nothing to hash
        std::vector<uint8_t> hashed;
        std::vector<uint8_t> tails;  // 8 bytes per unit
    };
    enum class OpenState : uint8_t { Pending, Opened, Failed };

    void hashUnits();
    Slot& slotAt(uint64_t sequence) { return ring[sequence % ring.size()]; }
    // Consumer side, under the lock: frees the oldest slot if it belongs to a clip before `position` and no
    // worker still reads it; true when one was freed.
    bool freeStaleSlot(size_t position);
    void freeOldest();
    // Reader side: the next free slot, waiting for one; null when verification closed the clip meanwhile.
    Slot* acquire(size_t position);
    void publish(Slot* slot, size_t position, uint64_t first, uint32_t requested, uint32_t delivered, bool tail);
    bool cancelled(size_t position) const { return closedThrough != kNone && position <= closedThrough; }

    static constexpr size_t kNone = SIZE_MAX;

    std::vector<PipelineClip> clips;
    bool useSha256;
    unsigned workerCount;
    uint32_t chunkUnits;
    std::vector<Slot> ring;
    std::vector<std::thread> workers;

    std::mutex lock;
    std::condition_variable readerWake;    // a slot was freed, or a clip closed
    std::condition_variable workerWake;    // a slot was filled, or the pipeline stops
    std::condition_variable consumerWake;  // a unit was hashed, a clip opened, or the reader ended
    uint64_t nextFill = 0;                 // sequence of the next slot the reader fills
    uint64_t nextTake = 0;                 // sequence of the oldest slot not yet freed
    std::vector<OpenState> opened;
    std::vector<std::string> failedPaths;  // what "cannot open file" names, for clips that did not open
    size_t closedThrough = kNone;  // every clip up to this position is closed by verification
    bool readerDone = false;
    bool stopping = false;
};
