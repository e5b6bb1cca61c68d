// Writes a species tree and gene trees grown in it under the multispecies
// coalescent, as tree builders would write estimates of them.
//
//   tressil_simulate_genes [options] SPECIES.nwk GENES.nwk
//
// SPECIES.nwk gets the species tree (one line of Newick, lengths in
// coalescent units), GENES.nwk the gene trees, one per line ("-" for
// standard output). The same options and seed give the same files with any
// standard library.
//
// The species tree:
//   --species N          a random Yule tree on N ingroup species S01, S02, ...
//                        (default 20)
//   --species-tree FILE  the species tree (the first tree of FILE, with every
//                        branch length in coalescent units) instead
//   --outgroup M         add M outgroup species O1..OM, one Yule clade joined
//                        to the ingroup at the root (default 0: none)
//   --stem T             the root's two branches are at least T coalescent
//                        units long, so the outgroup is almost always outside
//                        the ingroup in gene trees too (default 5)
//   --mean-internal L    scale the ingroup and the outgroup clade each so that
//                        their internal branches average L coalescent units;
//                        on 20 species 0.3, 1, 2 and 4 leave gene trees
//                        without 73, 40, 22 and 11% of the species tree's
//                        splits (default 1; 0 keeps the Yule tree's own
//                        lengths, rate 1 per lineage); a tree read from a
//                        file is scaled as a whole, and only when asked
//   --scale X            then multiply every species tree length by X,
//                        read trees too (default 1)
// The gene trees:
//   --genes G            how many (default 100)
//   --individuals K      per species (default 1); above 1 named SPECIES_1..K
//   --map FILE           write SPECIES:IND1,IND2,... lines, one per species
//   --theta THETA        write lengths in substitutions per site: a coalescent
//                        unit is 2N generations, so it holds 2N mu = THETA/2
//                        substitutions per site (THETA = 4 N mu), times the
//                        gene's rate (default: lengths in coalescent units)
//   --gene-rate-shape A  each gene's rate is drawn from a gamma of mean 1 and
//                        shape A (default: every rate 1; needs --theta)
//   --unrooted           write each tree unrooted, its root of three subtrees
//   --keep MIN[,MAX]     each tree keeps a fraction of the ingroup species
//                        drawn uniformly from MIN to MAX (default 1: all), and
//                        at least three of them
//   --drop-outgroup P    the outgroup species are all missing from a tree
//                        with probability P percent (default 0)
//   --seed S             0 to 2^64-1 (default 1)
//
// The outgroup is the taxa of --outgroup, or, for --drop-outgroup with a
// species tree read from a file, those of the root's child with fewer
// species. --keep draws from the other species. Every tree has its children
// in a random order.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "simulate/coalescent.h"
#include "simulate/random.h"
#include "simulate/tool_support.h"
#include "simulate/tree.h"

namespace {

constexpr char kUsage[] =
    "use tressil_simulate_genes [--species N | --species-tree FILE] [--outgroup M] [--stem T]\n"
    "    [--mean-internal L] [--scale X] [--genes G] [--individuals K] [--map FILE]\n"
    "    [--theta THETA] [--gene-rate-shape A] [--unrooted] [--keep MIN[,MAX]]\n"
    "    [--drop-outgroup P] [--seed S] SPECIES.nwk GENES.nwk\n";

// Independent engine streams per gene: a change to which taxa go missing or
// how trees are written leaves the gene trees themselves alone.
enum Stream : uint32_t { kSpeciesStream, kGeneStream, kRateStream, kMissingStream, kWriteStream };

struct Settings {
    int genes;
    int individuals;
    double theta;      // 0: lengths stay in coalescent units
    double rateShape;  // 0: every gene's rate is 1
    bool unrooted;
    double keepLow, keepHigh;
    double dropOutgroup;  // probability
    uint64_t seed;
};

// The taxa of the root's child with fewer leaves (the first child on a tie):
// where a tree is rooted on its outgroup, the outgroup. Node indices.
std::vector<int> smallerRootSide(const SimTree& species) {
    std::vector<int> best;
    for (const int child : species.nodes[static_cast<size_t>(species.root)].children) {
        SimTree side = species;
        side.root = child;
        std::vector<int> leaves = leavesOf(side);
        if (best.empty() || leaves.size() < best.size()) best = std::move(leaves);
    }
    return best;
}

SimTree makeSpeciesTree(const ParsedArguments& arguments, std::vector<std::string>* outgroup) {
    const double meanInternal = numberOption(arguments, "mean-internal", 1.0, 0.0, 1e6);
    const double scale = numberOption(arguments, "scale", 1.0, 1e-12, 1e6);
    SimTree species;
    if (hasOption(arguments, "species-tree")) {
        if (hasOption(arguments, "species") || hasOption(arguments, "outgroup"))
            failSimulation("--species-tree takes neither --species nor --outgroup");
        species = readSpeciesTree(arguments.options.at("species-tree"));
        if (hasOption(arguments, "mean-internal") && meanInternalLength(species) > 0.0)
            scaleLengths(&species, meanInternal / meanInternalLength(species));
        if (hasOption(arguments, "drop-outgroup"))
            for (const int leaf : smallerRootSide(species))
                outgroup->push_back(species.nodes[static_cast<size_t>(leaf)].name);
    } else {
        SpeciesTreeShape shape;
        shape.ingroup = static_cast<int>(integerOption(arguments, "species", 20, 2, 10000));
        shape.outgroup = static_cast<int>(integerOption(arguments, "outgroup", 0, 0, 10000));
        shape.meanInternal = meanInternal;
        shape.stem = numberOption(arguments, "stem", 5.0, 0.0, 1e6);
        std::mt19937_64 rng = engineFor(seedOption(arguments), kSpeciesStream, 0);
        species = yuleSpeciesTree(shape, rng);
        if (shape.outgroup > 0) {
            SimTree clade = species;
            clade.root = species.nodes[static_cast<size_t>(species.root)].children[0];
            for (const int leaf : leavesOf(clade))
                outgroup->push_back(species.nodes[static_cast<size_t>(leaf)].name);
        }
    }
    scaleLengths(&species, scale);
    return species;
}

Settings readSettings(const ParsedArguments& arguments) {
    Settings settings;
    settings.genes = static_cast<int>(integerOption(arguments, "genes", 100, 1, 10000000));
    settings.individuals = static_cast<int>(integerOption(arguments, "individuals", 1, 1, 1000));
    settings.theta = numberOption(arguments, "theta", 0.0, 1e-12, 1e6);
    settings.rateShape = numberOption(arguments, "gene-rate-shape", 0.0, 1e-6, 1e6);
    if (settings.rateShape > 0.0 && settings.theta == 0.0)
        failSimulation("--gene-rate-shape needs --theta");
    settings.unrooted = hasOption(arguments, "unrooted");
    settings.keepLow = settings.keepHigh = 1.0;
    if (hasOption(arguments, "keep")) {
        const std::vector<double> keep = numberListOption(arguments, "keep", 1, 2);
        settings.keepLow = keep[0];
        settings.keepHigh = keep.back();
        if (!(settings.keepLow > 0.0 && settings.keepLow <= settings.keepHigh &&
              settings.keepHigh <= 1.0))
            failSimulation("--keep needs 0 < MIN <= MAX <= 1");
    }
    settings.dropOutgroup = numberOption(arguments, "drop-outgroup", 0.0, 0.0, 100.0) / 100.0;
    settings.seed = seedOption(arguments);
    return settings;
}

// Which gene tree leaves stay: a random share of the ingroup species (all
// their individuals), and the outgroup unless it is dropped from this tree.
std::vector<bool> keptLeaves(const SimTree& gene, const std::vector<std::string>& speciesNames,
                             const std::vector<std::string>& outgroup, const Settings& settings,
                             std::mt19937_64& rng) {
    std::vector<std::string> ingroup;
    for (const std::string& name : speciesNames)
        if (std::find(outgroup.begin(), outgroup.end(), name) == outgroup.end())
            ingroup.push_back(name);
    const double share =
        settings.keepLow + (settings.keepHigh - settings.keepLow) * drawUniform(rng);
    size_t count = static_cast<size_t>(std::lround(share * static_cast<double>(ingroup.size())));
    count = std::min(ingroup.size(), std::max<size_t>(count, std::min<size_t>(3, ingroup.size())));
    for (size_t i = 0; i < count; ++i)  // a partial Fisher-Yates shuffle
        std::swap(ingroup[i], ingroup[i + drawBelow(rng, ingroup.size() - i)]);
    ingroup.resize(count);
    if (drawUniform(rng) >= settings.dropOutgroup)
        ingroup.insert(ingroup.end(), outgroup.begin(), outgroup.end());
    std::map<std::string, int> leafOf;
    for (const int leaf : leavesOf(gene))
        leafOf[gene.nodes[static_cast<size_t>(leaf)].name] = leaf;
    std::vector<bool> keep(gene.nodes.size(), false);
    for (const std::string& species : ingroup)
        for (int i = 1; i <= settings.individuals; ++i)
            keep[static_cast<size_t>(leafOf.at(individualName(species, i, settings.individuals)))] =
                true;
    return keep;
}

std::string geneTreeText(const SimTree& species, const std::vector<std::string>& speciesNames,
                         const std::vector<std::string>& outgroup, const Settings& settings,
                         uint32_t index) {
    std::mt19937_64 geneRng = engineFor(settings.seed, kGeneStream, index);
    SimTree gene = coalescentGeneTree(species, settings.individuals, geneRng);
    if (settings.theta > 0.0) {
        std::mt19937_64 rateRng = engineFor(settings.seed, kRateStream, index);
        const double rate = settings.rateShape > 0.0
                                ? drawGamma(rateRng, settings.rateShape) / settings.rateShape
                                : 1.0;
        scaleLengths(&gene, settings.theta / 2.0 * rate);
    }
    if (settings.keepLow < 1.0 || settings.dropOutgroup > 0.0) {
        std::mt19937_64 missingRng = engineFor(settings.seed, kMissingStream, index);
        gene = restrictTree(gene, keptLeaves(gene, speciesNames, outgroup, settings, missingRng));
    }
    std::mt19937_64 writeRng = engineFor(settings.seed, kWriteStream, index);
    if (settings.unrooted) unrootTree(&gene, writeRng);
    shuffleChildren(&gene, writeRng);
    return writeNewick(gene);
}

std::string mapText(const std::vector<std::string>& speciesNames, int individuals) {
    std::string text;
    for (const std::string& species : speciesNames) {
        text += species + ":";
        for (int i = 1; i <= individuals; ++i)
            text += (i > 1 ? "," : "") + individualName(species, i, individuals);
        text += "\n";
    }
    return text;
}

void run(int argc, char** argv) {
    const ParsedArguments arguments = parseArguments(
        argc, argv,
        {"species", "species-tree", "outgroup", "stem", "mean-internal", "scale", "genes",
         "individuals", "map", "theta", "gene-rate-shape", "keep", "drop-outgroup", "seed"},
        {"unrooted"});
    if (arguments.positional.size() != 2) failSimulation("two file names are needed");
    const Settings settings = readSettings(arguments);
    std::vector<std::string> outgroup;
    const SimTree species = makeSpeciesTree(arguments, &outgroup);
    std::vector<std::string> speciesNames;
    for (const int leaf : leavesOf(species))
        speciesNames.push_back(species.nodes[static_cast<size_t>(leaf)].name);
    std::sort(speciesNames.begin(), speciesNames.end());
    std::string genes;
    for (int g = 0; g < settings.genes; ++g)
        genes += geneTreeText(species, speciesNames, outgroup, settings, static_cast<uint32_t>(g));
    writeTextFile(arguments.positional[0], writeNewick(species));
    writeTextFile(arguments.positional[1], genes);
    if (hasOption(arguments, "map"))
        writeTextFile(arguments.options.at("map"), mapText(speciesNames, settings.individuals));
}

}  // namespace

int main(int argc, char** argv) {
    try {
        run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tressil_simulate_genes: %s\n%s", error.what(), kUsage);
        return 1;
    }
    return 0;
}
