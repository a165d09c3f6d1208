// Finds the player and the bridge a tool runs: named by the environment, beside the tool, or installed.
// SPDX-License-Identifier: MIT
#include "install_paths.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool isFile(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

std::string directoryOfThisProgram() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/'));
}

// A part as the environment names it, or found beside this program or
// where it is installed. Says what is missing, for `tool`, and returns an
// empty path when it is.
std::string choosePart(const char* tool, const char* variable, const std::string& beside, const char* installed) {
    const char* chosen = std::getenv(variable);
    if (chosen != nullptr && chosen[0] != '\0') {
        if (!isFile(chosen)) {
            std::fprintf(stderr, "%s: %s names %s, which is missing\n", tool, variable, chosen);
            return "";
        }
        return chosen;
    }
    std::string found = isFile(beside) ? beside : installed;
    if (!isFile(found)) {
        std::fprintf(stderr, "%s: %s is missing: build the project (cmake --build build) or install it\n", tool,
                     found.c_str());
        return "";
    }
    return found;
}

}  // namespace

bool findToolParts(const char* tool, ToolParts& parts) {
    const std::string here = directoryOfThisProgram();
    parts.player = choosePart(tool, "DSPFEED", here + "/dspfeed", DSPFEED_INSTALLED_PLAYER);
    if (parts.player.empty()) {
        return false;
    }
    parts.bridge = choosePart(tool, "DSPFEED_BRIDGE_LIBRARY", here + "/libdspfeed-bridge.so", DSPFEED_INSTALLED_BRIDGE);
    // LD_PRELOAD takes a path only when it has a slash.
    if (!parts.bridge.empty() && parts.bridge.find('/') == std::string::npos) {
        parts.bridge = "./" + parts.bridge;
    }
    return !parts.bridge.empty();
}
