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
#include <sstream>
#include <string>
#include <vector>

#include "newick/newick.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kTempAttempts = 100;  // names tried before giving up on a temporary file

const char kUsage[] =
    "use: tressil-newick encode TREES.nwk INPUT.txt NAMES.tsv\n"
    "     tressil-newick decode NAMES.tsv RESULT.txt TREE.nwk\n";

// A failure outside the parsed text: cannot read, cannot write, bad paths.
struct FileError {
    std::string message;
};

// A file to write: its final path and the temporary file holding its text.
struct PendingFile {
    std::string path;
    std::string tempPath;
};

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
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

void encodeFiles(const std::string& treesPath, const std::string& inputPath,
                 const std::string& namesPath) {
    checkDistinct({treesPath, inputPath, namesPath});
    const std::string text = readWholeFile(treesPath);
    const EncodedTrees encoded = convertFile<EncodedTrees>(
        treesPath, text, [](const std::string& t) { return encodeTrees(t); });
    writeAll({{inputPath, ""}, {namesPath, ""}},
             {tressilInputText(encoded), nameTableText(encoded)});
    if (encoded.treesSkipped > 0)
        std::fprintf(stderr, "tressil-newick: skipped %d of %d trees with fewer than 3 taxa\n",
                     encoded.treesSkipped, encoded.treesRead);
    std::printf("%d trees read: %zu distinct trees on %zu taxa\n", encoded.treesRead,
                encoded.topologies.size(), encoded.names.size());
}

void decodeFiles(const std::string& namesPath, const std::string& resultPath,
                 const std::string& treePath) {
    checkDistinct({namesPath, resultPath, treePath});
    const std::vector<std::string> names = convertFile<std::vector<std::string>>(
        namesPath, readWholeFile(namesPath),
        [](const std::string& t) { return parseNameTable(t); });
    const std::string tree =
        convertFile<std::string>(resultPath, readWholeFile(resultPath),
                                 [&names](const std::string& t) { return decodeResult(t, names); });
    writeAll({{treePath, ""}}, {tree});
}

}  // namespace

int runNewickTool(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (argc != 5 || (command != "encode" && command != "decode")) {
        std::fputs(kUsage, stderr);
        return kExitError;
    }
    try {
        if (command == "encode")
            encodeFiles(argv[2], argv[3], argv[4]);
        else
            decodeFiles(argv[2], argv[3], argv[4]);
    } catch (const FileError& error) {
        std::fprintf(stderr, "tressil-newick: %s\n", error.message.c_str());
        return kExitError;
    }
    return kExitOk;
}
