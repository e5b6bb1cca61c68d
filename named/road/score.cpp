// score: a species tree the user already has, weighed against the gene
// trees' triples and annotated as infer annotates its own.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/common.h"
#include "common/progress.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road_steps.h"
#include "named/tablefree/table_free.h"
#include "search/search.h"

namespace {

constexpr size_t kNamesListed = 10;  // in the message about differing taxa

// The species tree of the file: its one tree, rooted on the outgroup when
// one is given, and otherwise rooted as written.
NamedTree readSpeciesTree(const std::string& bytes, const InferOptions& options) {
    TreeSource source = openTreeSource(bytes);
    const std::string& text = sourceText(source);
    NamedTree tree{};
    if (!readNextTree(&source, &tree, true))
        failWhole("no tree found; give the species tree in Newick or NEXUS");
    NamedTree another{};
    if (readNextTree(&source, &another, true))
        throwAt(text, another.offset, "a second tree; give the one species tree to score alone");
    if (!options.outgroup.empty()) {
        rootOnOutgroup(&tree, std::unordered_set<std::string>(options.outgroup.begin(),
                                                              options.outgroup.end()));
        return tree;
    }
    const NamedNode& root = tree.nodes[static_cast<size_t>(tree.root)];
    if (tree.mark == RootMark::kUnrooted && !options.rooted)
        throwAt(text, tree.offset,
                "the species tree is marked unrooted ([&U]); give --outgroup, or --rooted to take "
                "its root as written");
    if (root.children.size() > 2 && !options.rooted)
        throwAt(text, root.offset,
                "the species tree is unrooted (" + std::to_string(root.children.size()) +
                    " subtrees at its root); give --outgroup, or --rooted to take its root as "
                    "written");
    return tree;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < kNamesListed; ++i)
        text += (i == 0 ? "" : ", ") + quoteName(names[i]);
    if (names.size() > kNamesListed)
        text += " and " + std::to_string(names.size() - kNamesListed) + " more";
    return text;
}

// The species tree on the gene trees' taxon numbers; its taxa must be theirs.
ResultTree numberedTree(const NamedTree& tree, const std::vector<std::string>& names) {
    std::unordered_map<std::string, int32_t> numbers;
    for (size_t t = 0; t < names.size(); ++t)
        numbers.emplace(names[t], static_cast<int32_t>(t));
    std::vector<std::string> onlyInTree;
    std::unordered_set<std::string> inTree;
    ResultTree result{{}, -1};
    for (const NamedNode& node : tree.nodes) {
        ResultNode added{-1, node.children, "", "", ""};
        if (node.children.empty()) {
            inTree.insert(node.name);
            const auto found = numbers.find(node.name);
            if (found == numbers.end())
                onlyInTree.push_back(node.name);
            else
                added.taxon = found->second;
        }
        result.nodes.push_back(added);
    }
    result.root = tree.root;
    std::vector<std::string> onlyInGenes;
    for (const std::string& name : names)
        if (inTree.count(name) == 0) onlyInGenes.push_back(name);
    if (onlyInTree.empty() && onlyInGenes.empty()) return result;
    std::sort(onlyInTree.begin(), onlyInTree.end());
    std::string message = "the species tree and the gene trees hold different taxa:";
    if (!onlyInTree.empty()) message += " only in the species tree: " + listed(onlyInTree) + ";";
    if (!onlyInGenes.empty()) message += " only in the gene trees: " + listed(onlyInGenes) + ";";
    failWhole(message + " give a species tree of the gene trees' taxa");
}

// The weight of the triples ab|z the tree displays (z outside the node where
// a and b meet), and of all triples.
struct TreeWeights {
    int64_t satisfied;
    int64_t resolved;
};

TreeWeights weighTree(const ResultTree& tree, int32_t n) {
    const SpeciesTreeDepths depths = meetingDepths(tree, n);
    TreeWeights weights{0, 0};
    for (int32_t a = 0; a < n; ++a) {
        const int32_t* meet = depths.meet.data() + static_cast<size_t>(a) * n;
        for (int32_t b = a + 1; b < n; ++b) {
            const int32_t* row = tripleRow(a, b);
            for (int32_t z = 0; z < n; ++z) {
                const int64_t w = row[z];
                weights.resolved += w;
                if (z != a && z != b && meet[z] < meet[b]) weights.satisfied += w;
            }
        }
    }
    return weights;
}

// The bound needs the table: without it (bound negative) the line is left
// out, as infer leaves it out.
std::string scoreReport(int32_t trees, int32_t n, const TreeWeights& weights, int64_t bound,
                        bool fromTriples) {
    char share[32];
    std::snprintf(share, sizeof share, "%.4f",
                  weights.resolved == 0 ? 0.0
                                        : static_cast<double>(weights.satisfied) /
                                              static_cast<double>(weights.resolved));
    return "%Number of input trees: " + std::to_string(trees) +
           "\n%Number of species: " + std::to_string(n) +
           "\n%Total weight of satisfied triples: " + std::to_string(weights.satisfied) +
           ".\n%Total weight of resolved triples: " + std::to_string(weights.resolved) +
           ".\n%Share of the resolved weight satisfied: " + share + "\n" +
           (bound < 0 ? std::string()
                      : "%Upper bound on satisfied weight of any tree on these species, however "
                        "rooted" +
                            std::string(fromTriples ? ", from species triples: " : ": ") +
                            std::to_string(bound) + ".\n");
}

// The weights summed on the gene trees, with no table.
TreeWeights weighTreeWithoutTable(const ResultTree& tree, const GeneTrees& genes) {
    const CountingTrees counting =
        prepareCountingTrees(genes.trees, static_cast<int32_t>(genes.names.size()),
                             genes.weighted ? &genes.weighting : nullptr);
    return {treeWeight(counting, tree), resolvedWeight(counting)};
}

}  // namespace

InferResult scoreSpeciesTree(const std::string& genesBytes, const std::string& speciesBytes,
                             const InferOptions& options) {
    CoreErrorsThrow guard;
    ProgressLine progress;
    InferResult out;
    GeneTrees genes = startRun(genesBytes, options, &out, true);
    ResultTree species;
    try {
        species = numberedTree(readSpeciesTree(speciesBytes, options), genes.names);
    } catch (const NewickError& error) {
        throw SpeciesTreeError{error};
    }
    if (rootsWait(genes)) rootUnplacedTrees(&genes, species, {});
    const auto n = static_cast<int32_t>(genes.names.size());
    if (options.triples == TripleKind::kAnchored) genes.anchor = anchorCladesOf(species, n);
    if (genes.tableFree) {
        out.report = scoreReport(static_cast<int32_t>(genes.trees.size()), n,
                                 weighTreeWithoutTable(species, genes), -1, false);
    } else {
        fillTable(genes, {});
        bool fromTriples = false;
        const int64_t bound = satisfiedWeightBound(&fromTriples);
        out.report = scoreReport(g_treeCount, n, weighTree(species, n), bound, fromTriples);
    }
    if (genes.weighted || options.triples == TripleKind::kAnchored)
        out.report = withWeightUnit(out.report);
    const std::vector<BranchEvidence> evidence =
        annotateSpeciesTree(&species, genes, options, !options.outgroup.empty(), &out.replicates);
    out.newick = speciesTreeText(species, genes.names, options.format);
    if (options.picture)
        out.svg =
            drawTreeSvg(species, genes.names, pictureLegend(options, evidence, genes.trees.size()));
    if (options.log)
        out.log = genes.families ? familyLogText(genes.familyRecords) : logText(genes.records);
    familyTexts(genes, &out);
    if (genes.families) out.notes += familyNote(genes);
    out.taxa = std::move(genes.names);
    return out;
}
