// Walks the chunks of a WAV or AIFF header for the length it states.
// SPDX-License-Identifier: MIT
#include "stated_length.h"

#include <unistd.h>

#include <cstring>

namespace {

// Chunks looked at before giving up: enough for any header a writer makes.
constexpr int mostChunks = 64;
constexpr std::uint16_t wavPcm = 1, wavFloat = 3, wavExtensible = 0xfffe;

std::uint32_t readNumber(const unsigned char* at, int bytes, bool bigEndian) {
    std::uint32_t value = 0;
    for (int index = 0; index < bytes; ++index) {
        value = value << 8 | at[bigEndian ? index : bytes - 1 - index];
    }
    return value;
}

bool readAt(int descriptor, off_t offset, unsigned char* bytes, std::size_t count) {
    return pread(descriptor, bytes, count, offset) == static_cast<ssize_t>(count);
}

std::optional<std::int64_t> readWavFrames(int descriptor) {
    std::uint16_t format = 0, frameBytes = 0;
    std::optional<std::int64_t> factFrames;
    off_t offset = 12;
    for (int chunk = 0; chunk < mostChunks; ++chunk) {
        unsigned char head[8], body[14];
        if (!readAt(descriptor, offset, head, sizeof head)) {
            break;
        }
        const std::uint32_t size = readNumber(head + 4, 4, false);
        if (std::memcmp(head, "fmt ", 4) == 0 && size >= sizeof body &&
            readAt(descriptor, offset + 8, body, sizeof body)) {
            format = static_cast<std::uint16_t>(readNumber(body, 2, false));
            frameBytes = static_cast<std::uint16_t>(readNumber(body + 12, 2, false));
        } else if (std::memcmp(head, "fact", 4) == 0 && size >= 4 && readAt(descriptor, offset + 8, body, 4)) {
            factFrames = readNumber(body, 4, false);
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (format != wavPcm && format != wavFloat && format != wavExtensible) {
                return factFrames;
            }
            if (size == 0xffffffff || frameBytes == 0) {
                return std::nullopt;
            }
            return size / frameBytes;
        }
        // Chunks are word-aligned: an odd size is followed by a pad byte.
        offset += 8 + static_cast<off_t>(size) + static_cast<off_t>(size & 1);
    }
    return std::nullopt;
}

std::optional<std::int64_t> readAiffFrames(int descriptor) {
    off_t offset = 12;
    for (int chunk = 0; chunk < mostChunks; ++chunk) {
        unsigned char head[8], body[6];
        if (!readAt(descriptor, offset, head, sizeof head)) {
            break;
        }
        const std::uint32_t size = readNumber(head + 4, 4, true);
        if (std::memcmp(head, "COMM", 4) == 0) {
            if (size < sizeof body || !readAt(descriptor, offset + 8, body, sizeof body)) {
                break;
            }
            return readNumber(body + 2, 4, true);
        }
        offset += 8 + static_cast<off_t>(size) + static_cast<off_t>(size & 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> readStatedFrames(int descriptor) {
    unsigned char start[12];
    std::optional<std::int64_t> frames;
    if (!readAt(descriptor, 0, start, sizeof start)) {
        return std::nullopt;
    }
    if (std::memcmp(start, "RIFF", 4) == 0 && std::memcmp(start + 8, "WAVE", 4) == 0) {
        frames = readWavFrames(descriptor);
    } else if (std::memcmp(start, "FORM", 4) == 0 &&
               (std::memcmp(start + 8, "AIFF", 4) == 0 || std::memcmp(start + 8, "AIFC", 4) == 0)) {
        frames = readAiffFrames(descriptor);
    }
    // Writers that cannot seek back may leave a count of 0 with sound after it.
    return frames == 0 ? std::nullopt : frames;
}
