// Starting the player: bare, or with the sound bridge preloaded and asked for one way out.
// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "bridge_protocol.h"
#include "install_paths.h"

// The settings that preload `library` into the player, and with a request,
// ask the bridge for it.
std::vector<std::string> makeLaunchSettings(const std::string& library,
                                            const std::optional<BridgeRequest>& request = {});

// What a launch sets, by the start of the names: a test drops them from the
// environment it passes on.
std::vector<std::string> listLaunchPrefixes();

// Starts the player on the given descriptors (-1 keeps the tool's own), with
// the bridge where a request is given. Returns its process id, or -1 with
// errno set.
pid_t startPlayer(const ToolParts& parts, const std::optional<BridgeRequest>& request, int input, int output = -1,
                  int error = -1);
