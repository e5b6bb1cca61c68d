// Shared types and global tables of tressil; the limits are in limits.h.
//
// Data flows one way: reader -> triple table -> method (exact or heuristic)
// -> writer. Every stage talks through the globals declared here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "common/limits.h"

// The diagnostic dump prints w[i][j][k] for i, j and k below this, whatever n
// is. That is the only reason the triple table clears these entries when n is
// smaller: a later input read in the same process must not show an earlier
// input's weights there.
constexpr int kDumpSpecies = 6;

// A set of species 0..n-1, bit s % 64 of word s / 64 for species s, sized at
// run time: every set of a run holds g_speciesSetWords words, which
// sizeTripleTable sets for the run's species. Sets of different runs must not
// meet in one operation. Up to kLocalSpeciesWords words (the 128 species of
// the numbered format) live in the set itself, unused ones zero, and the
// operations take them at once with no loop; larger sets keep their words on
// the heap. The functions below are the whole interface; the special members
// only copy and free the words.
constexpr int kSpeciesWordBits = 64;
constexpr int kLocalSpeciesWords = 2;
static_assert(kMaxSpecies <= kLocalSpeciesWords * kSpeciesWordBits,
              "sets of the numbered format stay in place");

extern int32_t g_speciesSetWords;

// Zeroed words on the heap for a set of more than kLocalSpeciesWords words;
// running out of memory is fatal.
uint64_t* allocateSetWords(int32_t words);

// The words a new set of this run keeps on the heap: g_speciesSetWords when
// that is more than kLocalSpeciesWords, else 0.
inline int32_t spilledWordsOfRun() {
    return g_speciesSetWords > kLocalSpeciesWords ? g_speciesSetWords : 0;
}

struct SpeciesSet {
    SpeciesSet() : spilledWords(spilledWordsOfRun()), local{0, 0} {
        if (spilledWords != 0) spilled = allocateSetWords(spilledWords);
    }
    SpeciesSet(const SpeciesSet& other) : spilledWords(other.spilledWords), local{0, 0} {
        copyWords(other);
    }
    SpeciesSet(SpeciesSet&& other) noexcept : spilledWords(other.spilledWords), local{0, 0} {
        takeWords(&other);
    }
    SpeciesSet& operator=(const SpeciesSet& other) {
        if (__builtin_expect((spilledWords | other.spilledWords) == 0, 1)) {
            local[0] = other.local[0];
            local[1] = other.local[1];
            return *this;
        }
        return assignSpilled(other);
    }
    SpeciesSet& operator=(SpeciesSet&& other) noexcept {
        if (this == &other) return *this;
        release();
        spilledWords = other.spilledWords;
        takeWords(&other);
        return *this;
    }
    ~SpeciesSet() { release(); }

    // Words on the heap; 0 when the words are the local ones.
    int32_t spilledWords;
    union {
        uint64_t local[kLocalSpeciesWords];
        uint64_t* spilled;
    };

  private:
    // The next two expect spilledWords already set to other's.
    void copyWords(const SpeciesSet& other) {
        if (spilledWords == 0) {
            local[0] = other.local[0];
            local[1] = other.local[1];
            return;
        }
        spilled = allocateSetWords(spilledWords);
        for (int32_t w = 0; w < spilledWords; ++w)
            spilled[w] = other.spilled[w];
    }
    void takeWords(SpeciesSet* other) {
        if (spilledWords == 0) {
            local[0] = other->local[0];
            local[1] = other->local[1];
            return;
        }
        spilled = other->spilled;
        other->spilledWords = 0;  // the words are this set's now
    }
    __attribute__((noinline)) SpeciesSet& assignSpilled(const SpeciesSet& other) {
        if (this == &other) return *this;
        if (spilledWords == other.spilledWords) {
            for (int32_t w = 0; w < spilledWords; ++w)
                spilled[w] = other.spilled[w];
            return *this;
        }
        release();
        spilledWords = other.spilledWords;
        copyWords(other);
        return *this;
    }
    void release() {
        if (spilledWords != 0) delete[] spilled;
        spilledWords = 0;
    }
};

// Sets in place are the common case, and the numbered format's only one.
inline bool isInPlace(const SpeciesSet& s) {
    return __builtin_expect(s.spilledWords == 0, 1);
}
// The words of a set: the local ones for a set in place.
inline int wordCount(const SpeciesSet& s) {
    return isInPlace(s) ? kLocalSpeciesWords : s.spilledWords;
}
inline uint64_t* setWords(SpeciesSet* s) {
    return isInPlace(*s) ? s->local : s->spilled;
}
inline const uint64_t* setWords(const SpeciesSet& s) {
    return isInPlace(s) ? s.local : s.spilled;
}
// Word w of a set, w below its words.
inline uint64_t speciesWord(const SpeciesSet& s, int w) {
    return setWords(s)[w];
}

// Species numbers are never negative; as unsigned values their word and bit
// take a shift and a mask, with no correction for a sign.
inline bool containsSpecies(const SpeciesSet& s, int species) {
    const auto at = static_cast<unsigned>(species);
    return (setWords(s)[at / kSpeciesWordBits] >> (at % kSpeciesWordBits)) & 1u;
}
inline void insertSpecies(SpeciesSet* s, int species) {
    const auto at = static_cast<unsigned>(species);
    setWords(s)[at / kSpeciesWordBits] |= uint64_t{1} << (at % kSpeciesWordBits);
}
inline void eraseSpecies(SpeciesSet* s, int species) {
    const auto at = static_cast<unsigned>(species);
    setWords(s)[at / kSpeciesWordBits] &= ~(uint64_t{1} << (at % kSpeciesWordBits));
}
inline SpeciesSet singleSpecies(int species) {
    SpeciesSet s;
    insertSpecies(&s, species);
    return s;
}
// Species 0..count-1.
inline SpeciesSet firstSpecies(int count) {
    SpeciesSet s;
    uint64_t* word = setWords(&s);
    for (int w = 0; w < wordCount(s); ++w) {
        const int bits = count - w * kSpeciesWordBits;
        word[w] = bits >= kSpeciesWordBits ? ~uint64_t{0}
                  : bits <= 0              ? 0
                                           : (uint64_t{1} << bits) - 1;
    }
    return s;
}
// to becomes a copy of from, a set of the same run: no new words are made.
inline void copyMembers(SpeciesSet* to, const SpeciesSet& from) {
    if (isInPlace(from)) {
        to->local[0] = from.local[0];
        to->local[1] = from.local[1];
        return;
    }
    for (int w = 0; w < from.spilledWords; ++w)
        to->spilled[w] = from.spilled[w];
}
// s gains the members of other.
inline void addMembers(SpeciesSet* s, const SpeciesSet& other) {
    if (isInPlace(*s)) {
        s->local[0] |= other.local[0];
        s->local[1] |= other.local[1];
        return;
    }
    for (int w = 0; w < s->spilledWords; ++w)
        s->spilled[w] |= other.spilled[w];
}
// out becomes the members of a that are not in b, with no new set made;
// returns whether any is left.
inline bool keepOnlyOutside(SpeciesSet* out, const SpeciesSet& a, const SpeciesSet& b) {
    if (isInPlace(*out)) {
        out->local[0] = a.local[0] & ~b.local[0];
        out->local[1] = a.local[1] & ~b.local[1];
        return (out->local[0] | out->local[1]) != 0;
    }
    uint64_t any = 0;
    for (int w = 0; w < out->spilledWords; ++w) {
        out->spilled[w] = a.spilled[w] & ~b.spilled[w];
        any |= out->spilled[w];
    }
    return any != 0;
}
inline SpeciesSet uniteSets(const SpeciesSet& a, const SpeciesSet& b) {
    SpeciesSet s = a;
    addMembers(&s, b);
    return s;
}
// The members of a that are not in b.
inline SpeciesSet subtractSets(const SpeciesSet& a, const SpeciesSet& b) {
    SpeciesSet s;
    keepOnlyOutside(&s, a, b);
    return s;
}
inline int countSpecies(const SpeciesSet& s) {
    if (isInPlace(s)) return __builtin_popcountll(s.local[0]) + __builtin_popcountll(s.local[1]);
    int count = 0;
    for (int w = 0; w < s.spilledWords; ++w)
        count += __builtin_popcountll(s.spilled[w]);
    return count;
}
// The tests below gather all words before one comparison: no branch per word.
inline bool isEmptySet(const SpeciesSet& s) {
    if (isInPlace(s)) return (s.local[0] | s.local[1]) == 0;
    uint64_t any = 0;
    for (int w = 0; w < s.spilledWords; ++w)
        any |= s.spilled[w];
    return any == 0;
}
inline bool isSubset(const SpeciesSet& a, const SpeciesSet& b) {
    if (isInPlace(a)) return ((a.local[0] & ~b.local[0]) | (a.local[1] & ~b.local[1])) == 0;
    uint64_t outside = 0;
    for (int w = 0; w < a.spilledWords; ++w)
        outside |= a.spilled[w] & ~b.spilled[w];
    return outside == 0;
}
inline bool operator==(const SpeciesSet& a, const SpeciesSet& b) {
    if (isInPlace(a)) return ((a.local[0] ^ b.local[0]) | (a.local[1] ^ b.local[1])) == 0;
    uint64_t differ = 0;
    for (int w = 0; w < a.spilledWords; ++w)
        differ |= a.spilled[w] ^ b.spilled[w];
    return differ == 0;
}
inline bool operator!=(const SpeciesSet& a, const SpeciesSet& b) {
    return !(a == b);
}
// The lowest member; a number above every species for the empty set.
inline int lowestSpecies(const SpeciesSet& s) {
    const uint64_t* word = setWords(s);
    for (int w = 0; w < wordCount(s); ++w)
        if (word[w] != 0) return w * kSpeciesWordBits + __builtin_ctzll(word[w]);
    return wordCount(s) * kSpeciesWordBits;
}
// Removes the highest member and returns it; -1 for the empty set.
inline int takeHighestSpecies(SpeciesSet* s) {
    if (isInPlace(*s)) {
        const int w = s->local[1] != 0 ? 1 : 0;
        if (s->local[w] == 0) return -1;
        const int bit = kSpeciesWordBits - 1 - __builtin_clzll(s->local[w]);
        s->local[w] ^= uint64_t{1} << bit;
        return w * kSpeciesWordBits + bit;
    }
    for (int w = s->spilledWords - 1; w >= 0; --w)
        if (s->spilled[w] != 0) {
            const int bit = kSpeciesWordBits - 1 - __builtin_clzll(s->spilled[w]);
            s->spilled[w] ^= uint64_t{1} << bit;
            return w * kSpeciesWordBits + bit;
        }
    return -1;
}
// Writes the members in increasing order and returns their number; members
// has room for every species of the run.
inline int listSpecies(const SpeciesSet& s, int* members) {
    const uint64_t* word = setWords(s);
    int count = 0;
    for (int w = 0; w < wordCount(s); ++w)
        for (uint64_t bits = word[w]; bits != 0; bits &= bits - 1)
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
    int64_t weight;  // tree weight at an input root; candidate score at a heuristic root
};

// w[i][j][k]: summed weight of the input trees that display ij|k, for the
// species 0..species-1 of the run, sized at run time. The weight of ij|k is
// the weight of ji|k, so one row over k serves both orders: the rows of the
// pairs i <= j come by i, then j, so the rows of one species with all above
// it are one block, as the fill and the heuristics read them. Each row is
// rowLength entries long, the species rounded up to whole cache lines, the
// rest zero; rows start on cache lines. Rows with i == j stay zero: no tree
// pairs a species with itself.
//
// Entries are 32-bit and never wrap. tressil's reader keeps the sum of all
// entries at or below INT32_MAX, so every 32-bit sum over its table is
// exact; infer keeps the sum of its trees' weights, which bounds every
// entry, at or below INT32_MAX, and sums over its table are 64-bit.
struct TripleTable {
    int32_t species;
    size_t rowLength;
    size_t rows;
    int32_t* entries;  // within storage, on a cache line
    std::vector<int32_t> storage;
};
extern TripleTable g_tripleWeight;

// Sizes the table for species 0..species-1, every entry zero, and sets
// g_speciesSetWords to match. Running out of memory is fatal.
void sizeTripleTable(int32_t species);

// Moves the table out, leaving an empty one, so that a smaller table of some
// of its species can stand in for a while; restoreTripleTable puts it back
// and sizes the species sets for it again.
TripleTable takeTripleTable();
void restoreTripleTable(TripleTable&& table);

// w[i][j][0..species-1] of a table that is not the current one.
inline const int32_t* tableRow(const TripleTable& table, int i, int j) {
    const auto lo = static_cast<size_t>(i < j ? i : j);
    const auto hi = static_cast<size_t>(i < j ? j : i);
    const auto n = static_cast<size_t>(table.species);
    return table.entries + (lo * (2 * n + 1 - lo) / 2 + (hi - lo)) * table.rowLength;
}

// Bytes of the table for species 0..species-1, and the entries of one of its
// rows.
int64_t tripleTableBytes(int32_t species);
size_t tripleRowLength(int32_t species);

// Memory the system can still give this process, in bytes: what the kernel
// reports as available, or less when a control group limits the process.
int64_t availableMemoryBytes();

// Row index of the pair i, j in either order: lo's block starts after the
// n - x rows of each species x below it.
inline size_t tripleRowIndex(int i, int j) {
    const auto lo = static_cast<size_t>(i < j ? i : j);
    const auto hi = static_cast<size_t>(i < j ? j : i);
    const auto n = static_cast<size_t>(g_tripleWeight.species);
    return lo * (2 * n + 1 - lo) / 2 + (hi - lo);
}
// w[i][j][0..species-1], for i and j below species.
inline const int32_t* tripleRow(int i, int j) {
    return g_tripleWeight.entries + tripleRowIndex(i, j) * g_tripleWeight.rowLength;
}
inline int32_t* changeTripleRow(int i, int j) {
    return g_tripleWeight.entries + tripleRowIndex(i, j) * g_tripleWeight.rowLength;
}
inline int32_t tripleWeight(int i, int j, int k) {
    return tripleRow(i, j)[k];
}

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
