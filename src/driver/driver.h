// The run order of tressil: command line, input, dump, method, output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/common.h"

// Runs the whole program and returns the process exit status. Fatal
// conditions end the process through fatalExit.
int runTressil(int argc, char** argv);

// What the command line asks for. Long options ("--name", "--name=value" or
// "--name value", or any unambiguous prefix of a name) may stand anywhere;
// "--" ends them. Every other argument is positional and keeps its meaning.
struct CommandLine {
    std::vector<std::string> positional;
    bool search;
    bool help;
    bool version;
    int threads;  // 0: one per core
};

// The most threads a command line may ask for.
constexpr int kMaxThreads = 1024;

// A thread count as the command lines take it, a whole number from 1 to
// kMaxThreads; 0 when the text is not one.
int readThreadCount(const std::string& text);

// Parses argv[1..argc-1]; a bad option ends the run with a one-line message.
CommandLine parseCommandLine(int argc, char** argv);

enum class Method { kExact, kHeuristic, kSearch };

struct MethodResult {
    // Exact and search: a heap tree, freed with freeTree. Heuristic: a tree
    // in the method's pool records, valid until the next heuristic run.
    TreeNode* tree;
    int64_t total;          // the reported weight of satisfied triples
    int64_t bound;          // search only: no tree satisfies more
    bool boundFromTriples;  // search only: the bound is the triple bound
};

// Builds the tree of a method over g_tripleWeight and g_speciesCount; the
// exact method needs at most kMaxExactSpecies species and a table whose sums
// are exact in 32 bits (exactMethodFits).
MethodResult runMethod(Method method);

// Whether the exact method can run on the table: at most kMaxExactSpecies
// species, and every sum over the table within 32 bits, as its vector
// kernels take them (always so for tressil's own input).
bool exactMethodFits();

// Most bytes a run of infer on this many species takes beyond what it holds
// already, at its peak: filling the table while it holds its trees (trees
// of nodes in all, geneTreeBytes), then the method over the table.
int64_t runMemoryBytes(Method method, int32_t species, int threads, int64_t trees, int64_t nodes);

// The nodes of trees like ones of nodes in all on species taxa, each holding
// the same share of count taxa instead.
int64_t scaledNodes(int64_t nodes, int32_t species, int32_t count);

// The most species for which runMemoryBytes stays within available bytes, for
// as many trees as given, of nodes in all on species taxa, each holding the
// same share of the taxa tried: the machine's capacity for such trees,
// whatever their own number of taxa.
int32_t largestFittingSpecies(Method method, int threads, int64_t trees, int64_t nodes,
                              int32_t species, int64_t available);

// The report lines written after the result tree, with g_treeCount and
// g_speciesCount.
void writeReport(FILE* out, Method method, const MethodResult& result);
