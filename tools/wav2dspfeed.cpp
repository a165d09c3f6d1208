// wav2dspfeed: turns a WAV file, or any other file libsndfile reads, into a 16-bit text sample stream.
// SPDX-License-Identifier: MIT
// Usage: wav2dspfeed INPUT [OUTPUT.txt]   (standard output when OUTPUT is left out)
#include <sndfile.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int exitUsage = 2;
constexpr int exitFailed = 1;

// Every sample of the file as signed 16-bit values, frame after frame. Float
// files are scaled to the 16-bit range; wider integers keep their top 16 bits.
bool readSamples(const char* path, SF_INFO& info, std::vector<std::int16_t>& samples) {
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "wav2dspfeed: cannot read %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    constexpr sf_count_t chunkFrames = 65536;
    std::vector<std::int16_t> chunk(static_cast<std::size_t>(chunkFrames * info.channels));
    sf_count_t read = 0;
    while ((read = sf_readf_short(file, chunk.data(), chunkFrames)) > 0) {
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + read * info.channels);
    }
    sf_close(file);
    return true;
}

// The stream: the header, then one frame a line.
bool writeStream(std::FILE* output, const SF_INFO& info, const std::vector<std::int16_t>& samples) {
    const std::size_t channels = static_cast<std::size_t>(info.channels);
    std::fprintf(output, "SAMPLES: %zu\nBITSPERSAMPLE: 16\nCHANNELS: %zu\nSAMPLERATE: %d\nNORMALIZED: FALSE\n",
                 samples.size() / channels, channels, info.samplerate);
    std::string text;
    constexpr std::size_t flushAt = 1 << 16;
    char number[8];
    for (std::size_t index = 0; index < samples.size(); ++index) {
        const auto result = std::to_chars(number, number + sizeof number, samples[index]);
        text.append(number, result.ptr);
        text += (index + 1) % channels == 0 ? '\n' : ' ';
        if (text.size() >= flushAt) {
            std::fwrite(text.data(), 1, text.size(), output);
            text.clear();
        }
    }
    std::fwrite(text.data(), 1, text.size(), output);
    return std::fflush(output) == 0 && std::ferror(output) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: wav2dspfeed INPUT [OUTPUT.txt]\n", stderr);
        return exitUsage;
    }
    SF_INFO info{};
    std::vector<std::int16_t> samples;
    if (!readSamples(argv[1], info, samples)) {
        return exitFailed;
    }
    std::FILE* output = argc == 3 ? std::fopen(argv[2], "w") : stdout;
    if (output == nullptr || !writeStream(output, info, samples) || (argc == 3 && std::fclose(output) != 0)) {
        std::fprintf(stderr, "wav2dspfeed: cannot write %s: %s\n", argc == 3 ? argv[2] : "standard output",
                     std::strerror(errno));
        return exitFailed;
    }
    return 0;
}
