// Internal to the command line: its errors, its arguments, the writing of
// every output, and the three commands.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// A failure outside the parsed text: cannot read, cannot write, bad paths.
struct FileError {
    std::string message;
};

// A mistake in the command line: printed with where to find the usage.
struct UsageError {
    std::string message;
};

// The options of one command line (by name, without the dashes; a flag
// holds "") and its other arguments, in order.
struct Arguments {
    std::string command;
    std::map<std::string, std::string> options;
    std::vector<std::string> files;
};

inline bool hasOption(const Arguments& args, const std::string& name) {
    return args.options.count(name) != 0;
}
inline std::string optionValue(const Arguments& args, const std::string& name) {
    const auto found = args.options.find(name);
    return found == args.options.end() ? "" : found->second;
}

// Where an output goes, found before the run so that a path that cannot be
// written fails before anything is changed.
enum class OutputKind {
    kStandardOutput,  // "-", or a path that is this process's standard output
    kInPlace,         // a device, a pipe or a file in a folder we cannot write
    kReplace,         // a regular file (new or old), replaced once complete
};
struct OutputFile {
    std::string path;  // as given
    OutputKind kind;
    std::string target;  // the file the path leads to, symbolic links followed
    bool exists;
    mode_t mode;  // of the existing file, kept by its replacement
};

// Checks that the path can be written and where its bytes will go. Throws
// FileError for a folder, a read-only file, or a missing or unwritable
// folder.
OutputFile checkOutputPath(const std::string& path);

// Writes every output, or, if one cannot be written, none of the regular
// files: each is written to a temporary file beside its target first and
// renamed over it only when all are ready.
void writeOutputs(const std::vector<OutputFile>& outputs, const std::vector<std::string>& texts);

// True when some output goes to standard output; the report lines then go to
// standard error, so that standard output holds the file alone.
bool someOutputIsStandardOutput(const std::vector<OutputFile>& outputs);

// Every input and output names a different file, and at most one output is
// standard output. Throws FileError.
void checkDistinct(const std::vector<std::string>& inputs, const std::vector<OutputFile>& outputs);

// The whole of a file, or of standard input for "-".
std::string readWholeFile(const std::string& path);

// The commands; each throws FileError or UsageError.
void encodeFiles(const Arguments& args);
void decodeFiles(const Arguments& args);
void inferFiles(const Arguments& args);
void scoreFiles(const Arguments& args);

// A thread count of --threads; 0 (one per core) when the option is absent.
int parseThreads(const Arguments& args);
