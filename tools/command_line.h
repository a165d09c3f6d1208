// What every tool does with its command line and with running out of memory.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
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
    for (const std::string& name : names) {
        if (name.size() > 1 && name[0] == '-') {
            return false;
        }
    }
    return true;
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
