// Reads the bridge's WAV stream from a player and hands it to the relay's own sink, serving the sink while the player
// is quiet. SPDX-License-Identifier: MIT
#include "sink_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "live_pacing.h"
#include "server_sink.h"

namespace {

// What the sink has said (the lines of what is heard, of its failure),
// until the relay reads it: a sink writes through a plain function.
std::string sinkSaid;

bool takeSinkLines(const void* bytes, std::size_t count) {
    sinkSaid.append(static_cast<const char*>(bytes), count);
    return true;
}

// Reads what the sink said after a call, and notes what it returns.
bool hearSink(SinkRelay& relay, int error) {
    for (std::size_t end = 0; (end = sinkSaid.find('\n')) != std::string::npos; sinkSaid.erase(0, end + 1)) {
        const std::string line = sinkSaid.substr(0, end);
        double heard = 0;
        Levels levels;
        if (readHeardLine(line, heard, levels)) {
            if (relay.showHeard) {
                relay.showHeard(heard, levels);
            }
        } else if (std::string reason; readFailedLine(line, reason) && relay.failure.empty()) {
            relay.failure = reason;
        }
    }
    if (error != 0 && relay.failure.empty()) {
        relay.failure = std::strerror(error);
    }
    return relay.failure.empty();
}

// The bridge's first line, read a byte at a time, so that the sound after it
// stays in the pipe.
bool readBridgeFormat(int sound, WavFormat& format) {
    std::string line;
    char character = 0;
    constexpr std::size_t longestLine = 80;
    while (line.size() < longestLine && read(sound, &character, 1) == 1 && character != '\n') {
        line += character;
    }
    return readFormatLine(line, format);
}

// The WAV stream's header, which says nothing the format line did not.
bool skipWavHeader(int sound) {
    unsigned char header[wavStreamHeaderBytes];
    for (std::size_t got = 0; got < sizeof header;) {
        const ssize_t part = read(sound, header + got, sizeof header - got);
        if (part < 0 && errno == EINTR) {
            continue;
        }
        if (part <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(part);
    }
    return true;
}

bool openStream(const WavFormat& format, const std::string& streamName, SinkRelay& relay) {
    BridgeRequest request = relay.request;
    request.streamName = streamName;
    relay.sink = relay.makeSink(request, takeSinkLines);
    relay.format = format;
    relay.handedOn = 0;
    relay.starts.clear();
    std::vector<unsigned char> ahead;
    return hearSink(relay, relay.sink->checkOpen()) && hearSink(relay, relay.sink->start(format, ahead));
}

bool isReadable(int descriptor) {
    pollfd input{descriptor, POLLIN, 0};
    return poll(&input, 1, 0) > 0;
}

// Reads at most `count` bytes, first serving a sink that wants it while
// nothing comes.
ssize_t readServing(int sound, unsigned char* bytes, std::size_t count, SinkRelay& relay) {
    if (relay.sink->servesWhileWaiting() && !isReadable(sound) &&
        !hearSink(relay, relay.sink->serveUntilReadable(sound))) {
        return -1;
    }
    ssize_t got = 0;
    while ((got = read(sound, bytes, count)) < 0 && errno == EINTR) {
    }
    return got;
}

}  // namespace

bool relaySound(int sound, const std::string& streamName, SinkRelay& relay) {
    WavFormat format;
    if (!readBridgeFormat(sound, format) || !skipWavHeader(sound)) {
        return relay.failure.empty();  // the player failed before its first frame, and said so
    }
    // The pipe holds what a server asks for at once, so that one read can
    // meet its request, and no more, for live input: at least a page.
    (void)fcntl(sound, F_SETPIPE_SZ, static_cast<int>(countBytesPerSecond(format) * serverRequestSeconds));
    if (relay.sink && format != relay.format && !finishRelay(relay)) {
        return false;
    }
    if (!relay.sink && !openStream(format, streamName, relay)) {
        return false;
    }
    relay.starts.emplace_back(static_cast<double>(relay.handedOn) / countBytesPerSecond(format), relay.place);
    const std::size_t frameBytes = countFrameBytes(format);
    std::vector<unsigned char> bytes;
    std::size_t kept = 0;  // the start of a frame, from the last read
    for (;;) {
        // All the sink has room for goes in one hand-over, as the bridge
        // gathers it, or at least 20 ms; but only what is already here: the
        // relay never waits to gather more.
        std::size_t room = 0;
        if (!hearSink(relay, relay.sink->askRoom(room))) {
            return false;
        }
        const std::size_t wanted = std::max(room, countGatherBytes(format)) + frameBytes;
        bytes.resize(std::max(bytes.size(), wanted));
        ssize_t got = readServing(sound, bytes.data() + kept, wanted - kept, relay);
        std::size_t have = kept + static_cast<std::size_t>(std::max<ssize_t>(got, 0));
        while (got > 0 && have < wanted && isReadable(sound) &&
               (got = read(sound, bytes.data() + have, wanted - have)) > 0) {
            have += static_cast<std::size_t>(got);
        }
        const std::size_t whole = have / frameBytes * frameBytes;
        if (whole > 0 && !hearSink(relay, relay.sink->handOver(bytes.data(), whole))) {
            return false;
        }
        relay.handedOn += whole;
        kept = have - whole;
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(whole), bytes.begin() + static_cast<std::ptrdiff_t>(have),
                  bytes.begin());
        if (got <= 0) {
            break;  // the player's sound ended
        }
    }
    return relay.failure.empty();
}

bool finishRelay(SinkRelay& relay) {
    if (relay.sink) {
        (void)hearSink(relay,
                       relay.sink->finish(static_cast<double>(relay.handedOn) / countBytesPerSecond(relay.format)));
        relay.sink.reset();
    }
    return relay.failure.empty();
}
