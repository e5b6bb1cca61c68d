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
#include "named/road/road_steps.h"
#include "triples/triples.h"

namespace {

constexpr int kMaxUnplacedRounds = 3;

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

// The taxa of the trees rooted on the outgroup: what a species tree
// inferred from them alone can say something about.
std::vector<bool> taxaOfPlacedTrees(const GeneTrees& genes, const std::vector<bool>& unplaced) {
    std::vector<bool> known(genes.names.size(), false);
    for (size_t t = 0; t < genes.trees.size(); ++t)
        if (!unplaced[t])
            for (const int32_t taxon : genes.trees[t].taxon)
                if (taxon >= 0) known[static_cast<size_t>(taxon)] = true;
    return known;
}

// Trees without an outgroup taxon are rooted by the species tree of the
// others, and the species tree is inferred again from all trees, while it
// changes, at most kMaxUnplacedRounds times.
SpeciesTree rootUnplacedAndSolve(GeneTrees* genes, const InferOptions& options,
                                 std::string* notes) {
    std::vector<bool> unplaced(genes->trees.size(), false);
    for (const size_t at : genes->unplacedAt)
        unplaced[at] = true;
    fillTable(*genes, unplaced);
    SpeciesTree species = solveSpeciesTree(options.method, genes->ingroupCount);
    std::vector<bool> known = taxaOfPlacedTrees(*genes, unplaced);
    bool changed = true;
    int round = 0;
    while (changed && round < kMaxUnplacedRounds) {
        ++round;
        rootUnplacedTrees(genes, species.tree, known);
        known.clear();  // from now on the species tree rests on every tree
        fillTable(*genes, {});
        SpeciesTree next = solveSpeciesTree(options.method, genes->ingroupCount);
        changed = topologyKey(next.tree) != topologyKey(species.tree);
        species = std::move(next);
    }
    *notes +=
        "tressil-newick: the species tree " +
        (changed ? "still changed in round " + std::to_string(round) + ", the last"
                 : "settled after " + std::to_string(round) + " round" + (round > 1 ? "s" : "")) +
        " of rooting trees without an outgroup taxon by it\n";
    return species;
}

std::string treeNotes(const GeneTrees& genes, bool rooting) {
    std::string notes;
    if (genes.skipped > 0)
        notes += "tressil-newick: skipped " + std::to_string(genes.skipped) + " of " +
                 std::to_string(genes.read) + " trees with fewer than 3 taxa\n";
    if (rooting) notes += rootingNote(genes.counts);
    return notes;
}

}  // namespace

InferResult inferSpeciesTree(const std::string& text, const InferOptions& options) {
    CoreErrorsThrow guard;
    g_threadCount = options.threads;
    InferResult out;
    GeneTrees genes = readGeneTrees(text, options);
    out.notes = treeNotes(genes, !options.outgroup.empty());
    SpeciesTree species{};
    if (genes.unplaced.empty()) {
        fillTable(genes, {});
        species = solveSpeciesTree(options.method, genes.ingroupCount);
    } else {
        species = rootUnplacedAndSolve(&genes, options, &out.notes);
    }
    out.report = reportText(species.method, species.figures);
    if (options.support) {
        labelSupport(&species.tree);
        // The root split was given by the outgroup, not inferred.
        const ResultNode& root = species.tree.nodes[static_cast<size_t>(species.tree.root)];
        if (species.rootGiven)
            for (const int32_t side : root.children)
                species.tree.nodes[static_cast<size_t>(side)].label.clear();
    }
    out.newick = resultNewick(species.tree, genes.names);
    if (options.picture) out.svg = drawTreeSvg(species.tree, genes.names);
    if (options.log) out.log = logText(genes.records);
    out.taxa = std::move(genes.names);
    return out;
}
