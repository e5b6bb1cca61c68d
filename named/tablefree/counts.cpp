// Triple weights counted on the gene trees: for one tree, the leaves of the
// counted species in preorder and the nodes where they meet form a small
// tree of their own (at most twice their number of nodes), walked once with
// a stack. Each of its nodes gives the triples whose pair meets there and
// whose third leaf lies outside it: the triples the gene tree displays.
#include <algorithm>
#include <atomic>
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

void addTree(const StoredTree& tree, size_t index, CountingTrees* out) {
    const std::vector<int32_t> order = preorderOf(tree);
    const auto count = static_cast<int32_t>(order.size());
    std::vector<int32_t> number(order.size());
    for (int32_t i = 0; i < count; ++i)
        number[static_cast<size_t>(order[static_cast<size_t>(i)])] = i;
    const auto start = static_cast<size_t>(out->nodeStart.back());
    const auto n = static_cast<size_t>(out->species);
    for (int32_t i = 0; i < count; ++i) {
        const auto v = static_cast<size_t>(order[static_cast<size_t>(i)]);
        const int32_t p = tree.parent[v];
        const int32_t parent = p < 0 ? -1 : number[static_cast<size_t>(p)];
        out->parent.push_back(parent);
        out->depth.push_back(parent < 0 ? 0 : out->depth[start + static_cast<size_t>(parent)] + 1);
        const int32_t s = tree.taxon[v];
        out->leafSpecies.push_back(s);
        if (s < 0) continue;
        int32_t& at = out->leafAt[index * n + static_cast<size_t>(s)];
        if (at >= 0)
            failWhole(
                "a gene tree holds one species at two leaves; the table-free path takes "
                "every species once per tree: give --path table");
        at = i;
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
// closed node (all pairs below it but those inside one child) against the
// third leaves outside it (all of the tree's, the tree's colour totals, but
// those below).
void closeNode(const Open& node, const std::array<int64_t, 3>& tree, int64_t weight,
               ColourWeights* out) {
    const std::array<int64_t, 3>& n = node.total;
    for (int c = 0; c < 3; ++c) {
        const int64_t meeting = n[c] * (n[c] - 1) / 2 - node.pairs[c];
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
    if (static_cast<int64_t>(wanted) * 8 < count) {
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

void countTree(const CountingTrees& trees, size_t tree, CountWork* work, ColourWeights* out) {
    const int64_t start = trees.nodeStart[tree];
    const int64_t weight = trees.weight[tree];
    std::vector<Open>& open = work->open;
    open.clear();
    std::array<int64_t, 3> colours{0, 0, 0};  // the counted leaves of each colour
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
                closeNode(done, colours, weight, out);
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
        closeNode(done, colours, weight, out);
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

CountingTrees prepareCountingTrees(const std::vector<StoredTree>& trees, int32_t species) {
    CountingTrees out;
    out.species = species;
    out.nodeStart.push_back(0);
    out.tableStart.push_back(0);
    out.leafAt.assign(trees.size() * static_cast<size_t>(species), -1);
    // Every sum is of weight times at most n^3 / 2 triples per tree: kept
    // far enough below 2^63 that the partial sums of the counts fit too.
    long double total = 0;
    for (size_t t = 0; t < trees.size(); ++t) {
        out.weight.push_back(trees[t].weight);
        const auto leaves = static_cast<long double>(trees[t].taxon.size());
        total += static_cast<long double>(trees[t].weight) * leaves * leaves * leaves;
        addTree(trees[t], t, &out);
    }
    if (total > 0x1p60L)
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
