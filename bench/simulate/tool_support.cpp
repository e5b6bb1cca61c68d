#include "simulate/tool_support.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "simulate/tree.h"

static bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

ParsedArguments parseArguments(int argc, char** argv, const std::vector<std::string>& valued,
                               const std::vector<std::string>& flags) {
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.rfind("--", 0) != 0) {
            parsed.positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(2, equals - 2);
        if (listed(flags, name)) {
            if (equals != std::string::npos) failSimulation("option --" + name + " takes no value");
            parsed.options[name] = "";
        } else if (listed(valued, name)) {
            if (equals != std::string::npos)
                parsed.options[name] = argument.substr(equals + 1);
            else if (i + 1 < argc)
                parsed.options[name] = argv[++i];
            else
                failSimulation("option --" + name + " needs a value");
        } else {
            failSimulation("unknown option: --" + name);
        }
    }
    return parsed;
}

bool hasOption(const ParsedArguments& arguments, const std::string& name) {
    return arguments.options.count(name) != 0;
}

[[noreturn]] static void failValue(const std::string& name, const std::string& value,
                                   const std::string& expected) {
    failSimulation("bad value for --" + name + ": '" + value + "' (" + expected + ")");
}

static std::string rangeText(double low, double high) {
    std::ostringstream text;
    text << "from " << low << " to " << high;
    return text.str();
}

long long integerOption(const ParsedArguments& arguments, const std::string& name,
                        long long fallback, long long low, long long high) {
    const auto it = arguments.options.find(name);
    if (it == arguments.options.end()) return fallback;
    const char* text = it->second.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < low || value > high)
        failValue(name, it->second,
                  "a whole number " + std::to_string(low) + " to " + std::to_string(high));
    return value;
}

static bool readNumber(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && std::isfinite(*value);
}

double numberOption(const ParsedArguments& arguments, const std::string& name, double fallback,
                    double low, double high) {
    const auto it = arguments.options.find(name);
    if (it == arguments.options.end()) return fallback;
    double value;
    if (!readNumber(it->second, &value) || value < low || value > high)
        failValue(name, it->second, "a number " + rangeText(low, high));
    return value;
}

uint64_t seedOption(const ParsedArguments& arguments) {
    const auto it = arguments.options.find("seed");
    if (it == arguments.options.end()) return 1;
    const char* text = it->second.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || it->second[0] == '-')
        failValue("seed", it->second, "a whole number from 0 to 18446744073709551615");
    return value;
}

std::vector<double> numberListOption(const ParsedArguments& arguments, const std::string& name,
                                     size_t minCount, size_t maxCount) {
    const std::string& list = arguments.options.at(name);
    std::vector<double> values;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        double value;
        if (!readNumber(list.substr(start, comma - start), &value))
            failValue(name, list, "comma-separated numbers");
        values.push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (values.size() < minCount || values.size() > maxCount)
        failValue(name, list,
                  minCount == maxCount
                      ? std::to_string(minCount) + " numbers"
                      : std::to_string(minCount) + " to " + std::to_string(maxCount) + " numbers");
    return values;
}

std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) failSimulation("cannot open input file: " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeTextFile(const std::string& path, const std::string& text) {
    if (path == "-") {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0)
            failSimulation("cannot write standard output");
        return;
    }
    std::ofstream out(path, std::ios::binary);
    if (!out) failSimulation("cannot open output file: " + path);
    out << text;
    out.close();
    if (!out) failSimulation("cannot write output file: " + path);
}

SimTree readSpeciesTree(const std::string& path) {
    bool missing = false;
    std::vector<SimTree> trees = parseTrees(readTextFile(path), &missing);
    if (trees.empty()) failSimulation(path + ": no tree");
    SimTree& tree = trees[0];
    if (missing) failSimulation(path + ": every branch needs a length in coalescent units");
    std::map<std::string, int> seen;
    for (const int leaf : leavesOf(tree))
        if (seen[tree.nodes[static_cast<size_t>(leaf)].name]++ > 0)
            failSimulation(path + ": species '" + tree.nodes[static_cast<size_t>(leaf)].name +
                           "' appears twice");
    for (const SimNode& node : tree.nodes)
        if (!(node.length >= 0.0)) failSimulation(path + ": a branch length is negative");
    if (seen.size() < 3) failSimulation(path + ": the species tree needs three species or more");
    return tree;
}
