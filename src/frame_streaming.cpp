// Reads frames of decimal samples from standard input and writes them to the device.
// SPDX-License-Identifier: MIT
#include "frame_streaming.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>

#include "player_contract.h"
#include "text_input.h"

namespace {

// How many writes in a row may take nothing before the device counts as failed.
constexpr int stalledWritesAllowed = 100;

// Hands the whole frame to the driver. A blocking write normally takes it at
// once; a short or interrupted write is continued where it stopped, and only
// a driver that keeps taking nothing gives up the frame.
bool writeFrame(int descriptor, const unsigned char* bytes, std::size_t count) {
    int stalledWrites = 0;
    while (count > 0) {
        const ssize_t written = write(descriptor, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return false;
        }
        if (written == 0) {
            if (++stalledWrites == stalledWritesAllowed) {
                return false;
            }
            continue;
        }
        stalledWrites = 0;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// Reads one frame's values into the buffer and lays them out as the device's
// samples: each value in host byte order for signed 16-bit, packed down to
// its low byte for unsigned 8-bit. The frame is complete unless an
// extraction failed, which end of input alone is not: a last value that ends
// the input is still whole. A failed stream consumes nothing more, so the
// rest of the frame could only fail too; the reading stops there, which
// spares a huge frame's worth of reads.
bool readFrame(std::int16_t* frame, std::size_t channels, bool eightBit) {
    if (!readSamples(std::cin, frame, channels)) {
        return false;
    }
    if (eightBit) {
        // Byte i lies within value i / 2, which has been packed already.
        auto* bytes = reinterpret_cast<unsigned char*>(frame);
        for (std::size_t channel = 0; channel < channels; ++channel) {
            bytes[channel] = static_cast<unsigned char>(frame[channel]);  // the low byte, by unsigned conversion
        }
    }
    return true;
}

int streamFrames(int descriptor, const PlaybackSettings& settings, std::int16_t* frame, std::size_t frameBytes) {
    const auto channels = static_cast<std::size_t>(settings.channels);
    const bool eightBit = settings.bitsPerSample == 8;
    const auto* bytes = reinterpret_cast<const unsigned char*>(frame);
    for (std::int32_t index = 0; index < settings.sampleCount; ++index) {
        if (!readFrame(frame, channels, eightBit)) {
            std::cerr << brokenInputMessage << '\n';
            return exitPlayed;
        }
        if (!writeFrame(descriptor, bytes, frameBytes)) {
            std::cerr << writeFailedMessage << '\n';
            return exitDeviceFailed;
        }
    }
    return exitPlayed;
}

}  // namespace

int playFrames(int descriptor, const PlaybackSettings& settings) {
    // The device setup only lets 8 or 16 bits and at least one channel
    // through, so the byte count is positive; computed in size_t it cannot
    // overflow for any channel count an int32 can hold.
    const auto channels = static_cast<std::size_t>(settings.channels);
    const std::size_t frameBytes = channels * (settings.bitsPerSample == 8 ? 1 : 2);
    std::unique_ptr<std::int16_t[]> frame(new (std::nothrow) std::int16_t[channels]);
    int status = exitRejected;
    if (frame == nullptr) {
        std::cerr << noFrameBufferMessage << '\n';
    } else {
        status = streamFrames(descriptor, settings, frame.get(), frameBytes);
    }
    // The buffer goes first, then the device.
    frame.reset();
    close(descriptor);
    return status;
}
