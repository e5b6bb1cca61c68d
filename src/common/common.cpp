#include "common/common.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

TripleTable g_tripleWeight{0, 0, 0, nullptr, {}};
int32_t g_speciesSetWords = kLocalSpeciesWords;
int32_t g_speciesCount = 0;
int32_t g_treeCount = 0;
int32_t g_nextLabel = kFirstInnerLabel;
TreeNode* g_nodePool[kPoolSize];
uint32_t g_fullMask = 0;
int32_t g_subsetScore[kMaxSubsets];
uint32_t g_subsetSplit[kMaxSubsets];
FILE* g_inFile = nullptr;
FILE* g_outFile = nullptr;
TreeNode* g_resultTree = nullptr;
int g_threadCount = 0;
bool g_portableKernelsOnly = false;
FatalHandler g_fatalHandler = nullptr;

void fatalExit(int status, const char* message) {
    if (g_inFile != nullptr) {
        std::fclose(g_inFile);
        g_inFile = nullptr;
    }
    if (g_fatalHandler != nullptr) g_fatalHandler(status, message);
    std::fputs(message, stdout);
    std::fflush(stdout);
    std::exit(status);
}

uint64_t* allocateSetWords(int32_t words) {
    uint64_t* spilled = new (std::nothrow) uint64_t[static_cast<size_t>(words)]();
    if (spilled == nullptr) fatalExit(kExitUsage, "out of memory\n");
    return spilled;
}

// Rows of whole cache lines, which hold whole vectors of the row kernels.
constexpr size_t kRowVector = 16;
constexpr size_t kLineEntries = 16;

static size_t rowLengthFor(size_t n) {
    return (n + kRowVector - 1) / kRowVector * kRowVector;
}

size_t tripleRowLength(int32_t species) {
    return rowLengthFor(static_cast<size_t>(species));
}

int64_t tripleTableBytes(int32_t species) {
    const auto n = static_cast<int64_t>(species);
    return n * (n + 1) / 2 * static_cast<int64_t>(rowLengthFor(static_cast<size_t>(n))) * 4;
}

// A number from a line "name: value" of a /proc or /sys file, or -1.
static int64_t readNumber(const char* path, const char* name) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return -1;
    char line[256];
    int64_t value = -1;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, name, length) != 0) continue;
        char* end = nullptr;
        const long long read = std::strtoll(line + length, &end, 10);
        if (end != line + length) value = read;
        break;
    }
    std::fclose(file);
    return value;
}

int64_t availableMemoryBytes() {
    int64_t available = readNumber("/proc/meminfo", "MemAvailable:");
    available = available >= 0
                    ? available * 1024
                    : static_cast<int64_t>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
    // A control group's limit ("max" reads as no number) less its use.
    const int64_t limit = readNumber("/sys/fs/cgroup/memory.max", "");
    const int64_t used = readNumber("/sys/fs/cgroup/memory.current", "");
    if (limit > 0 && used >= 0) available = std::min(available, std::max<int64_t>(0, limit - used));
    return available;
}

static void sizeSpeciesSets(int32_t species) {
    const int32_t words = (species + kSpeciesWordBits - 1) / kSpeciesWordBits;
    g_speciesSetWords = words > 0 ? words : 1;
}

void sizeTripleTable(int32_t species) {
    const auto n = static_cast<size_t>(species);
    g_tripleWeight.species = species;
    g_tripleWeight.rowLength = rowLengthFor(n);
    g_tripleWeight.rows = n * (n + 1) / 2;
    try {
        g_tripleWeight.storage.assign(g_tripleWeight.rows * g_tripleWeight.rowLength + kLineEntries,
                                      0);
    } catch (const std::bad_alloc&) {
        fatalExit(kExitUsage, "out of memory\n");
    }
    // The first row on a cache line; the storage has a line to spare.
    const auto address = reinterpret_cast<uintptr_t>(g_tripleWeight.storage.data());
    const size_t skip = (kLineEntries - address / sizeof(int32_t) % kLineEntries) % kLineEntries;
    g_tripleWeight.entries = g_tripleWeight.storage.data() + skip;
    sizeSpeciesSets(species);
}

TripleTable takeTripleTable() {
    TripleTable table = std::move(g_tripleWeight);
    g_tripleWeight = TripleTable{0, 0, 0, nullptr, {}};
    return table;
}

void restoreTripleTable(TripleTable&& table) {
    g_tripleWeight = std::move(table);
    sizeSpeciesSets(g_tripleWeight.species);
}

TreeNode* allocateNode() {
    TreeNode* node = new (std::nothrow) TreeNode{};
    if (node == nullptr) fatalExit(kExitUsage, "out of memory\n");
    return node;
}

void freeTree(TreeNode* node) {
    // Rotates left children up until the node has none, then frees it and
    // goes right: no recursion and no extra memory, whatever the depth.
    while (node != nullptr) {
        if (node->left != nullptr) {
            TreeNode* child = node->left;
            node->left = child->right;
            child->right = node;
            node = child;
            continue;
        }
        TreeNode* next = node->right;
        delete node;
        node = next;
    }
}

void allocatePoolRecords(TreeNode** pool) {
    for (int i = 0; i < kPoolSize; ++i)
        pool[i] = allocateNode();
}

void allocateNodePool() {
    allocatePoolRecords(g_nodePool);
}

int16_t takeNextLabel() {
    // Labels keep the low 16 bits; the counter wraps instead of overflowing.
    const auto label = static_cast<int16_t>(static_cast<uint16_t>(g_nextLabel & 0xFFFF));
    g_nextLabel = static_cast<int32_t>(static_cast<uint32_t>(g_nextLabel) + 1u);
    return label;
}

bool vectorKernelsUsable() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool processorHasThem =
        __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return processorHasThem && !g_portableKernelsOnly;
#else
    return false;
#endif
}

int threadCountToUse() {
    if (g_threadCount > 0) return g_threadCount;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void runOnThreads(int threads, const std::function<void()>& work) {
    std::vector<std::thread> started;
    for (int t = 1; t < threads; ++t) {
        try {
            started.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& thread : started)
        thread.join();
}
