// The triple table of the gene trees and the species tree solved from it;
// with an outgroup, each side of the given root is solved on its own.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/common.h"
#include "named/road/road_steps.h"
#include "triples/triples.h"

namespace {

Method chooseMethod(InferMethod asked, int32_t largestSide, bool rootGiven) {
    switch (asked) {
        case InferMethod::kExact:
            if (largestSide > kMaxExactSpecies)
                failWhole(std::to_string(largestSide) +
                          (rootGiven ? " taxa on one side of the outgroup's root" : " taxa found") +
                          ", but --exact takes at most " + std::to_string(kMaxExactSpecies) +
                          "; use --search or --heuristic");
            return Method::kExact;
        case InferMethod::kHeuristic:
            return Method::kHeuristic;
        case InferMethod::kSearch:
            return Method::kSearch;
        case InferMethod::kBest:
            break;
    }
    return largestSide <= kMaxExactSpecies ? Method::kExact : Method::kSearch;
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

std::string gigabytes(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

// The method's tree as a ResultTree, children first, without recursion;
// every taxon number raised by shift.
ResultTree resultFromNodes(const TreeNode* root, int32_t shift) {
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
        ResultNode result{leaf ? node->label + shift : -1, {}, "", "", ""};
        if (!leaf) {
            const int32_t right = done.back();
            done.pop_back();
            result.children = {done.back(), right};
            done.pop_back();
        }
        tree.nodes.push_back(result);
        done.push_back(static_cast<int32_t>(tree.nodes.size() - 1));
    }
    tree.root = done.back();
    return tree;
}

// The method's tree for all taxa of the table.
SpeciesTree runOnAll(Method method) {
    const MethodResult found = runMethod(method);
    SpeciesTree species{resultFromNodes(found.tree, 0), method, found, false};
    // The heuristic's tree lives in the candidate pools, which later runs
    // reuse; every other method hands over a tree of its own.
    if (method != Method::kHeuristic) freeTree(found.tree);
    species.figures.tree = nullptr;
    return species;
}

// A table's layout: the start of the row of the pair i <= j.
struct TableShape {
    size_t species;
    size_t rowLength;
};

size_t rowStart(TableShape shape, size_t i, size_t j) {
    return (i * (2 * shape.species + 1 - i) / 2 + (j - i)) * shape.rowLength;
}

bool inSide(int32_t first, int32_t count, int32_t taxon) {
    return taxon >= first && taxon < first + count;
}

// Every entry w[i][j][k] (i <= j, k a taxon) that a table of the side's
// taxa first..first+count-1 does not hold, row by row.
std::vector<int32_t> saveOutsideSide(int32_t first, int32_t count) {
    const int32_t n = g_tripleWeight.species;
    std::vector<int32_t> saved;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = i; j < n; ++j) {
            const int32_t* row = tripleRow(i, j);
            if (!inSide(first, count, i) || !inSide(first, count, j)) {
                saved.insert(saved.end(), row, row + n);
                continue;
            }
            saved.insert(saved.end(), row, row + first);
            saved.insert(saved.end(), row + first + count, row + n);
        }
    return saved;
}

// Moves the side's entries down into a table of its taxa alone, numbered
// from 0, in the same storage. Rows go in table order and each lands no
// later than it stood, so none is overwritten before it has moved.
void shrinkToSide(int32_t* entries, TableShape full, TableShape side, size_t first) {
    for (size_t i = 0; i < side.species; ++i)
        for (size_t j = i; j < side.species; ++j) {
            int32_t* to = entries + rowStart(side, i, j);
            std::memmove(to, entries + rowStart(full, first + i, first + j) + first,
                         side.species * sizeof(int32_t));
            std::fill(to + side.species, to + side.rowLength, 0);
        }
}

// Undoes shrinkToSide: the rows move back up in reverse order, then every
// other entry comes from saved and the padding of each row is zeroed.
void growFromSide(int32_t* entries, TableShape full, TableShape side, size_t first,
                  const std::vector<int32_t>& saved) {
    for (size_t i = side.species; i-- > 0;)
        for (size_t j = side.species; j-- > i;)
            std::memmove(entries + rowStart(full, first + i, first + j) + first,
                         entries + rowStart(side, i, j), side.species * sizeof(int32_t));
    const int32_t* from = saved.data();
    const size_t last = first + side.species;
    for (size_t i = 0; i < full.species; ++i)
        for (size_t j = i; j < full.species; ++j) {
            int32_t* row = entries + rowStart(full, i, j);
            std::fill(row + full.species, row + full.rowLength, 0);
            const bool inside = i >= first && i < last && j >= first && j < last;
            const size_t head = inside ? first : full.species;
            std::copy(from, from + head, row);
            from += head;
            if (!inside) continue;
            std::copy(from, from + (full.species - last), row + last);
            from += full.species - last;
        }
}

// A table of the taxa first..first+count-1 alone, numbered from 0, made
// from the full one, which waits aside.
std::vector<int32_t> copyToSide(int32_t first, int32_t count) {
    TripleTable full = takeTripleTable();
    sizeTripleTable(count);
    for (int32_t i = 0; i < count; ++i)
        for (int32_t j = i + 1; j < count; ++j) {
            const int32_t* from = tableRow(full, first + i, first + j) + first;
            std::copy(from, from + count, changeTripleRow(i, j));
        }
    // The full table's storage travels in the vector; its row pointer stays
    // valid, since moving a vector keeps its elements where they are.
    return std::move(full.storage);
}

// The best tree on the taxa first..first+count-1 alone: the methods see them
// as the taxa 0..count-1 of a table of their own. A small side gets a new
// table while the full one waits; a large side's table is laid out inside
// the full one's storage while the rest of it waits aside. Either way the
// run holds at most half a table more than the full one, and a run with an
// outgroup needs no more memory than one without.
SpeciesTree solveSide(Method method, int32_t first, int32_t count) {
    SpeciesTree side{{{}, -1}, method, {nullptr, 0, 0, false}, false};
    if (count <= 2) {
        side.tree.nodes.push_back({first, {}, "", "", ""});
        if (count == 2) {
            side.tree.nodes.push_back({first + 1, {}, "", "", ""});
            side.tree.nodes.push_back({-1, {0, 1}, "", "", ""});
        }
        side.tree.root = static_cast<int32_t>(side.tree.nodes.size() - 1);
        return side;
    }
    const int32_t all = g_speciesCount;
    const TableShape full{static_cast<size_t>(all), g_tripleWeight.rowLength};
    const TableShape part{static_cast<size_t>(count), tripleRowLength(count)};
    const bool inPlace = 2 * tripleTableBytes(count) > tripleTableBytes(all);
    TripleTable waiting{
        all, full.rowLength, full.species * (full.species + 1) / 2, g_tripleWeight.entries, {}};
    std::vector<int32_t> saved;
    if (inPlace) {
        saved = saveOutsideSide(first, count);
        TripleTable table = takeTripleTable();
        shrinkToSide(table.entries, full, part, static_cast<size_t>(first));
        table.species = count;
        table.rowLength = part.rowLength;
        table.rows = part.species * (part.species + 1) / 2;
        restoreTripleTable(std::move(table));
    } else {
        waiting.storage = copyToSide(first, count);
    }
    g_speciesCount = count;
    side = runOnAll(method);
    g_speciesCount = all;
    if (inPlace) {
        waiting = takeTripleTable();
        growFromSide(waiting.entries, full, part, static_cast<size_t>(first), saved);
        waiting.species = all;
        waiting.rowLength = full.rowLength;
        waiting.rows = full.species * (full.species + 1) / 2;
    }
    restoreTripleTable(std::move(waiting));
    for (ResultNode& node : side.tree.nodes)
        if (node.children.empty()) node.taxon += first;
    return side;
}

// The weight of the triples with two taxa on one side of the root and the
// third on the other: every tree with that root satisfies all of them.
int64_t weightAcrossRoot(int32_t ingroupCount, int32_t n) {
    int64_t total = 0;
    for (int32_t x = 0; x < n; ++x)
        for (int32_t y = x + 1; y < n; ++y) {
            const bool ingroup = y < ingroupCount;
            if (!ingroup && x < ingroupCount) continue;  // x and y on different sides
            const int32_t from = ingroup ? ingroupCount : 0;
            const int32_t to = ingroup ? n : ingroupCount;
            for (int32_t z = from; z < to; ++z)
                total += tripleWeight(x, y, z);
        }
    return total;
}

// Joins the two sides under a new root, the outgroup first.
ResultTree joinSides(const ResultTree& outgroup, const ResultTree& ingroup) {
    ResultTree tree = outgroup;
    const auto shift = static_cast<int32_t>(tree.nodes.size());
    for (ResultNode node : ingroup.nodes) {
        for (int32_t& child : node.children)
            child += shift;
        tree.nodes.push_back(node);
    }
    tree.nodes.push_back({-1, {outgroup.root, ingroup.root + shift}, "", "", ""});
    tree.root = static_cast<int32_t>(tree.nodes.size() - 1);
    return tree;
}

}  // namespace

void fillTable(const GeneTrees& genes, const std::vector<int32_t>& copies) {
    const auto n = static_cast<int32_t>(genes.names.size());
    std::vector<GeneTree> trees;
    g_treeCount = 0;
    for (size_t t = 0; t < genes.trees.size(); ++t) {
        const int64_t times = copies.empty() ? 1 : copies[t];
        if (times == 0) continue;
        const StoredTree& tree = genes.trees[t];
        // A weight comment holds at most INT32_MAX; a tree drawn several
        // times adds its triples that many times over.
        const int64_t weight = tree.weight * times;
        if (weight > INT32_MAX)
            failWhole("a gene tree drawn " + std::to_string(times) +
                      " times weighs more than 2147483647; lower its [&W] weight");
        trees.push_back(GeneTree{tree.parent, tree.taxon, static_cast<int32_t>(weight),
                                 genes.weighted ? tree.support : std::vector<float>{}});
        g_treeCount += static_cast<int32_t>(times);
    }
    // Weighed and anchored triples count up to the unit each, so the unit
    // bounds both the entries and the sums over the table.
    const bool anchored = genes.anchor.count > 0;
    const int64_t unit = genes.weighted || anchored ? kWeightUnit : 1;
    const GeneTreeLoad load = measureGeneTrees(trees, n, unit);
    if (!load.fits || load.entryBound > INT32_MAX / unit)
        failWhole(
            "the trees' weights are too large: one species triple could gather more than "
            "2147483647 of them; lower their [&W] weights");
    if (anchored)
        fillAnchoredTable(trees, n, genes.anchor, kWeightUnit,
                          genes.weighted ? &genes.weighting : nullptr);
    else
        fillTripleTable(trees, n, genes.weighted ? &genes.weighting : nullptr);
    g_speciesCount = n;
}

SpeciesTree solveSpeciesTree(InferMethod asked, int32_t ingroupCount) {
    const int32_t n = g_speciesCount;
    if (ingroupCount <= 0 || ingroupCount >= n)
        return runOnAll(exactOrSearch(chooseMethod(asked, n, false), asked));
    const Method method =
        exactOrSearch(chooseMethod(asked, std::max(ingroupCount, n - ingroupCount), true), asked);
    const SpeciesTree ingroup = solveSide(method, 0, ingroupCount);
    const SpeciesTree outgroup = solveSide(method, ingroupCount, n - ingroupCount);
    const int64_t across = weightAcrossRoot(ingroupCount, n);
    SpeciesTree species{
        joinSides(outgroup.tree, ingroup.tree), method, {nullptr, 0, 0, false}, true};
    species.figures.total = ingroup.figures.total + outgroup.figures.total + across;
    species.figures.bound = ingroup.figures.bound + outgroup.figures.bound + across;
    species.figures.boundFromTriples =
        ingroup.figures.boundFromTriples || outgroup.figures.boundFromTriples;
    return species;
}

namespace {

struct RunMemory {
    Method method;
    int threads;
    int64_t trees;
    int64_t nodes;
    int64_t needed;
    int64_t available;
};

RunMemory tableRunMemory(const GeneTrees& genes, InferMethod asked) {
    const auto n = static_cast<int32_t>(genes.names.size());
    const bool rootGiven = genes.ingroupCount > 0 && genes.ingroupCount < n;
    const int32_t largest = rootGiven ? std::max(genes.ingroupCount, n - genes.ingroupCount) : n;
    // --exact past its limit fails later with its own message.
    const Method method = asked == InferMethod::kExact && largest > kMaxExactSpecies
                              ? Method::kSearch
                              : chooseMethod(asked, largest, rootGiven);
    int64_t nodes = 0;
    for (const StoredTree& tree : genes.trees)
        nodes += static_cast<int64_t>(tree.parent.size());
    const auto trees = static_cast<int64_t>(genes.trees.size());
    const int threads = threadCountToUse();
    // Solving the two sides of an outgroup's root takes no more than solving
    // all taxa at once (see solveSide), so one estimate serves both.
    return {method,
            threads,
            trees,
            nodes,
            runMemoryBytes(method, n, threads, trees, nodes),
            availableMemoryBytes()};
}

}  // namespace

bool tableRunFits(const GeneTrees& genes, InferMethod asked) {
    const RunMemory m = tableRunMemory(genes, asked);
    return m.needed <= m.available;
}

void checkRunMemory(const GeneTrees& genes, InferMethod asked) {
    const auto n = static_cast<int32_t>(genes.names.size());
    const RunMemory m = tableRunMemory(genes, asked);
    if (m.needed <= m.available) return;
    const int32_t fitting =
        largestFittingSpecies(m.method, m.threads, m.trees, m.nodes, n, m.available);
    failWhole(std::to_string(n) + " taxa need about " + gigabytes(m.needed) + " of memory, but " +
              gigabytes(m.available) + " is available; at most " + std::to_string(fitting) +
              " taxa would fit");
}

std::string topologyKey(const ResultTree& tree) {
    std::vector<std::string> text(tree.nodes.size());
    std::vector<int32_t> smallest(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ResultNode& node = tree.nodes[i];
        if (node.children.empty()) {
            smallest[i] = node.taxon;
            text[i] = std::to_string(node.taxon);
            continue;
        }
        std::vector<int32_t> order = node.children;
        std::sort(order.begin(), order.end(), [&smallest](int32_t a, int32_t b) {
            return smallest[static_cast<size_t>(a)] < smallest[static_cast<size_t>(b)];
        });
        smallest[i] = smallest[static_cast<size_t>(order[0])];
        text[i] = "(";
        for (const int32_t child : order)
            text[i] += (text[i].size() > 1 ? "," : "") + text[static_cast<size_t>(child)];
        text[i] += ")";
    }
    return text[static_cast<size_t>(tree.root)];
}
