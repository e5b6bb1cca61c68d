// The three commands: check every output, read the inputs, convert, write.
// Nothing is written before the whole result is ready.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "named/annotate/annotate.h"
#include "named/cli/cli_steps.h"
#include "named/read/read.h"
#include "named/road/road.h"
#include "named/root/root.h"

namespace {

// "PATH:LINE:COLUMN: message", or "PATH: message" for the file as a whole.
std::string placedMessage(const std::string& path, const NewickError& error) {
    const std::string name = path == "-" ? "standard input" : path;
    if (error.line == 0) return name + ": " + error.message;
    return name + ":" + std::to_string(error.line) + ":" + std::to_string(error.column) + ": " +
           error.message;
}

// Runs a conversion; a NewickError is reported against the file at path.
template <typename Result, typename Convert>
Result convertFile(const std::string& path, Convert convert) {
    try {
        return convert();
    } catch (const NewickError& error) {
        throw FileError{placedMessage(path, error)};
    }
}

std::vector<OutputFile> checkOutputPaths(const std::vector<std::string>& paths) {
    std::vector<OutputFile> outputs;
    for (const std::string& path : paths)
        outputs.push_back(checkOutputPath(path));
    return outputs;
}

// Report lines and notes: the notes always on standard error, the report on
// standard output unless an output file is being written there.
void printReport(const std::string& report, const std::vector<OutputFile>& outputs) {
    std::fputs(report.c_str(), someOutputIsStandardOutput(outputs) ? stderr : stdout);
}

// A whole number from least to most, written in decimal digits alone.
uint64_t wholeNumber(const Arguments& args, const std::string& name, uint64_t least,
                     uint64_t most) {
    const std::string text = optionValue(args, name);
    uint64_t value = 0;
    bool valid = !text.empty() && text.size() <= 20;
    for (const char c : text) {
        valid = valid && c >= '0' && c <= '9' && value <= (UINT64_MAX - (c - '0')) / 10;
        if (valid) value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!valid || value < least || value > most)
        throw UsageError{"--" + name + " takes a whole number from " + std::to_string(least) +
                         " to " + std::to_string(most)};
    return value;
}

constexpr uint64_t kMaxReplicates = 100000;
constexpr uint64_t kMaxFields = 100;  // of an "a/b/c" support label

// "support" is the rule chosen by the accuracy benchmark; the others stay
// open for comparing.
WeightRule weightRuleNamed(const std::string& name) {
    if (name == "support" || name == "support-any" || name == "hybrid")
        return WeightRule::kAnyRight;
    if (name == "support-max") return WeightRule::kLargest;
    if (name == "support-chance") return WeightRule::kAboveChance;
    throw UsageError{
        "--weight takes support or hybrid (or support-any, support-max, support-chance), not '" +
        name + "'"};
}

// A positive alignment length, as --sites gives it.
bool readSites(const std::string& text, double* sites) {
    char* end = nullptr;
    *sites = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && *sites > 0 && std::isfinite(*sites);
}

// --sites N, or --sites FILE with one alignment length a line, blank lines
// aside. A value of digits alone is a number, never a file name.
std::vector<double> sitesOption(const Arguments& args) {
    const std::string value = optionValue(args, "sites");
    double sites = 0;
    if (readSites(value, &sites)) return {sites};
    char* end = nullptr;
    std::strtod(value.c_str(), &end);
    if (!value.empty() && *end == '\0')
        throw UsageError{
            "--sites takes a positive number of sites, or a file of one a line, not '" + value +
            "'"};
    const std::string text = readWholeFile(value);
    std::vector<double> all;
    size_t start = 0;
    int line = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        ++line;
        std::string word = text.substr(start, end - start);
        const size_t first = word.find_first_not_of(" \t\r");
        word = first == std::string::npos
                   ? ""
                   : word.substr(first, word.find_last_not_of(" \t\r") - first + 1);
        start = end + 1;
        if (word.empty()) continue;
        if (!readSites(word, &sites))
            throw FileError{value + ":" + std::to_string(line) + ": '" + word +
                            "' is not an alignment length; give one positive number a line"};
        all.push_back(sites);
    }
    if (all.empty()) throw FileError{value + ": no alignment length; give one number a line"};
    return all;
}

// --triples and --weight hybrid with --sites.
void readTripleOptions(const Arguments& args, InferOptions* options) {
    if (hasOption(args, "triples")) {
        const std::string kind = optionValue(args, "triples");
        if (kind == "anchored")
            options->triples = TripleKind::kAnchored;
        else if (kind != "rooted")
            throw UsageError{"--triples takes rooted or anchored, not '" + kind + "'"};
        if (options->triples == TripleKind::kAnchored && !hasOption(args, "outgroup") &&
            hasOption(args, "map"))
            throw UsageError{"--triples anchored without --outgroup does not take --map"};
    }
    const bool hybrid = optionValue(args, "weight") == "hybrid";
    if (hybrid != hasOption(args, "sites"))
        throw UsageError{hybrid ? "--weight hybrid needs --sites N or --sites FILE"
                                : "--sites goes with --weight hybrid"};
    if (hybrid) options->sites = sitesOption(args);
}

// --families, and how its leaves name their species.
void readFamilyOptions(const Arguments& args, InferOptions* options) {
    options->families = hasOption(args, "families");
    options->pieces = hasOption(args, "pieces");
    options->tags = hasOption(args, "tags");
    if (hasOption(args, "delimiter")) {
        const std::string delimiter = optionValue(args, "delimiter");
        if (delimiter.size() != 1)
            throw UsageError{"--delimiter takes one character, as in --delimiter _, not '" +
                             delimiter + "'"};
        options->delimiter = delimiter[0];
    }
    if (hasOption(args, "field"))
        options->field = static_cast<int>(wholeNumber(args, "field", 1, kMaxFields));
}

// A support threshold, compared with the labels as the file writes them
// (0 to 1, or 0 to 100), so that its meaning never jumps at 1.
double supportThreshold(const Arguments& args) {
    const std::string text = optionValue(args, "min-support");
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0 && value <= 100))
        throw UsageError{
            "--min-support takes a number from 0 to 100, on the scale of the trees' labels"};
    return value;
}

TreeOutput treeOutputNamed(const std::string& name) {
    if (name == "newick") return TreeOutput::kNewick;
    if (name == "nexus") return TreeOutput::kNexus;
    if (name == "nhx") return TreeOutput::kNhx;
    throw UsageError{"--format takes newick, nexus or nhx, not '" + name + "'"};
}

// The options infer and score share.
InferOptions optionsOfRoad(const Arguments& args) {
    InferOptions options;
    options.method = hasOption(args, "exact")       ? InferMethod::kExact
                     : hasOption(args, "heuristic") ? InferMethod::kHeuristic
                     : hasOption(args, "search")    ? InferMethod::kSearch
                                                    : InferMethod::kBest;
    if (hasOption(args, "support")) {
        const std::string kind = optionValue(args, "support");
        options.support = kind.empty() ? SupportKind::kShare : supportKindNamed(kind);
        if (options.support == SupportKind::kNone)
            throw UsageError{"--support takes share, pp, full or bootstrap, not '" + kind + "'"};
    }
    options.lengths = hasOption(args, "lengths");
    if (hasOption(args, "format")) options.format = treeOutputNamed(optionValue(args, "format"));
    options.picture = hasOption(args, "svg");
    options.log = hasOption(args, "log");
    options.rooted = hasOption(args, "rooted");
    options.dropUnplaced = hasOption(args, "drop-unplaced");
    options.threads = parseThreads(args);
    if (hasOption(args, "bootstrap"))
        options.bootstrap = static_cast<int32_t>(wholeNumber(args, "bootstrap", 1, kMaxReplicates));
    if (hasOption(args, "seed")) options.seed = wholeNumber(args, "seed", 0, UINT64_MAX);
    options.replicates = hasOption(args, "replicates");
    if (hasOption(args, "weight")) options.weight = weightRuleNamed(optionValue(args, "weight"));
    if (hasOption(args, "min-support")) options.minSupport = supportThreshold(args);
    if (hasOption(args, "support-field")) {
        if (options.weight == WeightRule::kNone && options.minSupport < 0)
            throw UsageError{"--support-field needs --weight or --min-support"};
        options.supportField = static_cast<int>(wholeNumber(args, "support-field", 1, kMaxFields));
    }
    // Replicates are never run for nothing: without another kind, their
    // percentages are the labels.
    if (options.bootstrap > 0 && !hasOption(args, "support"))
        options.support = SupportKind::kBootstrap;
    readTripleOptions(args, &options);
    readFamilyOptions(args, &options);
    if (options.bootstrap == 0 && (options.support == SupportKind::kBootstrap ||
                                   options.replicates || hasOption(args, "seed")))
        throw UsageError{"--support=bootstrap, --replicates and --seed need --bootstrap N"};
    return options;
}

// The input files, the map's included.
std::vector<std::string> roadInputs(const Arguments& args, std::vector<std::string> files) {
    if (hasOption(args, "map")) files.push_back(optionValue(args, "map"));
    double sites = 0;
    if (hasOption(args, "sites") && !readSites(optionValue(args, "sites"), &sites))
        files.push_back(optionValue(args, "sites"));
    return files;
}

// --map FILE: the species of every individual.
void readSpeciesMap(const Arguments& args, InferOptions* options) {
    if (!hasOption(args, "map")) return;
    const std::string path = optionValue(args, "map");
    const std::string text = readWholeFile(path);
    options->speciesOf =
        convertFile<SpeciesMap>(path, [&] { return parseSpeciesMap(text); }).speciesOf;
}

// --outgroup NAME,...: under --map, an individual stands for its species.
std::vector<std::string> outgroupOfRoad(const Arguments& args, const InferOptions& options,
                                        std::string* notes) {
    if (!hasOption(args, "outgroup")) return {};
    return outgroupOfSpecies(parseOutgroup(optionValue(args, "outgroup")), options.speciesOf,
                             notes);
}

// The species tree, then the picture, the log and the replicates, as asked.
std::vector<std::string> roadOutputs(const Arguments& args, const std::string& tree) {
    std::vector<std::string> paths = {tree};
    for (const char* option : {"svg", "log", "replicates", "pieces", "tags"})
        if (hasOption(args, option)) paths.push_back(optionValue(args, option));
    return paths;
}

std::vector<std::string> roadTexts(const Arguments& args, const InferResult& result) {
    std::vector<std::string> texts = {result.newick};
    if (hasOption(args, "svg")) texts.push_back(result.svg);
    if (hasOption(args, "log")) texts.push_back(result.log);
    if (hasOption(args, "replicates")) texts.push_back(result.replicates);
    if (hasOption(args, "pieces")) texts.push_back(result.pieces);
    if (hasOption(args, "tags")) texts.push_back(result.tags);
    return texts;
}

}  // namespace

void encodeFiles(const Arguments& args) {
    const std::string& treesPath = args.files[0];
    const bool families = hasOption(args, "families");
    if (hasOption(args, "map") && !families)
        throw UsageError{"encode reads --map only with --families"};
    InferOptions options;
    readFamilyOptions(args, &options);
    const std::vector<OutputFile> outputs = checkOutputPaths({args.files[1], args.files[2]});
    checkDistinct(roadInputs(args, {treesPath}), outputs);
    readSpeciesMap(args, &options);
    const SpeciesNaming naming{options.speciesOf, options.delimiter, options.field};
    const std::string text = readWholeFile(treesPath);
    std::string notes;
    const EncodedTrees encoded = convertFile<EncodedTrees>(treesPath, [&] {
        return encodeTrees(text, outgroupOfRoad(args, options, &notes),
                           families ? &naming : nullptr);
    });
    std::fputs(notes.c_str(), stderr);
    writeOutputs(outputs, {tressilInputText(encoded), nameTableText(encoded)});
    if (encoded.treesSkipped > 0)
        std::fprintf(stderr, "tressil-newick: skipped %d of %d trees with fewer than 3 taxa\n",
                     encoded.treesSkipped, encoded.treesRead);
    if (hasOption(args, "outgroup")) std::fputs(rootingNote(encoded.rooting).c_str(), stderr);
    std::fputs(lookalikeNamesNote(encoded.names).c_str(), stderr);
    printReport(std::to_string(encoded.treesRead) +
                    " trees read: " + std::to_string(encoded.topologies.size()) +
                    " distinct trees on " + std::to_string(encoded.names.size()) + " taxa\n",
                outputs);
}

void decodeFiles(const Arguments& args) {
    const std::string& namesPath = args.files[0];
    const std::string& resultPath = args.files[1];
    // --support INPUT.txt labels shares from that input, as it always has;
    // --support=KIND takes the input from --input.
    const std::string support = optionValue(args, "support");
    SupportKind kind = hasOption(args, "support") ? SupportKind::kShare : SupportKind::kNone;
    std::string inputPath = support;
    if (supportKindNamed(support) != SupportKind::kNone && hasOption(args, "input")) {
        kind = supportKindNamed(support);
        inputPath = optionValue(args, "input");
    }
    if (kind == SupportKind::kBootstrap || (hasOption(args, "input") && inputPath == support))
        throw UsageError{
            "decode takes --support INPUT.txt, or --support=KIND (share, pp or "
            "full) with --input INPUT.txt"};
    const std::vector<OutputFile> outputs = checkOutputPaths({args.files[2]});
    std::vector<std::string> inputs = {namesPath, resultPath};
    if (!inputPath.empty()) inputs.push_back(inputPath);
    checkDistinct(inputs, outputs);
    const std::string namesText = readWholeFile(namesPath);
    const std::vector<std::string> names =
        convertFile<std::vector<std::string>>(namesPath, [&] { return parseNameTable(namesText); });
    const std::string resultText = readWholeFile(resultPath);
    ResultTree tree =
        convertFile<ResultTree>(resultPath, [&] { return parseResultTree(resultText, names); });
    if (!inputPath.empty())
        convertFile<bool>(inputPath, [&] {
            labelSupportFromInput(&tree, inputPath, kind);
            return true;
        });
    writeOutputs(outputs, {resultNewick(tree, names)});
}

// --path: the table while it fits in memory, unless one path is asked for.
InferPath inferPath(const Arguments& args) {
    if (!hasOption(args, "path")) return InferPath::kAuto;
    const std::string path = optionValue(args, "path");
    if (path == "table") return InferPath::kTable;
    if (path == "table-free") return InferPath::kTableFree;
    throw UsageError{"--path takes table or table-free, not '" + path + "'"};
}

void inferFiles(const Arguments& args) {
    const std::string& genesPath = args.files[0];
    InferOptions options = optionsOfRoad(args);
    options.path = inferPath(args);
    const std::vector<OutputFile> outputs = checkOutputPaths(roadOutputs(args, args.files[1]));
    checkDistinct(roadInputs(args, {genesPath}), outputs);
    readSpeciesMap(args, &options);
    const std::string text = readWholeFile(genesPath);
    std::string notes;
    const InferResult result = convertFile<InferResult>(genesPath, [&] {
        options.outgroup = outgroupOfRoad(args, options, &notes);
        return inferSpeciesTree(text, options);
    });
    writeOutputs(outputs, roadTexts(args, result));
    std::fputs((notes + result.notes).c_str(), stderr);
    printReport(result.report, outputs);
}

void scoreFiles(const Arguments& args) {
    const std::string& genesPath = args.files[0];
    const std::string& speciesPath = args.files[1];
    InferOptions options = optionsOfRoad(args);
    options.path = inferPath(args);
    const std::vector<OutputFile> outputs = checkOutputPaths(roadOutputs(args, args.files[2]));
    checkDistinct(roadInputs(args, {genesPath, speciesPath}), outputs);
    readSpeciesMap(args, &options);
    const std::string genes = readWholeFile(genesPath);
    const std::string species = readWholeFile(speciesPath);
    std::string notes;
    const InferResult result = convertFile<InferResult>(genesPath, [&] {
        options.outgroup = outgroupOfRoad(args, options, &notes);
        try {
            return scoreSpeciesTree(genes, species, options);
        } catch (const SpeciesTreeError& error) {
            throw FileError{placedMessage(speciesPath, error.error)};
        }
    });
    writeOutputs(outputs, roadTexts(args, result));
    std::fputs((notes + result.notes).c_str(), stderr);
    printReport(result.report, outputs);
}
