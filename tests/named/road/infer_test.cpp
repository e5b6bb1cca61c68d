// infer against independent roads: the reader's table built from encode's
// output, rooting by trying every edge, and triples counted on the trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/common.h"
#include "common/run_support.h"
#include "driver/driver.h"
#include "named/annotate/annotate.h"
#include "named/named_support.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"

namespace {

using Names = std::set<std::string>;
using Clusters = std::set<Names>;

std::vector<int32_t> snapshotTable() {
    const int n = g_speciesCount;
    std::vector<int32_t> table;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            table.insert(table.end(), tripleRow(i, j), tripleRow(i, j) + n);
    return table;
}

InferOptions threeThreads(InferOptions options) {
    options.threads = 3;
    return options;
}

// Trees without an outgroup taxon left out, so that the table holds only
// the trees rooted on the outgroup, as encode writes them.
InferOptions droppingUnplaced(InferOptions options) {
    options.dropUnplaced = true;
    return options;
}

std::vector<std::string> poolOf(size_t size) {
    std::vector<std::string> pool;
    for (size_t t = 0; t < size; ++t)
        pool.push_back("n" + std::to_string(t));
    return pool;
}

TEST(InferTable, BinaryTreesFillTheTableTheReaderBuildsFromEncode) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 24; ++trial) {
        const std::vector<std::string> pool = poolOf(3 + 5 * static_cast<size_t>(trial));
        std::vector<std::string> outgroup;
        if (trial % 2 == 1) outgroup = {pool[rng() % pool.size()], pool[rng() % pool.size()]};
        std::string text;
        for (int t = 0; t < 6; ++t) {
            NamedTree tree = randomTree(randomTaxa(pool, t == 0 ? pool.size() : 2, rng), rng);
            tree.weight = 1 + static_cast<int64_t>(rng() % 5);
            text += writeRandomNewick(tree, rng);
        }
        if (!outgroup.empty() && outgroup[0] == outgroup[1]) outgroup.pop_back();
        const EncodedTrees encoded = encodeTrees(text, outgroup);
        const InferResult result = inferSpeciesTree(
            text, droppingUnplaced(inferOptions(outgroup, InferMethod::kHeuristic)));
        const int32_t inferred = g_speciesCount;
        const std::vector<int32_t> table = snapshotTable();
        ASSERT_EQ(readText(tressilInputText(encoded)), "") << text;
        ASSERT_EQ(inferred, g_speciesCount);
        // The same table once infer's numbers are turned into encode's.
        std::vector<int32_t> encodeNumber;
        for (const std::string& name : result.taxa)
            encodeNumber.push_back(
                static_cast<int32_t>(std::find(encoded.names.begin(), encoded.names.end(), name) -
                                     encoded.names.begin()));
        const int32_t n = inferred;
        bool same = true;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j)
                for (int32_t k = 0; k < n; ++k)
                    same = same && table[static_cast<size_t>((i * n + j) * n + k)] ==
                                       tripleWeight(encodeNumber[static_cast<size_t>(i)],
                                                    encodeNumber[static_cast<size_t>(j)],
                                                    encodeNumber[static_cast<size_t>(k)]);
        EXPECT_TRUE(same) << "trial " << trial << "\n" << text;
    }
}

// Slow rooting: every edge's split, each side of it as the outgroup, the one
// that misplaces the fewest taxa (then the smaller outgroup side, then the
// side whose sorted names come first); the rooted tree's clusters are then
// the sides that lie within the outgroup side or within the rest.
std::optional<Clusters> rootByEveryEdge(const NamedTree& tree,
                                        const std::vector<std::string>& outgroup) {
    const Names all = leafNames(tree);
    const Names listed(outgroup.begin(), outgroup.end());
    if (std::none_of(all.begin(), all.end(), [&](const std::string& n) { return listed.count(n); }))
        return std::nullopt;
    const auto complement = [&all](const Names& side) {
        Names rest;
        std::set_difference(all.begin(), all.end(), side.begin(), side.end(),
                            std::inserter(rest, rest.end()));
        return rest;
    };
    std::vector<Names> sides;
    for (const Names& cluster : clusterSets(tree))
        if (cluster != all) sides.push_back(cluster);
    for (const std::string& name : all)
        sides.push_back({name});
    const auto key = [&](const Names& out) {
        size_t misplaced = 0;
        for (const std::string& name : all)
            misplaced += (listed.count(name) != 0) != (out.count(name) != 0) ? 1 : 0;
        return std::make_tuple(misplaced, out.size(), out);
    };
    Names out = sides[0];
    for (const Names& side : sides)
        for (const Names& s : {side, complement(side)})
            if (key(s) < key(out)) out = s;
    const Names in = complement(out);
    const auto within = [](const Names& s, const Names& group) {
        return std::includes(group.begin(), group.end(), s.begin(), s.end());
    };
    Clusters rooted{all};
    for (const Names& side : sides)
        for (const Names& s : {side, complement(side)})
            if (s.size() > 1 && (within(s, out) || within(s, in))) rooted.insert(s);
    return rooted;
}

// A rooted gene tree: its taxa, clusters and weight.
struct Rooted {
    Names all;
    Clusters clusters;
    int64_t weight;
};

// The tree holds x, y and z, and some cluster x and y without z.
bool displays(const Rooted& tree, const std::string& x, const std::string& y,
              const std::string& z) {
    if (tree.all.count(x) == 0 || tree.all.count(y) == 0 || tree.all.count(z) == 0) return false;
    for (const Names& c : tree.clusters)
        if (c.count(x) != 0 && c.count(y) != 0 && c.count(z) == 0) return true;
    return false;
}

// A node of the written species tree: the taxa of its two children, its label.
struct LabelledNode {
    Names left;
    Names right;
    std::string label;
};

// Reads "(X,Y)label" with plain names; returns the taxa below.
Names readLabelled(const std::string& text, size_t* pos, std::vector<LabelledNode>* nodes) {
    if (text[*pos] != '(') {
        const size_t end = text.find_first_of(",);", *pos);
        const std::string name = text.substr(*pos, end - *pos);
        *pos = end;
        return {name};
    }
    ++*pos;
    LabelledNode node{readLabelled(text, pos, nodes), {}, ""};
    ++*pos;  // ','
    node.right = readLabelled(text, pos, nodes);
    ++*pos;  // ')'
    const size_t end = text.find_first_of(",);", *pos);
    node.label = text.substr(*pos, end - *pos);
    *pos = end;
    Names below = node.left;
    below.insert(node.right.begin(), node.right.end());
    nodes->push_back(node);
    return below;
}

TEST(InferRooting, MatchesEveryEdgeAndTheTableAndSupportMatchCountsOnTheTrees) {
    std::mt19937 rng(29);
    for (int trial = 0; trial < 40; ++trial) {
        const std::vector<std::string> pool = poolOf(4 + static_cast<size_t>(trial % 6));
        std::string text;
        for (int t = 0; t < 5; ++t) {
            NamedTree tree = randomTree(randomTaxa(pool, t == 0 ? pool.size() : 3, rng), rng);
            collapseRandomly(&tree, 30, rng);
            tree.weight = 1 + static_cast<int64_t>(rng() % 3);
            text += writeRandomNewick(tree, rng);
        }
        std::vector<std::string> outgroup = randomTaxa(pool, 1, rng);
        outgroup.resize(std::min(outgroup.size(), size_t{1} + rng() % 3));
        // Rooting, and the triples of each rooted tree counted by name.
        std::vector<Rooted> rooted;
        std::vector<std::string> names;
        std::unordered_map<std::string, int32_t> numbers;
        size_t pos = 0;
        NamedTree tree{};
        while (readNextTree(text, &pos, &tree, true)) {
            const std::optional<Clusters> expected = rootByEveryEdge(tree, outgroup);
            NamedTree actual = tree;
            const RootingResult how = rootOnOutgroup(
                &actual, std::unordered_set<std::string>(outgroup.begin(), outgroup.end()));
            ASSERT_EQ(how.how == Rooting::kNoOutgroup, !expected.has_value()) << text;
            if (!expected) continue;
            ASSERT_EQ(clusterSets(actual), *expected) << text;
            numberTaxa(tree, numbers, names);
            rooted.push_back({leafNames(tree), *expected, tree.weight});
        }
        std::vector<std::string> permuted = outgroup;
        std::reverse(permuted.begin(), permuted.end());
        const InferResult reversed = inferSpeciesTree(
            text,
            droppingUnplaced(inferOptions(permuted, InferMethod::kBest, SupportKind::kShare)));
        const InferResult result = inferSpeciesTree(
            text,
            droppingUnplaced(inferOptions(outgroup, InferMethod::kBest, SupportKind::kShare)));
        EXPECT_EQ(result.newick, reversed.newick) << text;
        ASSERT_EQ(g_speciesCount, static_cast<int32_t>(names.size()));
        // infer numbers the ingroup first, each group by first appearance.
        const Names listed(outgroup.begin(), outgroup.end());
        int32_t next = 0;
        for (const bool inOutgroup : {false, true})
            for (const std::string& name : names)
                if ((listed.count(name) != 0) == inOutgroup) numbers[name] = next++;
        Names outgroupPresent;
        for (const std::string& name : names)
            if (listed.count(name) != 0) outgroupPresent.insert(name);
        for (const std::string& x : names)
            for (const std::string& y : names)
                for (const std::string& z : names) {
                    int64_t weight = 0;
                    for (const Rooted& r : rooted)
                        if (x != y && displays(r, x, y, z)) weight += r.weight;
                    ASSERT_EQ(tripleWeight(numbers[x], numbers[y], numbers[z]), weight)
                        << x << y << "|" << z << "\n"
                        << text;
                }
        std::vector<LabelledNode> nodes;
        pos = 0;
        readLabelled(result.newick, &pos, &nodes);
        for (const LabelledNode& node : nodes) {
            int64_t agreeing = 0;
            int64_t total = 0;
            for (const std::string& z : names) {
                if (node.left.count(z) != 0 || node.right.count(z) != 0) continue;
                for (const std::string& x : node.left)
                    for (const std::string& y : node.right)
                        for (const Rooted& r : rooted) {
                            agreeing += displays(r, x, y, z) ? r.weight : 0;
                            const bool any = displays(r, x, y, z) || displays(r, x, z, y) ||
                                             displays(r, y, z, x);
                            total += any ? r.weight : 0;
                        }
            }
            Names below = node.left;
            below.insert(node.right.begin(), node.right.end());
            const bool givenByOutgroup =
                outgroupPresent.size() < names.size() &&
                (below == outgroupPresent ||
                 (below.size() + outgroupPresent.size() == names.size() &&
                  std::none_of(below.begin(), below.end(),
                               [&](const std::string& n) { return outgroupPresent.count(n); })));
            if (total == 0 || givenByOutgroup) {
                EXPECT_EQ(node.label, "") << result.newick;
                continue;
            }
            ASSERT_EQ(node.label.size(), 4u) << result.newick;
            EXPECT_NEAR(std::stod(node.label), static_cast<double>(agreeing) / total, 0.005 + 1e-9)
                << result.newick << "\n"
                << text;
        }
    }
}

// Every rooted binary tree on the taxa, as cluster sets (the full set and
// single taxa left out), by inserting each taxon on every edge in turn.
std::vector<Clusters> everyTree(const std::vector<std::string>& taxa) {
    std::vector<std::vector<Names>> trees = {{}};  // clusters of two or more, the root's included
    Names placed;
    for (const std::string& taxon : taxa) {
        std::vector<std::vector<Names>> grown;
        for (const std::vector<Names>& tree : trees) {
            // Above an existing cluster, above a single taxon, or above the root.
            std::vector<Names> places = tree;
            for (const std::string& p : placed)
                places.push_back({p});
            if (placed.empty()) {
                grown.push_back(tree);
                continue;
            }
            for (const Names& place : places) {
                std::vector<Names> next;
                for (Names c : tree) {
                    if (c != place && std::includes(c.begin(), c.end(), place.begin(), place.end()))
                        c.insert(taxon);
                    next.push_back(c);
                }
                Names joined = place;
                joined.insert(taxon);
                next.push_back(joined);
                grown.push_back(next);
            }
        }
        trees = grown;
        placed.insert(taxon);
    }
    std::vector<Clusters> result;
    for (const std::vector<Names>& tree : trees)
        result.push_back(Clusters(tree.begin(), tree.end()));
    return result;
}

// With an outgroup, every method's tree has the outgroup's root split and
// reports the weight it satisfies on the rooted gene trees; the exact method
// and the search reach the best of all trees with that root.
TEST(InferOutgroupRoot, EveryMethodKeepsTheRootAndTheBestOnesReachTheOptimum) {
    std::mt19937 rng(53);
    for (int trial = 0; trial < 24; ++trial) {
        const std::vector<std::string> pool = poolOf(4 + static_cast<size_t>(trial % 3));
        std::string text;
        for (int t = 0; t < 6; ++t) {
            NamedTree tree = randomTree(randomTaxa(pool, t == 0 ? pool.size() : 3, rng), rng);
            collapseRandomly(&tree, 20, rng);
            tree.weight = 1 + static_cast<int64_t>(rng() % 3);
            text += writeRandomNewick(tree, rng);
        }
        std::vector<std::string> outgroup = randomTaxa(pool, 1, rng);
        outgroup.resize(std::min(outgroup.size(), size_t{1} + rng() % 2));
        std::vector<Rooted> rooted;
        Names taxa;
        size_t pos = 0;
        NamedTree tree{};
        while (readNextTree(text, &pos, &tree, true)) {
            const std::optional<Clusters> clusters = rootByEveryEdge(tree, outgroup);
            if (!clusters) continue;
            rooted.push_back({leafNames(tree), *clusters, tree.weight});
            taxa.insert(rooted.back().all.begin(), rooted.back().all.end());
        }
        const Names out = [&] {
            Names present;
            for (const std::string& name : outgroup)
                if (taxa.count(name) != 0) present.insert(name);
            return present;
        }();
        if (out.size() == taxa.size()) continue;
        const auto satisfied = [&](const Clusters& clusters) {
            const Rooted species{taxa, clusters, 1};
            int64_t total = 0;
            for (const std::string& x : taxa)
                for (const std::string& y : taxa)
                    for (const std::string& z : taxa)
                        if (x < y && displays(species, x, y, z))
                            for (const Rooted& r : rooted)
                                total += displays(r, x, y, z) ? r.weight : 0;
            return total;
        };
        int64_t best = -1;
        for (const Clusters& candidate : everyTree({taxa.begin(), taxa.end()})) {
            const bool rootSplit = out.size() == 1 || candidate.count(out) != 0;
            const bool restSplit =
                taxa.size() - out.size() == 1 ||
                std::any_of(candidate.begin(), candidate.end(), [&](const Names& c) {
                    return c.size() + out.size() == taxa.size() &&
                           std::none_of(c.begin(), c.end(),
                                        [&](const std::string& n) { return out.count(n); });
                });
            if (rootSplit && restSplit) best = std::max(best, satisfied(candidate));
        }
        for (const InferMethod method :
             {InferMethod::kExact, InferMethod::kHeuristic, InferMethod::kSearch}) {
            const InferResult result =
                inferSpeciesTree(text, droppingUnplaced(inferOptions(outgroup, method)));
            size_t at = 0;
            NamedTree species{};
            ASSERT_TRUE(readNextTree(result.newick, &at, &species));
            const NamedNode& root = species.nodes[static_cast<size_t>(species.root)];
            Clusters clusters = clusterSets(species);
            clusters.insert({taxa.begin(), taxa.end()});
            Names first;
            for (std::vector<int32_t> stack = {root.children[0]}; !stack.empty();) {
                const NamedNode& node = species.nodes[static_cast<size_t>(stack.back())];
                stack.pop_back();
                if (node.children.empty()) first.insert(node.name);
                stack.insert(stack.end(), node.children.begin(), node.children.end());
            }
            EXPECT_EQ(first, out) << result.newick;
            const std::string key = "%Total weight of satisfied triples: ";
            const int64_t reported =
                std::stoll(result.report.substr(result.report.find(key) + key.size()));
            EXPECT_EQ(reported, satisfied(clusters)) << result.newick << "\n" << text;
            if (method != InferMethod::kHeuristic) {
                EXPECT_EQ(reported, best) << text;
            }
        }
    }
}

// The reported total of a written tree, counted on the gene trees in 64 bits.
int64_t rescore(const std::string& newick, const std::vector<Rooted>& rooted, const Names& all) {
    std::vector<LabelledNode> nodes;
    size_t pos = 0;
    readLabelled(newick, &pos, &nodes);
    int64_t total = 0;
    for (const LabelledNode& node : nodes)
        for (const std::string& z : all) {
            if (node.left.count(z) != 0 || node.right.count(z) != 0) continue;
            for (const std::string& x : node.left)
                for (const std::string& y : node.right)
                    for (const Rooted& r : rooted)
                        total += displays(r, x, y, z) ? r.weight : 0;
        }
    return total;
}

int64_t reportedTotal(const std::string& report,
                      const std::string& key = "%Total weight of satisfied triples: ") {
    const size_t at = report.find(key);
    return at == std::string::npos ? -1 : std::stoll(report.substr(at + key.size()));
}

// The same counts for many taxa. In a gene tree, x and y meet below z
// exactly when the smallest cluster holding x and y is smaller than the one
// holding x and z; meet[x * n + y] is that size, 0 when x or y is missing.
std::vector<size_t> meetSizes(const Rooted& tree, const std::vector<std::string>& pool) {
    const size_t n = pool.size();
    std::vector<size_t> meet(n * n, 0);
    std::vector<const Names*> clusters;
    for (const Names& c : tree.clusters)
        clusters.push_back(&c);
    std::sort(clusters.begin(), clusters.end(),
              [](const Names* a, const Names* b) { return a->size() > b->size(); });
    for (const Names* c : clusters) {
        std::vector<size_t> taxa;
        for (const std::string& name : *c)
            taxa.push_back(
                static_cast<size_t>(std::find(pool.begin(), pool.end(), name) - pool.begin()));
        for (const size_t x : taxa)
            for (const size_t y : taxa)
                meet[x * n + y] = c->size();
    }
    return meet;
}

// The weight the written tree satisfies and the weight of every resolved
// triple, counted on the gene trees.
std::pair<int64_t, int64_t> countOnTrees(const std::string& newick,
                                         const std::vector<Rooted>& rooted,
                                         const std::vector<std::string>& pool) {
    std::vector<LabelledNode> nodes;
    size_t pos = 0;
    readLabelled(newick, &pos, &nodes);
    const size_t n = pool.size();
    const auto number = [&pool](const Names& names) {
        std::vector<size_t> taxa;
        for (const std::string& name : names)
            taxa.push_back(
                static_cast<size_t>(std::find(pool.begin(), pool.end(), name) - pool.begin()));
        return taxa;
    };
    int64_t satisfied = 0;
    int64_t resolved = 0;
    for (const Rooted& r : rooted) {
        const std::vector<size_t> meet = meetSizes(r, pool);
        const auto below = [&meet, n](size_t x, size_t y, size_t z) {
            return meet[x * n + y] != 0 && meet[x * n + z] != 0 &&
                   meet[x * n + y] < meet[x * n + z];
        };
        for (const LabelledNode& node : nodes) {
            std::vector<bool> inside(n, false);
            const std::vector<size_t> left = number(node.left);
            const std::vector<size_t> right = number(node.right);
            for (const size_t t : left)
                inside[t] = true;
            for (const size_t t : right)
                inside[t] = true;
            for (size_t z = 0; z < n; ++z)
                for (const size_t x : left)
                    for (const size_t y : right)
                        satisfied += !inside[z] && below(x, y, z) ? r.weight : 0;
        }
        for (size_t x = 0; x < n; ++x)
            for (size_t y = x + 1; y < n; ++y)
                for (size_t z = y + 1; z < n; ++z)
                    resolved += below(x, y, z) || below(x, z, y) || below(y, z, x) ? r.weight : 0;
    }
    return {satisfied, resolved};
}

std::vector<Rooted> rootedTrees(const std::string& text) {
    std::vector<Rooted> rooted;
    size_t pos = 0;
    NamedTree tree{};
    while (readNextTree(text, &pos, &tree, true))
        rooted.push_back({leafNames(tree), clusterSets(tree), tree.weight});
    return rooted;
}

// With an outgroup, each side's table is laid out inside the full one or
// copied out of it, by size; either way the reported total is what the
// written tree satisfies on the gene trees, and the tree is rooted between
// the outgroup and the rest.
TEST(InferSums, EachSideOfTheOutgroupsRootIsSolvedOnItsOwnTaxa) {
    std::mt19937 rng(43);
    const std::vector<std::string> pool = poolOf(40);
    std::string text;
    for (int t = 0; t < 6; ++t) {
        NamedTree tree = randomTree(randomTaxa(pool, pool.size(), rng), rng);
        collapseRandomly(&tree, 20, rng);
        text += writeRandomNewick(tree, rng);
    }
    for (const size_t outgroupSize : {size_t{1}, size_t{4}, size_t{20}, size_t{36}}) {
        const std::vector<std::string> outgroup(pool.end() - static_cast<long>(outgroupSize),
                                                pool.end());
        std::vector<Rooted> rooted;
        size_t pos = 0;
        NamedTree tree{};
        while (readNextTree(text, &pos, &tree, true)) {
            rootOnOutgroup(&tree, {outgroup.begin(), outgroup.end()});
            rooted.push_back({leafNames(tree), clusterSets(tree), tree.weight});
        }
        const InferResult result =
            inferSpeciesTree(text, inferOptions(outgroup, InferMethod::kHeuristic));
        EXPECT_EQ(reportedTotal(result.report),
                  rescore(result.newick, rooted, Names(pool.begin(), pool.end())))
            << outgroupSize << " " << result.newick;
    }
}

// Weights that 32-bit sums could not hold: a table total far past 2^31, its
// tree's total against a count on the trees, the same for every thread
// count; the exact method, whose sums are 32-bit, gives way to the search;
// and weights past what one entry holds are refused.
TEST(InferSums, TotalsPastTwoToThe31MatchACountOnTheTreesForAnyThreads) {
    std::mt19937 rng(31);
    for (const size_t taxa : {size_t{12}, size_t{30}}) {
        const std::vector<std::string> pool = poolOf(taxa);
        std::string text;
        std::vector<Rooted> rooted;
        for (int t = 0; t < 4; ++t) {
            NamedTree tree = randomTree(randomTaxa(pool, t == 0 ? taxa : taxa - 3, rng), rng);
            if (t == 3) collapseRandomly(&tree, 30, rng);
            tree.weight = 500000000 + t;
            text += writeRandomNewick(tree, rng);
        }
        rooted = rootedTrees(text);
        const InferResult one = inferSpeciesTree(text, inferOptions({}, InferMethod::kBest));
        const InferResult three =
            inferSpeciesTree(text, threeThreads(inferOptions({}, InferMethod::kBest)));
        EXPECT_EQ(one.newick, three.newick);
        EXPECT_EQ(one.report, three.report);
        EXPECT_NE(one.report.find("%Using method: Search"), std::string::npos) << one.report;
        const int64_t total = reportedTotal(one.report);
        EXPECT_GT(total, int64_t{INT32_MAX} * 10);
        EXPECT_EQ(total, rescore(one.newick, rooted, Names(pool.begin(), pool.end())));
        // score sums in 64 bits too.
        const InferResult scored =
            scoreSpeciesTree(text, one.newick, inferOptions({}, InferMethod::kBest));
        EXPECT_EQ(reportedTotal(scored.report), total) << scored.report;
        EXPECT_EQ(reportedTotal(scored.report, "%Total weight of resolved triples: "),
                  countOnTrees(one.newick, rooted, pool).second);
        if (taxa <= kMaxExactSpecies) {
            EXPECT_THROW(inferSpeciesTree(text, inferOptions({}, InferMethod::kExact)),
                         NewickError);
        }
        try {
            inferSpeciesTree(text + "[&W 147483648](n0,(n1,n2));",
                             inferOptions({}, InferMethod::kBest));
            ADD_FAILURE() << "weights past one entry's room were taken";
        } catch (const NewickError& error) {
            EXPECT_NE(error.message.find("weights are too large"), std::string::npos)
                << error.message;
        }
    }
}

// Above 128 species, where the search leaves most constructions out, species
// sets spill past their local words and every part of the search shares
// work among threads: gene trees that all lie within one hidden tree are
// solved by it, the reported total is what the written tree satisfies on
// them, and the result is the same for every thread count.
TEST(InferSums, AboveTheNumberedLimitTheTotalIsTheBestTreesOnTheGeneTrees) {
    std::mt19937 rng(37);
    const std::vector<std::string> pool = poolOf(140);
    const NamedTree hidden = randomTree(pool, rng);
    std::string text;
    for (int t = 0; t < 12; ++t) {
        NamedTree tree = hidden;
        collapseRandomly(&tree, 40, rng);
        text += writeRandomNewick(tree, rng);
    }
    const std::vector<Rooted> rooted = rootedTrees(text);
    const InferResult one =
        inferSpeciesTree(text, inferOptions({}, InferMethod::kBest, SupportKind::kShare));
    const InferResult three = inferSpeciesTree(
        text, threeThreads(inferOptions({}, InferMethod::kBest, SupportKind::kShare)));
    EXPECT_EQ(one.newick, three.newick);
    EXPECT_EQ(one.report, three.report);
    EXPECT_NE(one.report.find("%Number of species: 140"), std::string::npos) << one.report;
    // The hidden tree satisfies every resolved triple.
    const auto [satisfied, best] = countOnTrees(one.newick, rooted, pool);
    EXPECT_EQ(satisfied, best);
    EXPECT_EQ(reportedTotal(one.report), best) << one.report;
    EXPECT_EQ(reportedTotal(one.report, "%Upper bound on satisfied weight of any tree on these "
                                        "species, from species triples: "),
              best)
        << one.report;
}

// Memory decides how many taxa a run takes: the largest count that fits is
// where the estimate passes what there is, and a run that cannot fit is
// refused before it allocates, naming that count.
TEST(InferSums, ARunThatCannotFitIsRefusedNamingTheLargestThatWould) {
    for (const Method method : {Method::kHeuristic, Method::kSearch})
        for (const int64_t available : {int64_t{1} << 26, int64_t{1} << 31, int64_t{1} << 35}) {
            const int32_t n = largestFittingSpecies(method, 3, 1000, 200000, 100, available);
            EXPECT_LE(runMemoryBytes(method, n, 3, 1000, scaledNodes(200000, 100, n)), available);
            EXPECT_GT(runMemoryBytes(method, n + 1, 3, 1000, scaledNodes(200000, 100, n + 1)),
                      available);
        }
    // The table, twice for the search, and an eighth more that the allocator keeps.
    for (const int32_t n : {1000, 3000}) {
        EXPECT_GE(runMemoryBytes(Method::kHeuristic, n, 1, 3, 3000), tripleTableBytes(n) / 8 * 9);
        EXPECT_GE(runMemoryBytes(Method::kSearch, n, 1, 3, 3000), tripleTableBytes(n) / 4 * 9);
    }
    std::mt19937 rng(41);
    const std::vector<std::string> pool = poolOf(5000);
    std::string text;
    for (int t = 0; t < 3; ++t)
        text += writeRandomNewick(randomTree(pool, rng), rng);
    try {
        inferSpeciesTree(text, inferOptions({}, InferMethod::kBest));
        ADD_FAILURE() << "5000 taxa were taken";
    } catch (const NewickError& error) {
        EXPECT_EQ(error.message.rfind("5000 taxa need about ", 0), 0u) << error.message;
        const size_t most = error.message.find("; at most ");
        ASSERT_NE(most, std::string::npos) << error.message;
        const int taxa = std::stoi(error.message.substr(most + 10));
        EXPECT_GT(taxa, 20);
        EXPECT_LT(taxa, 5000);
        const std::string end = " taxa would fit";
        EXPECT_EQ(error.message.substr(error.message.size() - end.size()), end) << error.message;
    }
}

}  // namespace
