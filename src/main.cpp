// Entry point: reads the header, sets up the device and plays the frames.
#include "main.h"

#include <iostream>

#include "frame_streaming.h"
#include "header_intake.h"
#include "sound_device.h"

// Takes no arguments and reads no configuration: everything comes from the
// text sample stream on standard input.
int main() {
    // The program reads and writes through iostreams only, so they need not
    // stay in step with C stdio; unsynchronised, extraction reads from a
    // buffer of its own instead of a character at a time.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    PlaybackSettings settings;
    readHeader(settings);
    const int descriptor = openSoundDevice(settings);
    if (descriptor < 0) {
        return descriptor;
    }
    return playFrames(descriptor, settings);
}
