// Writes a species tree and gene family trees grown in it: copies of a gene
// born (duplication) and lost along its branches, and each family's gene
// tree under the coalescent inside them.
//
//   tressil_simulate_families [options] SPECIES.nwk FAMILIES.nwk
//
// SPECIES.nwk gets the species tree (one line of Newick, lengths in
// coalescent units), FAMILIES.nwk the family trees, rooted, one per line
// ("-" for standard output). Leaves are named SPECIES_k, k numbering the
// copies of a species in a family 1, 2, ... in the order they are written.
// The same options and seed give the same files with any standard library.
//
// The species tree:
//   --species N          a random Yule tree on N species S01, S02, ...
//                        (default 20), the one tressil_simulate_genes draws
//                        with the same seed and no outgroup
//   --species-tree FILE  the species tree (the first tree of FILE, with every
//                        branch length in coalescent units) instead
//   --mean-internal L    scale it so that its internal branches average L
//                        coalescent units (default 1; 0 keeps the Yule
//                        tree's own lengths; a read tree only when asked)
//   --scale X            then multiply every species tree length by X
// The families:
//   --families F         how many (default 100)
//   --dup-rate D         duplications per copy and coalescent unit (default 0.1)
//   --loss-rate L        losses per copy and coalescent unit (default 0.1)
//   --mean-size M        instead of --dup-rate: the duplication rate that
//                        makes M the expected number of copies in a family,
//                        over all species, before small families are drawn
//                        again (needs a loss rate high enough when M is
//                        below the species count)
//   --origin T           a family starts as one copy T coalescent units above
//                        the root (default 0: at the root)
//   --no-ils             the gene tree is the locus tree: no incomplete
//                        lineage sorting
//   --theta THETA        write lengths in substitutions per site, as
//                        tressil_simulate_genes does
//   --unrooted           write each family unrooted, its root of three subtrees
//   --map FILE           write "LEAF<TAB>SPECIES" lines, one per leaf name used
//   --seed S             0 to 2^64-1 (default 1)
//
// A family where fewer than three copies survive is drawn again: it holds
// no rooted triple, and a tree builder needs three sequences. The drawing
// stays seeded, so family f is the same whatever the number of families.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "simulate/coalescent.h"
#include "simulate/families.h"
#include "simulate/random.h"
#include "simulate/tool_support.h"
#include "simulate/tree.h"

namespace {

constexpr char kUsage[] =
    "use tressil_simulate_families [--species N | --species-tree FILE] [--mean-internal L]\n"
    "    [--scale X] [--families F] [--dup-rate D | --mean-size M] [--loss-rate L]\n"
    "    [--origin T] [--no-ils] [--theta THETA] [--unrooted] [--map FILE] [--seed S]\n"
    "    SPECIES.nwk FAMILIES.nwk\n";

// A family that keeps losing its copies is not redrawn forever.
constexpr int kMaxFamilyDraws = 10000;
constexpr int kMinCopies = 3;

// Independent engine streams per family, as in tressil_simulate_genes.
enum Stream : uint32_t { kSpeciesStream, kLocusStream, kGeneStream, kWriteStream };

struct Settings {
    int families;
    FamilyRates rates;
    bool coalescent;
    double theta;  // 0: lengths stay in coalescent units
    bool unrooted;
    uint64_t seed;
};

SimTree makeSpeciesTree(const ParsedArguments& arguments) {
    const double meanInternal = numberOption(arguments, "mean-internal", 1.0, 0.0, 1e6);
    SimTree species;
    if (hasOption(arguments, "species-tree")) {
        if (hasOption(arguments, "species")) failSimulation("--species-tree takes no --species");
        species = readSpeciesTree(arguments.options.at("species-tree"));
        if (hasOption(arguments, "mean-internal") && meanInternalLength(species) > 0.0)
            scaleLengths(&species, meanInternal / meanInternalLength(species));
    } else {
        const int count = static_cast<int>(integerOption(arguments, "species", 20, 3, 10000));
        std::mt19937_64 rng = engineFor(seedOption(arguments), kSpeciesStream, 0);
        species = yuleSpeciesTree({count, 0, meanInternal, 0.0}, rng);
    }
    scaleLengths(&species, numberOption(arguments, "scale", 1.0, 1e-12, 1e6));
    return species;
}

Settings readSettings(const ParsedArguments& arguments, const SimTree& species) {
    Settings settings;
    settings.families = static_cast<int>(integerOption(arguments, "families", 100, 1, 10000000));
    settings.rates.loss = numberOption(arguments, "loss-rate", 0.1, 0.0, 1e6);
    settings.rates.origin = numberOption(arguments, "origin", 0.0, 0.0, 1e6);
    settings.rates.duplication = numberOption(arguments, "dup-rate", 0.1, 0.0, 1e6);
    if (hasOption(arguments, "mean-size")) {
        if (hasOption(arguments, "dup-rate")) failSimulation("give --dup-rate or --mean-size");
        const double size = numberOption(arguments, "mean-size", 0.0, 1.0, 1e6);
        const double net = netRateForMeanSize(species, settings.rates.origin, size);
        settings.rates.duplication = settings.rates.loss + net;
        if (settings.rates.duplication < 0.0)
            failSimulation("--mean-size " + arguments.options.at("mean-size") +
                           " needs a loss rate of at least " + std::to_string(-net));
    }
    settings.coalescent = !hasOption(arguments, "no-ils");
    settings.theta = numberOption(arguments, "theta", 0.0, 1e-12, 1e6);
    settings.unrooted = hasOption(arguments, "unrooted");
    settings.seed = seedOption(arguments);
    return settings;
}

LocusTree drawLocusTree(const SimTree& species, const Settings& settings, uint32_t index) {
    std::mt19937_64 rng = engineFor(settings.seed, kLocusStream, index);
    for (int draw = 0; draw < kMaxFamilyDraws; ++draw) {
        LocusTree locus = growLocusTree(species, settings.rates, rng);
        if (survivingCopies(locus) >= kMinCopies) return locus;
    }
    failSimulation("fewer than three copies survive in almost every family; lower the loss rate");
}

// One family's line; counts up the copies of each species (the most in any
// family) and the new copies whose lineages had to meet.
std::string familyText(const SimTree& species, const Settings& settings, uint32_t index,
                       std::map<std::string, int>* mostCopies, Meetings* meetings) {
    const LocusTree locus = drawLocusTree(species, settings, index);
    std::mt19937_64 geneRng = engineFor(settings.seed, kGeneStream, index);
    SimTree family =
        settings.coalescent ? coalescentFamilyTree(locus, geneRng, meetings) : locusGeneTree(locus);
    if (settings.theta > 0.0) scaleLengths(&family, settings.theta / 2.0);
    std::mt19937_64 writeRng = engineFor(settings.seed, kWriteStream, index);
    if (settings.unrooted) unrootTree(&family, writeRng);
    shuffleChildren(&family, writeRng);
    for (const auto& [name, copies] : numberCopies(&family))
        (*mostCopies)[name] = std::max((*mostCopies)[name], copies);
    return writeNewick(family);
}

std::string mapText(const std::map<std::string, int>& mostCopies) {
    std::string text;
    for (const auto& [species, copies] : mostCopies)
        for (int k = 1; k <= copies; ++k)
            text += species + "_" + std::to_string(k) + "\t" + species + "\n";
    return text;
}

void run(int argc, char** argv) {
    const ParsedArguments arguments =
        parseArguments(argc, argv,
                       {"species", "species-tree", "mean-internal", "scale", "families", "dup-rate",
                        "loss-rate", "mean-size", "origin", "theta", "map", "seed"},
                       {"no-ils", "unrooted"});
    if (arguments.positional.size() != 2) failSimulation("two file names are needed");
    const SimTree species = makeSpeciesTree(arguments);
    const Settings settings = readSettings(arguments, species);
    std::map<std::string, int> mostCopies;
    Meetings meetings{0, 0};
    std::string families;
    for (int f = 0; f < settings.families; ++f)
        families += familyText(species, settings, static_cast<uint32_t>(f), &mostCopies, &meetings);
    writeTextFile(arguments.positional[0], writeNewick(species));
    writeTextFile(arguments.positional[1], families);
    if (hasOption(arguments, "map"))
        writeTextFile(arguments.options.at("map"), mapText(mostCopies));
    if (meetings.forced > 0)
        std::fprintf(stderr,
                     "tressil_simulate_families: %d of the %d new copies that entered their first "
                     "branch with several lineages were joined at the duplication after %d tries\n",
                     meetings.forced, meetings.conditioned, kMaxCopyTries);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tressil_simulate_families: %s\n%s", error.what(), kUsage);
        return 1;
    }
    return 0;
}
