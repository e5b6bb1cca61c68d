// Shared types and global tables of tressil; the limits are in limits.h.
//
// Data flows one way: reader -> triple table -> method (exact or heuristic)
// -> writer. Every stage talks through the globals declared here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "common/limits.h"

// The diagnostic dump prints w[i][j][k] for i, j and k below this, whatever n
// is. That is the only reason the triple table clears these entries when n is
// smaller: a later input read in the same process must not show an earlier
// input's weights there.
constexpr int kDumpSpecies = 6;

// A set of species 0..kMaxSpecies-1, bit s % 64 of word s / 64 for species s.
// Plain data: the functions below are the whole interface.
constexpr int kSpeciesWordBits = 64;
constexpr int kSpeciesWords = kMaxSpecies / kSpeciesWordBits;
static_assert(kMaxSpecies % kSpeciesWordBits == 0, "species sets are whole words");
struct SpeciesSet {
    uint64_t word[kSpeciesWords];
};

// Species numbers are never negative; as unsigned values their word and bit
// take a shift and a mask, with no correction for a sign.
inline bool containsSpecies(const SpeciesSet& s, int species) {
    const auto at = static_cast<unsigned>(species);
    return (s.word[at / kSpeciesWordBits] >> (at % kSpeciesWordBits)) & 1u;
}
inline void insertSpecies(SpeciesSet* s, int species) {
    const auto at = static_cast<unsigned>(species);
    s->word[at / kSpeciesWordBits] |= uint64_t{1} << (at % kSpeciesWordBits);
}
inline void eraseSpecies(SpeciesSet* s, int species) {
    const auto at = static_cast<unsigned>(species);
    s->word[at / kSpeciesWordBits] &= ~(uint64_t{1} << (at % kSpeciesWordBits));
}
inline SpeciesSet singleSpecies(int species) {
    SpeciesSet s{};
    insertSpecies(&s, species);
    return s;
}
// Species 0..count-1.
inline SpeciesSet firstSpecies(int count) {
    SpeciesSet s{};
    for (int w = 0; w < kSpeciesWords; ++w) {
        const int bits = count - w * kSpeciesWordBits;
        s.word[w] = bits >= kSpeciesWordBits ? ~uint64_t{0}
                    : bits <= 0              ? 0
                                             : (uint64_t{1} << bits) - 1;
    }
    return s;
}
inline SpeciesSet uniteSets(const SpeciesSet& a, const SpeciesSet& b) {
    SpeciesSet s;
    for (int w = 0; w < kSpeciesWords; ++w)
        s.word[w] = a.word[w] | b.word[w];
    return s;
}
inline SpeciesSet intersectSets(const SpeciesSet& a, const SpeciesSet& b) {
    SpeciesSet s;
    for (int w = 0; w < kSpeciesWords; ++w)
        s.word[w] = a.word[w] & b.word[w];
    return s;
}
// The members of a that are not in b.
inline SpeciesSet subtractSets(const SpeciesSet& a, const SpeciesSet& b) {
    SpeciesSet s;
    for (int w = 0; w < kSpeciesWords; ++w)
        s.word[w] = a.word[w] & ~b.word[w];
    return s;
}
inline int countSpecies(const SpeciesSet& s) {
    int count = 0;
    for (int w = 0; w < kSpeciesWords; ++w)
        count += __builtin_popcountll(s.word[w]);
    return count;
}
// The tests below gather all words before one comparison: no branch per word.
inline bool isEmptySet(const SpeciesSet& s) {
    uint64_t any = 0;
    for (int w = 0; w < kSpeciesWords; ++w)
        any |= s.word[w];
    return any == 0;
}
inline bool isSubset(const SpeciesSet& a, const SpeciesSet& b) {
    uint64_t outside = 0;
    for (int w = 0; w < kSpeciesWords; ++w)
        outside |= a.word[w] & ~b.word[w];
    return outside == 0;
}
inline bool operator==(const SpeciesSet& a, const SpeciesSet& b) {
    uint64_t differ = 0;
    for (int w = 0; w < kSpeciesWords; ++w)
        differ |= a.word[w] ^ b.word[w];
    return differ == 0;
}
inline bool operator!=(const SpeciesSet& a, const SpeciesSet& b) {
    return !(a == b);
}
// The lowest member; kMaxSpecies for the empty set.
inline int lowestSpecies(const SpeciesSet& s) {
    for (int w = 0; w < kSpeciesWords; ++w)
        if (s.word[w] != 0) return w * kSpeciesWordBits + __builtin_ctzll(s.word[w]);
    return kMaxSpecies;
}
// Removes the highest member and returns it; -1 for the empty set.
inline int takeHighestSpecies(SpeciesSet* s) {
    for (int w = kSpeciesWords - 1; w >= 0; --w)
        if (s->word[w] != 0) {
            const int bit = kSpeciesWordBits - 1 - __builtin_clzll(s->word[w]);
            s->word[w] ^= uint64_t{1} << bit;
            return w * kSpeciesWordBits + bit;
        }
    return -1;
}
// The members numbered above species.
inline SpeciesSet membersAbove(const SpeciesSet& s, int species) {
    return subtractSets(s, firstSpecies(species + 1));
}
// Writes the members in increasing order and returns their number.
inline int listSpecies(const SpeciesSet& s, int* members) {
    int count = 0;
    for (int w = 0; w < kSpeciesWords; ++w)
        for (uint64_t bits = s.word[w]; bits != 0; bits &= bits - 1)
            members[count++] = w * kSpeciesWordBits + __builtin_ctzll(bits);
    return count;
}

// One node of a rooted binary tree. A node is a leaf exactly when both
// children are null. Field order is part of the design; keep it.
struct TreeNode {
    int16_t label;     // species number at a leaf; never printed at inner nodes
    TreeNode* parent;  // set by the reader and the exact builder only
    TreeNode* left;
    TreeNode* right;
    float height;    // always 0; nothing depends on it
    int32_t weight;  // tree weight at an input root; candidate score at a heuristic root
};

// w[i][j][k]: summed weight of input trees displaying ij|k. Entries are 32-bit
// and never wrap: the reader keeps the sum of all entries with i < j at or
// below INT32_MAX, so every later 32-bit sum over the table is exact.
extern int32_t g_tripleWeight[kMaxSpecies][kMaxSpecies][kMaxSpecies];

extern int32_t g_speciesCount;  // n, from the input header
extern int32_t g_treeCount;     // from the input header
extern int32_t g_nextLabel;     // label of the next inner node, 5000 at start

extern TreeNode* g_nodePool[kPoolSize];

extern uint32_t g_fullMask;                  // bits 0..n-1 set
extern int32_t g_subsetScore[kMaxSubsets];   // best score of each species subset
extern uint32_t g_subsetSplit[kMaxSubsets];  // chosen left part of each subset

extern FILE* g_inFile;
extern FILE* g_outFile;
extern TreeNode* g_resultTree;

// Number of threads the parallel parts of a run may use; results never depend
// on it. 0 means one per available core.
extern int g_threadCount;

// Threads a parallel part may use: g_threadCount, or one per core.
int threadCountToUse();

// Runs work on the calling thread and on threads-1 more, and returns when all
// have finished. Work shares itself out (for example through an atomic
// counter); if a thread cannot be started, the running ones do its share.
void runOnThreads(int threads, const std::function<void()>& work);

// When set, kernels that have a vectorised form for the running processor
// use their portable form instead; results are the same either way.
extern bool g_portableKernelsOnly;

// True when the vector kernels may run: the processor has AVX2 and POPCNT
// and g_portableKernelsOnly is clear. The one check for every kernel that has
// a vector form.
bool vectorKernelsUsable();

// Exit statuses.
constexpr int kExitUsage = 1;   // command-line and file errors
constexpr int kExitInput = -1;  // bad input, seen as 255 by a shell

// Called by fatalExit when set, instead of printing and ending the process.
// In-process tests and the fuzz target install one that throws; it must not
// return.
using FatalHandler = void (*)(int status, const char* message);
extern FatalHandler g_fatalHandler;

// The single exit for every fatal condition: closes the input stream, prints
// the message to standard output and ends the process with the status.
[[noreturn]] void fatalExit(int status, const char* message);

// A zero-filled heap node; running out of memory is fatal.
TreeNode* allocateNode();

// Frees a node and everything below it; null does nothing. Works without
// recursion, so trees of any depth are safe.
void freeTree(TreeNode* node);

// Hands out the current g_nextLabel, cut to 16 bits, and advances the counter.
int16_t takeNextLabel();

// Allocates each of the kPoolSize records of a pool separately, so that
// freeTree can release any tree built in it node by node.
void allocatePoolRecords(TreeNode** pool);
void allocateNodePool();  // g_nodePool
