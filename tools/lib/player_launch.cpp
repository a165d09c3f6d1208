// Puts the bridge's settings into the player's environment and starts it.
// SPDX-License-Identifier: MIT
#include "player_launch.h"

#include <cstdlib>

#include "spawning.h"

std::vector<std::string> makeLaunchSettings(const std::string& library, const std::optional<BridgeRequest>& request) {
    std::vector<std::string> settings = request ? makeBridgeSettings(*request) : std::vector<std::string>{};
    // What the user preloads stays, behind the bridge: an OSS emulation for
    // the node the bridge opens in place of /dev/dsp, say.
    const char* preloaded = std::getenv(preloadVariable);
    settings.insert(settings.begin(),
                    std::string(preloadVariable) + "=" + library +
                        (preloaded != nullptr && *preloaded != '\0' ? ":" + std::string(preloaded) : ""));
    return settings;
}

std::vector<std::string> listLaunchPrefixes() {
    return {std::string(preloadVariable) + "=", bridgeVariablePrefix};
}

pid_t startPlayer(const ToolParts& parts, const std::optional<BridgeRequest>& request, int input, int output,
                  int error) {
    return startProcess({parts.player},
                        request ? makeLaunchSettings(parts.bridge, request) : std::vector<std::string>{}, input, output,
                        error);
}
