// Runs in the virtual machine of the kernel check: asks the kernel's OSS emulation for its answers, makes streams, and
// records what is played. SPDX-License-Identifier: MIT Usage:
//   kernel_guest answer BITS CHANNELS RATE     the answers of /dev/dsp, opened as the player opens it,
//                                              its block and buffer in frames, or which request it refused
//   kernel_guest make FRAMES BITS CHANNELS RATE STREAM.txt EXPECTED.raw
//                                              a stream of a signal with no silent frame, and its bytes
//   kernel_guest record EXPECTED.raw BITS CHANNELS RATE
//                                              records /dev/adsp, which hears what /dev/dsp plays on the
//                                              loopback card, until the stream made meanwhile and a
//                                              second after it came, or SIGTERM; then says whether the
//                                              stream came exactly
//   kernel_guest hold                          keeps the capture side of /dev/dsp busy until killed
#include <fcntl.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// Opens a device and asks for the format, channels and rate, as the player does.
int openConfigured(const char* path, int flags, int& format, int& channels, int& rate) {
    const int device = open(path, flags);
    if (device < 0) {
        std::printf("cannot open %s\n", path);
        std::exit(1);
    }
    const char* refused = ioctl(device, SNDCTL_DSP_SETFMT, &format) == -1       ? "format"
                          : ioctl(device, SNDCTL_DSP_CHANNELS, &channels) == -1 ? "channels"
                          : ioctl(device, SNDCTL_DSP_SPEED, &rate) == -1        ? "rate"
                                                                                : nullptr;
    if (refused != nullptr) {
        std::printf("refused %s\n", refused);
        std::exit(0);
    }
    return device;
}

int answer(int bits, int channels, int rate) {
    int format = bits;  // passed on as the format code, as the player passes it
    const int device = openConfigured("/dev/dsp", O_RDWR, format, channels, rate);
    int blockBytes = 0;
    ioctl(device, SNDCTL_DSP_GETBLKSIZE, &blockBytes);
    audio_buf_info space{};
    ioctl(device, SNDCTL_DSP_GETOSPACE, &space);
    const int frameBytes = channels * (format == AFMT_U8 ? 1 : 2);
    std::printf("format %d channels %d rate %d block %d buffer %d\n", format, channels, rate, blockBytes / frameBytes,
                space.fragstotal * space.fragsize / frameBytes);
    return 0;
}

// A sawtooth per channel, each offset from the others, kept away from silence.
int make(long frames, int bits, int channels, int rate, const char* streamPath, const char* expectedPath) {
    std::FILE* stream = std::fopen(streamPath, "w");
    std::FILE* expected = std::fopen(expectedPath, "wb");
    std::fprintf(stream, "SAMPLES: %ld\nBITSPERSAMPLE: %d\nCHANNELS: %d\nSAMPLERATE: %d\nNORMALIZED: FALSE\n", frames,
                 bits, channels, rate);
    for (long frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            const long step = (frame * 37) + (channel * 1009L);
            const int value = bits == 8 ? static_cast<int>(1 + (step % 127)) : static_cast<int>(1 + (step % 30000));
            std::fprintf(stream, channel + 1 < channels ? "%d " : "%d\n", value);
            const unsigned char bytes[2] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
            std::fwrite(bytes, 1, bits / 8, expected);
        }
    }
    return std::fclose(stream) != 0 || std::fclose(expected) != 0 ? 1 : 0;
}

volatile std::sig_atomic_t stopped = 0;

int record(const char* expectedPath, int bits, int channels, int rate) {
    struct sigaction action = {};
    action.sa_handler = [](int) { stopped = 1; };
    sigaction(SIGTERM, &action, nullptr);
    int format = bits;  // 8 is AFMT_U8 and 16 AFMT_S16_LE
    const int device = openConfigured("/dev/adsp", O_RDONLY, format, channels, rate);
    const std::size_t frameBytes = static_cast<std::size_t>(channels * bits / 8);
    const std::string silence(frameBytes, bits == 8 ? '\x80' : '\0');
    std::string recorded;
    std::string expected;
    // Where the silence that begins at `place` ends.
    const auto endOfSilence = [&](std::size_t place) {
        while (place + frameBytes <= recorded.size() && recorded.compare(place, frameBytes, silence) == 0) {
            place += frameBytes;
        }
        return place;
    };
    std::size_t start = 0;  // the first sounding frame, once it came
    const auto readExpected = [&] {
        if (expected.empty()) {
            std::ifstream file(expectedPath, std::ios::binary);
            expected.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
    };
    // It stops by itself once the stream and a second after it came, as many
    // frames as that is, however slowly a busy host runs this guest; or at
    // SIGTERM. The stream is made while it records: its first frame tells
    // that the stream is there to read.
    const std::size_t afterBytes = static_cast<std::size_t>(rate) * frameBytes;
    char block[4096];
    for (ssize_t read = 0; stopped == 0 && (read = ::read(device, block, sizeof block)) > 0;) {
        recorded.append(block, static_cast<std::size_t>(read));
        start = endOfSilence(start);
        if (start < recorded.size()) {
            readExpected();
        }
        if (!expected.empty() && recorded.size() >= start + expected.size() + afterBytes) {
            break;
        }
    }
    readExpected();
    std::size_t after = 0;
    for (std::size_t at = start + expected.size(); at + frameBytes <= recorded.size(); at += frameBytes) {
        after += recorded.compare(at, frameBytes, silence) != 0 ? 1 : 0;
    }
    std::size_t same = 0;
    while (same < expected.size() && start + same < recorded.size() && recorded[start + same] == expected[same]) {
        ++same;
    }
    if (same < expected.size()) {
        // Whose the difference is: silence where the stream was late (the
        // rest of it follows whole), silence in place of frames lost, or
        // other sound, or a recording that ends there.
        const std::size_t from = same / frameBytes * frameBytes;
        const std::size_t there = start + from;
        const std::size_t silent = endOfSilence(there) - there;
        const auto goesOnFrom = [&](std::size_t streamAt) {
            const std::size_t rest = expected.size() - std::min(streamAt, expected.size());
            return there + silent + rest <= recorded.size() &&
                   recorded.compare(there + silent, rest, expected, std::min(streamAt, expected.size()), rest) == 0;
        };
        const char* followedBy = there + silent >= recorded.size() ? "the recording ends"
                                 : silent == 0                     ? "other sound"
                                 : goesOnFrom(from)                ? "then the rest of the stream, late"
                                 : goesOnFrom(from + silent)       ? "then the rest of the stream, as many frames lost"
                                                                   : "then other sound";
        std::printf("DIFFERENT from frame %zu of %zu, after %zu frames of silence: %zu silent frames there, %s\n",
                    from / frameBytes, expected.size() / frameBytes, start / frameBytes, silent / frameBytes,
                    followedBy);
        return 1;
    }
    std::printf("exact: %zu frames after %zu of silence, %zu sounding frames after them\n",
                expected.size() / frameBytes, start / frameBytes, after);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "answer" && argc == 5) {
        return answer(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (mode == "make" && argc == 8) {
        return make(std::atol(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6], argv[7]);
    }
    if (mode == "record" && argc == 6) {
        return record(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    }
    if (mode == "hold" && argc == 2) {
        if (open("/dev/dsp", O_RDONLY) < 0) {
            return 1;
        }
        pause();
    }
    std::fputs("usage: kernel_guest answer|make|record|hold ...\n", stderr);
    return 2;
}
