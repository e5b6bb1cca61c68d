// The map of individuals to species, in either form users hold:
//
//   SPECIES:IND1,IND2,...       one species a line
//   INDIVIDUAL SPECIES          two columns, separated by blanks or a tab
//
// told apart by their content: a ':' on any line means the first form.
// Blank lines and lines starting with '#' are skipped. Names follow the
// trees' rule, an unquoted underscore reading as a blank.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "named/read/read.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string trimmed(const std::string& text, size_t from, size_t to) {
    while (from < to && isBlank(text[from]))
        ++from;
    while (to > from && isBlank(text[to - 1]))
        --to;
    return text.substr(from, to - from);
}

void addIndividual(SpeciesMap* map, const std::string& text, size_t at,
                   const std::string& individual, const std::string& species) {
    if (individual.empty())
        throwAt(text, at, "an empty individual name; separate names by one ','");
    const auto [it, fresh] = map->speciesOf.emplace(matchName(individual), species);
    if (!fresh && it->second != species)
        throwAt(text, at,
                "individual '" + individual + "' is mapped to two species, " +
                    shownName(it->second) + " and " + shownName(species) +
                    "; give each individual one species");
}

// "SPECIES:IND1,IND2,..."
void readSpeciesLine(SpeciesMap* map, const std::string& text, size_t start, size_t end) {
    const size_t colon = text.find(':', start);
    if (colon >= end)
        throwAt(text, start, "expected 'SPECIES:IND1,IND2,...' as on the other lines of this map");
    const std::string species = matchName(trimmed(text, start, colon));
    if (species.empty()) throwAt(text, start, "a line without a species name before ':'");
    if (trimmed(text, colon + 1, end).empty())
        throwAt(text, start,
                "species " + shownName(species) +
                    " has no individuals; list them after ':', separated "
                    "by ','");
    map->species.push_back(species);
    for (size_t from = colon + 1; from <= end;) {
        size_t comma = text.find(',', from);
        if (comma > end) comma = end;
        addIndividual(map, text, from, trimmed(text, from, comma), species);
        from = comma + 1;
    }
}

// "INDIVIDUAL SPECIES"
void readPairLine(SpeciesMap* map, const std::string& text, size_t start, size_t end) {
    std::vector<std::string> fields;
    for (size_t at = start; at < end;) {
        while (at < end && isBlank(text[at]))
            ++at;
        const size_t first = at;
        while (at < end && !isBlank(text[at]))
            ++at;
        if (at > first) fields.push_back(text.substr(first, at - first));
    }
    if (fields.size() != 2)
        throwAt(text, start,
                "expected two columns, 'INDIVIDUAL SPECIES', or 'SPECIES:IND1,IND2,...' lines");
    const std::string species = matchName(fields[1]);
    bool known = false;
    for (const std::string& name : map->species)
        known = known || name == species;
    if (!known) map->species.push_back(species);
    addIndividual(map, text, start, fields[0], species);
}

}  // namespace

std::vector<std::string> outgroupOfSpecies(
    const std::vector<std::string>& outgroup,
    const std::unordered_map<std::string, std::string>& speciesOf, std::string* notes) {
    std::unordered_set<std::string> species;
    for (const auto& entry : speciesOf)
        species.insert(entry.second);
    std::vector<std::string> named;
    for (const std::string& name : outgroup) {
        const auto individual = speciesOf.find(name);
        std::string taken = name;
        if (species.count(name) == 0 && individual != speciesOf.end()) {
            taken = individual->second;
            *notes += "tressil-newick: outgroup " + shownName(name) +
                      " is an individual of species " + shownName(taken) +
                      "; the outgroup holds that species\n";
        }
        if (std::find(named.begin(), named.end(), taken) == named.end()) named.push_back(taken);
    }
    return named;
}

SpeciesMap parseSpeciesMap(const std::string& text) {
    SpeciesMap map;
    std::vector<std::pair<size_t, size_t>> lines;
    bool colonForm = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(text, start, end);
        if (!line.empty() && line[0] != '#') {
            lines.push_back({start, end});
            colonForm = colonForm || line.find(':') != std::string::npos;
        }
        start = end + 1;
    }
    if (lines.empty())
        failWhole(
            "the map names no individual; give 'SPECIES:IND1,IND2,...' lines or "
            "'INDIVIDUAL SPECIES' lines");
    for (const auto& [start, end] : lines)
        if (colonForm)
            readSpeciesLine(&map, text, start, end);
        else
            readPairLine(&map, text, start, end);
    return map;
}
