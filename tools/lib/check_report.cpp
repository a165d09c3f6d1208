// Writes the checker's report: a line for the header, each finding and note, and the player's fate.
// SPDX-License-Identifier: MIT
#include "check_report.h"

#include <algorithm>
#include <cstdio>

#include "text_escaping.h"
#include "wording.h"

namespace {

// A header value, or what stands for one the stream lacks.
std::string formatValue(const std::optional<std::int32_t>& value, const char* missing) {
    return value ? std::to_string(*value) : missing;
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string describeHeader(const Report& report) {
    std::string text = "header:";
    for (std::size_t field = 0; field < numericKeyCount; ++field) {
        text += std::string(field == 0 ? " " : ", ") + headerKeys[field] + " " +
                formatValue(report.header.values[field], "?");
    }
    text += std::string(", ") + flagKey + " " +
            (!report.header.flagWord           ? "?"
             : report.header.flagWord->empty() ? "(none)"
                                               : makeShowable(*report.header.flagWord, longestShown));
    const std::optional<std::int32_t>& frames = report.header.values[samplesField];
    if (const auto seconds = frames ? lengthInSeconds(report, std::max(*frames, 0)) : std::nullopt) {
        text += " (" + formatSeconds(*seconds) + ")";
    }
    return text;
}

std::string describePlayer(const Report& report) {
    const Prediction& player = report.player;
    const std::int64_t declared = std::max(report.header.values[samplesField].value_or(0), 0);
    std::string text = "player: ";
    if (player.status == exitPlayerRejected) {
        text += "plays nothing";
    } else if (player.message.empty()) {
        text += declared == 1 ? std::string("plays its 1 frame") : "plays all " + std::to_string(declared) + " frames";
        if (const auto seconds = lengthInSeconds(report, declared)) {
            text += " (" + formatSeconds(*seconds) + ")";
        }
    } else {
        text += "plays " + std::to_string(player.framesPlayed) + " of " + countOf(declared, "frame");
        if (const auto seconds = lengthInSeconds(report, player.framesPlayed)) {
            text += " (" + formatSeconds(*seconds) + ")";
        }
    }
    if (!player.message.empty()) {
        text += ", then says \"" + player.message + "\"";
    }
    return text + " and exits with status " + std::to_string(player.status);
}

}  // namespace

std::optional<double> lengthInSeconds(const Report& report, std::int64_t frames) {
    const std::int32_t rate = report.header.values[rateField].value_or(0);
    if (rate <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(frames) / rate;
}

std::string formatTextReport(const Report& report, const std::string& name) {
    std::string text = describeHeader(report) + '\n';
    for (const Finding& finding : report.findings) {
        // Appended a field at a time, which makes no string in between.
        text.append(name).append(":").append(std::to_string(finding.place.position.line));
        text.append(":").append(std::to_string(finding.place.position.column));
        text.append(": ").append(finding.isError ? "error" : "warning").append(": ").append(finding.text).append("\n");
    }
    for (const std::string& note : report.notes) {
        text.append("note: ").append(note).append("\n");
    }
    return text + describePlayer(report) + '\n';
}

std::string formatJsonReport(const Report& report, const std::string& name) {
    std::string text = "{\"type\":\"header\"";
    for (std::size_t field = 0; field < numericKeyCount; ++field) {
        text += std::string(",\"") + headerKeys[field] + "\":" + formatValue(report.header.values[field], "null");
    }
    text += std::string(",\"") + flagKey +
            "\":" + (report.header.flagWord ? quoteJson(makeShowable(*report.header.flagWord, longestShown)) : "null") +
            "}\n";
    for (const Finding& finding : report.findings) {
        text += "{\"type\":\"";
        text += finding.isError ? "error" : "warning";
        text += "\",\"file\":" + quoteJson(name);
        text += ",\"line\":" + std::to_string(finding.place.position.line);
        text += ",\"column\":" + std::to_string(finding.place.position.column);
        text += ",\"message\":" + quoteJson(finding.text);
        text += "}\n";
    }
    for (const std::string& note : report.notes) {
        text += "{\"type\":\"note\",\"message\":" + quoteJson(note) + "}\n";
    }
    return text + "{\"type\":\"player\",\"framesPlayed\":" + std::to_string(report.player.framesPlayed) +
           ",\"message\":" + quoteJson(report.player.message) + ",\"status\":" + std::to_string(report.player.status) +
           "}\n";
}
