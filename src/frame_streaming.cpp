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

// Reads one frame's values into the buffer as the device's samples: the low
// byte of each value for unsigned 8-bit, the value in host byte order for
// signed 16-bit. The frame is complete unless an extraction failed, which end
// of input alone is not: a last value that ends the input is still whole.
bool readFrame(unsigned char* frame, std::int32_t channels, std::size_t sampleBytes) {
    for (std::int32_t channel = 0; channel < channels; ++channel) {
        std::int16_t value = 0;
        // A failed stream consumes nothing more, so the rest of the frame can
        // only fail too; stopping here spares a huge frame's worth of reads.
        if (!readSample(std::cin, value)) {
            return false;
        }
        unsigned char* sample = frame + (static_cast<std::size_t>(channel) * sampleBytes);
        if (sampleBytes == 1) {
            *sample = static_cast<unsigned char>(value);  // the low byte, by the rules of unsigned conversion
        } else {
            std::memcpy(sample, &value, sizeof value);
        }
    }
    return true;
}

int streamFrames(int descriptor, const PlaybackSettings& settings, unsigned char* frame, std::size_t frameBytes,
                 std::size_t sampleBytes) {
    for (std::int32_t index = 0; index < settings.sampleCount; ++index) {
        if (!readFrame(frame, settings.channels, sampleBytes)) {
            std::cerr << brokenInputMessage << '\n';
            return exitPlayed;
        }
        if (!writeFrame(descriptor, frame, frameBytes)) {
            std::cerr << "Error writing to /dev/dsp" << '\n';
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
    const std::size_t sampleBytes = settings.bitsPerSample == 8 ? 1 : 2;
    const std::size_t frameBytes = static_cast<std::size_t>(settings.channels) * sampleBytes;
    std::unique_ptr<unsigned char[]> frame(new (std::nothrow) unsigned char[frameBytes]);
    int status = exitRejected;
    if (frame == nullptr) {
        std::cerr << "Error allocating frame buffer" << '\n';
    } else {
        status = streamFrames(descriptor, settings, frame.get(), frameBytes, sampleBytes);
    }
    // The buffer goes first, then the device.
    frame.reset();
    close(descriptor);
    return status;
}
