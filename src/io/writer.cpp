#include <vector>

#include "io/io.h"

void writeTree(const TreeNode* node) {
    // Without recursion: a pending entry is a node to write, or null for the
    // ")" that closes a group; the ",\n" goes out when the right member starts.
    struct Pending {
        const TreeNode* node;
        const char* text;  // written instead when node is null
    };
    std::vector<Pending> pending{{node, nullptr}};
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        if (next.node == nullptr) {
            if (next.text != nullptr) std::fputs(next.text, g_outFile);
            continue;
        }
        const TreeNode* current = next.node;
        if (current->left == nullptr && current->right == nullptr) {
            // The 16-bit label widened to 32 bits, printed unsigned.
            std::fprintf(g_outFile, "%u", static_cast<unsigned>(static_cast<int>(current->label)));
            continue;
        }
        std::fputc('(', g_outFile);
        pending.push_back({nullptr, ")"});
        pending.push_back({current->right, nullptr});
        pending.push_back({nullptr, ",\n"});
        pending.push_back({current->left, nullptr});
    }
}
