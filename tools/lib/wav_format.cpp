// Builds and reads the WAV headers of the player's sound, plain RIFF or RF64.
// SPDX-License-Identifier: MIT
#include "wav_format.h"

#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t unknownLength = 0xffffffff;

void putLittleEndian(unsigned char* into, std::uint64_t value, int bytes) {
    for (int index = 0; index < bytes; ++index) {
        into[index] = static_cast<unsigned char>(value >> (8 * index));
    }
}

std::uint64_t getLittleEndian(const unsigned char* from, int bytes) {
    std::uint64_t value = 0;
    for (int index = bytes - 1; index >= 0; --index) {
        value = value << 8 | from[index];
    }
    return value;
}

void putChunk(std::vector<unsigned char>& header, const char* name, std::uint32_t length) {
    header.insert(header.end(), name, name + 4);
    header.resize(header.size() + 4);
    putLittleEndian(&header[header.size() - 4], length, 4);
}

// The "fmt " chunk of plain integer PCM: its fields at their byte offsets.
// NOLINTBEGIN(readability-magic-numbers)
void putFormatChunk(std::vector<unsigned char>& header, const WavFormat& format) {
    putChunk(header, "fmt ", 16);
    const std::size_t fields = header.size();
    const std::uint64_t frameBytes = countFrameBytes(format);
    header.resize(fields + 16);
    putLittleEndian(&header[fields], 1, 2);
    putLittleEndian(&header[fields + 2], static_cast<std::uint64_t>(format.channels), 2);
    putLittleEndian(&header[fields + 4], static_cast<std::uint64_t>(format.sampleRate), 4);
    putLittleEndian(&header[fields + 8], frameBytes * static_cast<std::uint64_t>(format.sampleRate), 4);
    putLittleEndian(&header[fields + 12], frameBytes, 2);
    putLittleEndian(&header[fields + 14], 8 * static_cast<std::uint64_t>(format.sampleBytes), 2);
}
// NOLINTEND(readability-magic-numbers)

}  // namespace

bool canHoldInWav(int sampleBytes, long long channels, long long rate) {
    constexpr long long largest16 = std::numeric_limits<std::uint16_t>::max();
    constexpr long long largest32 = std::numeric_limits<std::uint32_t>::max();
    return channels >= 1 && channels * sampleBytes <= largest16 && rate >= 1 &&
           rate <= largest32 / (channels * sampleBytes);
}

std::vector<unsigned char> makeWavStreamHeader(const WavFormat& format) {
    std::vector<unsigned char> header;
    putChunk(header, "RIFF", unknownLength);
    header.insert(header.end(), {'W', 'A', 'V', 'E'});
    putFormatChunk(header, format);
    putChunk(header, "data", unknownLength);
    return header;
}

// The stream header's fields, at their byte offsets.
// NOLINTBEGIN(readability-magic-numbers)
bool readWavStreamHeader(const unsigned char* header, WavFormat& format) {
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVEfmt ", 8) != 0 ||
        std::memcmp(header + 36, "data", 4) != 0) {
        return false;
    }
    format.channels = static_cast<int>(getLittleEndian(header + 22, 2));
    format.sampleRate = static_cast<int>(getLittleEndian(header + 24, 4));
    format.sampleBytes = static_cast<int>(getLittleEndian(header + 34, 2) / 8);
    return true;
}
// NOLINTEND(readability-magic-numbers)

std::vector<unsigned char> makeWavFileHeader(const WavFormat& format, std::uint64_t dataBytes) {
    // What follows the RIFF size: "WAVE", the reserved room, "fmt " and "data".
    constexpr std::uint64_t headerAfterSize = wavFileHeaderBytes - 8;
    constexpr std::uint32_t roomBytes = 28;
    // Chunks are word-aligned: odd data is followed by a pad byte, which the
    // RIFF size counts and the data size does not.
    const std::uint64_t riffBytes = headerAfterSize + dataBytes + (dataBytes % 2);
    const bool large = riffBytes > unknownLength - 1;
    std::vector<unsigned char> header;
    putChunk(header, large ? "RF64" : "RIFF", large ? unknownLength : static_cast<std::uint32_t>(riffBytes));
    header.insert(header.end(), {'W', 'A', 'V', 'E'});
    putChunk(header, large ? "ds64" : "JUNK", roomBytes);
    header.resize(header.size() + roomBytes);
    if (large) {
        unsigned char* room = &header[header.size() - roomBytes];
        const std::uint64_t frameBytes = countFrameBytes(format);
        putLittleEndian(room, riffBytes, 8);
        putLittleEndian(room + 8, dataBytes, 8);
        putLittleEndian(room + 16, dataBytes / frameBytes, 8);
    }
    putFormatChunk(header, format);
    putChunk(header, "data", large ? unknownLength : static_cast<std::uint32_t>(dataBytes));
    return header;
}
