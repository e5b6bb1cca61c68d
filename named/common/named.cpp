// What every room shares: places in the text, errors and name quoting.
#include "named/common/named.h"

#include <string>

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
        if (std::string("_\t\r\n\v\f()[]':;,").find(c) != std::string::npos) plain = false;
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
