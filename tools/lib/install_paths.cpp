// Finds the player and the bridge a tool runs: named by the environment, beside the tool, or installed.
// SPDX-License-Identifier: MIT
#include "install_paths.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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

std::string choosePart(const char* variable, const std::string& beside, const char* installed) {
    const char* chosen = std::getenv(variable);
    if (chosen != nullptr && chosen[0] != '\0') {
        return chosen;
    }
    return isFile(beside) ? beside : installed;
}

}  // namespace

bool findToolParts(const char* tool, ToolParts& parts) {
    const std::string here = directoryOfThisProgram();
    parts.player = choosePart("DSPFEED", here + "/dspfeed", DSPFEED_INSTALLED_PLAYER);
    parts.bridge = choosePart("DSPFEED_BRIDGE_LIBRARY", here + "/libdspfeed-bridge.so", DSPFEED_INSTALLED_BRIDGE);
    // LD_PRELOAD takes a path only when it has a slash.
    if (parts.bridge.find('/') == std::string::npos) {
        parts.bridge = "./" + parts.bridge;
    }
    const std::array<const std::string*, 2> both = {&parts.player, &parts.bridge};
    const auto* const missing = std::ranges::find_if(both, [](const std::string* part) { return !isFile(*part); });
    if (missing != both.end()) {
        std::fprintf(stderr, "%s: %s is missing: build the project (cmake --build build) or install it\n", tool,
                     (*missing)->c_str());
        return false;
    }
    return true;
}
