// Running the reader in-process and the program as a separate process.
#pragma once

#include <string>
#include <vector>

// A fatal exit caught in-process.
struct FatalExit {
    int status;
    std::string message;
};

// Installs a fatal handler that throws FatalExit for the life of the object.
struct CatchFatalExits {
    CatchFatalExits();
    ~CatchFatalExits();
};

// Reads the text with readInput. Returns the message of a fatal exit, or ""
// when the input was accepted; status receives the exit status (0 if none).
std::string readText(const std::string& text, int* status = nullptr);

// One run of the tressil executable in a fresh directory.
struct RunResult {
    int status;              // exit status as a shell sees it
    std::string out;         // standard output
    std::string file;        // the output file ("<absent>" when not created)
    std::string inputAfter;  // the input file after the run
};

// Writes input to "in.txt" and runs tressil with the arguments; the
// placeholders "IN" and "OUT" stand for the input and output paths.
RunResult runProgram(const std::string& input, const std::vector<std::string>& args);

// The text in single quotes for a POSIX shell, each quote written as '\''.
std::string shellQuote(const std::string& s);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
