// What every tool does with its command line and with running out of memory.
// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// The names on the command line of a tool that takes no options: "--" ends
// the options, "-" is a name, and any other word starting with "-" makes
// this false.
inline bool readNames(int argc, char** argv, std::vector<std::string>& names) {
    names.assign(argv + 1, argv + argc);
    if (!names.empty() && names[0] == "--") {
        names.erase(names.begin());
        return true;
    }
    return std::ranges::none_of(names, [](const std::string& name) { return name.size() > 1 && name[0] == '-'; });
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
