// Writes and reads the sound bridge's lines to the tool that runs the player.
// SPDX-License-Identifier: MIT
#include "bridge_protocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string_view>

namespace {

// Constants, as the bridge reads them while it loads.
constexpr const char* formatVariable = "DSPFEED_BRIDGE_FORMAT";
constexpr const char* meterVariable = "DSPFEED_BRIDGE_METER";
constexpr const char* nameVariable = "DSPFEED_BRIDGE_NAME";
constexpr const char* deviceVariable = "DSPFEED_BRIDGE_DEVICE";
static_assert(std::string_view(formatVariable).starts_with(bridgeVariablePrefix) &&
              std::string_view(meterVariable).starts_with(bridgeVariablePrefix) &&
              std::string_view(nameVariable).starts_with(bridgeVariablePrefix) &&
              std::string_view(deviceVariable).starts_with(bridgeVariablePrefix));

std::string makeSetting(const char* variable, const std::string& value) {
    return std::string(variable) + "=" + value;
}
// The outputs by their names in formatVariable, in BridgeOutput's order.
constexpr const char* outputNames[] = {"line", "wav", "server", "alsa", "oss"};

constexpr const char* formatWord = "dspfeed-pcm";
constexpr const char* heardWord = "heard";
constexpr const char* failedWord = "failed";

bool startsWithWord(const std::string& line, const char* word) {
    const std::size_t length = std::strlen(word);
    return line.size() > length && line.compare(0, length, word) == 0 && line[length] == ' ';
}

}  // namespace

std::vector<std::string> makeBridgeSettings(const BridgeRequest& request) {
    std::vector<std::string> settings = {makeSetting(formatVariable, outputNames[static_cast<int>(request.output)])};
    if (request.output == BridgeOutput::server) {
        settings.push_back(makeSetting(nameVariable, request.streamName));
    }
    if (!request.device.empty()) {
        settings.push_back(makeSetting(deviceVariable, request.device));
    }
    if (request.metered) {
        settings.push_back(makeSetting(meterVariable, "1"));
    }
    return settings;
}

BridgeRequest readBridgeRequest() {
    BridgeRequest request;
    const char* output = std::getenv(formatVariable);
    for (std::size_t index = 0; output != nullptr && index < std::size(outputNames); ++index) {
        if (std::strcmp(output, outputNames[index]) == 0) {
            request.output = static_cast<BridgeOutput>(index);
        }
    }
    if (const char* name = std::getenv(nameVariable)) {
        request.streamName = name;
    }
    if (const char* device = std::getenv(deviceVariable)) {
        request.device = device;
    }
    request.metered = std::getenv(meterVariable) != nullptr;
    return request;
}

std::string makeFormatLine(const WavFormat& format) {
    return std::string(formatWord) + (format.sampleBytes == 1 ? " u8 " : " s16le ") +
           std::to_string(format.sampleRate) + " " + std::to_string(format.channels) + "\n";
}

bool readFormatLine(const std::string& line, WavFormat& format) {
    std::istringstream words(line);
    std::string word;
    std::string sampleFormat;
    if (!(words >> word >> sampleFormat >> format.sampleRate >> format.channels) || word != formatWord ||
        (sampleFormat != "u8" && sampleFormat != "s16le")) {
        return false;
    }
    format.sampleBytes = sampleFormat == "u8" ? 1 : 2;
    return true;
}

std::string makeHeardLine(double seconds, const Levels& levels) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);
    std::string line = std::string(heardWord) + " " + time + (levels.fullScale ? " 1" : " 0");
    for (const int peak : levels.peaks) {
        line += " " + std::to_string(peak);
    }
    return line + "\n";
}

bool readHeardLine(const std::string& line, double& seconds, Levels& levels) {
    if (!startsWithWord(line, heardWord)) {
        return false;
    }
    std::istringstream words(line.substr(std::strlen(heardWord)));
    int full = 0;
    if (!(words >> seconds >> full)) {
        return false;
    }
    levels.fullScale = full != 0;
    levels.peaks.clear();
    for (int peak = 0; words >> peak;) {
        levels.peaks.push_back(peak);
    }
    return true;
}

std::string makeFailedLine(const std::string& reason) {
    return std::string(failedWord) + " " + reason + "\n";
}

bool readFailedLine(const std::string& line, std::string& reason) {
    if (!startsWithWord(line, failedWord)) {
        return false;
    }
    reason = line.substr(std::strlen(failedWord) + 1);
    return true;
}
