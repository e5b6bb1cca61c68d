#include "common/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
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
static std::atomic<int> s_part{0};
static std::atomic<int64_t> s_partAt{0};
static std::atomic<int64_t> s_partTotal{0};
// The length of the line on screen, read by the interrupt handler, which
// may only touch lock-free atomics.
static std::atomic<size_t> s_shown{0};
static_assert(std::atomic<size_t>::is_always_lock_free, "the interrupt handler reads s_shown");
static struct sigaction s_savedInterrupt;
static bool s_catchingInterrupt = false;

static std::mutex s_mutex;
static std::condition_variable s_wake;
static bool s_stopping = false;
static std::thread s_ticker;

// The part first: across many replicates or rounds it tells the most.
static std::string partText(ProgressPart part, int64_t at, int64_t total) {
    switch (part) {
        case ProgressPart::kWhole:
            return "";
        case ProgressPart::kReplicate:
            return "replicate " + std::to_string(at) + " of " + std::to_string(total) + ": ";
        case ProgressPart::kRootingRound:
            if (at == 0) return "species tree of the outgroup-rooted trees: ";
            return "rooting round " + std::to_string(at) + " of at most " + std::to_string(total) +
                   ": ";
    }
    return "";
}

static std::string stageText(ProgressStage stage, int64_t done, int64_t total) {
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

static std::string progressText(ProgressStage stage, int64_t done, int64_t total) {
    const std::string text = stageText(stage, done, total);
    if (text.empty()) return "";
    return partText(static_cast<ProgressPart>(s_part.load(std::memory_order_relaxed)),
                    s_partAt.load(std::memory_order_relaxed),
                    s_partTotal.load(std::memory_order_relaxed)) +
           text;
}

// The columns a line may take: one fewer than the terminal's, so that the
// cursor never wraps to a row that a carriage return cannot reach.
static size_t lineWidth() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1u;
    return 79;
}

// Writes the line over the last one, cut to the terminal's width and padded
// so nothing of a longer one stays; returns its length.
static size_t showLine(const std::string& text, size_t shown) {
    std::string line = "tressil-newick: " + text;
    line.resize(std::min(line.size(), lineWidth()));
    const size_t length = line.size();
    if (length < shown) line.append(shown - length, ' ');
    std::fputs(("\r" + line).c_str(), stderr);
    std::fflush(stderr);
    s_shown.store(length);
    return length;
}

static void writeIgnoringFailure(const char* bytes, size_t count) {
    if (write(STDERR_FILENO, bytes, count) < 0) return;  // nothing to do in a handler
}

// Ctrl-C: the line is cleared with write() alone, which a signal handler may
// call, and the interrupt then takes its default action, ending the process.
static void clearOnInterrupt(int signal) {
    static const char kBlanks[] = "                                ";
    constexpr size_t kChunk = sizeof kBlanks - 1;
    size_t left = s_shown.load();
    if (left > 0) {
        writeIgnoringFailure("\r", 1);
        for (; left > 0; left -= std::min(left, kChunk))
            writeIgnoringFailure(kBlanks, std::min(left, kChunk));
        writeIgnoringFailure("\r", 1);
    }
    sigaction(signal, &s_savedInterrupt, nullptr);
    raise(signal);
}

// Only an interrupt left to its default action is caught: one the shell
// ignores (a background job) must stay ignored.
static void catchInterrupt() {
    struct sigaction current {};
    if (sigaction(SIGINT, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
        current.sa_handler != SIG_DFL)
        return;
    struct sigaction clearing {};
    clearing.sa_handler = clearOnInterrupt;
    sigemptyset(&clearing.sa_mask);
    s_savedInterrupt = current;
    s_catchingInterrupt = sigaction(SIGINT, &clearing, nullptr) == 0;
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
        s_shown.store(0);
    }
}

void startProgress() {
    if (s_ticker.joinable() || isatty(STDERR_FILENO) == 0) return;
    s_stage = static_cast<int>(ProgressStage::kNone);
    s_part = static_cast<int>(ProgressPart::kWhole);
    s_stopping = false;
    try {
        s_ticker = std::thread(tick);
    } catch (const std::system_error&) {
        return;  // no thread, no progress line; the run itself goes on
    }
    catchInterrupt();
}

void stopProgress() {
    if (!s_ticker.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_stopping = true;
    }
    s_wake.notify_all();
    s_ticker.join();
    if (s_catchingInterrupt) sigaction(SIGINT, &s_savedInterrupt, nullptr);
    s_catchingInterrupt = false;
}

void reportProgress(ProgressStage stage, int64_t done, int64_t total) {
    s_stage.store(static_cast<int>(stage), std::memory_order_relaxed);
    s_done.store(done, std::memory_order_relaxed);
    s_total.store(total, std::memory_order_relaxed);
}

void reportProgressPart(ProgressPart part, int64_t at, int64_t total) {
    s_part.store(static_cast<int>(part), std::memory_order_relaxed);
    s_partAt.store(at, std::memory_order_relaxed);
    s_partTotal.store(total, std::memory_order_relaxed);
}
