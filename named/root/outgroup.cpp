// Rooting an unrooted tree on an outgroup: find the edge and the side of it
// that misplace the fewest taxa, then turn the tree around so that edge holds
// the root.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "named/root/root.h"
#include "named/root/root_steps.h"

namespace {

// Taxa and outgroup taxa on one side of an edge.
struct RootSides {
    int32_t leaves;
    int32_t listed;
};

// A root on the edge above node, with the outgroup on the side below it or
// on the rest of the tree.
struct RootCandidate {
    int32_t node;
    bool outgroupBelow;
    int32_t misplaced;     // listed taxa on the ingroup side and others on the outgroup side
    int32_t outgroupSize;  // taxa on the outgroup side
};

RootCandidate rootCandidate(int32_t node, bool outgroupBelow, const RootSides& below,
                            const RootSides& all) {
    const RootSides out =
        outgroupBelow ? below : RootSides{all.leaves - below.leaves, all.listed - below.listed};
    return {node, outgroupBelow, (all.listed - out.listed) + (out.leaves - out.listed), out.leaves};
}

// The fewest misplaced taxa first. Among equals, the smaller outgroup side:
// a listed taxon left among the ingroup harms only the triples it is in,
// while an ingroup taxon put on the outgroup side also misroots the triples
// among the ingroup. Then the outgroup side whose sorted names come first,
// so the choice never depends on the order of the list or of the text.
bool comesBefore(const NamedTree& tree, const std::vector<int32_t>& parent, const RootCandidate& a,
                 const RootCandidate& b) {
    if (a.misplaced != b.misplaced) return a.misplaced < b.misplaced;
    if (a.outgroupSize != b.outgroupSize) return a.outgroupSize < b.outgroupSize;
    return namesOnSide(tree, parent, a.node, a.outgroupBelow) <
           namesOnSide(tree, parent, b.node, b.outgroupBelow);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads a name in single quotes from the quote at pos ('' is a quote);
// returns the position after the closing quote.
size_t readQuotedName(const std::string& list, size_t pos, std::string* name) {
    for (++pos;; ++pos) {
        if (pos >= list.size()) failWhole("--outgroup: a quoted name is never closed");
        if (list[pos] != '\'') {
            *name += list[pos];
        } else if (pos + 1 < list.size() && list[pos + 1] == '\'') {
            *name += '\'';
            ++pos;
        } else {
            return pos + 1;
        }
    }
}

}  // namespace

RootingResult rootOnOutgroup(NamedTree* tree, const std::unordered_set<std::string>& outgroup) {
    const size_t count = tree->nodes.size();
    std::vector<int32_t> parent(count, -1);
    std::vector<int32_t> leaves(count, 0);
    std::vector<int32_t> listed(count, 0);  // outgroup leaves below
    for (size_t i = 0; i < count; ++i) {
        const NamedNode& node = tree->nodes[i];
        for (const int32_t child : node.children) {
            parent[static_cast<size_t>(child)] = static_cast<int32_t>(i);
            leaves[i] += leaves[static_cast<size_t>(child)];
            listed[i] += listed[static_cast<size_t>(child)];
        }
        if (!node.children.empty()) continue;
        leaves[i] = 1;
        listed[i] = outgroup.count(node.name) != 0 ? 1 : 0;
    }
    const size_t root = static_cast<size_t>(tree->root);
    const RootSides all{leaves[root], listed[root]};
    if (all.listed == 0) return {Rooting::kNoOutgroup, 0};
    // The counts settle all but the last ties, so names, which cost a sort
    // each, are compared only among the candidates the counts leave level.
    RootCandidate least{-1, false, 0, 0};
    RootCandidate best{-1, false, 0, 0};
    for (const bool comparingNames : {false, true})
        for (size_t i = 0; i < count; ++i) {
            if (i == root) continue;
            const RootSides below{leaves[i], listed[i]};
            for (const bool outgroupBelow : {true, false}) {
                const RootCandidate candidate =
                    rootCandidate(static_cast<int32_t>(i), outgroupBelow, below, all);
                if (!comparingNames) {
                    if (least.node < 0 || candidate.misplaced < least.misplaced ||
                        (candidate.misplaced == least.misplaced &&
                         candidate.outgroupSize < least.outgroupSize))
                        least = candidate;
                    continue;
                }
                if (candidate.misplaced != least.misplaced ||
                    candidate.outgroupSize != least.outgroupSize)
                    continue;
                if (best.node < 0 || comesBefore(*tree, parent, candidate, best)) best = candidate;
            }
        }
    if (best.node < 0) return {Rooting::kOnOutgroup, 0};  // a lone leaf: no edge to root on
    rootAbove(tree, best.node, parent);
    return {best.misplaced == 0 ? Rooting::kOnOutgroup : Rooting::kMisplacing, best.misplaced};
}

std::vector<std::string> parseOutgroup(const std::string& list) {
    std::vector<std::string> names;
    size_t pos = 0;
    const auto skipBlanks = [&list](size_t at) {
        while (at < list.size() && isBlank(list[at]))
            ++at;
        return at;
    };
    while (pos <= list.size()) {
        std::string name;
        pos = skipBlanks(pos);
        if (pos < list.size() && list[pos] == '\'') {
            pos = readQuotedName(list, pos, &name);
            pos = skipBlanks(pos);
            if (pos < list.size() && list[pos] != ',')
                failWhole("--outgroup: a quoted name must be followed by ',' or the end");
        } else {
            const size_t end = std::min(list.find(',', pos), list.size());
            size_t last = end;
            while (last > pos && isBlank(list[last - 1]))
                --last;
            name = matchName(list.substr(pos, last - pos));
            pos = end;
        }
        if (name.empty())
            failWhole(list.find_first_not_of(" \t") == std::string::npos
                          ? "--outgroup lists no taxon; give the outgroup names, separated by ','"
                          : "--outgroup holds an empty name; separate the names by single ','");
        names.push_back(name);
        ++pos;  // past the ',' or the end
    }
    return names;
}

void checkOutgroupNames(const std::vector<std::string>& outgroup,
                        const std::unordered_set<std::string>& allNames) {
    for (const std::string& name : outgroup)
        if (allNames.count(name) == 0)
            failWhole("outgroup taxon " + shownName(name) + " is in no tree; " +
                      suggestNames(name, allNames) + "check its spelling against the tree file");
    const std::unordered_set<std::string> listed(outgroup.begin(), outgroup.end());
    if (!outgroup.empty() &&
        std::all_of(allNames.begin(), allNames.end(),
                    [&listed](const std::string& name) { return listed.count(name) != 0; }))
        failWhole("--outgroup lists all " + std::to_string(allNames.size()) +
                  " taxa of the trees, which leaves none for the ingroup; list only the "
                  "outgroup's taxa");
}

void countRooting(const RootingResult& rooting, RootingCounts* counts) {
    if (rooting.how == Rooting::kNoOutgroup) {
        ++counts->leftOut;
        return;
    }
    ++counts->onOutgroup;
    if (rooting.how == Rooting::kMisplacing) {
        ++counts->misplacing;
        counts->misplacedTaxa += rooting.misplaced;
    }
}

std::string rootingNote(const RootingCounts& counts) {
    std::string note =
        "tressil-newick: rooted " + std::to_string(counts.onOutgroup) + " trees on the outgroup";
    if (counts.misplacing > 0)
        note += ", " + std::to_string(counts.misplacing) + " of them with misplaced taxa (" +
                std::to_string(counts.misplacedTaxa) + " in all)";
    if (counts.bySpeciesTree > 0)
        note += "; rooted " + std::to_string(counts.bySpeciesTree) +
                " without an outgroup taxon by the species tree";
    if (counts.leftOut > 0)
        note += "; left out " + std::to_string(counts.leftOut) + " without an outgroup taxon";
    if (counts.bySpeciesTree == 0 && counts.leftOut == 0)
        note += "; every tree holds an outgroup taxon";
    return note + "\n";
}
