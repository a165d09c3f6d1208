// wav2dspfeed: turns a WAV file, or any other file libsndfile reads, into a 16-bit text sample stream.
// SPDX-License-Identifier: MIT
// Usage: wav2dspfeed [--] INPUT|- [OUTPUT.txt|-]   (standard output when OUTPUT is left out)
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "child_process.h"
#include "command_line.h"
#include "tool_files.h"
#include "wav_format.h"

namespace {

constexpr int exitFailed = 1;
// Samples converted at a time, whatever the channel count, so that memory
// stays the same at any length and width.
constexpr sf_count_t chunkSamples = 16384;

struct Input {
    std::string name;
    SNDFILE* file = nullptr;
    SF_INFO info{};
    bool isFloat = false;
    sf_count_t chunkFrames = 1;
    std::int64_t clipped = 0;
};

int failReading(const Input& input, const std::string& reason) {
    std::fprintf(stderr, "wav2dspfeed: cannot read %s: %s\n", input.name.c_str(), reason.c_str());
    return exitFailed;
}

// libsndfile's words for a file whose header gives no usable rate.
std::string describeOpenError() {
    const std::string reason = sf_strerror(nullptr);
    return reason.find("SF_INFO struct incomplete") != std::string::npos ? "its header gives no valid sample rate"
                                                                         : reason;
}

// Floating-point samples keep their level: 1.0 is full scale, and what lies
// beyond it is clipped and counted. (libsndfile's own conversion would scale
// by the file's peak instead, or truncate.)
std::int16_t toSample(double value, std::int64_t& clipped) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value > 1.0 || value < -1.0) {
        ++clipped;
    }
    return static_cast<std::int16_t>(std::clamp(std::nearbyint(value * 32768.0), -32768.0, 32767.0));
}

// Reads up to a chunk of frames as 16-bit values.
sf_count_t readChunk(Input& input, std::vector<std::int16_t>& samples, std::vector<double>& floats) {
    if (!input.isFloat) {
        return sf_readf_short(input.file, samples.data(), input.chunkFrames);
    }
    const sf_count_t frames = sf_readf_double(input.file, floats.data(), input.chunkFrames);
    for (sf_count_t index = 0; index < frames * input.info.channels; ++index) {
        samples[static_cast<std::size_t>(index)] = toSample(floats[static_cast<std::size_t>(index)], input.clipped);
    }
    return frames;
}

// Writes the stream, a chunk at a time: the header, then one frame a line.
// Counts the frames read; returns false when the output could not be written.
bool writeStream(Input& input, int output, sf_count_t& total) {
    const auto channels = static_cast<std::size_t>(input.info.channels);
    std::string text = "SAMPLES: " + std::to_string(input.info.frames) +
                       "\nBITSPERSAMPLE: 16\nCHANNELS: " + std::to_string(channels) +
                       "\nSAMPLERATE: " + std::to_string(input.info.samplerate) + "\nNORMALIZED: FALSE\n";
    std::vector<std::int16_t> samples(static_cast<std::size_t>(input.chunkFrames) * channels);
    std::vector<double> floats(input.isFloat ? samples.size() : 0);
    for (sf_count_t frames = 0; (frames = readChunk(input, samples, floats)) > 0; total += frames) {
        char number[8];
        for (std::size_t index = 0; index < static_cast<std::size_t>(frames) * channels; ++index) {
            text.append(number, std::to_chars(number, number + sizeof number, samples[index]).ptr);
            text += (index + 1) % channels == 0 ? '\n' : ' ';
        }
        if (!writeAll(output, text.data(), text.size())) {
            return false;
        }
        text.clear();
    }
    return writeAll(output, text.data(), text.size());
}

int convert(const std::vector<std::string>& names) {
    Input input;
    input.name = names[0] == "-" ? "standard input" : names[0];
    struct stat status = {};
    const int descriptor = openInput(names[0], status);
    if (descriptor < 0) {
        return failReading(input, std::strerror(errno));
    }
    input.file = sf_open_fd(descriptor, SFM_READ, &input.info, SF_TRUE);
    if (input.file == nullptr) {
        return failReading(input, describeOpenError());
    }
    const int subtype = input.info.format & SF_FORMAT_SUBMASK;
    input.isFloat = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    input.chunkFrames = std::max<sf_count_t>(1, chunkSamples / std::max(input.info.channels, 1));
    // What the stream's header can say, and what the toolkit can play back
    // into a WAV file.
    if (input.info.frames > std::numeric_limits<std::int32_t>::max()) {
        return failReading(input,
                           std::to_string(input.info.frames) + " frames, more than a stream can hold (2147483647)");
    }
    if (!canHoldInWav(2, input.info.channels, input.info.samplerate)) {
        return failReading(input, std::to_string(input.info.channels) + " channels at " +
                                      std::to_string(input.info.samplerate) +
                                      " Hz, more than a 16-bit WAV file can hold");
    }
    OutputFile output;
    if (const std::string error = openOutput(names.size() == 2 ? names[1] : "-", &status, output); !error.empty()) {
        std::fprintf(stderr, "wav2dspfeed: cannot write %s: %s\n", output.name.c_str(), error.c_str());
        discardOutput(output);
        return exitFailed;
    }
    sf_count_t frames = 0;
    const bool written = writeStream(input, output.descriptor, frames);
    const std::string error = written ? "" : std::strerror(errno);
    sf_close(input.file);
    // Only a pipe can hold fewer frames than its header says.
    if (written && frames != input.info.frames) {
        discardOutput(output);
        return failReading(input, "it ended after " + std::to_string(frames) + " of the " +
                                      std::to_string(input.info.frames) + " frames its header gives");
    }
    if (const std::string failure = written ? finishOutput(output) : error; !failure.empty()) {
        std::fprintf(stderr, "wav2dspfeed: cannot write %s: %s\n", output.name.c_str(), failure.c_str());
        discardOutput(output);
        return exitFailed;
    }
    if (input.clipped > 0) {
        std::fprintf(stderr, "wav2dspfeed: clipped %lld %s beyond full scale\n", static_cast<long long>(input.clipped),
                     input.clipped == 1 ? "sample" : "samples");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    static const char usage[] = "usage: wav2dspfeed [--] INPUT|- [OUTPUT.txt|-]\n";
    if (int status = 0; answerHelpOrVersion(
            argc, argv, usage, "Turns a WAV file, or any audio file libsndfile reads, into a text sample stream.",
            status)) {
        return status;
    }
    std::vector<std::string> names;
    if (!readNames(argc, argv, names) || names.empty() || names.size() > 2) {
        std::fputs(usage, stderr);
        return exitUsage;
    }
    stopOnSignals();
    return runGuarded("wav2dspfeed", exitFailed, [&names] { return convert(names); });
}
