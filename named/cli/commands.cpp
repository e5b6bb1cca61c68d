// The three commands: check every output, read the inputs, convert, write.
// Nothing is written before the whole result is ready.
#include <cstdio>
#include <string>
#include <vector>

#include "named/annotate/annotate.h"
#include "named/cli/cli_steps.h"
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

}  // namespace

void encodeFiles(const Arguments& args) {
    const std::string& treesPath = args.files[0];
    const std::vector<OutputFile> outputs = checkOutputPaths({args.files[1], args.files[2]});
    checkDistinct({treesPath}, outputs);
    const std::string text = readWholeFile(treesPath);
    const EncodedTrees encoded = convertFile<EncodedTrees>(treesPath, [&] {
        if (!hasOption(args, "outgroup")) return encodeTrees(text);
        return encodeTrees(text, parseOutgroup(optionValue(args, "outgroup")));
    });
    writeOutputs(outputs, {tressilInputText(encoded), nameTableText(encoded)});
    if (encoded.treesSkipped > 0)
        std::fprintf(stderr, "tressil-newick: skipped %d of %d trees with fewer than 3 taxa\n",
                     encoded.treesSkipped, encoded.treesRead);
    if (hasOption(args, "outgroup")) std::fputs(rootingNote(encoded.rooting).c_str(), stderr);
    printReport(std::to_string(encoded.treesRead) +
                    " trees read: " + std::to_string(encoded.topologies.size()) +
                    " distinct trees on " + std::to_string(encoded.names.size()) + " taxa\n",
                outputs);
}

void decodeFiles(const Arguments& args) {
    const std::string& namesPath = args.files[0];
    const std::string& resultPath = args.files[1];
    const std::string inputPath = optionValue(args, "support");
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
            labelSupportFromInput(&tree, inputPath);
            return true;
        });
    writeOutputs(outputs, {resultNewick(tree, names)});
}

void inferFiles(const Arguments& args) {
    const std::string& genesPath = args.files[0];
    InferOptions options{};
    options.method = hasOption(args, "exact")       ? InferMethod::kExact
                     : hasOption(args, "heuristic") ? InferMethod::kHeuristic
                     : hasOption(args, "search")    ? InferMethod::kSearch
                                                    : InferMethod::kBest;
    options.support = hasOption(args, "support");
    options.picture = hasOption(args, "svg");
    options.log = hasOption(args, "log");
    options.rooted = hasOption(args, "rooted");
    options.rootUnplaced = hasOption(args, "root-unplaced");
    options.threads = parseThreads(args);
    std::vector<std::string> paths = {args.files[1]};
    if (options.picture) paths.push_back(optionValue(args, "svg"));
    if (options.log) paths.push_back(optionValue(args, "log"));
    const std::vector<OutputFile> outputs = checkOutputPaths(paths);
    checkDistinct({genesPath}, outputs);
    const std::string text = readWholeFile(genesPath);
    const InferResult result = convertFile<InferResult>(genesPath, [&] {
        if (hasOption(args, "outgroup"))
            options.outgroup = parseOutgroup(optionValue(args, "outgroup"));
        return inferSpeciesTree(text, options);
    });
    std::vector<std::string> texts = {result.newick};
    if (options.picture) texts.push_back(result.svg);
    if (options.log) texts.push_back(result.log);
    writeOutputs(outputs, texts);
    std::fputs(result.notes.c_str(), stderr);
    printReport(result.report, outputs);
}
