// The part of tressil-newick that runs inside tressil's library: named gene
// trees straight into the triple table, a method, and the result with names
// and support values. Nothing here writes a file.
#include <algorithm>
#include <cmath>
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

void replaceOnce(std::string* text, const std::string& from, const std::string& to) {
    const size_t at = text->find(from);
    if (at != std::string::npos) text->replace(at, from.size(), to);
}

// tressil's report in the words of gene trees: the heuristic method counts
// its input lines as triples, but here they are gene trees; and the bound
// says which trees it holds for, which with an outgroup are those with its
// root (score's bound holds for every tree).
std::string inferReport(const SpeciesTree& species) {
    std::string text = reportText(species.method, species.figures);
    replaceOnce(&text, "%Number of input triples: ", "%Number of input trees: ");
    replaceOnce(&text, "%Upper bound on satisfied weight",
                std::string("%Upper bound on satisfied weight of any tree ") +
                    (species.rootGiven ? "with the outgroup's root" : "on these species"));
    return text;
}

// The species tree of the trees with copies: over the table, or from the
// gene trees themselves.
SpeciesTree solveFrom(const GeneTrees& genes, const std::vector<int32_t>& copies,
                      const InferOptions& options) {
    if (genes.tableFree) return solveWithoutTable(genes, copies);
    fillTable(genes, copies);
    return solveSpeciesTree(options.method, genes.ingroupCount);
}

// The taxa of the trees rooted on the outgroup: what a species tree
// inferred from them alone can say something about.
std::vector<bool> taxaOfPlacedTrees(const GeneTrees& genes, const std::vector<int32_t>& placed) {
    std::vector<bool> known(genes.names.size(), false);
    for (size_t t = 0; t < genes.trees.size(); ++t)
        if (placed[t] != 0)
            for (const int32_t taxon : genes.trees[t].taxon)
                if (taxon >= 0) known[static_cast<size_t>(taxon)] = true;
    return known;
}

// Trees without an outgroup taxon are rooted by the species tree of the
// others, and the species tree is inferred again from all trees, while it
// changes, at most kMaxUnplacedRounds times.
SpeciesTree rootUnplacedAndSolve(GeneTrees* genes, const InferOptions& options,
                                 std::string* notes) {
    std::vector<int32_t> placed(genes->trees.size(), 1);
    for (const size_t at : genes->unplacedAt)
        placed[at] = 0;
    reportProgressPart(ProgressPart::kRootingRound, 0, kMaxUnplacedRounds);
    SpeciesTree species = solveFrom(*genes, placed, options);
    std::vector<bool> known = taxaOfPlacedTrees(*genes, placed);
    bool changed = true;
    int round = 0;
    while (changed && round < kMaxUnplacedRounds) {
        ++round;
        reportProgressPart(ProgressPart::kRootingRound, round, kMaxUnplacedRounds);
        rootUnplacedTrees(genes, species.tree, known);
        known.clear();  // from now on the species tree rests on every tree
        SpeciesTree next = solveFrom(*genes, {}, options);
        changed = topologyKey(next.tree) != topologyKey(species.tree);
        species = std::move(next);
    }
    reportProgressPart(ProgressPart::kWhole, 0, 0);
    *notes +=
        "tressil-newick: the species tree " +
        (changed ? "still changed in round " + std::to_string(round) + ", the last"
                 : "settled after " + std::to_string(round) + " round" + (round > 1 ? "s" : "")) +
        (genes->families ? " of rooting gene families whose best roots tie by it\n"
                         : " of rooting trees without an outgroup taxon by it\n");
    return species;
}

}  // namespace

// Weighed triples are counted in thousandths of a fully supported one; the
// report says so.
std::string withWeightUnit(std::string report) {
    const std::string plain = "%Total weight of satisfied triples: ";
    const size_t at = report.find(plain);
    if (at != std::string::npos)
        report.replace(at, plain.size(),
                       "%Total weight of satisfied triples, in thousandths of a fully supported "
                       "triple: ");
    return report;
}

std::string treeNotes(const GeneTrees& genes, bool rooting) {
    std::string notes;
    if (genes.skipped > 0)
        notes += "tressil-newick: skipped " + std::to_string(genes.skipped) + " of " +
                 std::to_string(genes.read) + " trees with fewer than 3 taxa\n";
    if (rooting) notes += rootingNote(genes.counts);
    return notes + lookalikeNamesNote(genes.names);
}

namespace {

// What the numbers at the nodes are, before any bootstrap after a '/'.
std::string supportLegend(const InferOptions& options, const std::vector<BranchEvidence>& evidence,
                          size_t trees) {
    const std::string all = std::to_string(trees) + (trees == 1 ? " gene tree" : " gene trees");
    switch (options.support) {
        case SupportKind::kShare:
            return std::string("Numbers at the nodes: the share of the ") +
                   (options.weight == WeightRule::kNone ? "" : "support-weighted ") +
                   "triple weight of " + all + " that agrees with the node (1/3: no support)";
        case SupportKind::kBootstrap:
            return "Numbers at the nodes: the percentage of " + std::to_string(options.bootstrap) +
                   " bootstrap replicates of the " + all + " that hold the clade";
        case SupportKind::kPosterior:
        case SupportKind::kFull: {
            double least = -1;
            double most = 0;
            for (const BranchEvidence& e : evidence) {
                if (!e.bears) continue;
                const double n = e.f[0] + e.f[1] + e.f[2];
                least = least < 0 ? n : std::min(least, n);
                most = std::max(most, n);
            }
            char range[64];
            if (std::lround(least) == std::lround(most))
                std::snprintf(range, sizeof range, "%.0f", most);
            else
                std::snprintf(range, sizeof range, "%.0f to %.0f", std::max(least, 0.0), most);
            return "Numbers at the nodes: local posterior probability of the branch, resting on " +
                   std::string(range) + " of the " + all + " (effective count per branch)";
        }
        case SupportKind::kNone:
            break;
    }
    return "Species tree from " + all;
}

}  // namespace

// One line under the picture: what the numbers at the nodes are and how
// many gene trees they rest on.
std::string pictureLegend(const InferOptions& options, const std::vector<BranchEvidence>& evidence,
                          size_t trees) {
    const std::string legend = supportLegend(options, evidence, trees);
    if (options.bootstrap == 0 || options.support == SupportKind::kBootstrap) return legend;
    return legend + "; after the '/', the percentage of " + std::to_string(options.bootstrap) +
           " bootstrap replicates that hold the clade";
}

std::vector<BranchEvidence> annotateSpeciesTree(ResultTree* tree, const GeneTrees& genes,
                                                const InferOptions& options, bool rootGiven,
                                                std::string* replicates) {
    // Share labels read the main table, which the bootstrap replaces.
    if (options.support == SupportKind::kShare)
        genes.tableFree ? labelSharesWithoutTable(tree, genes) : labelSupport(tree);
    std::vector<BranchEvidence> evidence;
    const bool coalescent = options.support == SupportKind::kPosterior ||
                            options.support == SupportKind::kFull || options.lengths;
    const auto taxa = static_cast<int32_t>(genes.names.size());
    if (coalescent)
        evidence = options.triples == TripleKind::kAnchored
                       ? anchoredBranchEvidence(*tree, genes.trees, taxa)
                       : branchEvidence(*tree, genes.trees, taxa);
    BootstrapSupport boot{};
    if (options.bootstrap > 0)
        boot =
            bootstrapSupport(genes, *tree, options,
                             drawReplicates(genes.families ? static_cast<size_t>(genes.familyCount)
                                                           : genes.trees.size(),
                                            options.bootstrap, options.seed));
    annotateTree(tree, evidence,
                 {options.support, options.lengths, rootGiven,
                  options.bootstrap > 0 ? &boot.percent : nullptr});
    *replicates = std::move(boot.replicates);
    return evidence;
}

// What --min-support did, on the scale of the file's labels, and plainly
// when it took away most of what the trees resolve.
std::string collapseNote(const GeneTrees& genes, double threshold) {
    char value[32];
    std::snprintf(value, sizeof value, "%g", threshold);
    const CollapseCounts& c = genes.collapse;
    std::string note = "tressil-newick: --min-support " + std::string(value) +
                       " on labels from 0 to " + (genes.supportScale > 1 ? "100" : "1") +
                       ": collapsed " + std::to_string(c.collapsed) + " of " +
                       std::to_string(c.labelled) + " labelled branches";
    if (2 * c.collapsed > c.labelled)
        note +=
            "; that is more than half of them, so the gene trees keep little of their "
            "resolution: check the threshold against the labels' scale";
    // A threshold written as a fraction on percentages collapses next to
    // nothing: say what it would be as a percentage.
    if (genes.supportScale > 1 && threshold > 0 && threshold < 1) {
        std::snprintf(value, sizeof value, "%g", threshold * 100);
        note += "; the labels are percentages: for " + std::string(value) +
                " %, give --min-support " + std::string(value);
    }
    return note + "\n";
}

GeneTrees startRun(const std::string& bytes, const InferOptions& options, InferResult* out,
                   bool scoring) {
    g_threadCount = options.threads;
    GeneTrees genes = readGeneTrees(bytes, options);
    genes.tableFree = runsWithoutTable(genes, options);
    out->notes = treeNotes(genes, !options.outgroup.empty());
    if (genes.tableFree) out->notes += tableFreeNote(options, scoring);
    if (options.minSupport >= 0) out->notes += collapseNote(genes, options.minSupport);
    const bool coalescent = options.support == SupportKind::kPosterior ||
                            options.support == SupportKind::kFull || options.lengths;
    if (genes.weighted && coalescent)
        out->notes +=
            "tressil-newick: posterior support and branch lengths count each gene "
            "tree's triples unweighted; --weight weighs the species tree, the shares "
            "and the bootstrap\n";
    if (options.triples == TripleKind::kAnchored && coalescent)
        out->notes +=
            "tressil-newick: posterior support and branch lengths count, around each branch, "
            "the quartets of each gene tree with a fourth taxon outside the clade above it\n";
    return genes;
}

InferResult inferSpeciesTree(const std::string& text, const InferOptions& asked) {
    CoreErrorsThrow guard;
    ProgressLine progress;
    InferResult out;
    // Anchored triples take the gene trees as unrooted: without an
    // outgroup, any taxon roots the first round, and the root is not known.
    const bool unrooted = asked.triples == TripleKind::kAnchored && asked.outgroup.empty();
    InferOptions options = asked;
    if (unrooted) options.outgroup = {arbitraryRootTaxon(text)};
    if (unrooted && options.outgroup[0].empty()) options.outgroup.clear();
    GeneTrees genes = startRun(text, options, &out);
    SpeciesTree species{};
    if (!rootsWait(genes)) {
        species = solveFrom(genes, {}, options);
    } else {
        species = rootUnplacedAndSolve(&genes, options, &out.notes);
    }
    if (options.triples == TripleKind::kAnchored)
        species = anchorAndSolve(&genes, options, std::move(species), &out.notes);
    out.report = genes.tableFree ? tableFreeReport(species, genes) : inferReport(species);
    if (genes.weighted || options.triples == TripleKind::kAnchored)
        out.report = withWeightUnit(out.report);
    if (unrooted && !options.outgroup.empty()) {
        unrootAtTop(&species.tree);
        species.rootGiven = false;
        // The taxon stood in for an outgroup: the figures and notes say so.
        const std::string& taxon = options.outgroup[0];
        replaceOnce(&out.report, "with the outgroup's root", "rooted at " + taxon);
        replaceOnce(&out.notes, "trees on the outgroup", "trees on " + taxon);
        replaceOnce(&out.notes, "without an outgroup taxon", "without " + taxon);
        replaceOnce(&out.notes, "without an outgroup taxon", "without " + taxon);
        out.notes +=
            "tressil-newick: anchored triples without an outgroup: the species tree is "
            "written unrooted, its root is arbitrary; the first round rooted every gene "
            "tree on " +
            options.outgroup[0] + "\n";
    }
    const std::vector<BranchEvidence> evidence =
        annotateSpeciesTree(&species.tree, genes, options, species.rootGiven, &out.replicates);
    out.newick = speciesTreeText(species.tree, genes.names, options.format);
    if (options.picture)
        out.svg = drawTreeSvg(species.tree, genes.names,
                              pictureLegend(options, evidence, genes.trees.size()));
    if (options.log)
        out.log = genes.families ? familyLogText(genes.familyRecords) : logText(genes.records);
    familyTexts(genes, &out);
    if (genes.families) out.notes += familyNote(genes);
    out.taxa = std::move(genes.names);
    return out;
}
