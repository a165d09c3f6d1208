// What every tool does with its command line, its exit statuses and running out of memory.
// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "player_contract.h"
#include "tool_statuses.h"

// An option a tool takes: "--NAME", or with a value "--NAME VALUE" or
// "--NAME=VALUE"; where it has a short name, also "-N" or "-N VALUE".
struct Option {
    explicit Option(const char* name, bool takesValue = false, const char* shortName = nullptr)
        : name(name), takesValue(takesValue), shortName(shortName) {}

    const char* name;  // with its dashes
    bool takesValue;
    const char* shortName;  // with its dash, or null
    bool given = false;
    std::string value;
};

// The options, which come first, and then at most `mostNames` names: "--"
// ends the options and "-" is a name. Returns what is wrong, for a message,
// or an empty string.
inline std::string readArguments(int argc, char** argv, std::vector<Option>& options, std::vector<std::string>& names,
                                 std::size_t mostNames) {
    int next = 1;
    bool ended = false;
    for (; next < argc && argv[next][0] == '-' && argv[next][1] != '\0' && !ended; ++next) {
        const std::string word = argv[next];
        ended = word == "--";
        if (ended) {
            continue;
        }
        const std::size_t equals = word.find('=');
        const auto option = std::ranges::find_if(options, [&word, equals](const Option& known) {
            return word.substr(0, equals) == known.name || (known.shortName != nullptr && word == known.shortName);
        });
        if (option == options.end()) {
            return "unknown option '" + word.substr(0, equals) + "'";
        }
        if (equals != std::string::npos && !option->takesValue) {
            return "option '" + std::string(option->name) + "' takes no value";
        }
        if (option->takesValue && equals != std::string::npos) {
            option->value = word.substr(equals + 1);
        } else if (option->takesValue && next + 1 < argc) {
            option->value = argv[++next];
        } else if (option->takesValue) {
            return "option '" + std::string(option->name) + "' needs a value";
        }
        option->given = true;
    }
    names.assign(argv + next, argv + argc);
    for (const std::string& name : names) {
        if (!ended && name.size() > 1 && name[0] == '-') {
            return "unknown option '" + name + "' (a name that starts with '-' goes after '--')";
        }
    }
    return names.size() > mostNames ? "'" + names[mostNames] + "' is one name too many" : "";
}

// The tool's name, as its usage line gives it.
inline std::string nameTool(const char* usage) {
    const char* tool = usage + std::strlen("usage: ");
    return {tool, std::strcspn(tool, " \n")};
}

// Says what is wrong with the command line, then the usage line; returns
// the status for it.
inline int failUsage(const char* usage, const std::string& problem) {
    std::fprintf(stderr, "%s: %s\n%s", nameTool(usage).c_str(), problem.c_str(), usage);
    return exitUsage;
}

// GNU's --help and --version, wherever they come before "--": the usage
// line and what the tool does, or its version, go to standard output, and
// `status` becomes exitDone, or exitCannotWrite when they cannot be written. Returns whether one
// was asked for.
inline bool answerHelpOrVersion(int argc, char** argv, const char* usage, const char* purpose, int& status) {
    const std::string tool = nameTool(usage);
    for (int next = 1; next < argc && std::strcmp(argv[next], "--") != 0; ++next) {
        const bool help = std::strcmp(argv[next], "--help") == 0;
        if (help || std::strcmp(argv[next], "--version") == 0) {
            if (help) {
                std::printf("%s%s\nEvery option and message is in its manual: man %s\n", usage, purpose, tool.c_str());
            } else {
                std::printf("%s (dspfeed) %s\n", tool.c_str(), DSPFEED_VERSION);
            }
            status = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? exitDone : exitCannotWrite;
            return true;
        }
    }
    return false;
}

// Runs a tool's work; running out of memory ends it with a message and
// `status`, never with an abort.
template <typename Work>
int runGuarded(const char* tool, int status, Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", tool);
        return status;
    }
}
