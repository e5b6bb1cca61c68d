#include "named/named_support.h"

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>

#include "common/run_support.h"

namespace {

std::string renderNode(const NamedTree& tree, int32_t index) {
    const NamedNode& node = tree.nodes[static_cast<size_t>(index)];
    if (node.children.empty()) return node.name;
    return "(" + renderNode(tree, node.children[0]) + "," + renderNode(tree, node.children[1]) +
           ")";
}

bool chance(std::mt19937& rng, int percent) {
    return std::uniform_int_distribution<int>(0, 99)(rng) < percent;
}

// Letters, digits, '.', '-' and blanks, which Newick writes as underscores.
bool plainName(const std::string& name) {
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != ' ' && c != '.' && c != '-')
            return false;
    return !name.empty();
}

std::string labelText(const std::string& name, std::mt19937& rng) {
    if (plainName(name) && !chance(rng, 20)) {
        std::string label = name;
        std::replace(label.begin(), label.end(), ' ', '_');
        return label;
    }
    std::string quoted = "'";
    for (char c : name)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

std::string decoration(std::mt19937& rng, bool inner) {
    static const char* const kLengths[] = {":0.1", ":1e-3", ": 2", ":-0.5", ":.25E+1"};
    static const char* const kNotes[] = {"", " ", "\t", "\r\n", "[c]", " [&&NHX:S=1] "};
    std::string text;
    if (inner && chance(rng, 30)) text += chance(rng, 50) ? "95" : "'x y'";
    if (chance(rng, 50)) text += kLengths[rng() % std::size(kLengths)];
    return text + kNotes[rng() % std::size(kNotes)];
}

std::string writeNode(const NamedTree& tree, int32_t index, std::mt19937& rng) {
    const NamedNode& node = tree.nodes[static_cast<size_t>(index)];
    if (node.children.empty()) return labelText(node.name, rng) + decoration(rng, false);
    std::vector<std::string> members;
    for (const int32_t child : node.children)
        members.push_back(writeNode(tree, child, rng));
    if (chance(rng, 50)) std::reverse(members.begin(), members.end());
    std::string text = "(" + members[0];
    for (size_t m = 1; m < members.size(); ++m)
        text += "," + members[m];
    return text + ")" + decoration(rng, true);
}

}  // namespace

NamedTree randomTree(const std::vector<std::string>& taxa, std::mt19937& rng) {
    NamedTree tree{{}, -1, 1, 0, static_cast<int32_t>(taxa.size())};
    std::vector<int32_t> roots;
    for (const std::string& name : taxa) {
        roots.push_back(static_cast<int32_t>(tree.nodes.size()));
        tree.nodes.push_back(NamedNode{name, {}, 0});
    }
    while (roots.size() > 1) {
        std::shuffle(roots.begin(), roots.end(), rng);
        const int32_t left = roots.back();
        roots.pop_back();
        const int32_t right = roots.back();
        roots.back() = static_cast<int32_t>(tree.nodes.size());
        tree.nodes.push_back(NamedNode{"", {left, right}, 0});
    }
    tree.root = roots.front();
    return tree;
}

void collapseRandomly(NamedTree* tree, int percent, std::mt19937& rng) {
    for (NamedNode& node : tree->nodes) {
        std::vector<int32_t> kept;
        for (const int32_t child : node.children) {
            std::vector<int32_t>& inner = tree->nodes[static_cast<size_t>(child)].children;
            if (inner.empty() || !chance(rng, percent)) {
                kept.push_back(child);
                continue;
            }
            kept.insert(kept.end(), inner.begin(), inner.end());
        }
        node.children = kept;
    }
}

std::string writeRandomNewick(const NamedTree& tree, std::mt19937& rng) {
    std::string text = tree.weight != 1 ? "[&W " + std::to_string(tree.weight) + "] " : "";
    return text + writeNode(tree, tree.root, rng) + ";\n";
}

std::string caterpillar(int taxa) {
    std::string text = "t0";
    for (int t = 1; t < taxa; ++t)
        text = "(" + text + ",t" + std::to_string(t) + ")";
    return text + ";";
}

std::vector<std::string> randomTaxa(const std::vector<std::string>& pool, size_t least,
                                    std::mt19937& rng) {
    std::vector<std::string> taxa = pool;
    std::shuffle(taxa.begin(), taxa.end(), rng);
    taxa.resize(std::uniform_int_distribution<size_t>(least, pool.size())(rng));
    return taxa;
}

std::string renderTrees(const std::vector<NamedTree>& trees) {
    std::string text;
    for (const NamedTree& tree : trees) {
        if (tree.weight != 1) text += "[&W " + std::to_string(tree.weight) + "]";
        text += renderNode(tree, tree.root) + ";";
    }
    return text;
}

std::set<std::set<std::string>> clusterSets(const NamedTree& tree) {
    std::vector<std::set<std::string>> below(tree.nodes.size());
    std::set<std::set<std::string>> clusters;
    for (size_t i = 0; i < tree.nodes.size(); ++i) {  // children come first
        const NamedNode& node = tree.nodes[i];
        if (node.children.empty()) {
            below[i] = {node.name};
            continue;
        }
        for (const int32_t child : node.children)
            below[i].insert(below[static_cast<size_t>(child)].begin(),
                            below[static_cast<size_t>(child)].end());
        clusters.insert(below[i]);
    }
    return clusters;
}

std::set<std::string> leafNames(const NamedTree& tree) {
    std::set<std::string> names;
    for (const NamedNode& node : tree.nodes)
        if (node.children.empty()) names.insert(node.name);
    return names;
}

ToolRun runIn(const std::string& dir, const std::string& binary,
              const std::vector<std::string>& args, const std::string& input) {
    std::string command = "cd " + shellQuote(dir) + " && " + shellQuote(binary);
    for (const std::string& arg : args)
        command += " " + shellQuote(arg);
    command += " > .stdout 2> .stderr < " + shellQuote(input);
    const int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + raw, readFile(dir + "/.stdout"),
                readFile(dir + "/.stderr")};
    std::system(
        ("rm -f " + shellQuote(dir + "/.stdout") + " " + shellQuote(dir + "/.stderr")).c_str());
    return run;
}

std::string makeScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/tressil_newick_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

void removeScratchDirectory(const std::string& dir) {
    std::system(("rm -rf " + shellQuote(dir)).c_str());
}

std::vector<std::string> listDirectory(const std::string& dir) {
    std::vector<std::string> names;
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr) return names;
    while (const dirent* entry = readdir(handle)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(handle);
    std::sort(names.begin(), names.end());
    return names;
}

InferOptions inferOptions(const std::vector<std::string>& outgroup, InferMethod method,
                          SupportKind support) {
    InferOptions options;
    options.outgroup = outgroup;
    options.rooted = outgroup.empty();
    options.method = method;
    options.support = support;
    options.threads = 1;
    return options;
}
