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

// The exit statuses the tools share with the player.
constexpr int exitUsage = 2;
constexpr int exitPlayerFailed = shellStatusOf(exitDeviceFailed);

// An option a tool takes: "--NAME", or with a value "--NAME VALUE" or
// "--NAME=VALUE".
struct Option {
    explicit Option(const char* name, bool takesValue = false) : name(name), takesValue(takesValue) {}

    const char* name;  // with its dashes
    bool takesValue;
    bool given = false;
    std::string value;
};

// The options, which come first, and then the names: "--" ends the options
// and "-" is a name. False for an option not listed, one without its value,
// and a name after them that starts with "-".
inline bool readArguments(int argc, char** argv, std::vector<Option>& options, std::vector<std::string>& names) {
    int next = 1;
    for (; next < argc && argv[next][0] == '-' && argv[next][1] != '\0'; ++next) {
        const std::string word = argv[next];
        if (word == "--") {
            names.assign(argv + next + 1, argv + argc);
            return true;
        }
        const std::size_t equals = word.find('=');
        const auto option = std::ranges::find_if(
            options, [&word, equals](const Option& known) { return word.substr(0, equals) == known.name; });
        if (option == options.end() || (equals != std::string::npos && !option->takesValue)) {
            return false;
        }
        if (option->takesValue && equals != std::string::npos) {
            option->value = word.substr(equals + 1);
        } else if (option->takesValue && next + 1 < argc) {
            option->value = argv[++next];
        } else if (option->takesValue) {
            return false;
        }
        option->given = true;
    }
    names.assign(argv + next, argv + argc);
    return std::ranges::none_of(names, [](const std::string& name) { return name.size() > 1 && name[0] == '-'; });
}

// The names on the command line of a tool that takes no options.
inline bool readNames(int argc, char** argv, std::vector<std::string>& names) {
    std::vector<Option> none;
    return readArguments(argc, argv, none, names);
}

// GNU's --help and --version, wherever they come before "--": the usage
// line and what the tool does, or its version, go to standard output, and
// `status` becomes 0, or 2 when they cannot be written. Returns whether one
// was asked for.
inline bool answerHelpOrVersion(int argc, char** argv, const char* usage, const char* purpose, int& status) {
    const char* tool = usage + std::strlen("usage: ");
    const int toolLength = static_cast<int>(std::strcspn(tool, " \n"));
    for (int next = 1; next < argc && std::strcmp(argv[next], "--") != 0; ++next) {
        const bool help = std::strcmp(argv[next], "--help") == 0;
        if (help || std::strcmp(argv[next], "--version") == 0) {
            if (help) {
                std::printf("%s%s\nEvery option and message is in its manual: man %.*s\n", usage, purpose, toolLength,
                            tool);
            } else {
                std::printf("%.*s (dspfeed) %s\n", toolLength, tool, DSPFEED_VERSION);
            }
            status = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 2;
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
