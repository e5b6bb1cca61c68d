// The part of tressil-newick that runs inside tressil's library: named gene
// trees straight into the triple table, a method, and the result with names
// and support values. Nothing here writes a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/common.h"
#include "common/progress.h"
#include "driver/driver.h"
#include "io/io.h"
#include "named/annotate/annotate.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"
#include "triples/triples.h"

namespace {

constexpr int32_t kMinTaxa = 3;  // a tree on fewer displays no triple

// One rooted tree of any degree, its taxa numbered, as the table takes it:
// the nodes reachable from the root, children first.
GeneTree geneTreeOf(const NamedTree& tree,
                    const std::unordered_map<std::string, int32_t>& numbers) {
    GeneTree gene{{}, {}, 0};
    std::vector<int32_t> index(tree.nodes.size(), -1);
    std::vector<std::pair<int32_t, size_t>> stack{{tree.root, 0}};  // node, children done
    std::vector<int32_t> order;
    while (!stack.empty()) {
        auto& [node, done] = stack.back();
        const NamedNode& named = tree.nodes[static_cast<size_t>(node)];
        if (done < named.children.size()) {
            stack.push_back({named.children[done++], 0});
            continue;
        }
        index[static_cast<size_t>(node)] = static_cast<int32_t>(order.size());
        order.push_back(node);
        stack.pop_back();
    }
    gene.parent.assign(order.size(), -1);
    gene.species.assign(order.size(), -1);
    for (size_t i = 0; i < order.size(); ++i) {
        const NamedNode& named = tree.nodes[static_cast<size_t>(order[i])];
        if (named.children.empty()) gene.species[i] = numbers.at(named.name);
        for (const int32_t child : named.children)
            gene.parent[static_cast<size_t>(index[static_cast<size_t>(child)])] =
                static_cast<int32_t>(i);
    }
    // A weight comment holds at most INT32_MAX, so the narrowing is exact.
    gene.weight = static_cast<int32_t>(tree.weight);
    return gene;
}

std::string gigabytes(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

// Refuses a run that needs more memory than there is, before the table is
// allocated.
void checkMemory(int32_t species, Method method, int64_t trees, int64_t nodes) {
    const int threads = threadCountToUse();
    const int64_t needed = runMemoryBytes(method, species, threads, trees, nodes);
    const int64_t available = availableMemoryBytes();
    if (needed <= available) return;
    failWhole(std::to_string(species) + " taxa need about " + gigabytes(needed) +
              " of memory, but " + gigabytes(available) + " is available; at most " +
              std::to_string(largestFittingSpecies(method, threads, trees, nodes, available)) +
              " taxa would fit");
}

Method chooseMethod(InferMethod asked, int32_t species);

// Reads, roots and adds every tree; returns the taxon names.
std::vector<std::string> fillTable(const std::string& text, const InferOptions& options,
                                   std::string* notes) {
    std::vector<std::string> names;
    std::unordered_map<std::string, int32_t> numbers;
    std::unordered_set<std::string> allNames;
    RootingCounts counts{0, 0, 0};
    int32_t read = 0;
    int32_t skipped = 0;
    g_treeCount = 0;
    const bool rooting = !options.outgroup.empty();
    size_t pos = 0;
    NamedTree tree{};
    std::vector<GeneTree> trees;
    int64_t nodes = 0;
    while (readNextTree(text, &pos, &tree, true)) {
        if (read == INT32_MAX) failWhole("more than 2147483647 trees; split the file");
        ++read;
        reportProgress(ProgressStage::kReadTrees, read, 0);
        for (const NamedNode& node : tree.nodes)
            if (node.children.empty()) allNames.insert(node.name);
        if (tree.leafCount < kMinTaxa) {
            ++skipped;
            continue;
        }
        if (rooting) {
            const Rooting how = rootOnOutgroup(&tree, options.outgroup);
            ++(how == Rooting::kOnOutgroup     ? counts.onOutgroup
               : how == Rooting::kOnFirstTaxon ? counts.onFirstTaxon
                                               : counts.leftOut);
            if (how == Rooting::kNoOutgroup) continue;
        }
        numberTaxa(tree, numbers, names);
        trees.push_back(geneTreeOf(tree, numbers));
        nodes += static_cast<int64_t>(trees.back().parent.size());
        ++g_treeCount;
    }
    if (read == 0) failWhole("no tree found; write each tree in Newick and end it with ';'");
    checkOutgroupNames(options.outgroup, allNames);
    if (skipped > 0)
        *notes += "tressil-newick: skipped " + std::to_string(skipped) + " of " +
                  std::to_string(read) + " trees with fewer than 3 taxa\n";
    if (rooting) *notes += rootingNote(counts);
    if (names.empty())
        failWhole("no tree with three or more taxa is left, so there is no triple to use");
    // Taxa are numbered by int32_t, and no table of that many fits in memory.
    const auto species = static_cast<int32_t>(names.size());
    checkMemory(species, chooseMethod(options.method, species), static_cast<int64_t>(trees.size()),
                nodes);
    const GeneTreeLoad load = measureGeneTrees(trees, species);
    if (!load.fits)
        failWhole(
            "the trees' weights are too large: one species triple could gather more than "
            "2147483647 of them; lower their [&W] weights");
    fillTripleTable(trees, species);
    g_speciesCount = species;
    return names;
}

// The method for a number of taxa; the exact method's other condition, sums
// within 32 bits, is checked once the table is filled (exactOrSearch).
Method chooseMethod(InferMethod asked, int32_t species) {
    switch (asked) {
        case InferMethod::kExact:
            if (species > kMaxExactSpecies)
                failWhole(std::to_string(species) + " taxa found, but --exact takes at most " +
                          std::to_string(kMaxExactSpecies) + "; use --search or --heuristic");
            return Method::kExact;
        case InferMethod::kHeuristic:
            return Method::kHeuristic;
        case InferMethod::kSearch:
            return Method::kSearch;
        case InferMethod::kBest:
            break;
    }
    return species <= kMaxExactSpecies ? Method::kExact : Method::kSearch;
}

// The exact method sums the table in 32 bits; a table whose total passes
// that (some two million trees of 20 taxa, or heavy weights) goes to the
// search by default and is refused with --exact.
Method exactOrSearch(Method method, InferMethod asked) {
    if (method != Method::kExact || exactMethodFits()) return method;
    if (asked == InferMethod::kExact)
        failWhole(
            "the trees display more triple weight than 2147483647 in all, more than --exact "
            "sums; use --search");
    return Method::kSearch;
}

// The method's tree as a ResultTree, children first, without recursion.
ResultTree resultFromNodes(const TreeNode* root) {
    ResultTree tree{{}, -1};
    std::vector<std::pair<const TreeNode*, bool>> stack{{root, false}};  // node, children done
    std::vector<int32_t> done;
    while (!stack.empty()) {
        const auto [node, expanded] = stack.back();
        stack.pop_back();
        const bool leaf = node->left == nullptr && node->right == nullptr;
        if (!leaf && !expanded) {
            stack.push_back({node, true});
            stack.push_back({node->right, false});
            stack.push_back({node->left, false});
            continue;
        }
        ResultNode result{leaf ? node->label : -1, -1, -1, ""};
        if (!leaf) {
            result.right = done.back();
            done.pop_back();
            result.left = done.back();
            done.pop_back();
        }
        tree.nodes.push_back(result);
        done.push_back(static_cast<int32_t>(tree.nodes.size() - 1));
    }
    tree.root = done.back();
    return tree;
}

std::string reportText(Method method, const MethodResult& result) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    if (out == nullptr) failWhole("out of memory");
    writeReport(out, method, result);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

}  // namespace

InferResult inferSpeciesTree(const std::string& text, const InferOptions& options) {
    CoreErrorsThrow guard;
    ProgressLine progress;
    g_threadCount = options.threads;
    InferResult out;
    const std::vector<std::string> names = fillTable(text, options, &out.notes);
    const Method method =
        exactOrSearch(chooseMethod(options.method, g_speciesCount), options.method);
    const MethodResult found = runMethod(method);
    ResultTree tree = resultFromNodes(found.tree);
    out.report = reportText(method, found);
    // The heuristic's tree lives in the candidate pools, which later runs
    // reuse; every other method hands over a tree of its own.
    if (method != Method::kHeuristic) freeTree(found.tree);
    if (options.support) labelSupport(&tree);
    out.newick = resultNewick(tree, names);
    if (options.picture) out.svg = drawTreeSvg(tree, names);
    return out;
}
