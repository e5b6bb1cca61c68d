// Inputs whose weights sum to within a few thousand of the table's limit,
// through every method: standard output, output file and exit status must
// stay what they have always been. The sums of scores and gains pass 2^31
// here, so the sanitizer build also checks that no such sum overflows.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/run_support.h"

namespace {

const std::string kDirectory = std::string(TRESSIL_SOURCE_DIR) + "/tests/e2e/near_limit/";

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    DIR* dir = opendir(kDirectory.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const size_t dot = name.size() >= 4 ? name.size() - 4 : std::string::npos;
        if (dot != std::string::npos && name.compare(dot, 4, ".txt") == 0)
            names.push_back(name.substr(0, dot));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// One section per method, as the .expected files hold them.
std::string runEveryMethod(const std::string& input) {
    std::string text;
    for (const std::vector<std::string>& method :
         std::vector<std::vector<std::string>>{{}, {"1"}, {"--search"}}) {
        std::vector<std::string> args = {"IN", "OUT"};
        args.insert(args.end(), method.begin(), method.end());
        const RunResult run = runProgram(input, args);
        text += "== tressil IN OUT" + (method.empty() ? "" : " " + method[0]) + "\nstatus " +
                std::to_string(run.status) + "\n-- stdout\n" + run.out + "\n-- file\n" + run.file +
                "\n";
    }
    return text;
}

TEST(NearLimit, EveryMethodGivesItsRecordedOutput) {
    const std::vector<std::string> names = caseNames();
    ASSERT_GE(names.size(), 8u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(runEveryMethod(readFile(kDirectory + name + ".txt")),
                  readFile(kDirectory + name + ".expected"));
    }
}

}  // namespace
