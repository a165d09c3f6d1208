// The tools' exit statuses, one for each thing that ends a run and the same in every tool, and the words for the
// commonest. SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <string>

#include "player_contract.h"

// Each tool's manual lists those it ends with under EXIT STATUS.
constexpr int exitDone = 0;         // the work is done; the player's own 0 included
constexpr int exitFindings = 1;     // dspfeed-check alone: the stream breaks, or draws a warning
constexpr int exitUsage = 2;        // the command line is wrong
constexpr int exitCannotRead = 3;   // the input cannot be opened, read or converted
constexpr int exitCannotWrite = 4;  // the output cannot be opened or written whole
constexpr int exitPlayerRejected = shellStatusOf(exitRejected);  // 254, the player's: a header or a setting
// 255: the player's own (the device), or what stands in for it failed: the
// sound server, a client, the player or the bridge missing, or memory.
constexpr int exitPlayerFailed = shellStatusOf(exitDeviceFailed);
// A tool stopped by SIGINT, SIGTERM or SIGHUP ends by that signal, which a
// shell reports as this and the signal's number: 130, 143, 129.
constexpr int exitBySignal = 128;

// The name of an input or an output in a message: "-" is standard input or
// standard output.
inline std::string nameInput(const std::string& path) {
    return path == "-" ? "standard input" : path;
}
inline std::string nameOutput(const std::string& path) {
    return path == "-" ? "standard output" : path;
}

// Says that an input cannot be read, or an output written, and why, in the
// same words in every tool; returns the status for it.
inline int failReading(const char* tool, const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", tool, name.c_str(), reason.c_str());
    return exitCannotRead;
}
inline int failWriting(const char* tool, const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", tool, name.c_str(), reason.c_str());
    return exitCannotWrite;
}
