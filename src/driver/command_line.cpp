// Long options in the GNU style, parsed by hand so that every message goes
// to standard output like the program's others, and no argument that does
// not start with "--" changes its meaning.
#include <cstdlib>
#include <cstring>

#include "driver/driver.h"

enum class Option { kSearch, kThreads, kHelp, kVersion };

struct OptionName {
    const char* name;
    Option option;
    bool takesValue;
};

constexpr OptionName kOptions[] = {
    {"search", Option::kSearch, false},
    {"threads", Option::kThreads, true},
    {"help", Option::kHelp, false},
    {"version", Option::kVersion, false},
};

[[noreturn]] static void failOption(const std::string& message) {
    fatalExit(kExitUsage, (message + "\n").c_str());
}

// An exact name wins; otherwise a prefix of exactly one name.
static const OptionName& findOption(const std::string& name) {
    const OptionName* found = nullptr;
    int matches = 0;
    for (const OptionName& candidate : kOptions) {
        if (name == candidate.name) return candidate;
        if (!name.empty() && std::strncmp(candidate.name, name.c_str(), name.size()) == 0) {
            found = &candidate;
            ++matches;
        }
    }
    if (matches == 0) failOption("unknown option: --" + name);
    if (matches > 1) failOption("ambiguous option: --" + name);
    return *found;
}

static int parseThreads(const std::string& text) {
    const int threads = readThreadCount(text);
    if (threads == 0)
        failOption("bad value for --threads: " + text + " (a whole number from 1 to " +
                   std::to_string(kMaxThreads) + ")");
    return threads;
}

int readThreadCount(const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || value < 1 ||
        value > kMaxThreads)
        return 0;
    return static_cast<int>(value);
}

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line{{}, false, false, false, 0};
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.compare(0, 2, "--") != 0) {
            line.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
        const OptionName& option = findOption(name);
        std::string value;
        if (option.takesValue) {
            if (equals != std::string::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < argc)
                value = argv[++i];
            else
                failOption(std::string("option --") + option.name + " needs a value");
        } else if (equals != std::string::npos) {
            failOption(std::string("option --") + option.name + " takes no value");
        }
        switch (option.option) {
            case Option::kSearch:
                line.search = true;
                break;
            case Option::kThreads:
                line.threads = parseThreads(value);
                break;
            case Option::kHelp:
                line.help = true;
                break;
            case Option::kVersion:
                line.version = true;
                break;
        }
    }
    return line;
}
