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
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "oss_answers.h"
#include "player_contract.h"
#include "signals.h"
#include "stated_length.h"
#include "tool_files.h"
#include "wav_format.h"

namespace {

// Samples converted at a time, whatever the channel count, so that memory
// stays the same at any length and width.
constexpr sf_count_t chunkSamples = 16384;

struct Input {
    std::string name;
    int descriptor = -1;  // a file libsndfile can seek in
    SNDFILE* file = nullptr;
    SF_INFO info{};
    bool isFloat = false;
    sf_count_t chunkFrames = 1;
    std::int64_t clipped = 0;
};

int failReading(const Input& input, const std::string& reason) {
    return ::failReading("wav2dspfeed", input.name, reason);
}

// libsndfile's words for a file whose header gives no usable rate.
std::string describeOpenError() {
    const std::string reason = sf_strerror(nullptr);
    return reason.find("SF_INFO struct incomplete") != std::string::npos ? "its header gives no valid sample rate"
                                                                         : reason;
}

// libsndfile seeks in most formats, and in a pipe it cannot: a pipe is first
// copied whole into a file in TMPDIR that has no name from the start, so that
// nothing of it outlives the run. Returns that file, or -1 with `error` set.
int copyToUnnamedFile(int pipe, std::string& error) {
    const char* folder = std::getenv("TMPDIR");
    const std::string directory = folder != nullptr && *folder != '\0' ? folder : "/tmp";
    int file = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (file < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
        // A file system without unnamed files: a named one, unlinked at once.
        std::string name = directory + "/wav2dspfeed.XXXXXX";
        file = mkostemp(name.data(), O_CLOEXEC);
        if (file >= 0) {
            unlink(name.c_str());
        }
    }
    std::uint64_t copied = 0;
    bool readFailed = false;
    const int failed = file < 0 ? errno : copyAll(pipe, file, copied, readFailed);
    if (failed == 0 && lseek(file, 0, SEEK_SET) == 0) {
        return file;
    }
    error = readFailed
                ? std::strerror(failed)
                : "cannot copy it into TMPDIR (" + directory + "): " + std::strerror(failed != 0 ? failed : errno);
    if (file >= 0) {
        close(file);
    }
    return -1;
}

// Opens (or opens again, from the start) the input's file with libsndfile.
bool openSound(Input& input) {
    if (input.file != nullptr) {
        sf_close(input.file);
        input.info = {};
    }
    if (lseek(input.descriptor, 0, SEEK_SET) != 0) {
        return false;
    }
    input.file = sf_open_fd(input.descriptor, SFM_READ, &input.info, SF_FALSE);
    return input.file != nullptr;
}

// Decoders whose samples come as floating point, which may lie beyond full
// scale: read as 16-bit values by libsndfile, those wrap round.
bool decodesToFloat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
        case SF_FORMAT_MPEG_LAYER_I:
        case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III:
            return true;
        default:
            return false;
    }
}

// Whether libsndfile's frame count is worked out from sizes, and so is what
// decoding gives. Elsewhere (compressed samples, FLAC, Ogg, MPEG) it is a
// header's promise or an estimate, and only decoding tells.
bool countsBySize(int format) {
    const int container = format & SF_FORMAT_TYPEMASK;
    if (container == SF_FORMAT_FLAC || container == SF_FORMAT_OGG || container == SF_FORMAT_MPEG) {
        return false;
    }
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return true;
        default:
            return false;
    }
}

// Floating-point samples keep their level: 1.0 is full scale, and what lies
// beyond it is clipped and counted. (libsndfile's own conversion would scale
// by the file's peak instead, or wrap.)
std::int16_t toSample(double value, std::int64_t& clipped) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value > 1.0 || value < -1.0) {
        ++clipped;
    }
    constexpr double fullScale = 32768.0;
    return static_cast<std::int16_t>(std::clamp(std::nearbyint(value * fullScale), -fullScale, fullScale - 1));
}

// Reads up to `frames` frames, at most a chunk, as 16-bit values.
sf_count_t readChunk(Input& input, sf_count_t frames, std::vector<std::int16_t>& samples, std::vector<double>& floats) {
    frames = std::min(frames, input.chunkFrames);
    if (!input.isFloat) {
        return sf_readf_short(input.file, samples.data(), frames);
    }
    frames = sf_readf_double(input.file, floats.data(), frames);
    for (sf_count_t index = 0; index < frames * input.info.channels; ++index) {
        samples[static_cast<std::size_t>(index)] = toSample(floats[static_cast<std::size_t>(index)], input.clipped);
    }
    return frames;
}

// The frames decoding gives, read through once where sizes do not tell.
sf_count_t countFrames(Input& input, std::vector<std::int16_t>& samples) {
    if (countsBySize(input.info.format)) {
        return input.info.frames;
    }
    sf_count_t total = 0;
    for (sf_count_t frames = 0; (frames = sf_readf_short(input.file, samples.data(), input.chunkFrames)) > 0;) {
        total += frames;
    }
    return openSound(input) ? total : -1;
}

// Writes the stream of `count` frames, a chunk at a time: the header, then
// one frame a line. Counts the frames read; returns false when the output
// could not be written.
bool writeStream(Input& input, sf_count_t count, std::vector<std::int16_t>& samples, int output, sf_count_t& total) {
    const auto channels = static_cast<std::size_t>(input.info.channels);
    std::string text = formatStreamHeader(count, 16, input.info.channels, input.info.samplerate);
    std::vector<double> floats(input.isFloat ? samples.size() : 0);
    for (sf_count_t frames = 0; total < count && (frames = readChunk(input, count - total, samples, floats)) > 0;
         total += frames) {
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

std::string describeShortfall(sf_count_t frames, sf_count_t stated) {
    return "it ended after " + std::to_string(frames) + " of the " + std::to_string(stated) +
           " frames its header gives";
}

int convert(Input& input, const struct stat& status, const std::string& outputName) {
    if (lseek(input.descriptor, 0, SEEK_CUR) < 0) {
        std::string error;
        const int pipe = input.descriptor;
        input.descriptor = copyToUnnamedFile(pipe, error);
        if (input.descriptor < 0) {
            return failReading(input, error);
        }
        close(pipe);
    }
    if (!openSound(input)) {
        return failReading(input, describeOpenError());
    }
    input.isFloat = decodesToFloat(input.info.format);
    input.chunkFrames = std::max<sf_count_t>(1, chunkSamples / std::max(input.info.channels, 1));
    std::vector<std::int16_t> samples(static_cast<std::size_t>(input.chunkFrames * input.info.channels));
    sf_count_t count = countFrames(input, samples);
    if (count < 0) {
        return failReading(input, sf_strerror(nullptr));
    }
    // Where the header promises a length, the file must hold it; a fact
    // chunk's count also drops the padding at the end of compressed samples.
    std::optional<std::int64_t> stated = readStatedFrames(input.descriptor);
    if (!stated && (input.info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && input.info.frames > 0 &&
        input.info.frames < SF_COUNT_MAX) {
        stated = input.info.frames;
    }
    if (stated && count < *stated) {
        return failReading(input, describeShortfall(count, *stated));
    }
    count = std::min<sf_count_t>(count, stated.value_or(count));
    // What the stream's header can say, and what the toolkit can play back
    // into a WAV file.
    if (count > std::numeric_limits<std::int32_t>::max()) {
        return failReading(input, std::to_string(count) + " frames, more than a stream can hold (2147483647)");
    }
    if (input.info.channels > mostOssChannels) {
        return failReading(input, std::to_string(input.info.channels) + " channels, more than the player takes (" +
                                      std::to_string(mostOssChannels) + ")");
    }
    if (!canHoldInWav(2, input.info.channels, input.info.samplerate)) {
        return failReading(input, std::to_string(input.info.channels) + " channels at " +
                                      std::to_string(input.info.samplerate) +
                                      " Hz, more than a 16-bit WAV file can hold");
    }
    OutputFile output;
    if (const std::string error = openOutput(outputName, &status, output); !error.empty()) {
        return failWriting("wav2dspfeed", output.name, error);
    }
    sf_count_t frames = 0;
    const bool written = writeStream(input, count, samples, output.descriptor, frames);
    const std::string error = written ? "" : std::strerror(errno);
    if (written && frames != count) {
        return failReading(input, describeShortfall(frames, count));
    }
    if (const std::string failure = written ? finishOutput(output) : error; !failure.empty()) {
        return failWriting("wav2dspfeed", output.name, failure);
    }
    if (input.clipped > 0) {
        std::fprintf(stderr, "wav2dspfeed: clipped %lld %s beyond full scale\n", static_cast<long long>(input.clipped),
                     input.clipped == 1 ? "sample" : "samples");
    }
    return 0;
}

int convert(const std::vector<std::string>& names) {
    Input input;
    input.name = nameInput(names[0]);
    struct stat status = {};
    input.descriptor = openInput(names[0], status);
    if (input.descriptor < 0) {
        return failReading(input, std::strerror(errno));
    }
    const int result = convert(input, status, names.size() == 2 ? names[1] : "-");
    if (input.file != nullptr) {
        sf_close(input.file);
    }
    return result;
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
    std::vector<Option> none;
    if (const std::string problem = readArguments(argc, argv, none, names, 2); !problem.empty()) {
        return failUsage(usage, problem);
    }
    if (names.empty()) {
        return failUsage(usage, "an input is needed");
    }
    stopOnSignals();
    return runGuarded("wav2dspfeed", exitPlayerFailed, [&names] { return convert(names); });
}
