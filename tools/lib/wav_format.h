// WAV headers for the sound the player sends: the stream the bridge hands on, and the file a tool writes of it.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// OSS's rate until one is set.
constexpr int defaultRate = 8000;

// PCM as the player sends it: unsigned 8-bit or signed 16-bit little-endian.
struct WavFormat {
    int sampleBytes = 2;
    int channels = 1;
    int sampleRate = defaultRate;

    bool operator==(const WavFormat&) const = default;
};

// The bytes of one frame: a sample of each channel.
inline std::size_t countFrameBytes(const WavFormat& format) {
    return static_cast<std::size_t>(format.channels) * static_cast<std::size_t>(format.sampleBytes);
}

// The bytes of one second of sound.
inline double countBytesPerSecond(const WavFormat& format) {
    return static_cast<double>(format.sampleRate) * static_cast<double>(countFrameBytes(format));
}

// Whether a WAV file can describe the format exactly: its channel count,
// its frame size and its byte rate each fit their fields.
bool canHoldInWav(int sampleBytes, long long channels, long long rate);

// The 44 bytes ahead of a stream of unknown length, as the bridge sends it.
constexpr std::size_t wavStreamHeaderBytes = 44;
std::vector<unsigned char> makeWavStreamHeader(const WavFormat& format);
// Reads the format back from such a header; false when it is not one.
bool readWavStreamHeader(const unsigned char* header, WavFormat& format);

// A file's header for `dataBytes` bytes of sound. Room for RF64's sizes is
// kept in a JUNK chunk, so the header is the same size whatever the length;
// past 4 GiB the file becomes RF64 and the room holds the 64-bit sizes.
// Odd data must be followed by a pad byte, which the sizes allow for.
constexpr std::size_t wavFileHeaderBytes = 80;
std::vector<unsigned char> makeWavFileHeader(const WavFormat& format, std::uint64_t dataBytes);
