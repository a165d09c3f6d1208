// Finds a stream's exact samples in a recording of a sink's monitor, and counts the silence inserted into them.
// SPDX-License-Identifier: MIT
// Usage: recording_match RECORDING.raw EXPECTED.raw FRAME-BYTES SILENCE-BYTE
// The stream must not start with a silent frame: the first frame of the
// recording that is not silence is taken as the stream's first. Prints what
// it found; exits with 0 only when every frame arrived, in order, unchanged
// and with no silence between.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

std::string readFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: recording_match RECORDING.raw EXPECTED.raw FRAME-BYTES SILENCE-BYTE\n", stderr);
        return 2;
    }
    const std::string recording = readFile(argv[1]);
    const std::string expected = readFile(argv[2]);
    const std::size_t frameBytes = std::strtoul(argv[3], nullptr, 10);
    const std::string silence(frameBytes, static_cast<char>(std::strtol(argv[4], nullptr, 0)));
    const std::size_t recorded = recording.size() / frameBytes;
    const std::size_t frames = expected.size() / frameBytes;
    const auto frameOf = [frameBytes](const std::string& text, std::size_t index) {
        return std::string_view(text).substr(index * frameBytes, frameBytes);
    };

    std::size_t place = 0;
    while (place < recorded && frameOf(recording, place) == silence) {
        ++place;
    }
    std::size_t found = 0;
    std::size_t arrived = 0;
    std::size_t gaps = 0;
    std::size_t inserted = 0;
    std::size_t lost = 0;
    while (found < frames && place < recorded) {
        if (frameOf(recording, place) == frameOf(expected, found)) {
            ++arrived;
            ++found;
            ++place;
            continue;
        }
        if (frameOf(recording, place) != silence) {
            ++found;  // changed
            ++place;
            continue;
        }
        // Silence either came between two frames or stood in for lost ones.
        ++gaps;
        std::size_t run = 0;
        while (place + run < recorded && frameOf(recording, place + run) == silence) {
            ++run;
        }
        place += run;
        if (found + run < frames && place < recorded && frameOf(recording, place) != frameOf(expected, found) &&
            frameOf(recording, place) == frameOf(expected, found + run)) {
            lost += run;
            found += run;
        } else {
            inserted += run;
        }
    }
    std::printf("%zu of %zu frames arrived, %zu gaps (%zu silent frames inserted, %zu lost), %zu changed\n", arrived,
                frames, gaps, inserted, lost, found - arrived - lost);
    return arrived == frames && gaps == 0 ? 0 : 1;
}
