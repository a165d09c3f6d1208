// The tools' children: finding and starting the player and the sound clients, and ending them all when told to stop.
// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "player_contract.h"

// The player and the sound bridge a tool runs.
struct ToolParts {
    std::string player;
    std::string bridge;
};

// Finds them: $DSPFEED and $DSPFEED_BRIDGE_LIBRARY, else beside this program
// (in a build tree), else where they are installed. Says which is missing,
// for `tool`, and returns false when one is.
bool findToolParts(const char* tool, ToolParts& parts);

// Starts a program, looked up on PATH, with the given standard input, output
// and error (-1 keeps the tool's own) and settings added to the environment.
// Returns its process id, or -1 with errno set when it cannot be started.
pid_t startProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& settings, int input = -1,
                   int output = -1, int error = -1);

// Whether a program is on PATH.
bool isOnPath(const std::string& program);

// Waits for a child and gives its status as a shell does: the exit status, or
// 128 and the signal that ended it.
int waitForProcess(pid_t child);

// From now on SIGINT, SIGTERM and SIGHUP pass to every child still running,
// remove the file named by removeOnSignal, and then end the tool by the same
// signal, which a shell reports as 130, 143 and 129.
void stopOnSignals();
// The unfinished file a signal removes; empty for none.
void removeOnSignal(const std::string& path);
// Whether a line on standard error is unfinished (a progress line), which a
// signal ends first.
void endLineOnSignal(bool open);

// The exit statuses the tools share with the player.
constexpr int exitUsage = 2;
constexpr int exitPlayerFailed = shellStatusOf(exitDeviceFailed);
