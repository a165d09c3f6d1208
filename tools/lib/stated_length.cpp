// Walks the chunks of a WAV or AIFF header for the length it states.
// SPDX-License-Identifier: MIT
#include "stated_length.h"

#include <unistd.h>

#include <cstring>
#include <limits>

namespace {

// Chunks looked at before giving up: enough for any header a writer makes.
constexpr int mostChunks = 64;
// The bytes of a RIFF or FORM header before its first chunk: id, size, form type.
constexpr off_t fileHeaderBytes = 12;
constexpr std::uint16_t wavPcm = 1, wavFloat = 3, wavExtensible = 0xfffe;

std::uint32_t readNumber(const unsigned char* from, int bytes, bool bigEndian) {
    std::uint32_t value = 0;
    for (int index = 0; index < bytes; ++index) {
        value = value << 8 | from[bigEndian ? index : bytes - 1 - index];
    }
    return value;
}

bool readAt(int descriptor, off_t offset, unsigned char* bytes, std::size_t count) {
    return pread(descriptor, bytes, count, offset) == static_cast<ssize_t>(count);
}

struct Chunk {
    off_t body;
    std::uint32_t size;
};

// The first chunk named `name` after the file's own header.
std::optional<Chunk> findChunk(int descriptor, const char* name, bool bigEndian) {
    off_t offset = fileHeaderBytes;
    for (int chunk = 0; chunk < mostChunks; ++chunk) {
        unsigned char head[8];
        if (!readAt(descriptor, offset, head, sizeof head)) {
            break;
        }
        const std::uint32_t size = readNumber(head + 4, 4, bigEndian);
        if (std::memcmp(head, name, 4) == 0) {
            return Chunk{offset + 8, size};
        }
        // Chunks are word-aligned: an odd size is followed by a pad byte.
        offset += 8 + static_cast<off_t>(size) + static_cast<off_t>(size & 1);
    }
    return std::nullopt;
}

// The first `count` bytes of a chunk, where it is there and has them.
bool readBody(int descriptor, const std::optional<Chunk>& chunk, unsigned char* bytes, std::size_t count) {
    return chunk && chunk->size >= count && readAt(descriptor, chunk->body, bytes, count);
}

std::optional<std::int64_t> readWavFrames(int descriptor) {
    // The fmt chunk up to the frame size: tag, channels, rate, bytes a second, frame bytes.
    unsigned char format[14];  // NOLINT(readability-magic-numbers)
    unsigned char fact[4];
    const std::optional<Chunk> data = findChunk(descriptor, "data", false);
    if (!data || !readBody(descriptor, findChunk(descriptor, "fmt ", false), format, sizeof format)) {
        return std::nullopt;
    }
    const std::uint32_t tag = readNumber(format, 2, false);
    if (tag != wavPcm && tag != wavFloat && tag != wavExtensible) {
        if (!readBody(descriptor, findChunk(descriptor, "fact", false), fact, sizeof fact)) {
            return std::nullopt;
        }
        return readNumber(fact, 4, false);
    }
    const std::uint32_t frameBytes = readNumber(format + 12, 2, false);
    if (data->size == std::numeric_limits<std::uint32_t>::max() || frameBytes == 0) {
        return std::nullopt;
    }
    return data->size / frameBytes;
}

std::optional<std::int64_t> readAiffFrames(int descriptor) {
    unsigned char common[6];  // NOLINT(readability-magic-numbers): channels, then frames
    if (!readBody(descriptor, findChunk(descriptor, "COMM", true), common, sizeof common)) {
        return std::nullopt;
    }
    return readNumber(common + 2, 4, true);
}

}  // namespace

std::optional<std::int64_t> readStatedFrames(int descriptor) {
    unsigned char start[fileHeaderBytes];
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
