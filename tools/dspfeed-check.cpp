// dspfeed-check: reads a text sample stream by the player's rules; tells where it breaks and what the player does.
// SPDX-License-Identifier: MIT
// Usage: dspfeed-check [--json] [STREAM.txt | -]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "frame_streaming.h"
#include "sound_device.h"
#include "text_input.h"

namespace {

constexpr int exitClean = 0;
constexpr int exitProblem = 1;
constexpr int exitUnreadable = 2;

// The player's exit statuses as the shell sees them.
constexpr int playerPlayed = 0;
constexpr int playerRejected = 254;

// The header's keys in their order: four numbers, then the flag.
const char* const headerKeys[] = {"SAMPLES", "BITSPERSAMPLE", "CHANNELS", "SAMPLERATE", "NORMALIZED"};
const char* const* const numericKeys = headerKeys;
const char* const flagKey = headerKeys[4];

// Channels past this many share one peak in the notes.
constexpr std::int64_t channelsWithOwnPeak = 64;

// The whole stream in memory behind a stream buffer, so that the reading
// rules apply unchanged and the reading position is known at no cost.
class MemoryStreamBuffer : public std::streambuf {
public:
    explicit MemoryStreamBuffer(std::string& text) { setg(text.data(), text.data(), text.data() + text.size()); }
    std::size_t offset() const { return static_cast<std::size_t>(gptr() - eback()); }
};

struct Finding {
    std::size_t offset;
    bool isError;
    std::string text;
};

struct Prediction {
    std::int64_t framesPlayed = 0;
    std::string message;  // empty when the player says nothing
    int status = playerPlayed;
};

struct Report {
    std::optional<std::int32_t> values[4];  // the numeric header fields, in order, as far as they were read
    std::optional<std::string> flagWord;
    std::vector<Finding> findings;
    std::vector<std::string> notes;
    Prediction player;
};

bool isSpace(char character) {
    return std::strchr(" \t\n\v\f\r", character) != nullptr && character != '\0';
}

std::size_t skipSpace(const std::string& text, std::size_t offset) {
    while (offset < text.size() && isSpace(text[offset])) {
        ++offset;
    }
    return offset;
}

// The token at an offset, as a person would call it, shortened if long.
std::string tokenAt(const std::string& text, std::size_t offset) {
    std::size_t end = offset;
    while (end < text.size() && !isSpace(text[end])) {
        ++end;
    }
    constexpr std::size_t longest = 24;
    if (end - offset > longest) {
        return "'" + text.substr(offset, longest) + "...'";
    }
    return "'" + text.substr(offset, end - offset) + "'";
}

// Why an extraction that started at `start` failed. The library consumes the
// digits of a number too large for its type, and nothing of a token that is
// not a number, so what it took tells the two apart.
std::string describeFailedNumber(const std::string& text, std::size_t start, std::size_t stoppedAt, const char* range) {
    const std::size_t token = skipSpace(text, start);
    if (token == text.size()) {
        return "input ended";
    }
    const bool tookDigits = std::any_of(text.begin() + static_cast<std::ptrdiff_t>(token),
                                        text.begin() + static_cast<std::ptrdiff_t>(std::max(token, stoppedAt)),
                                        [](char character) { return character >= '0' && character <= '9'; });
    return tokenAt(text, token) + (tookDigits ? std::string(" is out of ") + range : " is not a number");
}

std::string describeKeyMismatch(const std::string& word, const std::string& key) {
    const std::string due = "'" + key + ":'";
    if (word.empty()) {
        return "input ended where " + due + " was due";
    }
    for (const std::string other : headerKeys) {
        if (other != key && isKeyToken(word, other)) {
            return "'" + word + "' is out of order: " + due + " is due here";
        }
    }
    if (word.rfind(key + ":", 0) == 0) {
        return "'" + word + "' runs the key token into its value: " + due + " needs a blank after it";
    }
    if (word == key) {
        return "'" + word + "' lacks its colon: " + due + " is due here";
    }
    return "'" + word + "' is not the key token " + due + " (misspelt?)";
}

// Whether a word would read as a number, by the library's own extraction.
bool readsAsNumber(const std::string& word) {
    std::string copy = word;
    MemoryStreamBuffer buffer(copy);
    std::istream input(&buffer);
    long long number = 0;
    return static_cast<bool>(input >> number) && input.peek() == std::char_traits<char>::eof();
}

// What the samples amount to as the device gets them: the peak of each
// channel, how many sit at full scale, and at 8 bits how many do not fit a byte.
struct Levels {
    std::vector<std::int32_t> peaks;
    std::int64_t fullScale = 0;
    std::int64_t outsideByte = 0;
    std::size_t firstOutsideByte = 0;  // where its extraction started
    std::int16_t firstOutsideByteValue = 0;
};

void addSample(Levels& levels, std::int16_t value, std::int64_t channel, bool eightBit, std::size_t offset) {
    std::int32_t level = std::abs(std::int32_t{value});
    if (eightBit) {
        const int played = value & 0xff;  // the low byte, as the player writes it
        if (played != value && levels.outsideByte++ == 0) {
            levels.firstOutsideByte = offset;
            levels.firstOutsideByteValue = value;
        }
        level = std::abs(played - 128);
        levels.fullScale += played == 0 || played == 0xff;
    } else {
        levels.fullScale += value == INT16_MAX || value == INT16_MIN;
    }
    std::int32_t& peak = levels.peaks[levels.peaks.size() == 1 ? 0 : static_cast<std::size_t>(channel)];
    peak = std::max(peak, level);
}

std::string formatLevel(std::int32_t peak, double fullScale) {
    if (peak == 0) {
        return "silent";
    }
    // Rounded first, so that a level just under full scale reads 0.0, not -0.0.
    const double decibels = std::round(200 * std::log10(peak / fullScale)) / 10 + 0.0;
    constexpr std::size_t room = 48;
    char text[room];
    (void)std::snprintf(text, sizeof text, "%d (%.1f dBFS)", peak, decibels);
    return text;
}

void describeLevels(Report& report, const Levels& levels, bool eightBit, const std::string& text) {
    if (levels.outsideByte > 0) {
        const std::int16_t first = levels.firstOutsideByteValue;
        report.findings.push_back({skipSpace(text, levels.firstOutsideByte), false,
                                   std::to_string(levels.outsideByte) +
                                       (levels.outsideByte == 1 ? " 8-bit value" : " 8-bit values") +
                                       " outside 0..255, the first " + std::to_string(first) + ", which plays as " +
                                       std::to_string(first & 0xff)});
    }
    const double fullScale = eightBit ? 128 : 32768;
    std::string peaks = "peak";
    if (levels.peaks.size() == 1) {
        peaks += (report.values[2] == 1 ? " " : " of all channels ") + formatLevel(levels.peaks[0], fullScale);
    } else {
        for (std::size_t channel = 0; channel < levels.peaks.size(); ++channel) {
            peaks += (channel == 0 ? " channel " : ", channel ") + std::to_string(channel + 1) + " " +
                     formatLevel(levels.peaks[channel], fullScale);
        }
    }
    report.notes.push_back(peaks);
    report.notes.push_back(levels.fullScale == 0
                               ? std::string("no value at full scale")
                               : std::to_string(levels.fullScale) + (levels.fullScale == 1 ? " value" : " values") +
                                     " at full scale (possible clipping)");
}

// Reads the body as the player does with a device that granted the header's
// values: a frame counts once all its values were read, and the first failed
// value ends the reading.
void checkBody(const std::string& text, MemoryStreamBuffer& buffer, std::istream& input, Report& report) {
    const std::int64_t frames = std::max<std::int32_t>(*report.values[0], 0);
    const std::int64_t channels = *report.values[2];
    const bool eightBit = *report.values[1] == 8;
    Levels levels;
    levels.peaks.assign(channels > channelsWithOwnPeak ? 1 : static_cast<std::size_t>(channels), 0);

    const std::int64_t values = frames * channels;  // below 2^62
    std::int64_t read = 0;
    for (std::int64_t channel = 0; read < values; ++read) {
        const std::size_t start = buffer.offset();
        std::int16_t value = 0;
        if (!readSample(input, value)) {
            report.findings.push_back({skipSpace(text, start), true,
                                       "frame " + std::to_string(read / channels + 1) + ", channel " +
                                           std::to_string(read % channels + 1) + ": " +
                                           describeFailedNumber(text, start, buffer.offset(), "-32768..32767")});
            break;
        }
        addSample(levels, value, channel, eightBit, start);
        channel = channel + 1 == channels ? 0 : channel + 1;
    }
    describeLevels(report, levels, eightBit, text);
    if (read < values) {
        report.player = {read / channels, brokenInputMessage, playerPlayed};
        return;
    }
    report.player = {frames, "", playerPlayed};
    const std::size_t rest = skipSpace(text, buffer.offset());
    if (rest < text.size()) {
        report.findings.push_back({rest, false, "data after the last frame, starting " + tokenAt(text, rest)});
    }
}

// Reads the header as the player does, noting what will go wrong with it.
// Returns whether the player goes on to the body.
bool checkHeader(const std::string& text, MemoryStreamBuffer& buffer, std::istream& input, Report& report) {
    std::size_t valueAt[4] = {};
    for (std::size_t field = 0; field < 4; ++field) {
        const std::string key = numericKeys[field];
        std::size_t start = buffer.offset();
        if (const std::string word = readWord(input); !isKeyToken(word, key)) {
            report.findings.push_back({skipSpace(text, start), true, describeKeyMismatch(word, key)});
            report.player = {0, describeMissingKey(key, false), playerRejected};
            return false;
        }
        start = buffer.offset();
        std::int32_t value = 0;
        if (!readHeaderNumber(input, value)) {
            report.findings.push_back(
                {skipSpace(text, start), true,
                 key + " value: " + describeFailedNumber(text, start, buffer.offset(), "-2147483648..2147483647")});
            // The player blames the next key, which a failed stream cannot read.
            report.player = {0, describeMissingKey(headerKeys[field + 1], headerKeys[field + 1] == flagKey),
                             playerRejected};
            return false;
        }
        report.values[field] = value;
        valueAt[field] = skipSpace(text, start);
    }
    const std::size_t keyStart = buffer.offset();
    if (const std::string word = readWord(input); !isKeyToken(word, flagKey)) {
        report.findings.push_back({skipSpace(text, keyStart), true, describeKeyMismatch(word, flagKey)});
        report.player = {0, describeMissingKey(flagKey, true), playerRejected};
        return false;
    }
    const std::size_t flagStart = skipSpace(text, buffer.offset());
    report.flagWord = readWord(input);
    if (readsAsNumber(*report.flagWord)) {
        report.findings.push_back({flagStart, false,
                                   "NORMALIZED value '" + *report.flagWord +
                                       "' is a number: the flag word is probably missing, which shifts every "
                                       "frame by one value"});
    }

    const std::int32_t frames = *report.values[0];
    const std::int32_t bits = *report.values[1];
    const std::int32_t channels = *report.values[2];
    const std::int32_t rate = *report.values[3];
    if (frames <= 0) {
        report.findings.push_back({valueAt[0], false, "SAMPLES " + std::to_string(frames) + ": nothing is played"});
    }
    if (!canWriteFormat(bits)) {
        report.findings.push_back(
            {valueAt[1], false, "BITSPERSAMPLE " + std::to_string(bits) + ": the player writes only 8 or 16 bits"});
    }
    if (!canWriteChannels(channels)) {
        report.findings.push_back(
            {valueAt[2], false, "CHANNELS " + std::to_string(channels) + ": a frame needs at least one channel"});
    }
    if (rate <= 0) {
        report.findings.push_back({valueAt[3], false, "SAMPLERATE " + std::to_string(rate) + ": not a rate"});
    }
    if (!canWriteFormat(bits)) {
        report.player = {0, formatRefusedMessage, playerRejected};
        return false;
    }
    if (!canWriteChannels(channels)) {
        report.player = {0, channelsRefusedMessage, playerRejected};
        return false;
    }
    return true;
}

Report checkStream(std::string& text) {
    Report report;
    MemoryStreamBuffer buffer(text);
    std::istream input(&buffer);
    if (checkHeader(text, buffer, input, report)) {
        checkBody(text, buffer, input, report);
    }
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const Finding& first, const Finding& second) { return first.offset < second.offset; });
    return report;
}

struct Position {
    std::size_t line;
    std::size_t column;
};

// Lines and columns, both from 1, of offsets given in increasing order.
std::vector<Position> locate(const std::string& text, const std::vector<Finding>& findings) {
    std::vector<Position> positions;
    std::size_t line = 1;
    std::size_t lineStart = 0;
    std::size_t scanned = 0;
    for (const Finding& finding : findings) {
        for (; scanned < finding.offset; ++scanned) {
            if (text[scanned] == '\n') {
                ++line;
                lineStart = scanned + 1;
            }
        }
        positions.push_back({line, finding.offset - lineStart + 1});
    }
    return positions;
}

std::optional<double> lengthInSeconds(const Report& report, std::int64_t frames) {
    if (!report.values[3] || *report.values[3] <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(frames) / *report.values[3];
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string describeHeader(const Report& report) {
    std::string text = "header:";
    for (std::size_t field = 0; field < 4; ++field) {
        text += std::string(field == 0 ? " " : ", ") + numericKeys[field] + " " +
                (report.values[field] ? std::to_string(*report.values[field]) : "?");
    }
    text += std::string(", ") + flagKey + " " +
            (!report.flagWord           ? "?"
             : report.flagWord->empty() ? "(none)"
                                        : *report.flagWord);
    if (const auto seconds =
            report.values[0] ? lengthInSeconds(report, std::max(*report.values[0], 0)) : std::nullopt) {
        text += " (" + formatSeconds(*seconds) + ")";
    }
    return text;
}

std::string describePlayer(const Report& report) {
    const Prediction& player = report.player;
    const std::int64_t declared = report.values[0] ? std::max(*report.values[0], 0) : 0;
    std::string text = "player: ";
    if (player.status == playerRejected) {
        text += "plays nothing";
    } else if (player.message.empty()) {
        text += "plays all " + std::to_string(declared) + " frames";
        if (const auto seconds = lengthInSeconds(report, declared)) {
            text += " (" + formatSeconds(*seconds) + ")";
        }
    } else {
        text += "plays " + std::to_string(player.framesPlayed) + " of " + std::to_string(declared) + " frames";
        if (const auto seconds = lengthInSeconds(report, player.framesPlayed)) {
            text += " (" + formatSeconds(*seconds) + ")";
        }
    }
    if (!player.message.empty()) {
        text += ", then says \"" + player.message + "\"";
    }
    return text + " and exits with status " + std::to_string(player.status);
}

std::string quoteJson(const std::string& text) {
    std::string quoted = "\"";
    for (const char character : text) {
        if (character == '"' || character == '\\') {
            quoted += '\\';
            quoted += character;
        } else if (static_cast<unsigned char>(character) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", character);
            quoted += escaped;
        } else {
            quoted += character;
        }
    }
    return quoted + "\"";
}

void printReport(const Report& report, const std::string& text, const std::string& name, bool json) {
    const std::vector<Position> positions = locate(text, report.findings);
    if (json) {
        std::string header = "{\"type\":\"header\"";
        for (std::size_t field = 0; field < 4; ++field) {
            header += std::string(",\"") + numericKeys[field] +
                      "\":" + (report.values[field] ? std::to_string(*report.values[field]) : "null");
        }
        std::cout << header << ",\"NORMALIZED\":" << (report.flagWord ? quoteJson(*report.flagWord) : "null") << "}\n";
    } else {
        std::cout << describeHeader(report) << '\n';
    }
    for (std::size_t index = 0; index < report.findings.size(); ++index) {
        const Finding& finding = report.findings[index];
        const char* kind = finding.isError ? "error" : "warning";
        if (json) {
            std::cout << "{\"type\":\"" << kind << "\",\"file\":" << quoteJson(name)
                      << ",\"line\":" << positions[index].line << ",\"column\":" << positions[index].column
                      << ",\"message\":" << quoteJson(finding.text) << "}\n";
        } else {
            std::cout << name << ':' << positions[index].line << ':' << positions[index].column << ": " << kind << ": "
                      << finding.text << '\n';
        }
    }
    for (const std::string& note : report.notes) {
        std::cout << (json ? "{\"type\":\"note\",\"message\":" + quoteJson(note) + "}" : "note: " + note) << '\n';
    }
    if (json) {
        std::cout << "{\"type\":\"player\",\"framesPlayed\":" << report.player.framesPlayed
                  << ",\"message\":" << quoteJson(report.player.message) << ",\"status\":" << report.player.status
                  << "}\n";
    } else {
        std::cout << describePlayer(report) << '\n';
    }
}

// The whole file, or standard input for "-".
bool readInput(const std::string& path, std::string& text) {
    const int descriptor = path == "-" ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    char chunk[1 << 16];
    ssize_t count = 0;
    while ((count = read(descriptor, chunk, sizeof chunk)) != 0) {
        if (count < 0 && errno != EINTR) {
            return false;
        }
        if (count > 0) {
            text.append(chunk, static_cast<std::size_t>(count));
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool json = !arguments.empty() && arguments.front() == "--json";
    if (json) {
        arguments.erase(arguments.begin());
    }
    if (arguments.size() > 1 || (arguments.size() == 1 && arguments[0].size() > 1 && arguments[0][0] == '-')) {
        std::cerr << "usage: dspfeed-check [--json] [STREAM.txt | -]" << std::endl;
        return exitUnreadable;
    }
    const std::string path = arguments.empty() ? "-" : arguments[0];
    std::string text;
    if (!readInput(path, text)) {
        std::cerr << "dspfeed-check: cannot read " << path << ": " << std::strerror(errno) << std::endl;
        return exitUnreadable;
    }
    const Report report = checkStream(text);
    printReport(report, text, path == "-" ? "<stdin>" : path, json);
    const bool clean = report.findings.empty() && report.player.message.empty();
    return clean ? exitClean : exitProblem;
}
