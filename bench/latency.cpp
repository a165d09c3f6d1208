// Measures how late a player sounds: from the return of the write of a click to the click reaching a sink's monitor.
// SPDX-License-Identifier: MIT
// Usage: latency SINK RATE CHANNELS BITS blocking|paced text|raw COMMAND [ARGUMENT...]
// COMMAND plays its standard input on the default sink, SINK, whose monitor is
// recorded meanwhile. It is fed 10 s of near-silence (every value 1, so that
// the stream shows at the monitor, whose own silence is 0 or 128), a 10 ms
// full-scale click, then 10 s more, as a text sample stream or as raw PCM. A
// blocking producer writes as fast as the pipe takes it, a paced one each
// 10 ms of frames at its time on the clock. The click's first frame goes in a
// write of its own. Prints the delay in seconds.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Read {
    Clock::time_point returned;
    std::size_t endByte;  // bytes recorded up to the end of this read
};

pid_t start(std::vector<std::string> arguments, int input, int output) {
    const pid_t child = fork();
    if (child == 0) {
        dup2(input, 0);
        dup2(output, 1);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

void writeString(int descriptor, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t written = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written <= 0) {
            std::perror("latency: write");
            std::exit(1);
        }
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 8) {
        std::fputs("usage: latency SINK RATE CHANNELS BITS blocking|paced text|raw COMMAND...\n", stderr);
        return 2;
    }
    const std::string sink = argv[1];
    const int rate = std::atoi(argv[2]);
    const int channels = std::atoi(argv[3]);
    const int bits = std::atoi(argv[4]);
    const bool paced = std::strcmp(argv[5], "paced") == 0;
    const bool text = std::strcmp(argv[6], "text") == 0;
    const int sampleBytes = bits / 8;
    const int frameBytes = sampleBytes * channels;
    const int loud = bits == 8 ? 255 : 32767;
    const long silentFrames = 10L * rate;
    const long clickFrames = rate / 100;
    const long frames = 2 * silentFrames + clickFrames;
    const auto frameOf = [&](int value) {
        std::string frame;
        for (int channel = 0; channel < channels; ++channel) {
            if (text) {
                frame += std::to_string(value) + (channel + 1 < channels ? " " : "\n");
            } else {
                frame += static_cast<char>(value & 255);
                if (sampleBytes == 2) {
                    frame += static_cast<char>(value >> 8);
                }
            }
        }
        return frame;
    };
    const std::string quiet = frameOf(1);
    const std::string click = frameOf(loud);

    signal(SIGPIPE, SIG_IGN);
    int recorded[2];
    int played[2];
    if (pipe2(recorded, O_CLOEXEC) != 0 || pipe2(played, O_CLOEXEC) != 0) {
        return 1;
    }
    const std::string format = bits == 8 ? "u8" : "s16le";
    const pid_t recorder =
        start({"parec", "-d", sink + ".monitor", "--raw", "--format=" + format, "--rate=" + std::to_string(rate),
               "--channels=" + std::to_string(channels), "--latency-msec=10"},
              open("/dev/null", O_RDONLY), recorded[1]);
    close(recorded[1]);
    std::vector<unsigned char> recording;
    std::vector<Read> reads;
    std::thread listener([&] {
        unsigned char block[65536];
        ssize_t got = 0;
        while ((got = read(recorded[0], block, sizeof block)) > 0) {
            recording.insert(recording.end(), block, block + got);
            reads.push_back({Clock::now(), recording.size()});
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::vector<std::string> command(argv + 7, argv + argc);
    const pid_t player = start(command, played[0], open("/dev/null", O_WRONLY));
    close(played[0]);
    if (text) {
        writeString(played[1], "SAMPLES: " + std::to_string(frames) + "\nBITSPERSAMPLE: " + std::to_string(bits) +
                                "\nCHANNELS: " + std::to_string(channels) + "\nSAMPLERATE: " + std::to_string(rate) +
                                "\nNORMALIZED: FALSE\n");
    }
    // writeFrames FIRST COUNT: frames from FIRST on, in blocks of 10 ms, each
    // at its time when paced.
    const Clock::time_point began = Clock::now();
    const auto writeFrames = [&](long first, long count) {
        const long block = rate / 100;
        for (long frame = first; frame < first + count; frame += block) {
            const long end = std::min(first + count, frame + block);
            if (paced) {
                std::this_thread::sleep_until(began + std::chrono::microseconds(frame * 1000000 / rate));
            }
            std::string bytes;
            for (long index = frame; index < end; ++index) {
                bytes += index >= silentFrames && index < silentFrames + clickFrames ? click : quiet;
            }
            writeString(played[1], bytes);
        }
    };
    writeFrames(0, silentFrames);
    writeFrames(silentFrames, 1);
    const Clock::time_point clickWritten = Clock::now();
    writeFrames(silentFrames + 1, frames - silentFrames - 1);
    close(played[1]);
    int status = 0;
    waitpid(player, &status, 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    kill(recorder, SIGTERM);
    listener.join();
    waitpid(recorder, nullptr, 0);

    // The click's first frame, and when it came: a read can return late but
    // never early, so each read after it bounds its arrival, less the time the
    // bytes between took to play.
    std::size_t clickByte = 0;
    for (std::size_t byte = 0; byte + frameBytes <= recording.size(); byte += frameBytes) {
        if (recording[byte] == (loud & 255) && (sampleBytes == 1 || recording[byte + 1] == (loud >> 8))) {
            clickByte = byte + 1;
            break;
        }
    }
    if (clickByte == 0) {
        std::fprintf(stderr, "latency: no click in %zu bytes recorded (player status %d)\n", recording.size(), status);
        return 1;
    }
    double arrival = 1e9;
    const double bytesPerSecond = static_cast<double>(rate) * frameBytes;
    for (const Read& read : reads) {
        if (read.endByte >= clickByte && read.endByte - clickByte < bytesPerSecond) {
            const double at = std::chrono::duration<double>(read.returned - clickWritten).count();
            arrival = std::min(arrival, at - static_cast<double>(read.endByte - clickByte) / bytesPerSecond);
        }
    }
    std::printf("%.3f\n", arrival);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
