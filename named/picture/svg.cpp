// The result tree as a picture: a rectangular cladogram in plain SVG 1.1,
// one row per taxon, so its height grows with the taxa and every name stays
// readable at 128 of them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "named/picture/picture.h"

namespace {

constexpr double kRow = 18;               // pixels between two tips
constexpr double kMargin = 20;            // around the drawing
constexpr double kMaxTreeWidth = 720;     // of the branches, at most
constexpr double kLevelWidth = 48;        // per level of a shallow tree
constexpr double kCharWidth = 7.5;        // an estimate for the 12 px font
constexpr double kNameGap = 5;            // between a tip and its name
constexpr double kTipRoom = 0.1;          // beyond the deepest inner node, drawn to scale
constexpr double kUnscaledBranch = 12;    // an inner branch without a length, drawn to scale
constexpr double kLabelCharWidth = 6.25;  // an estimate for the 10 px font of the labels
constexpr double kLabelAscent = 8;        // of that font, above the baseline
constexpr double kLabelDescent = 2;       // and below it
constexpr double kLabelGap = 2;           // between a label and its node, or its branch

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

// Horizontal places: by levels (tips aligned, a node one level left of its
// highest child), or, where inner branches carry lengths, by the summed
// lengths from the root, the tips aligned a little right of the deepest
// inner node.
struct Across {
    std::vector<double> x;
    double tipX;
    double unit;  // pixels per coalescent unit; 0 when not to scale
};

bool hasLengths(const ResultTree& tree) {
    for (const ResultNode& node : tree.nodes)
        if (!node.children.empty() && !node.length.empty()) return true;
    return false;
}

Across placeAcross(const ResultTree& tree) {
    const size_t count = tree.nodes.size();
    Across across{std::vector<double>(count, 0), 0, 0};
    if (hasLengths(tree)) {
        // Depths in units and, apart, the pixels of the inner branches
        // without a length (the root's sides when the outgroup gave them),
        // drawn short and not to scale.
        std::vector<double> depth(count, 0);
        std::vector<double> offset(count, 0);
        double deepest = 0;
        for (size_t i = count; i-- > 0;)  // parents come after their children
            for (const int32_t child : tree.nodes[i].children) {
                const auto c = static_cast<size_t>(child);
                const ResultNode& node = tree.nodes[c];
                const bool inner = !node.children.empty();
                depth[c] = depth[i] + (node.length.empty() ? 0.0 : std::stod(node.length));
                offset[c] = offset[i] + (inner && node.length.empty() ? kUnscaledBranch : 0.0);
                if (inner) deepest = std::max(deepest, depth[c]);
            }
        double widest = 0;
        for (size_t i = 0; i < count; ++i)
            widest = std::max(widest, offset[i]);
        across.unit = (kMaxTreeWidth - widest) / std::max(deepest * (1 + kTipRoom), 1e-9);
        across.tipX = kMargin + widest + across.unit * deepest * (1 + kTipRoom);
        for (size_t i = 0; i < count; ++i)
            across.x[i] = tree.nodes[i].children.empty()
                              ? across.tipX
                              : kMargin + offset[i] + across.unit * depth[i];
        return across;
    }
    std::vector<int> level(count, 0);
    for (size_t i = 0; i < count; ++i)
        for (const int32_t child : tree.nodes[i].children)
            level[i] = std::max(level[i], 1 + level[static_cast<size_t>(child)]);
    const int levels = std::max(1, level[static_cast<size_t>(tree.root)]);
    const double step = std::min(kLevelWidth, kMaxTreeWidth / levels);
    across.tipX = kMargin + step * levels;
    for (size_t i = 0; i < count; ++i)
        across.x[i] = across.tipX - step * level[i];
    return across;
}

// A bar of a round number of coalescent units, under the tree.
std::string scaleBar(double unit, double y) {
    double units = 1;
    while (units * unit > kMaxTreeWidth / 3)
        units /= 10;
    while (units * unit < kMaxTreeWidth / 30)
        units *= 10;
    char text[64];
    std::snprintf(text, sizeof text, "%g coalescent unit%s", units, units == 1 ? "" : "s");
    return "<g stroke=\"black\" stroke-width=\"1.5\">\n" +
           line(kMargin, y, kMargin + units * unit, y) + "</g>\n<text x=\"" +
           number(kMargin + units * unit + kNameGap) + "\" y=\"" + number(y + 4) +
           "\" font-family=\"sans-serif\" font-size=\"10\">" + text + "</text>\n";
}

// Where a label is written: its right end and its baseline.
struct LabelPlace {
    double right;
    double baseline;
};

struct Box {
    double left, top, right, bottom;
};

Box boxOf(const LabelPlace& place, const std::string& label) {
    return {place.right - kLabelCharWidth * static_cast<double>(label.size()),
            place.baseline - kLabelAscent, place.right, place.baseline + kLabelDescent};
}

bool overlap(const Box& a, const Box& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool clear(const Box& box, const std::vector<Box>& placed) {
    for (const Box& other : placed)
        if (overlap(box, other)) return false;
    return true;
}

// Every label ends at its node, above the branch that leads there, or below
// it where that place is taken. Drawn to scale, a short branch can bring a
// node and its parent close enough for their labels to run together, so a
// label that fits neither way moves left along its row until it is clear of
// every label placed before it.
std::vector<LabelPlace> placeLabels(const ResultTree& tree, const std::vector<double>& x,
                                    const std::vector<double>& y) {
    std::vector<LabelPlace> places(tree.nodes.size(), LabelPlace{0, 0});
    std::vector<Box> placed;
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const std::string& label = tree.nodes[i].label;
        if (label.empty()) continue;
        const double right = x[i] - kLabelGap;
        LabelPlace place{right, y[i] - kLabelGap - kLabelDescent + 1};
        if (!clear(boxOf(place, label), placed)) {
            const LabelPlace below{right, y[i] + kLabelGap + kLabelAscent + 1};
            if (clear(boxOf(below, label), placed))
                place = below;
            else
                while (!clear(boxOf(place, label), placed))
                    place.right -= kLabelCharWidth;
        }
        places[i] = place;
        placed.push_back(boxOf(place, label));
    }
    return places;
}

}  // namespace

std::string drawTreeSvg(const ResultTree& tree, const std::vector<std::string>& names,
                        const std::string& legend) {
    const size_t count = tree.nodes.size();
    std::vector<double> y(count, 0);
    int tips = 0;
    size_t longestName = 0;
    // Tips are numbered in drawing order, from the root's left side down.
    std::vector<int32_t> stack{tree.root};
    std::vector<int32_t> tipOrder;
    while (!stack.empty()) {
        const int32_t node = stack.back();
        stack.pop_back();
        const ResultNode& n = tree.nodes[static_cast<size_t>(node)];
        if (n.children.empty()) tipOrder.push_back(node);
        for (size_t c = n.children.size(); c-- > 0;)
            stack.push_back(n.children[c]);
    }
    for (const int32_t tip : tipOrder) {
        y[static_cast<size_t>(tip)] = kMargin + kRow * (tips++ + 0.5);
        longestName =
            std::max(longestName,
                     names[static_cast<size_t>(tree.nodes[static_cast<size_t>(tip)].taxon)].size());
    }
    for (size_t i = 0; i < count; ++i) {  // children first: one pass
        const ResultNode& n = tree.nodes[i];
        if (!n.children.empty())
            y[i] = (y[static_cast<size_t>(n.children.front())] +
                    y[static_cast<size_t>(n.children.back())]) /
                   2;
    }
    const Across across = placeAcross(tree);
    const std::vector<double>& x = across.x;
    const double below = kMargin + kRow * tips;  // where the tree ends
    const double lines = (legend.empty() ? 0 : 1) + (across.unit > 0 ? 1 : 0);
    const double width =
        std::max(across.tipX + kNameGap + kCharWidth * static_cast<double>(longestName) + kMargin,
                 2 * kMargin + kCharWidth * static_cast<double>(legend.size()));
    const double height = 2 * kMargin + kRow * (tips + lines);
    const std::vector<LabelPlace> places = placeLabels(tree, x, y);
    // A label moved left past the margin widens the picture on that side.
    double left = 0;
    for (size_t i = 0; i < count; ++i)
        if (!tree.nodes[i].label.empty())
            left = std::min(left, boxOf(places[i], tree.nodes[i].label).left - kLabelGap);

    std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
        number(width - left) + "\" height=\"" + number(height) + "\" viewBox=\"" +
        (left < 0 ? number(left) : "0") + " 0 " + number(width - left) + " " + number(height) +
        "\">\n<rect " + (left < 0 ? "x=\"" + number(left) + "\" " : "") +
        "width=\"100%\" height=\"100%\" fill=\"white\"/>\n" +
        "<g stroke=\"black\" stroke-width=\"1.5\" stroke-linecap=\"square\">\n";
    for (size_t i = 0; i < count; ++i) {
        const ResultNode& n = tree.nodes[i];
        if (n.children.empty()) continue;
        for (const int32_t child : n.children)
            svg += line(x[i], y[static_cast<size_t>(child)], x[static_cast<size_t>(child)],
                        y[static_cast<size_t>(child)]);
        svg += line(x[i], y[static_cast<size_t>(n.children.front())], x[i],
                    y[static_cast<size_t>(n.children.back())]);
    }
    svg += "</g>\n<g font-family=\"sans-serif\" font-size=\"12\">\n";
    for (const int32_t tip : tipOrder) {
        const size_t t = static_cast<size_t>(tip);
        svg += "<text x=\"" + number(across.tipX + kNameGap) + "\" y=\"" + number(y[t] + 4) +
               "\">" + escapeXml(names[static_cast<size_t>(tree.nodes[t].taxon)]) + "</text>\n";
    }
    svg +=
        "</g>\n<g font-family=\"sans-serif\" font-size=\"10\" fill=\"#555555\" "
        "text-anchor=\"end\">\n";
    for (size_t i = 0; i < count; ++i)
        if (!tree.nodes[i].label.empty())
            svg += "<text x=\"" + number(places[i].right) + "\" y=\"" + number(places[i].baseline) +
                   "\">" + escapeXml(tree.nodes[i].label) + "</text>\n";
    svg += "</g>\n";
    double next = below + kRow / 2;
    if (across.unit > 0) {
        svg += scaleBar(across.unit, next);
        next += kRow;
    }
    if (!legend.empty())
        svg += "<text x=\"" + number(kMargin) + "\" y=\"" + number(next + 4) +
               "\" font-family=\"sans-serif\" font-size=\"11\">" + escapeXml(legend) + "</text>\n";
    return svg + "</svg>\n";
}
