// What the simulators' command lines share: long options, checked numbers
// and whole files in and out.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "simulate/tree.h"

struct ParsedArguments {
    std::map<std::string, std::string> options;  // name without "--" -> value ("" for a flag)
    std::vector<std::string> positional;
};

// Long options as --name VALUE, --name=VALUE or --flag, anywhere on the
// line; "--" ends them. An unknown option, a missing value or a value given
// to a flag fails with its reason.
ParsedArguments parseArguments(int argc, char** argv, const std::vector<std::string>& valued,
                               const std::vector<std::string>& flags);

bool hasOption(const ParsedArguments& arguments, const std::string& name);

// The option's number, fallback when absent; fails unless it is a whole
// (or, for numberOption, any finite) number from low to high.
long long integerOption(const ParsedArguments& arguments, const std::string& name,
                        long long fallback, long long low, long long high);
double numberOption(const ParsedArguments& arguments, const std::string& name, double fallback,
                    double low, double high);
uint64_t seedOption(const ParsedArguments& arguments);  // --seed, 0..2^64-1, default 1

// A comma-separated list of from minCount to maxCount finite numbers.
std::vector<double> numberListOption(const ParsedArguments& arguments, const std::string& name,
                                     size_t minCount, size_t maxCount);

std::string readTextFile(const std::string& path);

// Writes the whole text, to standard output for "-".
void writeTextFile(const std::string& path, const std::string& text);

// The first tree of a species tree file: every branch with a length (in
// coalescent units), none negative, three species or more, none twice.
SimTree readSpeciesTree(const std::string& path);
