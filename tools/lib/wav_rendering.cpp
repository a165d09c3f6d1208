// Runs the player with the bridge in WAV mode and copies what it sends into the output, checking every write.
// SPDX-License-Identifier: MIT
#include "wav_rendering.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "player_launch.h"
#include "spawning.h"
#include "wav_format.h"

namespace {

// Reads up to `count` bytes, fewer only at the end of the pipe.
std::size_t readFully(int descriptor, unsigned char* bytes, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
        const ssize_t read = ::read(descriptor, bytes + got, count - got);
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0) {
            break;
        }
        got += static_cast<std::size_t>(read);
    }
    return got;
}

// Writes the file header (to a stream, the bridge's own, of unknown
// lengths), then copies the sound after it. Returns 0 or the errno of the
// write that failed; a pipe that cannot be read ends the sound, and the
// player's status says why.
int writeSound(int sound, const unsigned char* streamHeader, const WavFormat& format, OutputFile& output,
               std::uint64_t& dataBytes) {
    const std::vector<unsigned char> header =
        output.seekable ? makeWavFileHeader(format, 0)
                        : std::vector<unsigned char>(streamHeader, streamHeader + wavStreamHeaderBytes);
    if (!writeAll(output.descriptor, header.data(), header.size())) {
        return errno;
    }
    bool readFailed = false;
    const int error = copyAll(sound, output.descriptor, dataBytes, readFailed);
    return readFailed ? 0 : error;
}

// A file gets the pad byte after odd data, and its lengths in the header
// at `start`. (A stream of unknown length ends where the data does.)
int completeWavFile(OutputFile& output, const WavFormat& format, std::uint64_t dataBytes, off_t start) {
    if (dataBytes % 2 != 0 && !writeAll(output.descriptor, "", 1)) {
        return errno;
    }
    const std::vector<unsigned char> header = makeWavFileHeader(format, dataBytes);
    const ssize_t written = pwrite(output.descriptor, header.data(), header.size(), start);
    return written == static_cast<ssize_t>(header.size()) ? 0 : written < 0 ? errno : EIO;
}

}  // namespace

int renderWav(const char* tool, const ToolParts& parts, int input, OutputFile& output) {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) {
        return failWriting(tool, output.name, std::strerror(errno));
    }
    const pid_t player = startPlayer(parts, BridgeRequest{.output = BridgeOutput::wav}, input, pipe[1]);
    const int startError = errno;
    close(pipe[1]);
    if (player < 0) {
        close(pipe[0]);
        std::fprintf(stderr, "%s: cannot start %s: %s\n", tool, parts.player.c_str(), std::strerror(startError));
        return exitPlayerFailed;
    }

    // The bridge sends nothing at all when the player failed before its
    // first frame; otherwise a header, whose format the file header repeats.
    unsigned char streamHeader[wavStreamHeaderBytes];
    WavFormat format;
    const bool sound = readFully(pipe[0], streamHeader, sizeof streamHeader) == sizeof streamHeader &&
                       readWavStreamHeader(streamHeader, format);
    const off_t start = output.seekable ? lseek(output.descriptor, 0, SEEK_CUR) : 0;
    std::uint64_t dataBytes = 0;
    const int writeError = sound ? writeSound(pipe[0], streamHeader, format, output, dataBytes) : 0;
    // The output failed: the player is stopped before it meets the closed
    // pipe, so that only the real cause is told, not a failed device write.
    // (SIGKILL, which no player started ignoring SIGTERM can ignore.)
    if (writeError != 0) {
        kill(player, SIGKILL);
    }
    // Closed before waiting: a player still writing then fails at once.
    close(pipe[0]);
    const int status = waitForProcess(player);
    if (writeError != 0) {
        return failWriting(tool, output.name, std::strerror(writeError));
    }
    if (status == 0 && !sound) {
        std::fprintf(stderr, "%s: the player sent no sound\n", tool);
    }
    if (status != 0 || !sound) {
        return status != 0 ? status : exitPlayerFailed;
    }
    if (const int error = output.seekable ? completeWavFile(output, format, dataBytes, start) : 0; error != 0) {
        return failWriting(tool, output.name, std::strerror(error));
    }
    if (const std::string error = finishOutput(output); !error.empty()) {
        return failWriting(tool, output.name, error);
    }
    return exitDone;
}
