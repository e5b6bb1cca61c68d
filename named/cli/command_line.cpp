// The command line of tressil-newick: read whole files, convert, and write
// every output through a temporary file that is renamed only when all of
// them are complete, so an error never leaves a partial or stale result.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "named/annotate/annotate.h"
#include "named/cli/cli.h"
#include "named/road/road.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kTempAttempts = 100;  // names tried before giving up on a temporary file

const char kUsage[] =
    "use: tressil-newick encode TREES.nwk INPUT.txt NAMES.tsv\n"
    "     tressil-newick decode NAMES.tsv RESULT.txt TREE.nwk\n"
    "     tressil-newick encode --outgroup NAME[,NAME...] TREES.nwk INPUT.txt NAMES.tsv\n"
    "     tressil-newick decode --support INPUT.txt NAMES.tsv RESULT.txt TREE.nwk\n"
    "     tressil-newick infer [--outgroup NAME[,NAME...]] [--exact | --heuristic | --search]\n"
    "                          [--support] [--svg PICTURE.svg] [--threads N] GENES.nwk "
    "SPECIES.nwk\n";

// A failure outside the parsed text: cannot read, cannot write, bad paths.
struct FileError {
    std::string message;
};

// A file to write: its final path and the temporary file holding its text.
struct PendingFile {
    std::string path;
    std::string tempPath;
};

// "-" reads standard input.
std::string readWholeFile(const std::string& path) {
    std::ifstream file;
    if (path != "-") file.open(path, std::ios::binary);
    std::istream& in = path == "-" ? std::cin : file;
    if (!in) throw FileError{"cannot read " + path + ": " + std::strerror(errno)};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw FileError{"cannot read " + path};
    return text.str();
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat first {};
    struct stat second {};
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Every path of the command must name a different file: an output written
// over an input or over the other output would lose data.
void checkDistinct(const std::vector<std::string>& paths) {
    for (size_t i = 0; i < paths.size(); ++i)
        for (size_t j = i + 1; j < paths.size(); ++j)
            if (sameFile(paths[i], paths[j]))
                throw FileError{paths[i] + " and " + paths[j] +
                                " are the same file; give every file its own name"};
}

void removeTemps(const std::vector<PendingFile>& files) {
    for (const PendingFile& file : files)
        if (!file.tempPath.empty()) unlink(file.tempPath.c_str());
}

// Creates a new temporary file next to path (same directory, so the rename
// is atomic) and writes the text into it; O_EXCL never reuses a file.
std::string writeTemp(const std::string& path, const std::string& text) {
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        const std::string temp =
            path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) throw FileError{"cannot write " + path + ": " + std::strerror(errno)};
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        const int writeErrno = errno;
        if (close(fd) != 0 || done < text.size()) {
            unlink(temp.c_str());
            throw FileError{"cannot write " + path + ": " +
                            std::strerror(done < text.size() ? writeErrno : errno)};
        }
        return temp;
    }
    throw FileError{"cannot write " + path + ": no free temporary name"};
}

// Writes all files or none of them.
void writeAll(std::vector<PendingFile> files, const std::vector<std::string>& texts) {
    try {
        for (size_t i = 0; i < files.size(); ++i)
            files[i].tempPath = writeTemp(files[i].path, texts[i]);
    } catch (const FileError&) {
        removeTemps(files);
        throw;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (rename(files[i].tempPath.c_str(), files[i].path.c_str()) != 0) {
            const std::string message =
                "cannot write " + files[i].path + ": " + std::strerror(errno);
            removeTemps(
                std::vector<PendingFile>(files.begin() + static_cast<long>(i), files.end()));
            throw FileError{message};
        }
    }
}

// "PATH:LINE:COLUMN: message", or "PATH: message" for the file as a whole.
std::string placedMessage(const std::string& path, const NewickError& error) {
    if (error.line == 0) return path + ": " + error.message;
    return path + ":" + std::to_string(error.line) + ":" + std::to_string(error.column) + ": " +
           error.message;
}

// Reads a file and converts it; a NewickError is reported against this file.
template <typename Result, typename Convert>
Result convertFile(const std::string& path, const std::string& text, Convert convert) {
    try {
        return convert(text);
    } catch (const NewickError& error) {
        throw FileError{placedMessage(path, error)};
    }
}

// The options of one command line and its other arguments, in order.
struct Arguments {
    std::string outgroup;
    bool hasOutgroup = false;
    std::string support;  // decode: the input file; infer: "yes"
    std::string svg;
    std::string threads;
    std::string method;  // "exact", "heuristic" or "search"
    std::vector<std::string> files;
};

// A mistake in the command line: printed with the usage.
struct UsageError {
    std::string message;
};

// "--name value" or "--name=value"; "--" ends the options.
Arguments parseArguments(const std::string& command, int argc, char** argv) {
    Arguments args;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
            args.files.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        const size_t equals = word.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = word.substr(equals + 1);
            word.resize(equals);
        }
        const auto takeValue = [&](std::string* into) {
            if (!inlineValue) {
                if (i + 1 >= argc) throw UsageError{word + " needs a value"};
                value = argv[++i];
            }
            *into = value;
        };
        const bool infer = command == "infer";
        if (word == "--outgroup" && command != "decode") {
            takeValue(&args.outgroup);
            args.outgroup = matchOutgroupList(args.outgroup);
            args.hasOutgroup = true;
        } else if (word == "--support" && command == "decode") {
            takeValue(&args.support);
        } else if (infer && (word == "--exact" || word == "--heuristic" || word == "--search") &&
                   !inlineValue) {
            if (!args.method.empty() && args.method != word.substr(2))
                throw UsageError{"give only one of --exact, --heuristic and --search"};
            args.method = word.substr(2);
        } else if (infer && word == "--support" && !inlineValue) {
            args.support = "yes";
        } else if (infer && word == "--svg") {
            takeValue(&args.svg);
        } else if (infer && word == "--threads") {
            takeValue(&args.threads);
        } else {
            throw UsageError{"unknown option " + word + " for " + command};
        }
    }
    return args;
}

// Not given: one thread per core.
int parseThreads(const std::string& text) {
    if (text.empty()) return 0;
    const int threads = readThreadCount(text);
    if (threads == 0)
        throw UsageError{"--threads takes a whole number from 1 to " + std::to_string(kMaxThreads)};
    return threads;
}

void printNotes(const std::string& notes) {
    std::fputs(notes.c_str(), stderr);
}

void encodeFiles(const std::string& treesPath, const std::string& inputPath,
                 const std::string& namesPath, const Arguments& args) {
    checkDistinct({treesPath, inputPath, namesPath});
    const std::string text = readWholeFile(treesPath);
    const EncodedTrees encoded =
        convertFile<EncodedTrees>(treesPath, text, [&args](const std::string& t) {
            if (!args.hasOutgroup) return encodeTrees(t);
            return encodeTrees(t, parseOutgroup(args.outgroup));
        });
    writeAll({{inputPath, ""}, {namesPath, ""}},
             {tressilInputText(encoded), nameTableText(encoded)});
    if (encoded.treesSkipped > 0)
        std::fprintf(stderr, "tressil-newick: skipped %d of %d trees with fewer than 3 taxa\n",
                     encoded.treesSkipped, encoded.treesRead);
    if (args.hasOutgroup) printNotes(rootingNote(encoded.rooting));
    std::printf("%d trees read: %zu distinct trees on %zu taxa\n", encoded.treesRead,
                encoded.topologies.size(), encoded.names.size());
}

void decodeFiles(const std::string& namesPath, const std::string& resultPath,
                 const std::string& treePath, const std::string& inputPath) {
    std::vector<std::string> paths = {namesPath, resultPath, treePath};
    if (!inputPath.empty()) paths.push_back(inputPath);
    checkDistinct(paths);
    const std::vector<std::string> names = convertFile<std::vector<std::string>>(
        namesPath, readWholeFile(namesPath),
        [](const std::string& t) { return parseNameTable(t); });
    ResultTree tree = convertFile<ResultTree>(
        resultPath, readWholeFile(resultPath),
        [&names](const std::string& t) { return parseResultTree(t, names); });
    if (!inputPath.empty())
        convertFile<bool>(inputPath, "", [&](const std::string&) {
            labelSupportFromInput(&tree, inputPath);
            return true;
        });
    writeAll({{treePath, ""}}, {resultNewick(tree, names)});
}

void inferFiles(const Arguments& args) {
    const std::string& genesPath = args.files[0];
    const std::string& speciesPath = args.files[1];
    InferOptions options{{},
                         args.method == "exact"       ? InferMethod::kExact
                         : args.method == "heuristic" ? InferMethod::kHeuristic
                         : args.method == "search"    ? InferMethod::kSearch
                                                      : InferMethod::kBest,
                         !args.support.empty(),
                         !args.svg.empty(),
                         parseThreads(args.threads)};
    std::vector<PendingFile> outputs = {{speciesPath, ""}};
    if (!args.svg.empty()) outputs.push_back({args.svg, ""});
    std::vector<std::string> paths = {genesPath};
    for (const PendingFile& file : outputs)
        paths.push_back(file.path);
    checkDistinct(paths);
    const std::string text = readWholeFile(genesPath);
    const InferResult result = convertFile<InferResult>(genesPath, text, [&](const std::string& t) {
        if (args.hasOutgroup) options.outgroup = parseOutgroup(args.outgroup);
        return inferSpeciesTree(t, options);
    });
    std::vector<std::string> texts = {result.newick};
    if (!args.svg.empty()) texts.push_back(result.svg);
    writeAll(outputs, texts);
    printNotes(result.notes);
    std::fputs(result.report.c_str(), stdout);
}

// The number of file arguments of each command.
size_t fileCount(const std::string& command) {
    return command == "infer" ? 2 : 3;
}

}  // namespace

int runNewickTool(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command != "encode" && command != "decode" && command != "infer") {
        std::fputs(kUsage, stderr);
        return kExitError;
    }
    Arguments args;
    try {
        args = parseArguments(command, argc, argv);
        if (args.files.size() != fileCount(command))
            throw UsageError{command + " takes " + std::to_string(fileCount(command)) +
                             " file names, not " + std::to_string(args.files.size())};
        parseThreads(args.threads);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "tressil-newick: %s\n", error.message.c_str());
        std::fputs(kUsage, stderr);
        return kExitError;
    }
    try {
        if (command == "encode")
            encodeFiles(args.files[0], args.files[1], args.files[2], args);
        else if (command == "decode")
            decodeFiles(args.files[0], args.files[1], args.files[2], args.support);
        else
            inferFiles(args);
    } catch (const FileError& error) {
        std::fprintf(stderr, "tressil-newick: %s\n", error.message.c_str());
        return kExitError;
    }
    return kExitOk;
}
