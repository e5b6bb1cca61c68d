// Triple weights counted on the gene trees: for one tree, the leaves of the
// counted species in preorder and the nodes where they meet form a small
// tree of their own (at most twice their number of nodes), walked once with
// a stack. Each of its nodes gives the triples whose pair meets there and
// whose third leaf lies outside it: the triples the gene tree displays.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/common.h"
#include "named/tablefree/table_free.h"

namespace {

int32_t floorLog2(int64_t x) {
    return 63 - __builtin_clzll(static_cast<unsigned long long>(x));
}

// Children lists of a tree stored children first, and its preorder.
std::vector<int32_t> preorderOf(const StoredTree& tree) {
    const auto count = static_cast<int32_t>(tree.parent.size());
    std::vector<int32_t> firstChild(static_cast<size_t>(count), -1);
    std::vector<int32_t> nextSibling(static_cast<size_t>(count), -1);
    int32_t root = -1;
    // Walking down the nodes keeps every child list in stored order.
    for (int32_t v = count - 1; v >= 0; --v) {
        const int32_t p = tree.parent[static_cast<size_t>(v)];
        if (p < 0) {
            root = v;
            continue;
        }
        nextSibling[static_cast<size_t>(v)] = firstChild[static_cast<size_t>(p)];
        firstChild[static_cast<size_t>(p)] = v;
    }
    std::vector<int32_t> order;
    order.reserve(static_cast<size_t>(count));
    std::vector<int32_t> stack{root};
    while (!stack.empty()) {
        const int32_t v = stack.back();
        stack.pop_back();
        order.push_back(v);
        std::vector<int32_t> kids;
        for (int32_t c = firstChild[static_cast<size_t>(v)]; c >= 0;
             c = nextSibling[static_cast<size_t>(c)])
            kids.push_back(c);
        for (size_t i = kids.size(); i-- > 0;)
            stack.push_back(kids[i]);
    }
    return order;
}

// The meeting node of the nodes u < v (preorder numbers) of one tree: the
// parent of the shallowest node of u+1..v.
int32_t meetingNode(const CountingTrees& trees, size_t tree, int32_t u, int32_t v) {
    const int64_t count = trees.nodeStart[tree + 1] - trees.nodeStart[tree];
    const int32_t* table = trees.shallowest.data() + trees.tableStart[tree];
    const int32_t* depth = trees.depth.data() + trees.nodeStart[tree];
    const int32_t j = floorLog2(v - u);
    const int32_t* level = table + static_cast<int64_t>(j) * count;
    const int32_t a = level[u + 1];
    const int32_t b = level[v - (1 << j) + 1];
    const int32_t shallow = depth[b] < depth[a] ? b : a;
    return trees.parent[static_cast<size_t>(trees.nodeStart[tree] + shallow)];
}

// The pairs of leaves of one species by the node where they meet. Over the
// species' leaves in preorder, leaves i < j meet at the shallowest of the
// meeting nodes of neighbours i..j-1; each neighbours' meeting takes the
// pairs whose range it is the first shallowest of.
void addRepeats(size_t index, CountingTrees* out) {
    const int64_t start = out->nodeStart[index];
    const auto count = static_cast<int32_t>(out->nodeStart[index + 1] - start);
    std::vector<std::pair<int32_t, int32_t>> leaves;  // species, preorder number
    for (int32_t i = 0; i < count; ++i)
        if (out->leafSpecies[static_cast<size_t>(start + i)] >= 0)
            leaves.emplace_back(out->leafSpecies[static_cast<size_t>(start + i)], i);
    std::sort(leaves.begin(), leaves.end());
    struct Entry {
        int32_t node;
        int32_t species;
        int64_t pairs;
    };
    std::vector<Entry> entries;
    std::vector<int32_t> meet;
    std::vector<int32_t> depth;
    std::vector<int32_t> stack;
    std::vector<int32_t> left;
    for (size_t first = 0, last = 0; first < leaves.size(); first = last) {
        while (last < leaves.size() && leaves[last].first == leaves[first].first)
            ++last;
        meet.clear();
        depth.clear();
        for (size_t r = first; r + 1 < last; ++r) {
            meet.push_back(meetingNode(*out, index, leaves[r].second, leaves[r + 1].second));
            depth.push_back(out->depth[static_cast<size_t>(start + meet.back())]);
        }
        const auto k = static_cast<int32_t>(meet.size());
        // left[m]: the last earlier meeting as shallow; then the first later
        // one shallower, from the stack.
        left.assign(meet.size(), -1);
        stack.clear();
        for (int32_t m = 0; m < k; ++m) {
            while (!stack.empty() &&
                   depth[static_cast<size_t>(stack.back())] > depth[static_cast<size_t>(m)])
                stack.pop_back();
            left[static_cast<size_t>(m)] = stack.empty() ? -1 : stack.back();
            stack.push_back(m);
        }
        stack.clear();
        for (int32_t m = k; m-- > 0;) {
            while (!stack.empty() &&
                   depth[static_cast<size_t>(stack.back())] >= depth[static_cast<size_t>(m)])
                stack.pop_back();
            const int32_t right = stack.empty() ? k : stack.back();
            stack.push_back(m);
            entries.push_back({meet[static_cast<size_t>(m)], leaves[first].first,
                               int64_t{m - left[static_cast<size_t>(m)]} * (right - m)});
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.node != b.node ? a.node < b.node : a.species < b.species;
    });
    for (size_t e = 0; e < entries.size(); ++e) {
        if (e > 0 && entries[e].node == entries[e - 1].node &&
            entries[e].species == entries[e - 1].species) {
            out->repeatPairs.back() += entries[e].pairs;
            continue;
        }
        out->repeatNode.push_back(entries[e].node);
        out->repeatSpecies.push_back(entries[e].species);
        out->repeatPairs.push_back(entries[e].pairs);
    }
}

void addTree(const StoredTree& tree, size_t index, bool weighed, CountingTrees* out) {
    const std::vector<int32_t> order = preorderOf(tree);
    const auto count = static_cast<int32_t>(order.size());
    std::vector<int32_t> number(order.size());
    for (int32_t i = 0; i < count; ++i)
        number[static_cast<size_t>(order[static_cast<size_t>(i)])] = i;
    const auto start = static_cast<size_t>(out->nodeStart.back());
    const auto n = static_cast<size_t>(out->species);
    bool repeats = false;
    for (int32_t i = 0; i < count; ++i) {
        const auto v = static_cast<size_t>(order[static_cast<size_t>(i)]);
        const int32_t p = tree.parent[v];
        const int32_t parent = p < 0 ? -1 : number[static_cast<size_t>(p)];
        out->parent.push_back(parent);
        out->depth.push_back(parent < 0 ? 0 : out->depth[start + static_cast<size_t>(parent)] + 1);
        const int32_t s = tree.taxon[v];
        out->leafSpecies.push_back(s);
        if (weighed) out->support.push_back(tree.support.empty() ? 1.0f : tree.support[v]);
        if (s < 0) continue;
        int32_t& at = out->leafAt[index * n + static_cast<size_t>(s)];
        repeats = repeats || at >= 0;
        if (at < 0) at = i;
    }
    out->nodeStart.push_back(out->nodeStart.back() + count);
    const int32_t levels = floorLog2(count) + 1;
    const int32_t* depth = out->depth.data() + start;
    const size_t table = out->shallowest.size();
    out->shallowest.resize(table + static_cast<size_t>(levels) * static_cast<size_t>(count));
    int32_t* level = out->shallowest.data() + table;
    for (int32_t i = 0; i < count; ++i)
        level[i] = i;
    for (int32_t j = 1; j < levels; ++j) {
        const int32_t* below = level;
        level += count;
        const int32_t half = 1 << (j - 1);
        for (int32_t i = 0; i + (1 << j) <= count; ++i) {
            const int32_t a = below[i];
            const int32_t b = below[i + half];
            level[i] = depth[b] < depth[a] ? b : a;
        }
    }
    out->tableStart.push_back(static_cast<int64_t>(out->shallowest.size()));
    if (repeats) addRepeats(index, out);
    out->repeatStart.push_back(static_cast<int64_t>(out->repeatNode.size()));
}

using Open = CountWork::Open;

Open openNode(int32_t node, int32_t depth) {
    Open open{};
    open.node = node;
    open.depth = depth;
    return open;
}

// A closed child joins its parent's sums.
void attach(const Open& child, Open* parent) {
    const std::array<int64_t, 3>& n = child.total;
    for (int c = 0; c < 3; ++c) {
        parent->total[c] += n[c];
        parent->pairs[c] += n[c] * (n[c] - 1) / 2;
    }
    parent->mixed[0] += n[1] * n[2];
    parent->mixed[1] += n[0] * n[2];
    parent->mixed[2] += n[0] * n[1];
}

// Every triple is counted where its pair meets: the pairs that meet at a
// closed node (all pairs below it but those inside one child, and but the
// same pairs of one species's leaves) against the third leaves outside it
// (all of the tree's, the tree's colour totals, but those below).
void closeNode(const Open& node, const std::array<int64_t, 3>& tree, int64_t weight,
               const std::array<int64_t, 3>& same, ColourWeights* out) {
    const std::array<int64_t, 3>& n = node.total;
    for (int c = 0; c < 3; ++c) {
        const int64_t meeting = n[c] * (n[c] - 1) / 2 - node.pairs[c] - same[c];
        if (meeting == 0) continue;
        for (int z = 0; z < 3; ++z)
            if (z != c) out->pair[c][z] += weight * meeting * (tree[z] - n[z]);
    }
    out->mixed[0] += weight * (n[1] * n[2] - node.mixed[0]) * (tree[0] - n[0]);
    out->mixed[1] += weight * (n[0] * n[2] - node.mixed[1]) * (tree[1] - n[1]);
    out->mixed[2] += weight * (n[0] * n[1] - node.mixed[2]) * (tree[2] - n[2]);
}

// The counted leaves of one tree in preorder: looked up by species when
// they are few against the tree, else read off its leaves.
void gatherLeaves(const CountingTrees& trees, size_t tree,
                  const std::array<std::vector<int32_t>, 3>& members, CountWork* work) {
    work->leaves.clear();
    const auto n = static_cast<size_t>(trees.species);
    const int64_t start = trees.nodeStart[tree];
    const int64_t count = trees.nodeStart[tree + 1] - start;
    const size_t wanted = members[0].size() + members[1].size() + members[2].size();
    const bool repeats = trees.repeatStart[tree + 1] > trees.repeatStart[tree];
    if (!repeats && static_cast<int64_t>(wanted) * 8 < count) {
        for (const std::vector<int32_t>& group : members)
            for (const int32_t s : group) {
                const int32_t at = trees.leafAt[tree * n + static_cast<size_t>(s)];
                if (at >= 0) work->leaves.push_back(at);
            }
        std::sort(work->leaves.begin(), work->leaves.end());
        return;
    }
    const int32_t* species = trees.leafSpecies.data() + start;
    for (int32_t i = 0; i < count; ++i)
        if (species[i] >= 0 && work->colour[static_cast<size_t>(species[i])] >= 0)
            work->leaves.push_back(i);
}

// The pairs of one species's leaves, of each colour, that meet at a node.
std::array<int64_t, 3> samePairs(const CountingTrees& trees, size_t tree, int32_t node,
                                 const CountWork& work) {
    std::array<int64_t, 3> same{0, 0, 0};
    const auto first = trees.repeatNode.begin() + trees.repeatStart[tree];
    const auto last = trees.repeatNode.begin() + trees.repeatStart[tree + 1];
    for (auto at = std::lower_bound(first, last, node); at != last && *at == node; ++at) {
        const auto e = static_cast<size_t>(at - trees.repeatNode.begin());
        const int8_t c = work.colour[static_cast<size_t>(trees.repeatSpecies[e])];
        if (c >= 0) same[static_cast<size_t>(c)] += trees.repeatPairs[e];
    }
    return same;
}

// The weight of a path of branches from a pair's meeting node up, as
// supportWeight gives it, one branch more at a time: the same sums in the
// same order, so the same doubles.
struct PathWeight {
    double largest;
    double allWrong;
};

double addBranch(SupportRule rule, float support, PathWeight* path) {
    double s = std::min(1.0, std::max(0.0, static_cast<double>(support)));
    path->largest = std::max(path->largest, s);
    if (rule == SupportRule::kAboveChance) s = std::max(0.0, (3 * s - 1) / 2);
    path->allWrong *= 1 - s;
    return rule == SupportRule::kLargest ? path->largest : 1 - path->allWrong;
}

// The whole-number weight of a triple whose third leaf joins its pair above
// the path, as the table rounds it.
int64_t ringWeight(const CountingTrees& trees, double pathWeight, int64_t weight) {
    return std::llround(pathWeight * trees.weighting.scale * static_cast<double>(weight));
}

void linkMet(int32_t child, int32_t parent, CountWork* work) {
    attach(work->met[static_cast<size_t>(child)], &work->met[static_cast<size_t>(parent)]);
    work->metUp[static_cast<size_t>(child)] = parent;
}

int32_t addMet(int32_t node, int32_t depth, CountWork* work) {
    work->met.push_back(openNode(node, depth));
    work->metUp.push_back(-1);
    return static_cast<int32_t>(work->met.size() - 1);
}

// Weighed triples depend on where the third leaf joins, not only on where
// the pair meets: the nodes where the counted leaves meet are kept whole,
// and from each of them the path up is weighed branch by branch, the third
// leaves taken at each meeting node above.
void countWeighedTree(const CountingTrees& trees, size_t tree, CountWork* work,
                      ColourWeights* out) {
    const int64_t start = trees.nodeStart[tree];
    const int64_t weight = trees.weight[tree];
    const int32_t* parent = trees.parent.data() + start;
    std::vector<Open>& met = work->met;
    std::vector<int32_t>& stack = work->at;
    met.clear();
    work->metUp.clear();
    stack.clear();
    int32_t previous = -1;
    for (const int32_t leaf : work->leaves) {
        const int32_t entry = addMet(leaf, trees.depth[static_cast<size_t>(start + leaf)], work);
        met[static_cast<size_t>(entry)].total[static_cast<size_t>(work->colour[static_cast<size_t>(
            trees.leafSpecies[static_cast<size_t>(start + leaf)])])] = 1;
        if (previous >= 0) {
            const int32_t meet = meetingNode(trees, tree, previous, leaf);
            const int32_t depth = trees.depth[static_cast<size_t>(start + meet)];
            while (met[static_cast<size_t>(stack.back())].depth > depth) {
                const int32_t done = stack.back();
                stack.pop_back();
                if (stack.empty() || met[static_cast<size_t>(stack.back())].depth < depth)
                    stack.push_back(addMet(meet, depth, work));
                linkMet(done, stack.back(), work);
            }
        }
        stack.push_back(entry);
        previous = leaf;
    }
    for (; stack.size() > 1; stack.pop_back())
        linkMet(stack.back(), stack[stack.size() - 2], work);
    const bool repeats = trees.repeatStart[tree + 1] > trees.repeatStart[tree];
    for (size_t i = 0; i < met.size(); ++i) {
        const Open& node = met[i];
        const std::array<int64_t, 3>& n = node.total;
        const std::array<int64_t, 3> same =
            repeats ? samePairs(trees, tree, node.node, *work) : std::array<int64_t, 3>{0, 0, 0};
        std::array<int64_t, 3> pairs{};
        std::array<int64_t, 3> mixed{};
        bool any = false;
        for (int c = 0; c < 3; ++c) {
            pairs[c] = n[c] * (n[c] - 1) / 2 - node.pairs[c] - same[c];
            mixed[c] = n[(c + 1) % 3] * n[(c + 2) % 3] - node.mixed[c];
            any = any || pairs[c] != 0 || mixed[c] != 0;
        }
        if (!any) continue;
        PathWeight path{0, 1};
        auto below = static_cast<int32_t>(i);
        int32_t next = work->metUp[i];
        for (int32_t v = node.node; next >= 0 && parent[v] >= 0; v = parent[v]) {
            const int64_t ring =
                ringWeight(trees,
                           addBranch(trees.weighting.rule,
                                     trees.support[static_cast<size_t>(start + v)], &path),
                           weight);
            if (parent[v] != met[static_cast<size_t>(next)].node) continue;
            for (int z = 0; z < 3; ++z) {
                const int64_t thirds = met[static_cast<size_t>(next)].total[z] -
                                       met[static_cast<size_t>(below)].total[z];
                if (thirds == 0) continue;
                for (int c = 0; c < 3; ++c)
                    if (c != z) out->pair[c][z] += pairs[c] * thirds * ring;
                out->mixed[z] += mixed[z] * thirds * ring;
            }
            below = next;
            next = work->metUp[static_cast<size_t>(next)];
        }
    }
}

void countTree(const CountingTrees& trees, size_t tree, CountWork* work, ColourWeights* out) {
    if (!trees.support.empty()) {
        countWeighedTree(trees, tree, work, out);
        return;
    }
    const int64_t start = trees.nodeStart[tree];
    const int64_t weight = trees.weight[tree];
    std::vector<Open>& open = work->open;
    open.clear();
    std::array<int64_t, 3> colours{0, 0, 0};  // the counted leaves of each colour
    const bool repeats = trees.repeatStart[tree + 1] > trees.repeatStart[tree];
    const auto close = [&](const Open& done) {
        closeNode(
            done, colours, weight,
            repeats ? samePairs(trees, tree, done.node, *work) : std::array<int64_t, 3>{0, 0, 0},
            out);
    };
    for (const int32_t leaf : work->leaves)
        ++colours[static_cast<size_t>(work->colour[static_cast<size_t>(
            trees.leafSpecies[static_cast<size_t>(start + leaf)])])];
    int32_t previous = -1;
    for (const int32_t leaf : work->leaves) {
        Open entry = openNode(leaf, trees.depth[static_cast<size_t>(start + leaf)]);
        entry.total[static_cast<size_t>(work->colour[static_cast<size_t>(
            trees.leafSpecies[static_cast<size_t>(start + leaf)])])] = 1;
        if (previous >= 0) {
            const int32_t meet = meetingNode(trees, tree, previous, leaf);
            const int32_t depth = trees.depth[static_cast<size_t>(start + meet)];
            // Close every open node below the meeting node; the last of
            // them hangs from the meeting node, opened unless it is open.
            while (open.back().depth > depth) {
                Open done = open.back();
                open.pop_back();
                close(done);
                if (!open.empty() && open.back().depth >= depth) {
                    attach(done, &open.back());
                    continue;
                }
                open.push_back(openNode(meet, depth));
                attach(done, &open.back());
            }
        }
        open.push_back(entry);
        previous = leaf;
    }
    while (!open.empty()) {
        Open done = open.back();
        open.pop_back();
        close(done);
        if (!open.empty()) attach(done, &open.back());
    }
}

// The species below every node of a tree, children first.
void speciesBelow(const ResultTree& tree, std::vector<std::vector<int32_t>>* below) {
    below->assign(tree.nodes.size(), {});
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ResultNode& node = tree.nodes[i];
        if (node.children.empty()) {
            (*below)[i].push_back(node.taxon);
            continue;
        }
        for (const int32_t c : node.children) {
            const std::vector<int32_t>& part = (*below)[static_cast<size_t>(c)];
            (*below)[i].insert((*below)[i].end(), part.begin(), part.end());
        }
    }
}

}  // namespace

CountingTrees prepareCountingTrees(const std::vector<StoredTree>& trees, int32_t species,
                                   const TripleWeighting* weighting) {
    CountingTrees out;
    out.species = species;
    out.weighting = weighting != nullptr ? *weighting : TripleWeighting{SupportRule::kAnyRight, 1};
    out.nodeStart.push_back(0);
    out.tableStart.push_back(0);
    out.repeatStart.push_back(0);
    out.leafAt.assign(trees.size() * static_cast<size_t>(species), -1);
    // Every sum is of weight times at most n^3 / 2 triples per tree: kept
    // far enough below 2^63 that the partial sums of the counts fit too.
    long double total = 0;
    for (size_t t = 0; t < trees.size(); ++t) {
        out.weight.push_back(trees[t].weight);
        const auto leaves = static_cast<long double>(trees[t].taxon.size());
        total += static_cast<long double>(trees[t].weight) * leaves * leaves * leaves;
        addTree(trees[t], t, weighting != nullptr, &out);
    }
    if (total * out.weighting.scale > 0x1p60L)
        failWhole("the trees' weights are too large to be summed; lower their [&W] weights");
    return out;
}

int64_t countingTreesBytes(int32_t species, int64_t count, int64_t nodes) {
    const int64_t perNode =
        12 + 4 * (floorLog2(std::max<int64_t>(2, nodes / std::max<int64_t>(1, count))) + 2);
    return nodes * perNode + count * (4 * int64_t{species} + 24);
}

ColourWeights colourWeights(const CountingTrees& trees,
                            const std::array<std::vector<int32_t>, 3>& members, CountWork* work) {
    if (work->colour.size() != static_cast<size_t>(trees.species))
        work->colour.assign(static_cast<size_t>(trees.species), -1);
    for (int c = 0; c < 3; ++c)
        for (const int32_t s : members[static_cast<size_t>(c)])
            work->colour[static_cast<size_t>(s)] = static_cast<int8_t>(c);
    ColourWeights out{};
    for (size_t t = 0; t < trees.weight.size(); ++t) {
        gatherLeaves(trees, t, members, work);
        if (work->leaves.size() >= 3) countTree(trees, t, work, &out);
    }
    for (const std::vector<int32_t>& group : members)
        for (const int32_t s : group)
            work->colour[static_cast<size_t>(s)] = -1;
    return out;
}

int64_t splitWeight(const CountingTrees& trees, const std::vector<int32_t>& one,
                    const std::vector<int32_t>& other, CountWork* work) {
    const ColourWeights w = colourWeights(trees, {one, other, {}}, work);
    return w.pair[0][1] + w.pair[1][0];
}

namespace {

// The weighed triples of a tree of one leaf per species: from each node
// where pairs meet, the path up weighed branch by branch, the third leaves
// those that join at each node above.
int64_t weighedResolved(const CountingTrees& trees, size_t tree,
                        const std::vector<int64_t>& leaves) {
    const int64_t start = trees.nodeStart[tree];
    const int32_t* parent = trees.parent.data() + start;
    std::vector<int64_t> pairs(leaves.size(), 0);
    for (size_t v = 0; v < leaves.size(); ++v)
        pairs[v] = leaves[v] * (leaves[v] - 1) / 2;
    for (size_t v = 1; v < leaves.size(); ++v)
        pairs[static_cast<size_t>(parent[v])] -= leaves[v] * (leaves[v] - 1) / 2;
    int64_t sum = 0;
    for (size_t u = 0; u < leaves.size(); ++u) {
        if (pairs[u] == 0) continue;
        PathWeight path{0, 1};
        for (auto v = static_cast<int32_t>(u); parent[v] >= 0; v = parent[v]) {
            const int64_t ring =
                ringWeight(trees,
                           addBranch(trees.weighting.rule,
                                     trees.support[static_cast<size_t>(start + v)], &path),
                           trees.weight[tree]);
            sum += pairs[u] *
                   (leaves[static_cast<size_t>(parent[v])] - leaves[static_cast<size_t>(v)]) * ring;
        }
    }
    return sum;
}

// The triples one tree displays, each pair meeting at a node against the
// leaves outside it. With individuals, pairs of one species and thirds of
// the pair's species are taken away: at a node, over its leaves x against
// the leaves of other children and other species, each pair loses the
// thirds outside of either leaf's species.
int64_t resolvedOfTree(const CountingTrees& trees, size_t tree, std::vector<int32_t>* counts) {
    const int64_t start = trees.nodeStart[tree];
    const auto count = static_cast<int32_t>(trees.nodeStart[tree + 1] - start);
    const int32_t* species = trees.leafSpecies.data() + start;
    const int32_t* parent = trees.parent.data() + start;
    std::vector<int64_t> leaves(static_cast<size_t>(count), 0);
    std::vector<int32_t> end(static_cast<size_t>(count));  // one past the node's subtree
    for (int32_t v = count; v-- > 0;) {
        end[static_cast<size_t>(v)] = std::max(end[static_cast<size_t>(v)], v + 1);
        if (species[v] >= 0) leaves[static_cast<size_t>(v)] = 1;
        if (parent[v] < 0) continue;
        leaves[static_cast<size_t>(parent[v])] += leaves[static_cast<size_t>(v)];
        end[static_cast<size_t>(parent[v])] =
            std::max(end[static_cast<size_t>(parent[v])], end[static_cast<size_t>(v)]);
    }
    const int64_t all = leaves[0];
    const bool repeats = trees.repeatStart[tree + 1] > trees.repeatStart[tree];
    if (!trees.support.empty()) {
        if (repeats)
            failWhole(
                "weighed triples of individuals are summed over the triple table only; leave out "
                "--path table-free");
        return weighedResolved(trees, tree, leaves);
    }
    std::vector<int32_t>& total = *counts;  // per species: the tree's, below v, below a child
    const auto n = static_cast<size_t>(trees.species);
    if (repeats)
        for (int32_t i = 0; i < count; ++i)
            if (species[i] >= 0) ++total[static_cast<size_t>(species[i])];
    int32_t* inside = total.data() + n;
    int32_t* child = inside + n;
    int64_t sum = 0;
    for (int32_t v = 0; v < count; ++v) {
        if (species[v] >= 0) continue;
        const int64_t nv = leaves[static_cast<size_t>(v)];
        if (!repeats) {
            int64_t pairs = nv * (nv - 1) / 2;
            for (int32_t c = v + 1; c < end[static_cast<size_t>(v)];
                 c = end[static_cast<size_t>(c)])
                pairs -= leaves[static_cast<size_t>(c)] * (leaves[static_cast<size_t>(c)] - 1) / 2;
            sum += pairs * (all - nv);
            continue;
        }
        for (int32_t i = v; i < end[static_cast<size_t>(v)]; ++i)
            if (species[i] >= 0) ++inside[species[i]];
        int64_t ends = 0;  // pairs of other species across children, from both ends
        int64_t lost = 0;
        for (int32_t c = v + 1; c < end[static_cast<size_t>(v)]; c = end[static_cast<size_t>(c)]) {
            const int32_t last = end[static_cast<size_t>(c)];
            for (int32_t i = c; i < last; ++i)
                if (species[i] >= 0) ++child[species[i]];
            for (int32_t i = c; i < last; ++i) {
                if (species[i] < 0) continue;
                const int32_t s = species[i];
                const int64_t other = nv - leaves[static_cast<size_t>(c)] - (inside[s] - child[s]);
                ends += other;
                lost += int64_t{total[static_cast<size_t>(s)] - inside[s]} * other;
            }
            for (int32_t i = c; i < last; ++i)
                if (species[i] >= 0) child[species[i]] = 0;
        }
        for (int32_t i = v; i < end[static_cast<size_t>(v)]; ++i)
            if (species[i] >= 0) inside[species[i]] = 0;
        sum += ends / 2 * (all - nv) - lost;
    }
    if (repeats)
        for (int32_t i = 0; i < count; ++i)
            if (species[i] >= 0) total[static_cast<size_t>(species[i])] = 0;
    return sum * trees.weight[tree];
}

}  // namespace

int64_t resolvedWeight(const CountingTrees& trees) {
    std::vector<int32_t> counts(3 * static_cast<size_t>(trees.species), 0);
    int64_t total = 0;
    for (size_t t = 0; t < trees.weight.size(); ++t)
        total += resolvedOfTree(trees, t, &counts);
    return total;
}

int64_t treeWeight(const CountingTrees& trees, const ResultTree& tree) {
    std::vector<std::vector<int32_t>> below;
    speciesBelow(tree, &below);
    std::vector<size_t> inner;
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        if (tree.nodes[i].children.size() >= 2) inner.push_back(i);
    std::atomic<size_t> next{0};
    std::vector<int64_t> weight(inner.size(), 0);
    runOnThreads(threadCountToUse(), [&] {
        CountWork work;
        for (size_t k = next++; k < inner.size(); k = next++) {
            const std::vector<int32_t>& children = tree.nodes[inner[k]].children;
            if (children.size() == 2) {
                weight[k] = splitWeight(trees, below[static_cast<size_t>(children[0])],
                                        below[static_cast<size_t>(children[1])], &work);
                continue;
            }
            // Child p's pairs against a third leaf in any other child.
            int64_t sum = 0;
            for (size_t p = 0; p < children.size(); ++p) {
                std::array<std::vector<int32_t>, 3> members;
                members[0] = below[static_cast<size_t>(children[p])];
                for (size_t q = 0; q < children.size(); ++q)
                    if (q != p) {
                        const std::vector<int32_t>& part = below[static_cast<size_t>(children[q])];
                        members[1].insert(members[1].end(), part.begin(), part.end());
                    }
                sum += colourWeights(trees, members, &work).pair[0][1];
            }
            weight[k] = sum;
        }
    });
    int64_t total = 0;
    for (const int64_t w : weight)
        total += w;
    return total;
}
