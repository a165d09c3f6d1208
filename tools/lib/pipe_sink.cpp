// Writes the player's sound to the tool as a WAV stream, led by the format line for a client.
// SPDX-License-Identifier: MIT
#include "pipe_sink.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

class PipeSink : public SoundSink {
public:
    PipeSink(BridgeOutput output, WriteOut writeOut) : toFile_(output == BridgeOutput::wav), writeOut_(writeOut) {}

    // Raw sound on a terminal helps nobody.
    int checkOpen() override { return isatty(1) != 0 ? ENOTTY : 0; }

    // A file takes whatever a WAV file holds.
    bool takesChannels(int channels) const override { return toFile_ || SoundSink::takesChannels(channels); }

    bool takesRate(const WavFormat& format) const override {
        return toFile_ ? canHoldInWav(format.sampleBytes, format.channels, format.sampleRate)
                       : SoundSink::takesRate(format);
    }

    int start(const WavFormat& format, std::vector<unsigned char>& ahead) override {
        if (!toFile_) {
            const std::string line = makeFormatLine(format);
            ahead.assign(line.begin(), line.end());
        }
        const std::vector<unsigned char> header = makeWavStreamHeader(format);
        ahead.insert(ahead.end(), header.begin(), header.end());
        return 0;
    }

    // A WAV file of no frames is still a WAV file.
    bool startsWithoutFrames() const override { return toFile_; }

    int handOver(const unsigned char* bytes, std::size_t count) override { return writeOut_(bytes, count) ? 0 : errno; }

    // A client's sound goes on to a sink, live: the player holds no more
    // text than it needs. A file is rendered as fast as the input is read.
    bool pacesInput() const override { return !toFile_; }

    int finish(double /*seconds*/) override { return 0; }

private:
    bool toFile_;
    WriteOut writeOut_;
};

}  // namespace

std::unique_ptr<SoundSink> makePipeSink(BridgeOutput output, WriteOut writeOut) {
    return std::make_unique<PipeSink>(output, writeOut);
}
