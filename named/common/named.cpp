// What every room shares: places in the text, errors and name quoting.
#include "named/common/named.h"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/common.h"

void locateOffset(const std::string& text, size_t offset, int* line, int* column) {
    *line = 1;
    *column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++*line;
            *column = 1;
        } else if ((c & 0xC0) != 0x80) {  // UTF-8 continuation bytes share a column
            ++*column;
        }
    }
}

void throwAt(const std::string& text, size_t offset, const std::string& message) {
    NewickError error{0, 0, message};
    locateOffset(text, offset, &error.line, &error.column);
    throw error;
}

void failWhole(const std::string& message) {
    throw NewickError{0, 0, message};
}

std::string matchName(const std::string& unquotedText) {
    std::string name = unquotedText;
    for (char& c : name)
        if (c == '_') c = ' ';
    return name;
}

std::string quoteName(const std::string& name) {
    // A blank reads back from an underscore, so a real underscore needs quotes.
    bool plain = !name.empty();
    for (const char c : name)
        if (std::string("_\t\r\n\v\f()[]{}':;,=\"\\").find(c) != std::string::npos) plain = false;
    if (plain) {
        std::string label = name;
        for (char& c : label)
            if (c == ' ') c = '_';
        return label;
    }
    std::string quoted = "'";
    for (const char c : name)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

std::string shownName(const std::string& name) {
    const std::string label = quoteName(name);
    return label[0] == '\'' ? label : "'" + label + "'";
}

std::string lookalikeNamesNote(const std::vector<std::string>& names) {
    std::map<std::string, std::vector<std::string>> byBlanks;
    for (const std::string& name : names)
        byBlanks[matchName(name)].push_back(name);
    std::string note;
    for (auto& [blanks, group] : byBlanks) {
        if (group.size() < 2) continue;
        std::sort(group.begin(), group.end());
        note += "tressil-newick: ";
        for (size_t i = 0; i < group.size(); ++i)
            note += (i == 0 ? "" : i + 1 == group.size() ? " and " : ", ") + quoteName(group[i]);
        note +=
            " are different taxa, since outside quotes an underscore reads as a blank; write "
            "them alike if they are one\n";
    }
    return note;
}

[[noreturn]] static void throwFatal(int /*status*/, const char* message) {
    std::string text = message;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    throw NewickError{0, 0, text};
}

CoreErrorsThrow::CoreErrorsThrow() : saved(g_fatalHandler) {
    g_fatalHandler = throwFatal;
}

CoreErrorsThrow::~CoreErrorsThrow() {
    g_fatalHandler = saved;
}

namespace {

char lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Edits (insertions, deletions, replacements) from one name to the other,
// letter case aside.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t replaced = diagonal + (lowered(a[i - 1]) == lowered(b[j - 1]) ? 0 : 1);
            diagonal = row[j];
            row[j] = std::min({replaced, row[j] + 1, row[j - 1] + 1});
        }
    }
    return row[b.size()];
}

constexpr size_t kMaxSuggestions = 3;

// "did you mean 'A' or 'B'? " for the closest names, or "" when none is
// close: within a third of the name's length, and at least 2 edits.
}  // namespace

std::string suggestNames(const std::string& name, const std::unordered_set<std::string>& allNames) {
    const size_t limit = std::max<size_t>(2, name.size() / 3);
    std::vector<std::pair<size_t, std::string>> close;
    for (const std::string& candidate : allNames) {
        const size_t distance = editDistance(name, candidate);
        if (distance <= limit) close.push_back({distance, candidate});
    }
    std::sort(close.begin(), close.end());
    if (close.size() > kMaxSuggestions) close.resize(kMaxSuggestions);
    if (close.empty()) return "";
    std::string text = "did you mean ";
    for (size_t i = 0; i < close.size(); ++i)
        text += (i == 0 ? "" : i + 1 == close.size() ? " or " : ", ") + shownName(close[i].second);
    return text + "? ";
}
