// Where the sound bridge hands the player's sound: the interface its ways out have in common, and what a sink that
// plays tells. SPDX-License-Identifier: MIT
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge_protocol.h"
#include "sound_levels.h"
#include "wav_format.h"

// Writes bytes for the tool to read, past the device the bridge stands in
// for; false, with errno set, when they cannot all be written.
using WriteOut = bool (*)(const void* bytes, std::size_t count);

// An output a sink can play on, as a user chooses it.
struct SoundOutput {
    std::string name;         // as --device takes it
    std::string description;  // as the system describes it, or empty
};

// A failure is told as an errno value, 0 for none; whatever is to be said
// of it, the sink has said.
class SoundSink {
public:
    SoundSink() = default;
    SoundSink(const SoundSink&) = delete;
    SoundSink& operator=(const SoundSink&) = delete;
    SoundSink(SoundSink&&) = delete;
    SoundSink& operator=(SoundSink&&) = delete;
    virtual ~SoundSink() = default;

    // Whether the device may open: 0, or the errno its open fails with.
    virtual int checkOpen() = 0;
    // Whether it takes so many channels, and then a format's rate as it is:
    // by default what a sound server and its clients, such as aplay, take.
    virtual bool takesChannels(int channels) const { return channels <= mostChannels; }
    virtual bool takesRate(const WavFormat& format) const {
        return format.sampleRate >= 1 && format.sampleRate <= highestRate;
    }
    // The first frame is coming: `ahead` gets what goes out before the sound.
    virtual int start(const WavFormat& format, std::vector<unsigned char>& ahead) = 0;
    // A stream of no frames still comes out, started as the device closes.
    virtual bool startsWithoutFrames() const { return false; }
    // How much to gather for the next hand-over, where the sink asks for
    // more than the usual gathering at once (0 where it does not).
    virtual int askRoom(std::size_t& room) {
        room = 0;
        return 0;
    }
    // Takes whole frames, the first hand-over led by what `start` put ahead.
    virtual int handOver(const unsigned char* bytes, std::size_t count) = 0;
    // Whether it is to be served while the player waits for its input, and
    // serving it until `descriptor` has something to read.
    virtual bool servesWhileWaiting() const { return false; }
    virtual int serveUntilReadable(int /*descriptor*/) { return 0; }
    // Whether the player is to read its input no further ahead than live
    // sound needs: nothing else holds it back, as a full pipe would.
    virtual bool pacesInput() const { return false; }
    // The device is closing after `seconds` of sound: all of it is played out.
    virtual int finish(double seconds) = 0;

private:
    static constexpr int mostChannels = 32;
    static constexpr int highestRate = 384000;
};

// What a sink that plays the sound itself tells the tool through
// `writeOut`: why it failed, once, and what has been heard. The first
// failure, or a line that could not be written, is the one it keeps.
class SinkReport {
public:
    explicit SinkReport(WriteOut writeOut) : writeOut_(writeOut) {}

    int failure() const { return failure_; }

    // Says why, for the tool to tell; the player sees a failed write.
    int fail(const std::string& reason) {
        if (failure_ == 0) {
            const std::string line = makeFailedLine(reason);
            failure_ = writeOut_(line.data(), line.size()) ? EIO : errno;
        }
        return failure_;
    }

    // The line of `seconds` heard of a stream of `format`, with the levels
    // `meter` has of what has begun to be heard since the last.
    void tellHeard(double seconds, LevelTracker& meter, const WavFormat& format) {
        const std::string line =
            makeHeardLine(seconds, meter.takeHeard(static_cast<std::uint64_t>(seconds * countBytesPerSecond(format))));
        if (!writeOut_(line.data(), line.size()) && failure_ == 0) {
            failure_ = errno;
        }
    }

private:
    WriteOut writeOut_;
    int failure_ = 0;
};
