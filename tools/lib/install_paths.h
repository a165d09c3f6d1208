// Where a tool finds the player and the sound bridge it runs.
// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// The player and the sound bridge a tool runs.
struct ToolParts {
    std::string player;
    std::string bridge;
};

// Finds them: $DSPFEED and $DSPFEED_BRIDGE_LIBRARY, else beside this program
// (in a build tree), else where they are installed. Says which is missing,
// for `tool`, and returns false when one is.
bool findToolParts(const char* tool, ToolParts& parts);
