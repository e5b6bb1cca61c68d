// The command line of tressil-newick: one table of options, from which the
// parsing and the help text both come.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver.h"
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
    {"root-unplaced", nullptr, "infer score",
     "root trees without an outgroup taxon by the species tree, not leave them out", false},
    {"exact", nullptr, "infer score", "the exact method (at most 20 taxa)", false},
    {"heuristic", nullptr, "infer score", "the eight heuristic constructions, the best one kept",
     false},
    {"search", nullptr, "infer score", "the search (the default above 20 taxa)", false},
    {"support", "KIND", "infer score",
     "label inner nodes: share (also a bare --support), pp, full or bootstrap", true},
    {"support", "INPUT.txt|KIND", "decode",
     "label inner nodes from this input (share), or by KIND (share, pp, full) with --input", false},
    {"input", "INPUT.txt", "decode", "the tressil input file of the result, for --support=KIND",
     false},
    {"lengths", nullptr, "infer score", "branch lengths in coalescent units on inner branches",
     false},
    {"bootstrap", "N", "infer score", "N replicates of the gene trees drawn with replacement",
     false},
    {"seed", "S", "infer score", "the seed of those draws (default 1)", false},
    {"replicates", "FILE", "infer score", "write the replicates' species trees", false},
    {"map", "FILE", "infer score",
     "the species of every individual: SPECIES:IND1,IND2 or INDIVIDUAL SPECIES lines", false},
    {"weight", "RULE", "infer score",
     "weigh each triple by the supports of its gene tree's branches: support, or hybrid", false},
    {"sites", "N|FILE", "infer score",
     "for --weight hybrid (support x (1 - e^(-length x N))): N, or a file of one N a tree", false},
    {"triples", "KIND", "infer score",
     "rooted (the default), or anchored: judged against the taxa outside each clade", false},
    {"min-support", "X", "infer score",
     "collapse gene-tree branches of support below X (0 to 1, or 0 to 100) first", false},
    {"svg", "PICTURE.svg", "infer score", "draw the species tree as a picture too", false},
    {"log", "FILE", "infer score", "write one line per input tree (TSV): what became of it", false},
    {"threads", "N", "infer score", "use N threads, 1 to 1024 (default: one per core)", false},
    {"help", nullptr, "infer encode decode score", "show this text and exit", false},
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

const Option* findOption(const std::string& name, const std::string& command) {
    for (const Option& option : kOptions)
        if (name == option.name && takes(option, command)) return &option;
    return nullptr;
}

// "--name value", "--name=value" or "--name"; "--" ends the options.
Arguments parseArguments(const std::string& command, int argc, char** argv) {
    Arguments args{command, {}, {}};
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
        const std::string name =
            word.substr(2, equals == std::string::npos ? word.npos : equals - 2);
        const Option* option = findOption(name, command);
        if (option == nullptr) throw UsageError{"unknown option --" + name + " for " + command};
        std::string value;
        if (option->value == nullptr) {
            if (equals != std::string::npos) throw UsageError{"--" + name + " takes no value"};
        } else if (option->joinedValue) {
            if (equals != std::string::npos) value = word.substr(equals + 1);
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
    if (hasOption(args, "root-unplaced") && !hasOption(args, "outgroup"))
        throw UsageError{"--root-unplaced needs --outgroup"};
    return args;
}

int printUsageError(const std::string& message, const Command* command) {
    std::fprintf(stderr, "tressil-newick: %s\n", message.c_str());
    const std::string help = command != nullptr ? commandHelp(*command) : overview();
    std::fputs(help.c_str(), stderr);
    return kExitError;
}

// --help and --version answer on standard output, before anything else.
bool answerInformation(int argc, char** argv, const Command* command) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return false;
        if (word == "--help") {
            std::fputs((command != nullptr ? commandHelp(*command) : overview()).c_str(), stdout);
            return true;
        }
        if (word == "--version" && command == nullptr) {
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
        args = parseArguments(name, argc, argv);
        if (args.files.size() != static_cast<size_t>(command->fileCount))
            throw UsageError{name + " takes " + std::to_string(command->fileCount) +
                             " file names, not " + std::to_string(args.files.size())};
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
