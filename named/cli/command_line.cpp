// The command line of tressil-newick: one table of options, from which the
// parsing and the help text both come.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "named/annotate/annotate.h"
#include "named/cli/cli.h"
#include "named/cli/cli_steps.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;

struct Command {
    const char* name;
    const char* files;  // the file arguments, in order
    int fileCount;
    const char* purpose;
};

const Command kCommands[] = {
    {"infer", "GENES SPECIES.nwk", 2,
     "Gene trees in, a species tree out: the triples of every gene tree summed into one\n"
     "table, and the tree that satisfies the most of their weight"},
    {"encode", "TREES INPUT.txt NAMES.tsv", 3,
     "Named rooted trees to tressil's numbered input file and a table of the names"},
    {"decode", "NAMES.tsv RESULT.txt TREE.nwk", 3,
     "Tressil's result tree back to one line of Newick with the names"},
    {"score", "GENES SPECIES_TREE OUTPUT.nwk", 3,
     "A species tree you already have, weighed against the gene trees' triples and\n"
     "written with the annotations asked for"},
};

struct Option {
    const char* name;      // without the dashes
    const char* value;     // what the value stands for; nullptr for a flag
    const char* commands;  // the commands that take it, separated by blanks
    const char* help;      // one line
    bool joinedValue;      // the value may only be joined with '=': "--support=pp"
};

const Option kOptions[] = {
    {"outgroup", "NAME[,NAME...]", "infer encode score",
     "root every tree where it misplaces the fewest of these taxa", false},
    {"rooted", nullptr, "infer score",
     "take every tree as rooted as written, even with 3 subtrees at its root", false},
    {"drop-unplaced", nullptr, "infer score",
     "leave out trees without an outgroup taxon, not root them by the species tree", false},
    {"root-unplaced", nullptr, "infer score", "the default; kept so that older scripts still run",
     false},
    {"exact", nullptr, "infer score", "the exact method (at most 20 taxa)", false},
    {"heuristic", nullptr, "infer score", "the eight heuristic constructions, the best one kept",
     false},
    {"search", nullptr, "infer score", "the search (the default above 20 taxa)", false},
    {"path", "PATH", "infer score",
     "table, or table-free: count on the gene trees, no table (default: table while it fits)",
     false},
    {"support", "KIND", "infer score",
     "label inner nodes: share (also a bare --support), pp, full or bootstrap", true},
    {"support", "INPUT.txt|KIND", "decode",
     "label inner nodes from this input (share), or by KIND (share, pp, full) with --input", false},
    {"input", "INPUT.txt", "decode", "the tressil input file of the result, for --support=KIND",
     false},
    {"format", "FORMAT", "infer score",
     "the species tree as newick (default), nexus (FigTree) or nhx (ete3)", false},
    {"lengths", nullptr, "infer score", "branch lengths in coalescent units on inner branches",
     false},
    {"bootstrap", "N", "infer score",
     "N replicates of the gene trees; percentages label the nodes (0.95/87 with --support)", false},
    {"seed", "S", "infer score", "the seed of those draws (default 1)", false},
    {"replicates", "FILE", "infer score", "write the replicates' species trees", false},
    {"map", "FILE", "infer score encode",
     "the species of every individual: SPECIES:IND1,IND2 or INDIVIDUAL SPECIES lines", false},
    {"families", nullptr, "infer score encode",
     "read every tree as a gene family: species may have several copies, or none", false},
    {"delimiter", "C", "infer score encode",
     "with --families: a leaf's species is its name up to the first C (HUMAN_g1: HUMAN)", false},
    {"field", "K", "infer score encode",
     "with --delimiter: the species is field K of the name instead", false},
    {"pieces", "FILE", "infer score",
     "with --families: write every piece of one copy per species as rooted Newick", false},
    {"tags", "FILE", "infer score",
     "with --families: write every rooted family, D or S on each inner node", false},
    {"weight", "RULE", "infer score",
     "weigh each triple by the supports of its gene tree's branches: support, or hybrid", false},
    {"sites", "N|FILE", "infer score",
     "for --weight hybrid (support x (1 - e^(-length x N))): N, or a file of one N a tree", false},
    {"triples", "KIND", "infer score",
     "rooted (the default), or anchored: judged against the taxa outside each clade (without "
     "--outgroup: unrooted gene trees, an unrooted species tree)",
     false},
    {"min-support", "X", "infer score",
     "collapse gene-tree branches of support below X, on the labels' own scale, first", false},
    {"support-field", "K", "infer score",
     "of labels a/b/c (SH-aLRT/UFBoot), read value K (default: the last)", false},
    {"svg", "PICTURE.svg", "infer score", "draw the species tree as a picture too", false},
    {"log", "FILE", "infer score", "write one line per input tree (TSV): what became of it", false},
    {"threads", "N", "infer score", "use N threads, 1 to 1024 (default: one per core)", false},
    {"help", nullptr, "infer encode decode score", "show this text and exit (also -h)", false},
};

bool takes(const Option& option, const std::string& command) {
    const std::string list = std::string(" ") + option.commands + " ";
    return list.find(" " + command + " ") != std::string::npos;
}

const Command* findCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

std::string overview() {
    std::string text =
        "use: tressil-newick COMMAND [options] FILES\n"
        "\n"
        "Named gene trees (Newick or NEXUS, plain or gzip-compressed) to a named species\n"
        "tree. A file name '-' stands for standard input or standard output.\n"
        "\n"
        "Commands:\n";
    for (const Command& command : kCommands)
        text +=
            "  tressil-newick " + std::string(command.name) + " [options] " + command.files + "\n";
    return text +
           "\n"
           "'tressil-newick COMMAND --help' describes the options of one command;\n"
           "'tressil-newick --version' shows the version.\n";
}

std::string commandHelp(const Command& command) {
    std::string text = "use: tressil-newick " + std::string(command.name) + " [options] " +
                       command.files + "\n\n" + command.purpose + ".\n\n";
    for (const Option& option : kOptions) {
        if (!takes(option, command.name)) continue;
        std::string left = "  --" + std::string(option.name);
        if (option.value != nullptr)
            left += (option.joinedValue ? "[=" : " ") + std::string(option.value) +
                    (option.joinedValue ? "]" : "");
        left.resize(std::max<size_t>(left.size() + 2, 30), ' ');
        text += left + option.help + "\n";
    }
    return text + "  --                          end of options: later arguments are files\n";
}

// The options of the command the word names: the one spelt out in full, or
// every one it begins, as tressil reads its own.
std::vector<const Option*> optionsNamed(const std::string& word, const std::string& command) {
    std::vector<const Option*> begun;
    for (const Option& option : kOptions) {
        if (!takes(option, command)) continue;
        if (word == option.name) return {&option};
        if (!word.empty() && std::strncmp(option.name, word.c_str(), word.size()) == 0)
            begun.push_back(&option);
    }
    return begun;
}

const Option* findOption(const std::string& word, const std::string& command) {
    const std::vector<const Option*> found = optionsNamed(word, command);
    if (found.empty()) throw UsageError{"unknown option --" + word + " for " + command};
    if (found.size() == 1) return found[0];
    std::string names;
    for (size_t i = 0; i < found.size(); ++i)
        names += (i == 0                  ? "--"
                  : i + 1 == found.size() ? " or --"
                                          : ", --") +
                 std::string(found[i]->name);
    throw UsageError{"--" + word + " is ambiguous for " + command + ": " + names};
}

// A file count other than the command takes; a support kind read as a file
// name after --support (which joins its kind with '=') is the likely cause.
void checkFileCount(const Command& command, const Arguments& args, const std::string& kindAsFile) {
    if (args.files.size() == static_cast<size_t>(command.fileCount)) return;
    std::string message = std::string(command.name) + " takes " +
                          std::to_string(command.fileCount) + " file names, not " +
                          std::to_string(args.files.size());
    if (!kindAsFile.empty())
        message += "; '" + kindAsFile +
                   "' after --support was read as a file name: write --support=" + kindAsFile;
    throw UsageError{message};
}

// "--name value", "--name=value" or "--name", the name spelt out or
// shortened to any prefix no other option of the command shares; "--" ends
// the options.
Arguments parseArguments(const Command& command, int argc, char** argv) {
    Arguments args{command.name, {}, {}};
    std::string kindAsFile;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 3 || word.compare(0, 2, "--") != 0) {
            if (word == "--" && !optionsEnded)
                optionsEnded = true;
            else
                args.files.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const Option* option = findOption(
            word.substr(2, equals == std::string::npos ? word.npos : equals - 2), args.command);
        const std::string name = option->name;
        std::string value;
        if (option->value == nullptr) {
            if (equals != std::string::npos) throw UsageError{"--" + name + " takes no value"};
        } else if (option->joinedValue) {
            if (equals != std::string::npos)
                value = word.substr(equals + 1);
            else if (i + 1 < argc && supportKindNamed(argv[i + 1]) != SupportKind::kNone)
                kindAsFile = argv[i + 1];
        } else if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else {
            if (i + 1 >= argc) throw UsageError{"--" + name + " needs a value"};
            value = argv[++i];
        }
        args.options[name] = value;
    }
    int methods = 0;
    for (const char* method : {"exact", "heuristic", "search"})
        methods += hasOption(args, method) ? 1 : 0;
    if (methods > 1) throw UsageError{"give only one of --exact, --heuristic and --search"};
    if (hasOption(args, "rooted") && hasOption(args, "outgroup"))
        throw UsageError{"give only one of --rooted and --outgroup"};
    if (hasOption(args, "root-unplaced") && hasOption(args, "drop-unplaced"))
        throw UsageError{"give only one of --root-unplaced and --drop-unplaced"};
    for (const char* unplaced : {"root-unplaced", "drop-unplaced"})
        if (hasOption(args, unplaced) && !hasOption(args, "outgroup"))
            throw UsageError{"--" + std::string(unplaced) + " needs --outgroup"};
    for (const char* needs : {"delimiter", "pieces", "tags"})
        if (hasOption(args, needs) && !hasOption(args, "families"))
            throw UsageError{"--" + std::string(needs) + " needs --families"};
    if (hasOption(args, "field") && !hasOption(args, "delimiter"))
        throw UsageError{"--field needs --delimiter"};
    if (hasOption(args, "delimiter") && hasOption(args, "map"))
        throw UsageError{"give only one of --delimiter and --map"};
    if (hasOption(args, "families") && hasOption(args, "rooted"))
        throw UsageError{"--families roots every family by its duplications; leave out --rooted"};
    checkFileCount(command, args, kindAsFile);
    return args;
}

// One line for the reason and one for where to read more: the whole usage
// would push the reason off the screen.
int printUsageError(const std::string& message, const Command* command) {
    const std::string help = command != nullptr ? std::string(command->name) + " --help" : "--help";
    std::fprintf(stderr, "tressil-newick: %s\ntry 'tressil-newick %s'\n", message.c_str(),
                 help.c_str());
    return kExitError;
}

// What an option word asks for: "help", "version", or "" for anything else.
// -h, and every prefix of a long option that only it begins, are taken.
std::string informationAsked(const std::string& word, const Command* command) {
    if (word == "-h") return "help";
    if (word.size() < 3 || word.compare(0, 2, "--") != 0) return "";
    const std::string name = word.substr(2);
    if (command != nullptr) {
        const std::vector<const Option*> found = optionsNamed(name, command->name);
        return found.size() == 1 && std::string(found[0]->name) == "help" ? "help" : "";
    }
    for (const char* asked : {"help", "version"})
        if (std::strncmp(asked, name.c_str(), name.size()) == 0) return asked;
    return "";
}

// --help and --version answer on standard output, before anything else.
bool answerInformation(int argc, char** argv, const Command* command) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return false;
        const std::string asked = informationAsked(word, command);
        if (asked == "help") {
            std::fputs((command != nullptr ? commandHelp(*command) : overview()).c_str(), stdout);
            return true;
        }
        if (asked == "version") {
            std::fputs("tressil-newick " TRESSIL_VERSION "\n", stdout);
            return true;
        }
    }
    return false;
}

}  // namespace

int parseThreads(const Arguments& args) {
    if (!hasOption(args, "threads")) return 0;
    const int threads = readThreadCount(optionValue(args, "threads"));
    if (threads == 0)
        throw UsageError{"--threads takes a whole number from 1 to " + std::to_string(kMaxThreads)};
    return threads;
}

int runNewickTool(int argc, char** argv) {
    const std::string name = argc > 1 ? argv[1] : "";
    const Command* command = findCommand(name);
    if (answerInformation(argc, argv, command)) return kExitOk;
    if (command == nullptr)
        return printUsageError(name.empty() ? "give a command" : "unknown command " + name,
                               nullptr);
    Arguments args;
    try {
        args = parseArguments(*command, argc, argv);
        parseThreads(args);
    } catch (const UsageError& error) {
        return printUsageError(error.message, command);
    }
    try {
        if (name == "encode")
            encodeFiles(args);
        else if (name == "decode")
            decodeFiles(args);
        else if (name == "score")
            scoreFiles(args);
        else
            inferFiles(args);
    } catch (const FileError& error) {
        std::fprintf(stderr, "tressil-newick: %s\n", error.message.c_str());
        return kExitError;
    } catch (const UsageError& error) {
        return printUsageError(error.message, command);
    }
    return kExitOk;
}
