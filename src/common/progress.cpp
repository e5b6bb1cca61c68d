#include "common/progress.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

// The line appears only after this long, so short runs never show it.
constexpr auto kQuietStart = std::chrono::seconds(2);
constexpr auto kUpdateEvery = std::chrono::milliseconds(250);

static std::atomic<int> s_stage{0};
static std::atomic<int64_t> s_done{0};
static std::atomic<int64_t> s_total{0};

static std::mutex s_mutex;
static std::condition_variable s_wake;
static bool s_stopping = false;
static std::thread s_ticker;

static std::string progressText(ProgressStage stage, int64_t done, int64_t total) {
    const std::string of = std::to_string(done) + " of " + std::to_string(total);
    switch (stage) {
        case ProgressStage::kNone:
            return "";
        case ProgressStage::kReadTrees:
            return "reading gene trees: " + std::to_string(done);
        case ProgressStage::kFill:
            return "adding gene trees to the triple table: " +
                   std::to_string(total > 0 ? done * 100 / total : 0) + "%";
        case ProgressStage::kExact:
            return "exact method, subset sizes: " + of;
        case ProgressStage::kCandidates:
            return "building candidate trees: " + of;
        case ProgressStage::kStarts:
            return "growing trees by inserting species: " + of;
        case ProgressStage::kClimbs:
            return "climbing by subtree moves: " + of + " trees";
        case ProgressStage::kProgramme:
            return "joining clusters of the climbed trees: round " + std::to_string(done) +
                   " of at most " + std::to_string(total);
        case ProgressStage::kBound:
            return "bounding the satisfied weight: " + of;
    }
    return "";
}

// Writes the line over the last one, padded so nothing of a longer one
// stays; returns its length.
static size_t showLine(const std::string& text, size_t shown) {
    std::string line = "\rtressil-newick: " + text;
    const size_t length = line.size() - 1;
    if (length < shown) line.append(shown - length, ' ');
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return length;
}

static void tick() {
    const auto start = std::chrono::steady_clock::now();
    size_t shown = 0;
    std::string last;
    std::unique_lock<std::mutex> lock(s_mutex);
    while (!s_stopping) {
        s_wake.wait_for(lock, kUpdateEvery);
        if (s_stopping || std::chrono::steady_clock::now() - start < kQuietStart) continue;
        const auto stage = static_cast<ProgressStage>(s_stage.load(std::memory_order_relaxed));
        const std::string text = progressText(stage, s_done.load(std::memory_order_relaxed),
                                              s_total.load(std::memory_order_relaxed));
        if (text.empty() || text == last) continue;
        shown = showLine(text, shown);
        last = text;
    }
    if (shown > 0) {
        std::fputs(("\r" + std::string(shown, ' ') + "\r").c_str(), stderr);
        std::fflush(stderr);
    }
}

void startProgress() {
    if (s_ticker.joinable() || isatty(STDERR_FILENO) == 0) return;
    s_stage = static_cast<int>(ProgressStage::kNone);
    s_stopping = false;
    try {
        s_ticker = std::thread(tick);
    } catch (const std::system_error&) {
        // No thread, no progress line; the run itself goes on.
    }
}

void stopProgress() {
    if (!s_ticker.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_stopping = true;
    }
    s_wake.notify_all();
    s_ticker.join();
}

void reportProgress(ProgressStage stage, int64_t done, int64_t total) {
    s_stage.store(static_cast<int>(stage), std::memory_order_relaxed);
    s_done.store(done, std::memory_order_relaxed);
    s_total.store(total, std::memory_order_relaxed);
}
