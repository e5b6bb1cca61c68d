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
#include "driver/driver.h"
#include "io/io.h"
#include "named/annotate/annotate.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"
#include "triples/triples.h"

namespace {

constexpr int32_t kMinTaxa = 3;  // a tree on fewer displays no triple

// Adds one rooted tree of any degree to the table; its taxa are numbered.
void addNamedTree(const NamedTree& tree, const std::unordered_map<std::string, int32_t>& numbers) {
    std::vector<SpeciesSet> below(tree.nodes.size());
    std::vector<SpeciesSet> clusters;
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const NamedNode& node = tree.nodes[i];
        below[i] = node.children.empty() ? singleSpecies(numbers.at(node.name)) : SpeciesSet{};
        for (const int32_t child : node.children)
            below[i] = uniteSets(below[i], below[static_cast<size_t>(child)]);
        if (!node.children.empty() && i != static_cast<size_t>(tree.root))
            clusters.push_back(below[i]);
    }
    // A weight comment holds at most INT32_MAX, so the narrowing is exact.
    addClusterTriples(below[static_cast<size_t>(tree.root)], clusters.data(),
                      static_cast<int>(clusters.size()), static_cast<int32_t>(tree.weight));
}

// Reads, roots and adds every tree; returns the taxon names.
std::vector<std::string> fillTable(const std::string& text, const InferOptions& options,
                                   std::string* notes) {
    g_speciesCount = kMaxSpecies;  // taxa are numbered as they come
    clearTripleWeights();
    std::vector<std::string> names;
    std::unordered_map<std::string, int32_t> numbers;
    std::unordered_set<std::string> allNames;
    RootingCounts counts{0, 0, 0};
    int32_t read = 0;
    int32_t skipped = 0;
    g_treeCount = 0;
    const bool rooting = !options.outgroup.empty();
    TreeSource source = openTreeSource(text);
    NamedTree tree{};
    while (readNextTree(&source, &tree, true)) {
        ++read;
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
        if (names.size() > kMaxSpecies) continue;  // read on only to count the taxa
        addNamedTree(tree, numbers);
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
    if (names.size() > kMaxSpecies)
        failWhole("too many taxa: " + std::to_string(names.size()) +
                  " found, but tressil takes at most " + std::to_string(kMaxSpecies) +
                  "; split the taxa into smaller sets");
    if (tripleWeightTooLarge())
        failWhole(
            "the trees display more triple weight than 2147483647 in all; lower their "
            "[&W] weights or use fewer trees");
    g_speciesCount = static_cast<int32_t>(names.size());
    completeTripleWeights();
    return names;
}

Method chooseMethod(InferMethod asked) {
    switch (asked) {
        case InferMethod::kExact:
            if (g_speciesCount > kMaxExactSpecies)
                failWhole(std::to_string(g_speciesCount) +
                          " taxa found, but --exact takes at most " +
                          std::to_string(kMaxExactSpecies) + "; use --search or --heuristic");
            return Method::kExact;
        case InferMethod::kHeuristic:
            return Method::kHeuristic;
        case InferMethod::kSearch:
            return Method::kSearch;
        case InferMethod::kBest:
            break;
    }
    return g_speciesCount <= kMaxExactSpecies ? Method::kExact : Method::kSearch;
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
    g_threadCount = options.threads;
    InferResult out;
    const std::vector<std::string> names = fillTable(text, options, &out.notes);
    const Method method = chooseMethod(options.method);
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
