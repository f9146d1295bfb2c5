// The pipeline's three roles: the reader fills slots in order, workers hash the units of filled slots in any
// order, and verification takes the hashed units in order and frees each slot behind it.
#include "aacs/verify_pipeline.h"

#include <algorithm>
#include <cstring>

#include "aacs/disc_source.h"
#include "io/heap.h"

class VerifyPipeline::Feed : public UnitFeed {
public:
    Feed(VerifyPipeline* pipeline, size_t position) : pipeline(pipeline), position(position) {}

    bool open() override {
        std::unique_lock<std::mutex> hold(pipeline->lock);
        for (;;) {
            while (pipeline->freeStaleSlot(position)) {
            }
            if (pipeline->opened[position] != OpenState::Pending) break;
            // A reader that ended without opening it (it never should) must not leave verification waiting.
            if (pipeline->readerDone) return false;
            pipeline->consumerWake.wait(hold);
        }
        if (pipeline->opened[position] == OpenState::Opened) return true;
        path_ = pipeline->failedPaths[position];
        return false;
    }

    const char* path() const override { return path_.c_str(); }

    bool next(uint8_t tail[8]) override {
        std::unique_lock<std::mutex> hold(pipeline->lock);
        for (;;) {
            Slot* slot = oldestSlot(hold);
            // A later clip's data, or this clip's read that failed at this unit: nothing more to give.
            if (!slot || slot->position != position || slot->tail || ordinal < slot->first ||
                ordinal >= slot->first + slot->delivered) {
                return false;
            }
            const uint32_t k = static_cast<uint32_t>(ordinal - slot->first);
            if (!slot->hashed[k]) {
                pipeline->consumerWake.wait(hold);
                continue;
            }
            std::memcpy(tail, &slot->tails[size_t(k) * 8], 8);
            ++ordinal;
            if (k + 1 == slot->requested) pipeline->freeOldest();
            return true;
        }
    }

    bool tailReadable(uint64_t, uint32_t) override {
        std::unique_lock<std::mutex> hold(pipeline->lock);
        Slot* slot = oldestSlot(hold);
        if (!slot || slot->position != position || !slot->tail) return false;
        const bool readable = slot->delivered == 1;
        pipeline->freeOldest();
        return readable;
    }

    void close() override {
        std::unique_lock<std::mutex> hold(pipeline->lock);
        pipeline->closedThrough = position;
        // What was read ahead for it is not hashed any more; whatever the reader still publishes for it is
        // published discarded, and all of it is freed by the next clip's feed.
        for (uint64_t s = pipeline->nextTake; s < pipeline->nextFill; ++s) {
            Slot& slot = pipeline->slotAt(s);
            if (slot.position <= position) slot.discarding = true;
        }
        while (pipeline->freeStaleSlot(position + 1)) {
        }
        pipeline->readerWake.notify_one();
    }

private:
    // The oldest slot once it holds this clip's data or a later clip's, after freeing what earlier clips left
    // (waiting for a worker that still reads one); null when the reader has ended with nothing more.
    Slot* oldestSlot(std::unique_lock<std::mutex>& hold) {
        for (;;) {
            while (pipeline->freeStaleSlot(position)) {
            }
            if (pipeline->nextTake != pipeline->nextFill) {
                Slot& slot = pipeline->slotAt(pipeline->nextTake);
                if (slot.position >= position) return &slot;
            } else if (pipeline->readerDone) {
                return nullptr;
            }
            pipeline->consumerWake.wait(hold);
        }
    }

    VerifyPipeline* pipeline;
    size_t position;
    uint64_t ordinal = 0;
    std::string path_;
};

VerifyPipeline::VerifyPipeline(std::vector<PipelineClip> clipList, bool sha256, unsigned workers,
                               uint32_t chunk, uint32_t slots)
    : clips(std::move(clipList)),
      useSha256(sha256),
      workerCount(workers != 0 ? workers : 1),
      chunkUnits(chunk != 0 ? chunk : 1),
      ring(slots != 0 ? slots : 1),
      opened(clips.size(), OpenState::Pending),
      failedPaths(clips.size()) {}

VerifyPipeline::~VerifyPipeline() {
    {
        std::lock_guard<std::mutex> hold(lock);
        stopping = true;
    }
    workerWake.notify_all();
    for (std::thread& worker : workers) worker.join();
    for (Slot& slot : ring) heapFree(slot.data);
}

bool VerifyPipeline::start() {
    for (Slot& slot : ring) {
        slot.data = static_cast<uint8_t*>(heapAlloc(size_t(chunkUnits) * kHashUnitSize));
        if (!slot.data) return false;
        slot.hashed.assign(chunkUnits, 0);
        slot.tails.assign(size_t(chunkUnits) * 8, 0);
    }
    // A system that refuses more threads leaves fewer workers; none at all leaves the caller to read and
    // hash on its own.
    try {
        for (unsigned i = 0; i < workerCount; ++i) workers.emplace_back([this] { hashUnits(); });
    } catch (...) {
    }
    return !workers.empty();
}

void VerifyPipeline::hashUnits() {
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        Slot* work = nullptr;
        uint32_t k = 0;
        for (uint64_t s = nextTake; s < nextFill && !work; ++s) {
            Slot& slot = slotAt(s);
            if (!slot.discarding && !slot.tail && slot.claimed < slot.delivered) {
                work = &slot;
                k = slot.claimed++;
            }
        }
        if (!work) {
            if (stopping) return;
            workerWake.wait(hold);
            continue;
        }
        hold.unlock();
        uint8_t tail[8];
        unitDigestTail(work->data + size_t(k) * kHashUnitSize, useSha256, tail);
        hold.lock();
        std::memcpy(&work->tails[size_t(k) * 8], tail, 8);
        work->hashed[k] = 1;
        ++work->finished;
        consumerWake.notify_one();
    }
}

bool VerifyPipeline::freeStaleSlot(size_t position) {
    if (nextTake == nextFill) return false;
    Slot& slot = slotAt(nextTake);
    if (slot.position >= position) return false;
    slot.discarding = true;
    // A worker may still be reading it; the slot waits for the last one.
    if (slot.finished != slot.claimed) return false;
    freeOldest();
    return true;
}

void VerifyPipeline::freeOldest() {
    ++nextTake;
    readerWake.notify_one();
}

void VerifyPipeline::readAll(DiscSource* source) {
    for (size_t p = 0; p < clips.size(); ++p) {
        const ClipPlan& plan = clips[p].plan;
        if (!plan.opens) continue;
        std::unique_ptr<ClipSource> clip = source->openClip(clips[p].listIndex);
        const bool ok = clip->open();
        {
            std::lock_guard<std::mutex> hold(lock);
            opened[p] = ok ? OpenState::Opened : OpenState::Failed;
            if (!ok) failedPaths[p] = clip->path();
        }
        consumerWake.notify_one();
        if (!ok) continue;
        uint64_t first = 0;
        while (first < plan.units) {
            const uint32_t n = plan.units - first < chunkUnits ? uint32_t(plan.units - first) : chunkUnits;
            Slot* slot = acquire(p);
            if (!slot) break;
            // The slot lies outside the range the others look at until it is published.
            const uint32_t got = clip->readUnits(first, n, slot->data);
            publish(slot, p, first, n, got, false);
            if (got < n) break;
            first += got;
        }
        // Once every whole unit is read, the rest of the clip is read too, only to know that it can be.
        if (first == plan.units && plan.tailBytes != 0) {
            if (Slot* slot = acquire(p)) {
                const bool readable = clip->readTail(first * kHashUnitSize, plan.tailBytes, slot->data);
                publish(slot, p, first, 1, readable ? 1 : 0, true);
            }
        }
        clip->close();
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        readerDone = true;
    }
    consumerWake.notify_one();
}

VerifyPipeline::Slot* VerifyPipeline::acquire(size_t position) {
    std::unique_lock<std::mutex> hold(lock);
    readerWake.wait(hold, [&] { return cancelled(position) || nextFill - nextTake < ring.size(); });
    return cancelled(position) ? nullptr : &slotAt(nextFill);
}

void VerifyPipeline::publish(Slot* slot, size_t position, uint64_t first, uint32_t requested, uint32_t delivered,
                             bool tail) {
    {
        std::lock_guard<std::mutex> hold(lock);
        slot->position = position;
        slot->first = first;
        slot->requested = requested;
        slot->delivered = delivered;
        slot->claimed = 0;
        slot->finished = 0;
        slot->discarding = cancelled(position);
        slot->tail = tail;
        std::fill(slot->hashed.begin(), slot->hashed.end(), uint8_t(0));
        ++nextFill;
    }
    if (!tail) workerWake.notify_all();
    consumerWake.notify_one();
}

std::unique_ptr<UnitFeed> VerifyPipeline::feed(size_t position) {
    return std::unique_ptr<UnitFeed>(new Feed(this, position));
}
