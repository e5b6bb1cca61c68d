#include "common/common.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

int32_t g_tripleWeight[kMaxSpecies][kMaxSpecies][kMaxSpecies];
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
