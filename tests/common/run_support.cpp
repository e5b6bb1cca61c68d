#include "common/run_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/common.h"
#include "io/io.h"

namespace {

void throwFatal(int status, const char* message) {
    throw FatalExit{status, message};
}

std::string freshDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/tressil_test_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

}  // namespace

CatchFatalExits::CatchFatalExits() {
    g_fatalHandler = throwFatal;
}
CatchFatalExits::~CatchFatalExits() {
    g_fatalHandler = nullptr;
}

std::string readText(const std::string& text, int* status) {
    CatchFatalExits guard;
    if (status != nullptr) *status = 0;
    // fmemopen refuses an empty buffer.
    g_inFile =
        text.empty() ? std::tmpfile() : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    try {
        readInput();
    } catch (const FatalExit& e) {
        if (status != nullptr) *status = e.status;
        return e.message;
    }
    std::fclose(g_inFile);
    g_inFile = nullptr;
    return "";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<absent>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string shellQuote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

RunResult runProgram(const std::string& input, const std::vector<std::string>& args) {
    const std::string dir = freshDirectory();
    const std::string inPath = dir + "/in.txt";
    const std::string outPath = dir + "/out.txt";
    writeFile(inPath, input);
    std::string command = shellQuote(TRESSIL_BINARY);
    for (const std::string& arg : args)
        command += " " + shellQuote(arg == "IN" ? inPath : arg == "OUT" ? outPath : arg);
    command += " > " + shellQuote(dir + "/stdout.txt") + " 2>&1 < /dev/null";
    const int raw = std::system(command.c_str());
    RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + raw, readFile(dir + "/stdout.txt"),
                     readFile(outPath), readFile(inPath)};
    std::system(("rm -rf " + shellQuote(dir)).c_str());
    return result;
}
