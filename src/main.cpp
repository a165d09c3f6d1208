// Entry point: reads the header, sets up the device and plays the frames.
// SPDX-License-Identifier: MIT
#include "main.h"

#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <ext/stdio_filebuf.h>
#include <iostream>

#include "frame_streaming.h"
#include "header_intake.h"
#include "sound_device.h"

namespace {

// Opens "/dev/null" on each standard descriptor that is closed, so that the
// device can never be handed descriptor 1 or 2 and receive the messages as
// samples. A message for a closed standard error is then simply lost.
void openClosedStandardDescriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        // open takes the lowest free descriptor, which is this one: those
        // below it are open by now. Should it fail there is nothing better to do.
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            open("/dev/null", O_RDWR);
        }
    }
}

}  // namespace

// Takes no arguments and reads no configuration: everything comes from the
// text sample stream on standard input.
int main() {
    openClosedStandardDescriptors();
    // The program reads and writes through iostreams only, so they need not
    // stay in step with C stdio. Standard input is read in blocks of 64 KiB,
    // an eighth of the system calls of the library's own buffer.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    constexpr std::size_t inputBlock = 1 << 16;
    __gnu_cxx::stdio_filebuf<char> input(0, std::ios::in, inputBlock);
    std::cin.rdbuf(&input);
    PlaybackSettings settings;
    readHeader(settings);
    const int descriptor = openSoundDevice(settings);
    if (descriptor < 0) {
        return descriptor;
    }
    return playFrames(descriptor, settings);
}
