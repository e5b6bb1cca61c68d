// Rooting a gene family: the duplications and losses of every root at once.
//
// For a node u and a neighbour x, let S(u->w) be the species on w's side of
// the edge {u, w}. Rooted so that x is u's parent, u's children are its
// other neighbours: u is a duplication when the sizes of their sets sum to
// more than the size of their union, S(x->u), and each of them smaller than
// S(x->u) is a loss. With the tree as stored, down(v) costs the subtree of v
// and up(v) the rest of the tree seen from v's parent; the root on the edge
// above v costs down(v) + up(v) + the new root's own event.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "named/family/family.h"

namespace {

constexpr size_t kWordBits = 64;
// The most words one family's sets may take (256 MiB for each of the two).
constexpr size_t kMaxSetWords = size_t{1} << 25;

// The species of every node's side as bitsets of words words each.
struct SpeciesSets {
    size_t words;
    std::vector<uint64_t> bits;  // node v: words v*words .. v*words+words-1
    std::vector<int32_t> size;   // species in each set
};

uint64_t* setOf(SpeciesSets* sets, size_t v) {
    return sets->bits.data() + v * sets->words;
}

const uint64_t* setOf(const SpeciesSets& sets, size_t v) {
    return sets.bits.data() + v * sets.words;
}

int32_t countBits(const uint64_t* set, size_t words) {
    int32_t count = 0;
    for (size_t w = 0; w < words; ++w)
        count += __builtin_popcountll(set[w]);
    return count;
}

void unite(uint64_t* into, const uint64_t* from, size_t words) {
    for (size_t w = 0; w < words; ++w)
        into[w] |= from[w];
}

// Species renumbered 0..k-1, so the sets are as small as the family.
std::vector<int32_t> localSpecies(const std::vector<int32_t>& species, size_t* count) {
    std::vector<int32_t> seen;
    for (const int32_t s : species)
        if (s >= 0) seen.push_back(s);
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    std::vector<int32_t> local(species.size(), -1);
    for (size_t v = 0; v < species.size(); ++v)
        if (species[v] >= 0)
            local[v] = static_cast<int32_t>(std::lower_bound(seen.begin(), seen.end(), species[v]) -
                                            seen.begin());
    *count = seen.size();
    return local;
}

// The species below every node; nodes are stored children first.
SpeciesSets setsBelow(const NamedTree& tree, const std::vector<int32_t>& species) {
    size_t count = 0;
    const std::vector<int32_t> local = localSpecies(species, &count);
    SpeciesSets below{std::max<size_t>(1, (count + kWordBits - 1) / kWordBits), {}, {}};
    if (tree.nodes.size() * below.words > kMaxSetWords)
        failWhole("a gene family of " + std::to_string(tree.leafCount) + " leaves and " +
                  std::to_string(count) +
                  " species is too large to root by its duplications; split it into smaller "
                  "families");
    below.bits.assign(tree.nodes.size() * below.words, 0);
    below.size.assign(tree.nodes.size(), 0);
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        uint64_t* set = setOf(&below, v);
        if (local[v] >= 0) {
            const auto s = static_cast<size_t>(local[v]);
            set[s / kWordBits] |= uint64_t{1} << (s % kWordBits);
        }
        for (const int32_t child : tree.nodes[v].children)
            unite(set, setOf(below, static_cast<size_t>(child)), below.words);
        below.size[v] = countBits(set, below.words);
    }
    return below;
}

// The species outside every node's subtree (nothing at the root), from the
// top down: a child sees its parent's outside and its siblings' sets, which
// running unions from both ends give in one pass over the children.
SpeciesSets setsAbove(const NamedTree& tree, const SpeciesSets& below) {
    const size_t words = below.words;
    SpeciesSets above{words, std::vector<uint64_t>(below.bits.size(), 0),
                      std::vector<int32_t>(below.size.size(), 0)};
    std::vector<uint64_t> fromLeft;
    for (size_t v = tree.nodes.size(); v-- > 0;) {
        const std::vector<int32_t>& children = tree.nodes[v].children;
        if (children.empty()) continue;
        fromLeft.assign((children.size() + 1) * words, 0);
        std::copy(setOf(above, v), setOf(above, v) + words, fromLeft.begin());
        for (size_t i = 0; i < children.size(); ++i) {
            std::copy(fromLeft.begin() + static_cast<std::ptrdiff_t>(i * words),
                      fromLeft.begin() + static_cast<std::ptrdiff_t>((i + 1) * words),
                      fromLeft.begin() + static_cast<std::ptrdiff_t>((i + 1) * words));
            unite(fromLeft.data() + (i + 1) * words, setOf(below, static_cast<size_t>(children[i])),
                  words);
        }
        std::vector<uint64_t> fromRight(words, 0);
        for (size_t i = children.size(); i-- > 0;) {
            const auto child = static_cast<size_t>(children[i]);
            uint64_t* set = setOf(&above, child);
            std::copy(fromLeft.begin() + static_cast<std::ptrdiff_t>(i * words),
                      fromLeft.begin() + static_cast<std::ptrdiff_t>((i + 1) * words), set);
            unite(set, fromRight.data(), words);
            above.size[child] = countBits(set, words);
            unite(fromRight.data(), setOf(below, child), words);
        }
    }
    return above;
}

FamilyCost operator+(FamilyCost a, FamilyCost b) {
    return {a.duplications + b.duplications, a.losses + b.losses};
}

FamilyCost operator-(FamilyCost a, FamilyCost b) {
    return {a.duplications - b.duplications, a.losses - b.losses};
}

// A family of one copy per species has no duplication however rooted, and
// needs no sets (which a large one could not afford).
bool singleCopy(const std::vector<int32_t>& species) {
    size_t count = 0;
    localSpecies(species, &count);
    return static_cast<size_t>(std::count_if(species.begin(), species.end(),
                                             [](int32_t s) { return s >= 0; })) == count;
}

bool cheaper(FamilyCost a, FamilyCost b) {
    return a.duplications != b.duplications ? a.duplications < b.duplications : a.losses < b.losses;
}

// The event of a node whose children's sets have these sizes (sorted), all
// of them summing to sum, their union of size whole, one set of size
// leftOut (when one is left out) not among the children.
FamilyCost eventOf(const std::vector<int32_t>& sorted, int64_t sum, int32_t whole,
                   int32_t leftOut) {
    if (sum - (leftOut >= 0 ? leftOut : 0) <= whole) return {0, 0};
    int64_t smaller = std::lower_bound(sorted.begin(), sorted.end(), whole) - sorted.begin();
    if (leftOut >= 0 && leftOut < whole) --smaller;
    return {1, smaller};
}

// The event of inner node v as stored, its children's set sizes left
// sorted in sizes.
FamilyCost storedEvent(const NamedTree& tree, const SpeciesSets& below, size_t v,
                       std::vector<int32_t>* sizes) {
    sizes->clear();
    int64_t sum = 0;
    for (const int32_t child : tree.nodes[v].children) {
        sizes->push_back(below.size[static_cast<size_t>(child)]);
        sum += sizes->back();
    }
    std::sort(sizes->begin(), sizes->end());
    return eventOf(*sizes, sum, below.size[v], -1);
}

}  // namespace

FamilyCost rootedFamilyCost(const NamedTree& tree, const std::vector<int32_t>& species,
                            std::vector<bool>* duplication) {
    FamilyCost cost{0, 0};
    if (duplication != nullptr) duplication->assign(tree.nodes.size(), false);
    if (singleCopy(species)) return cost;
    const SpeciesSets below = setsBelow(tree, species);
    std::vector<int32_t> sizes;
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        if (tree.nodes[v].children.empty()) continue;
        const FamilyCost event = storedEvent(tree, below, v, &sizes);
        cost = cost + event;
        if (duplication != nullptr) (*duplication)[v] = event.duplications > 0;
    }
    return cost;
}

std::vector<FamilyCost> familyRootCosts(const NamedTree& tree,
                                        const std::vector<int32_t>& species) {
    const size_t count = tree.nodes.size();
    if (singleCopy(species)) return std::vector<FamilyCost>(count, FamilyCost{0, 0});
    const auto root = static_cast<size_t>(tree.root);
    const SpeciesSets below = setsBelow(tree, species);
    const SpeciesSets above = setsAbove(tree, below);
    std::vector<FamilyCost> down(count, FamilyCost{0, 0});
    std::vector<FamilyCost> up(count, FamilyCost{0, 0});
    std::vector<int32_t> sizes;
    // Down: the children of v as stored.
    for (size_t v = 0; v < count; ++v) {
        const std::vector<int32_t>& children = tree.nodes[v].children;
        if (children.empty()) continue;
        for (const int32_t child : children)
            down[v] = down[v] + down[static_cast<size_t>(child)];
        down[v] = down[v] + storedEvent(tree, below, v, &sizes);
    }
    // Up: v's parent p rooted towards v has every other neighbour of p as
    // a child, its own parent's side included.
    for (size_t p = count; p-- > 0;) {
        const std::vector<int32_t>& children = tree.nodes[p].children;
        if (children.empty()) continue;
        sizes.clear();
        int64_t sum = 0;
        FamilyCost all = p == root ? FamilyCost{0, 0} : up[p];
        if (p != root) {
            sizes.push_back(above.size[p]);
            sum += above.size[p];
        }
        for (const int32_t child : children) {
            sizes.push_back(below.size[static_cast<size_t>(child)]);
            sum += sizes.back();
            all = all + down[static_cast<size_t>(child)];
        }
        std::sort(sizes.begin(), sizes.end());
        for (const int32_t child : children) {
            const auto v = static_cast<size_t>(child);
            up[v] = all - down[v] + eventOf(sizes, sum, above.size[v], below.size[v]);
        }
    }
    std::vector<FamilyCost> cost(count, FamilyCost{0, 0});
    const int32_t whole = below.size[root];
    for (size_t v = 0; v < count; ++v) {
        if (v == root) continue;
        std::vector<int32_t> sides = {below.size[v], above.size[v]};
        std::sort(sides.begin(), sides.end());
        cost[v] = down[v] + up[v] + eventOf(sides, sides[0] + sides[1], whole, -1);
    }
    return cost;
}

FamilyRoots bestFamilyRoots(const NamedTree& tree, const std::vector<int32_t>& species,
                            const std::vector<bool>& outgroupLeaf) {
    const std::vector<FamilyCost> cost = familyRootCosts(tree, species);
    const auto root = static_cast<size_t>(tree.root);
    const std::vector<int32_t>& top = tree.nodes[root].children;
    // Both halves of a root of two children are one edge.
    const int32_t sameEdge = top.size() == 2 ? top[1] : -1;
    FamilyRoots roots{{0, 0}, 0, -1, {}};
    for (size_t v = 0; v < cost.size(); ++v) {
        if (v == root || static_cast<int32_t>(v) == sameEdge) continue;
        if (!roots.candidates.empty() && cheaper(roots.cost, cost[v])) continue;
        if (roots.candidates.empty() || cheaper(cost[v], roots.cost)) roots.candidates.clear();
        roots.cost = cost[v];
        roots.candidates.push_back(static_cast<int32_t>(v));
    }
    roots.tied = static_cast<int32_t>(roots.candidates.size());
    if (outgroupLeaf.empty()) return roots;
    std::vector<int32_t> leaves(tree.nodes.size(), 0);
    std::vector<int32_t> listed(tree.nodes.size(), 0);
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        if (tree.nodes[v].children.empty()) {
            leaves[v] = 1;
            listed[v] = outgroupLeaf[v] ? 1 : 0;
        }
        for (const int32_t child : tree.nodes[v].children) {
            leaves[v] += leaves[static_cast<size_t>(child)];
            listed[v] += listed[static_cast<size_t>(child)];
        }
    }
    if (listed[root] == 0) return roots;
    std::vector<int32_t> kept;
    for (const int32_t x : roots.candidates) {
        const auto v = static_cast<size_t>(x);
        // The outgroup below the edge, or on the rest of the tree.
        const int32_t outBelow = (listed[root] - listed[v]) + (leaves[v] - listed[v]);
        const int32_t outAbove =
            listed[v] + (leaves[root] - leaves[v]) - (listed[root] - listed[v]);
        const int32_t misplaced = std::min(outBelow, outAbove);
        if (!kept.empty() && misplaced > roots.misplaced) continue;
        if (kept.empty() || misplaced < roots.misplaced) kept.clear();
        roots.misplaced = misplaced;
        kept.push_back(x);
    }
    roots.candidates = std::move(kept);
    return roots;
}
