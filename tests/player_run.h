// Runs the built dspfeed, or another program of the project, on a given input against the fake OSS driver.
// SPDX-License-Identifier: MIT
#pragma once

#include <sys/resource.h>

#include <optional>
#include <string>
#include <vector>

#include "bridge_protocol.h"

struct PlayerRun {
    int status = -1;  // exit status, or -1 when the player did not exit normally
    std::string out;
    std::string err;
    std::string log;   // the fake driver's log of every device call
    std::string made;  // the WAV file the program made in its own folder, if any
};

struct PlayerSetup {
    std::vector<std::string> driver;      // FAKE_DSP_* settings that script the driver
    std::vector<std::string> arguments;   // command-line arguments after the program name
    rlim_t memoryLimit = RLIM_INFINITY;   // address space limit for the player
    bool fakeDevice = true;               // false runs the player against the real system
    std::optional<BridgeRequest> bridge;  // the sound bridge in the fake driver's place
    std::vector<int> closedDescriptors;   // standard descriptors the player starts without
    bool inputIsFolder = false;           // standard input a folder, which no read can take
    bool inOwnFolder = false;             // run in a folder of its own, whose WAV file is kept as `made`
    std::string program;                  // another program to run in the player's place
};

PlayerRun runPlayer(const std::string& input, const PlayerSetup& setup = {});
