// Entry point: reads the header, sets up the device and plays the frames.
#include "frame_streaming.h"
#include "header_intake.h"
#include "sound_device.h"

// Takes no arguments and reads no configuration: everything comes from the
// text sample stream on standard input.
int main() {
    PlaybackSettings settings;
    readHeader(settings);
    const int descriptor = openSoundDevice(settings);
    if (descriptor < 0) {
        return descriptor;
    }
    return playFrames(descriptor, settings);
}
