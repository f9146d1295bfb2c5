// The status line: progress figures kept by the run's events, drawn by a ticker thread a few times a second.
#include "aacs/status_reporter.h"

#include <chrono>
#include <cstdio>

#include "aacs/disc_source.h"
#include "console/console.h"

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(250);
// Weight of the newest speed sample: the figure follows a change within a few seconds without jumping about.
constexpr double kSpeedWeight = 0.2;

std::string duration(double seconds) {
    if (seconds < 0 || seconds > 360000) return "--:--";
    const unsigned long total = static_cast<unsigned long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
    }
    return text;
}

}  // namespace

std::string statusLineText(const StatusFigures& f) {
    const uint64_t done = f.doneBytes < f.totalBytes ? f.doneBytes : f.totalBytes;
    const unsigned percent = f.totalBytes ? static_cast<unsigned>(done * 100 / f.totalBytes) : 100;
    char speed[32] = "-- MB/s";
    std::string left = "--:--";
    if (f.bytesPerSecond > 0) {
        std::snprintf(speed, sizeof speed, "%.0f MB/s", f.bytesPerSecond / 1e6);
        left = duration(static_cast<double>(f.totalBytes - done) / f.bytesPerSecond);
    }
    char head[160];
    std::snprintf(head, sizeof head, "%3u%%  %.1f of %.1f GB  %s  %s left  clip %u of %u  ", percent,
                  static_cast<double>(done) / 1e9, static_cast<double>(f.totalBytes) / 1e9, speed, left.c_str(),
                  f.clip, f.clips);
    return head + printableName(f.clipName);
}

void StatusLineReporter::verificationStarted(const std::vector<ClipFile>& clips, bool useSha256) {
    for (const ClipFile& clip : clips) {
        if (!clip.kept) continue;
        totalBytes += clip.size;
        ++clipCount;
    }
    inner->verificationStarted(clips, useSha256);
    try {
        ticker = std::thread([this] { tick(); });
    } catch (...) {
        // Without a thread of its own the run goes on without the line.
    }
}

void StatusLineReporter::clipStarted(const ClipFile& clip) {
    {
        std::lock_guard<std::mutex> hold(lock);
        ++clipNumber;
        clipName = clip.name;
    }
    clipBytes = 0;
    inner->clipStarted(clip);
}

void StatusLineReporter::unitMatched(const ClipFile& clip, uint64_t offset) {
    clipBytes = offset + kHashUnitSize;
    inner->unitMatched(clip, offset);
}

void StatusLineReporter::unitMismatched(const ClipFile& clip, uint64_t offset, const uint8_t expected[8],
                                        const uint8_t actual[8]) {
    clipBytes = offset + kHashUnitSize;
    inner->unitMismatched(clip, offset, expected, actual);
}

void StatusLineReporter::clipFinished(const ClipFile& clip, const ClipResult& result) {
    // A clip counts whole once it is done, whatever part of it was read. Cleared first, so that a tick in
    // between sees too little rather than too much.
    clipBytes = 0;
    finishedBytes += clip.size;
    inner->clipFinished(clip, result);
}

void StatusLineReporter::runFailed(RunFailure failure) {
    stop();
    inner->runFailed(failure);
}

void StatusLineReporter::runFinished(const RunTotals& totals, uint32_t elapsedMilliseconds) {
    stop();
    inner->runFinished(totals, elapsedMilliseconds);
}

void StatusLineReporter::stop() {
    {
        std::lock_guard<std::mutex> hold(lock);
        stopping = true;
    }
    wake.notify_all();
    if (ticker.joinable()) ticker.join();
    clearStatusLine();
}

void StatusLineReporter::tick() {
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    uint64_t lastDone = 0;
    double speed = 0;
    std::unique_lock<std::mutex> hold(lock);
    while (!wake.wait_for(hold, kRedraw, [this] { return stopping; })) {
        const auto now = Clock::now();
        // Finished first: a clip that ends between the two loads is then counted short, never twice.
        const uint64_t finished = finishedBytes.load();
        const uint64_t done = finished + clipBytes.load();
        const double seconds = std::chrono::duration<double>(now - last).count();
        if (seconds > 0 && done >= lastDone) {
            const double sample = static_cast<double>(done - lastDone) / seconds;
            speed = speed == 0 ? sample : speed + kSpeedWeight * (sample - speed);
        }
        last = now;
        lastDone = done;
        const std::string text =
            statusLineText({done, totalBytes, speed, clipNumber, clipCount, clipName.c_str()});
        showStatusLine(text.c_str());
    }
}
