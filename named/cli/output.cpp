// Writing an output: checked before the run, written after it. A regular file
// is replaced from a temporary file in its own folder once the whole result
// is ready, so a failed run leaves the old file as it was; a symbolic link is
// written through; a device or a pipe is written in place; "-" is standard
// output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "named/cli/cli_steps.h"

namespace {

constexpr int kMaxLinks = 40;  // as the system's own path lookup allows

std::string reason() {
    return std::strerror(errno);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links one at a time, so that a link to a file that does
// not exist yet leads to the file it names.
std::string followLinks(const std::string& path) {
    std::string current = path;
    for (int step = 0; step < kMaxLinks; ++step) {
        struct stat link {};
        if (lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return current;
        std::vector<char> buffer(PATH_MAX + 1);
        const ssize_t length = readlink(current.c_str(), buffer.data(), buffer.size() - 1);
        if (length < 0) throw FileError{"cannot write " + path + ": " + reason()};
        const std::string target(buffer.data(), static_cast<size_t>(length));
        current = target[0] == '/' ? target : folderOf(current) + "/" + target;
    }
    throw FileError{"cannot write " + path + ": too many levels of symbolic links"};
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isStandardOutput(const struct stat& file) {
    struct stat out {};
    return fstat(STDOUT_FILENO, &out) == 0 && sameFile(out, file);
}

// An existing path: a folder is refused, anything but a regular file is
// written in place, and a regular file must be writable by its mode (root
// may write any file, but a read-only file was made so on purpose).
void checkExisting(const struct stat& file, OutputFile* out) {
    const std::string& path = out->path;
    out->exists = true;
    if (S_ISDIR(file.st_mode))
        throw FileError{"cannot write " + path + ": it is a folder; give a file name"};
    if (isStandardOutput(file)) {
        out->kind = OutputKind::kStandardOutput;
        return;
    }
    if (access(path.c_str(), W_OK) != 0) throw FileError{"cannot write " + path + ": " + reason()};
    if (!S_ISREG(file.st_mode)) {
        out->kind = OutputKind::kInPlace;
        return;
    }
    if ((file.st_mode & 0222) == 0)
        throw FileError{"cannot write " + path +
                        ": the file is read-only; make it writable or give another name"};
    out->mode = file.st_mode & 07777;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr)
        throw FileError{"cannot write " + path + ": " + reason()};
    out->target = resolved;
}

int writeAllBytes(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<size_t>(n);
    }
    return 0;
}

mode_t creationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// A new temporary file beside the target, holding the text with the mode
// the target has (or a new file would get).
std::string writeTemp(const OutputFile& out, const std::string& text) {
    const std::string& target = out.target;
    const size_t slash = target.find_last_of('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = folderOf(target) + "/." + base + ".tressil-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) throw FileError{"cannot write " + out.path + ": " + reason()};
    const bool written =
        fchmod(fd, out.exists ? out.mode : creationMode()) == 0 && writeAllBytes(fd, text) == 0;
    const int writeErrno = errno;
    if (close(fd) != 0 || !written) {
        const std::string message = std::strerror(written ? errno : writeErrno);
        unlink(temp.c_str());
        throw FileError{"cannot write " + out.path + ": " + message};
    }
    return temp;
}

void writeInPlace(const OutputFile& out, const std::string& text) {
    struct stat file {};
    const bool regular = stat(out.path.c_str(), &file) == 0 && S_ISREG(file.st_mode);
    const int fd = open(out.path.c_str(), O_WRONLY | (regular ? O_TRUNC : 0));
    if (fd < 0) throw FileError{"cannot write " + out.path + ": " + reason()};
    const bool written = writeAllBytes(fd, text) == 0;
    const int writeErrno = errno;
    if (close(fd) != 0 || !written)
        throw FileError{"cannot write " + out.path + ": " +
                        std::strerror(written ? errno : writeErrno)};
}

void writeStandardOutput(const OutputFile& out, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw FileError{"cannot write " + out.path + ": " + reason()};
}

void removeTemps(const std::vector<std::string>& temps) {
    for (const std::string& temp : temps)
        if (!temp.empty()) unlink(temp.c_str());
}

}  // namespace

OutputFile checkOutputPath(const std::string& path) {
    OutputFile out{path, OutputKind::kReplace, path, false, 0};
    if (path == "-") {
        out.kind = OutputKind::kStandardOutput;
        return out;
    }
    if (path.empty()) throw FileError{"an output file name is empty"};
    struct stat file {};
    if (stat(path.c_str(), &file) == 0) {
        checkExisting(file, &out);
        if (out.kind != OutputKind::kReplace) return out;
    } else if (errno == ENOENT) {
        out.target = followLinks(path);
    } else {
        throw FileError{"cannot write " + path + ": " + reason()};
    }
    const std::string folder = folderOf(out.target);
    struct stat dir {};
    if (stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
        throw FileError{"cannot write " + path + ": the folder " + folder + " does not exist"};
    if (access(folder.c_str(), W_OK) != 0) {
        if (!out.exists)
            throw FileError{"cannot write " + path + ": the folder " + folder + " is not writable"};
        out.kind = OutputKind::kInPlace;  // the file may be written, not replaced
    }
    return out;
}

void writeOutputs(const std::vector<OutputFile>& outputs, const std::vector<std::string>& texts) {
    std::vector<std::string> temps(outputs.size());
    try {
        for (size_t i = 0; i < outputs.size(); ++i)
            if (outputs[i].kind == OutputKind::kReplace) temps[i] = writeTemp(outputs[i], texts[i]);
    } catch (const FileError&) {
        removeTemps(temps);
        throw;
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        const OutputFile& out = outputs[i];
        if (out.kind != OutputKind::kReplace) continue;
        if (rename(temps[i].c_str(), out.target.c_str()) != 0) {
            const std::string message = "cannot write " + out.path + ": " + reason();
            removeTemps(temps);
            throw FileError{message};
        }
        temps[i].clear();
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].kind == OutputKind::kInPlace) writeInPlace(outputs[i], texts[i]);
        if (outputs[i].kind == OutputKind::kStandardOutput)
            writeStandardOutput(outputs[i], texts[i]);
    }
}

bool someOutputIsStandardOutput(const std::vector<OutputFile>& outputs) {
    for (const OutputFile& out : outputs)
        if (out.kind == OutputKind::kStandardOutput) return true;
    return false;
}

void checkDistinct(const std::vector<std::string>& inputs, const std::vector<OutputFile>& outputs) {
    // Only regular files can be lost by writing over them; a terminal may
    // well be standard input and standard output at once.
    struct Named {
        std::string path;
        struct stat file;
        bool regular;
    };
    std::vector<Named> files;
    for (const std::string& path : inputs) {
        Named named{path, {}, false};
        const int found =
            path == "-" ? fstat(STDIN_FILENO, &named.file) : stat(path.c_str(), &named.file);
        named.regular = found == 0 && S_ISREG(named.file.st_mode);
        files.push_back(named);
    }
    const OutputFile* standard = nullptr;
    for (const OutputFile& out : outputs) {
        if (out.kind == OutputKind::kStandardOutput) {
            if (standard != nullptr)
                throw FileError{standard->path + " and " + out.path +
                                " both go to standard output; give every output its own file"};
            standard = &out;
        }
        Named named{out.path, {}, false};
        named.regular = out.kind == OutputKind::kReplace &&
                        stat(out.target.c_str(), &named.file) == 0 && S_ISREG(named.file.st_mode);
        files.push_back(named);
    }
    for (size_t i = 0; i < files.size(); ++i)
        for (size_t j = i + 1; j < files.size(); ++j) {
            const bool samePath = files[i].path == files[j].path && files[i].path != "-";
            if (samePath ||
                (files[i].regular && files[j].regular && sameFile(files[i].file, files[j].file)))
                throw FileError{files[i].path + " and " + files[j].path +
                                " are the same file; give every file its own name"};
        }
}

std::string readWholeFile(const std::string& path) {
    if (path == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw FileError{"cannot read " + path + ": " + reason()};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw FileError{"cannot read " + path};
    return text.str();
}
