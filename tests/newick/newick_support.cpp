#include "newick/newick_support.h"

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

#include "common/run_support.h"

namespace {

std::string shellQuote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string renderNode(const NamedTree& tree, int32_t index) {
    const NamedNode& node = tree.nodes[static_cast<size_t>(index)];
    if (node.left < 0) return node.name;
    return "(" + renderNode(tree, node.left) + "," + renderNode(tree, node.right) + ")";
}

}  // namespace

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
        if (node.left < 0) {
            below[i] = {node.name};
            continue;
        }
        below[i] = below[static_cast<size_t>(node.left)];
        below[i].insert(below[static_cast<size_t>(node.right)].begin(),
                        below[static_cast<size_t>(node.right)].end());
        clusters.insert(below[i]);
    }
    return clusters;
}

std::set<std::string> leafNames(const NamedTree& tree) {
    std::set<std::string> names;
    for (const NamedNode& node : tree.nodes)
        if (node.left < 0) names.insert(node.name);
    return names;
}

ToolRun runIn(const std::string& dir, const std::string& binary,
              const std::vector<std::string>& args) {
    std::string command = "cd " + shellQuote(dir) + " && " + shellQuote(binary);
    for (const std::string& arg : args)
        command += " " + shellQuote(arg);
    command += " > .stdout 2> .stderr < /dev/null";
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
