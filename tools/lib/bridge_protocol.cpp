// Writes and reads the sound bridge's lines to the tool that runs the player.
// SPDX-License-Identifier: MIT
#include "bridge_protocol.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr const char* formatWord = "dspfeed-pcm";
constexpr const char* heardWord = "heard";
constexpr const char* failedWord = "failed";
constexpr const char* connectedWord = "connected";

bool startsWithWord(const std::string& line, const char* word) {
    const std::size_t length = std::strlen(word);
    return line.size() > length && line.compare(0, length, word) == 0 && line[length] == ' ';
}

}  // namespace

std::string makeFormatLine(const WavFormat& format) {
    return std::string(formatWord) + (format.sampleBytes == 1 ? " u8 " : " s16le ") + std::to_string(format.rate) +
           " " + std::to_string(format.channels) + "\n";
}

bool readFormatLine(const std::string& line, WavFormat& format) {
    std::istringstream words(line);
    std::string word;
    std::string sampleFormat;
    if (!(words >> word >> sampleFormat >> format.rate >> format.channels) || word != formatWord ||
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

std::string makeConnectedLine() {
    return std::string(connectedWord) + "\n";
}

bool isConnectedLine(const std::string& line) {
    return line == connectedWord;
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
