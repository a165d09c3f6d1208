// The benchmark's floor: as many one-frame writes to /dev/dsp as a stream has frames, with no parsing.
// SPDX-License-Identifier: MIT
// Usage: floor FRAMES
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const long frames = std::atol(argv[1]);
    const int device = open("/dev/dsp", O_RDWR);
    if (device < 0) {
        return 1;
    }
    std::int16_t frame[2] = {0, 0};
    for (long index = 0; index < frames; ++index) {
        frame[0] = static_cast<std::int16_t>(index);
        frame[1] = static_cast<std::int16_t>(-index);
        if (write(device, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) {
            return 1;
        }
    }
    close(device);
    return 0;
}
