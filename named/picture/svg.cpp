// The result tree as a picture: a rectangular cladogram in plain SVG 1.1,
// one row per taxon, so its height grows with the taxa and every name stays
// readable at 128 of them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "named/picture/picture.h"

namespace {

constexpr double kRow = 18;            // pixels between two tips
constexpr double kMargin = 20;         // around the drawing
constexpr double kStub = 12;           // the root's branch
constexpr double kMaxTreeWidth = 720;  // of the branches, at most
constexpr double kLevelWidth = 48;     // per level of a shallow tree
constexpr double kCharWidth = 7.5;     // an estimate for the 12 px font
constexpr double kNameGap = 5;         // between a tip and its name

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Text and attribute values: the five XML specials as entities, and control
// characters, which XML 1.0 cannot hold at all, as '?'.
std::string escapeXml(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
    }
    return escaped;
}

std::string line(double x1, double y1, double x2, double y2) {
    return "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
           "\" y2=\"" + number(y2) + "\"/>\n";
}

}  // namespace

std::string drawTreeSvg(const ResultTree& tree, const std::vector<std::string>& names) {
    const size_t count = tree.nodes.size();
    // Levels above the tips: tips are aligned, a node stands one level left
    // of its higher child. Nodes are children first, so one pass suffices.
    std::vector<int> level(count, 0);
    std::vector<double> y(count, 0);
    int tips = 0;
    size_t longestName = 0;
    // Tips are numbered in drawing order, from the root's left side down.
    std::vector<std::pair<int32_t, bool>> stack{{tree.root, false}};
    std::vector<int32_t> tipOrder;
    while (!stack.empty()) {
        const int32_t node = stack.back().first;
        stack.pop_back();
        const ResultNode& n = tree.nodes[static_cast<size_t>(node)];
        if (n.children.empty()) {
            tipOrder.push_back(node);
            continue;
        }
        for (size_t c = n.children.size(); c-- > 0;)
            stack.push_back({n.children[c], false});
    }
    for (const int32_t tip : tipOrder) {
        y[static_cast<size_t>(tip)] = kMargin + kRow * (tips++ + 0.5);
        longestName =
            std::max(longestName,
                     names[static_cast<size_t>(tree.nodes[static_cast<size_t>(tip)].taxon)].size());
    }
    for (size_t i = 0; i < count; ++i) {
        const ResultNode& n = tree.nodes[i];
        if (n.children.empty()) continue;
        const auto first = static_cast<size_t>(n.children.front());
        const auto last = static_cast<size_t>(n.children.back());
        for (const int32_t child : n.children)
            level[i] = std::max(level[i], 1 + level[static_cast<size_t>(child)]);
        y[i] = (y[first] + y[last]) / 2;
    }
    const int levels = std::max(1, level[static_cast<size_t>(tree.root)]);
    const double step = std::min(kLevelWidth, kMaxTreeWidth / levels);
    const double tipX = kMargin + kStub + step * levels;
    auto x = [&](size_t node) { return tipX - step * level[node]; };
    const double width = tipX + kNameGap + kCharWidth * static_cast<double>(longestName) + kMargin;
    const double height = 2 * kMargin + kRow * tips;

    std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
        number(width) + "\" height=\"" + number(height) + "\" viewBox=\"0 0 " + number(width) +
        " " + number(height) + "\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n" +
        "<g stroke=\"black\" stroke-width=\"1.5\" stroke-linecap=\"square\">\n";
    const size_t root = static_cast<size_t>(tree.root);
    svg += line(x(root) - kStub, y[root], x(root), y[root]);
    for (size_t i = 0; i < count; ++i) {
        const ResultNode& n = tree.nodes[i];
        if (n.children.empty()) continue;
        for (const int32_t child : n.children)
            svg += line(x(i), y[static_cast<size_t>(child)], x(static_cast<size_t>(child)),
                        y[static_cast<size_t>(child)]);
        svg += line(x(i), y[static_cast<size_t>(n.children.front())], x(i),
                    y[static_cast<size_t>(n.children.back())]);
    }
    svg += "</g>\n<g font-family=\"sans-serif\" font-size=\"12\">\n";
    for (const int32_t tip : tipOrder) {
        const size_t t = static_cast<size_t>(tip);
        svg += "<text x=\"" + number(tipX + kNameGap) + "\" y=\"" + number(y[t] + 4) + "\">" +
               escapeXml(names[static_cast<size_t>(tree.nodes[t].taxon)]) + "</text>\n";
    }
    svg +=
        "</g>\n<g font-family=\"sans-serif\" font-size=\"10\" fill=\"#555555\" "
        "text-anchor=\"end\">\n";
    for (size_t i = 0; i < count; ++i)
        if (!tree.nodes[i].label.empty())
            svg += "<text x=\"" + number(x(i) - 2) + "\" y=\"" + number(y[i] - 3) + "\">" +
                   escapeXml(tree.nodes[i].label) + "</text>\n";
    return svg + "</g>\n</svg>\n";
}
