// Puts the bridge's settings into the player's environment and starts it.
// SPDX-License-Identifier: MIT
#include "player_launch.h"

#include "spawning.h"

std::vector<std::string> makeLaunchSettings(const std::string& library, const std::optional<BridgeRequest>& request) {
    std::vector<std::string> settings = request ? makeBridgeSettings(*request) : std::vector<std::string>{};
    settings.insert(settings.begin(), std::string(preloadVariable) + "=" + library);
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
