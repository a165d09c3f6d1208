// What the checker found in a stream, and its report, as text or as JSON lines.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "player_contract.h"
#include "stream_header.h"
#include "stream_window.h"
#include "tool_statuses.h"

// The most of a token a message shows.
constexpr std::size_t longestShown = 24;

// A place in the stream, told when it is read: later it may be gone.
struct Place {
    std::uint64_t offset;
    Position position;
};

struct Finding {
    Place place;
    bool isError;
    std::string text;
};

struct Prediction {
    std::int64_t framesPlayed = 0;
    std::string message;    // empty when the player says nothing
    int status = exitDone;  // as the shell sees it
};

struct Report {
    StreamHeader header;
    std::vector<Finding> findings;
    std::vector<std::string> notes;
    Prediction player;
};

// The stream's length at its rate, where the header gives a rate.
std::optional<double> lengthInSeconds(const Report& report, std::int64_t frames);

// The report on the stream `name`: the header, the findings in the order of
// the stream, the notes, and what the player does; as lines of text, or as
// JSON objects a line.
std::string formatTextReport(const Report& report, const std::string& name);
std::string formatJsonReport(const Report& report, const std::string& name);
