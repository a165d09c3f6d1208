// Plays through a PulseAudio or PipeWire server with libpulse, on a main loop that runs only while a write waits.
// SPDX-License-Identifier: MIT
// Single-threaded: the loop is iterated only where a sound device would
// block (no room for a write, no input yet, the end of the sound), so the
// process sleeps until the server asks for more, as a device's writer does.
#include "server_stream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdint>

namespace {

// Every handle of the one connection, and what the callbacks tell.
struct Server {
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* ticker = nullptr;
    void (*tick)() = nullptr;
    pa_usec_t tickMicroseconds = 0;
    bool timedOut = false;
    bool inputReady = false;
    bool drained = false;
    bool drainSucceeded = false;
    double heard = 0;  // the most the server's account has said was heard
};
Server server;

constexpr pa_usec_t connectTimeout = 5 * PA_USEC_PER_SEC;

std::string describeFailure() {
    return pa_strerror(pa_context_errno(server.context));
}

bool isConnectionLost() {
    return !PA_CONTEXT_IS_GOOD(pa_context_get_state(server.context)) ||
           (server.stream != nullptr && !PA_STREAM_IS_GOOD(pa_stream_get_state(server.stream)));
}

// One wait for whatever comes next; false when the connection or stream is lost.
bool iterate() {
    return pa_mainloop_iterate(server.loop, 1, nullptr) >= 0 && !isConnectionLost();
}

void onTimeout(pa_mainloop_api* /*api*/, pa_time_event* /*event*/, const struct timeval* /*when*/, void* /*data*/) {
    server.timedOut = true;
}

void onTick(pa_mainloop_api* /*api*/, pa_time_event* event, const struct timeval* /*when*/, void* /*data*/) {
    server.tick();
    pa_context_rttime_restart(server.context, event, pa_rtclock_now() + server.tickMicroseconds);
}

void onInput(pa_mainloop_api* /*api*/, pa_io_event* /*event*/, int /*descriptor*/, pa_io_event_flags_t /*flags*/,
             void* /*data*/) {
    server.inputReady = true;
}

void onDrained(pa_stream* /*stream*/, int success, void* /*data*/) {
    server.drained = true;
    server.drainSucceeded = success != 0;
}

void disconnect() {
    if (server.stream != nullptr) {
        pa_stream_disconnect(server.stream);
        pa_stream_unref(server.stream);
    }
    if (server.context != nullptr) {
        pa_context_disconnect(server.context);
        pa_context_unref(server.context);
    }
    if (server.loop != nullptr) {
        pa_mainloop_free(server.loop);
    }
    server = Server{};
}

// Waits until `state` says ready or lost; the connection gives up after a
// while, as a server that does not answer is no server.
template <typename State>
std::string waitUntilReady(State state) {
    pa_time_event* timeout =
        pa_context_rttime_new(server.context, pa_rtclock_now() + connectTimeout, onTimeout, nullptr);
    std::string error;
    while (error.empty() && !state()) {
        if (!iterate()) {
            error = describeFailure();
        } else if (server.timedOut) {
            error = "the sound server does not answer";
        }
    }
    pa_mainloop_get_api(server.loop)->time_free(timeout);
    return error;
}

}  // namespace

std::string connectToServer() {
    server.loop = pa_mainloop_new();
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "dspfeed");
    server.context = pa_context_new_with_proplist(pa_mainloop_get_api(server.loop), nullptr, properties);
    pa_proplist_free(properties);
    if (server.context == nullptr || pa_context_connect(server.context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        std::string error = server.context != nullptr ? describeFailure() : "out of memory";
        disconnect();
        return error;
    }
    std::string error = waitUntilReady([] { return pa_context_get_state(server.context) == PA_CONTEXT_READY; });
    if (!error.empty()) {
        disconnect();
    }
    return error;
}

std::string openServerStream(const WavFormat& format, const std::string& name, bool timed) {
    const pa_sample_spec sampleFormat{format.sampleBytes == 1 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE,
                                      static_cast<std::uint32_t>(format.rate),
                                      static_cast<std::uint8_t>(format.channels)};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
    server.stream = pa_stream_new(server.context, name.c_str(), &sampleFormat, &map);
    if (server.stream == nullptr) {
        return describeFailure();
    }
    // What the server holds is a time, whatever the format: the sink's buffer
    // and the stream's together, as a live client asks for it; and it asks
    // for more each serverRequestSeconds rather than its own 20 ms, for fewer
    // wakeups here.
    const auto bytesOf = [&sampleFormat](double seconds) {
        return static_cast<std::uint32_t>(
            pa_usec_to_bytes(static_cast<pa_usec_t>(seconds * PA_USEC_PER_SEC), &sampleFormat));
    };
    const auto unset = static_cast<std::uint32_t>(-1);
    pa_buffer_attr attributes{unset, bytesOf(serverLatencySeconds), unset, bytesOf(serverRequestSeconds), unset};
    auto flags = PA_STREAM_ADJUST_LATENCY;
    if (timed) {
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_AUTO_TIMING_UPDATE);
    }
    if (pa_stream_connect_playback(server.stream, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
        return describeFailure();
    }
    return waitUntilReady([] { return pa_stream_get_state(server.stream) == PA_STREAM_READY; });
}

std::string waitForServerRoom(std::size_t& room) {
    while ((room = pa_stream_writable_size(server.stream)) == 0) {
        if (!iterate()) {
            return describeFailure();
        }
    }
    return room == static_cast<std::size_t>(-1) ? describeFailure() : std::string();
}

std::string writeToServer(const void* bytes, std::size_t count) {
    // A little more than the server asked for is taken at once: a device
    // blocks only while it is full.
    std::size_t room = 0;
    if (std::string error = waitForServerRoom(room); !error.empty()) {
        return error;
    }
    if (pa_stream_write(server.stream, bytes, count, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        return describeFailure();
    }
    // libpulse sends what is written from its main loop: without a turn of
    // it the sound would wait until the next time the stream is full.
    if (pa_mainloop_iterate(server.loop, 0, nullptr) < 0 || isConnectionLost()) {
        return describeFailure();
    }
    return {};
}

std::string waitForInputBeside(int descriptor) {
    pa_mainloop_api* api = pa_mainloop_get_api(server.loop);
    server.inputReady = false;
    pa_io_event* input = api->io_new(api, descriptor, PA_IO_EVENT_INPUT, onInput, nullptr);
    std::string error;
    while (error.empty() && !server.inputReady) {
        if (!iterate()) {
            error = describeFailure();
        }
    }
    api->io_free(input);
    return error;
}

std::string drainServerStream() {
    std::string error;
    if (server.stream != nullptr) {
        pa_operation* draining = pa_stream_drain(server.stream, onDrained, nullptr);
        while (error.empty() && draining != nullptr && !server.drained) {
            if (!iterate()) {
                error = describeFailure();
            }
        }
        if (draining == nullptr || (error.empty() && !server.drainSucceeded)) {
            error = describeFailure();
        }
        if (draining != nullptr) {
            pa_operation_unref(draining);
        }
    }
    disconnect();
    return error;
}

double serverHeardSeconds() {
    const pa_timing_info* timing = server.stream != nullptr ? pa_stream_get_timing_info(server.stream) : nullptr;
    if (timing == nullptr) {
        return -1;
    }
    const pa_sample_spec* format = pa_stream_get_sample_spec(server.stream);
    const auto secondsOf = [format](std::int64_t index) {
        return static_cast<double>(
                   pa_bytes_to_usec(static_cast<std::uint64_t>(std::max<std::int64_t>(index, 0)), format)) /
               PA_USEC_PER_SEC;
    };
    // What the sink has read of the stream, less what it holds before that
    // is heard; and while it plays, the time since the server told, but never
    // past what was written. Not yet playing, or after an underrun, nothing
    // more is heard: libpulse's own interpolation runs on regardless, and on
    // a sink that starts late it ran a second ahead of the sound.
    double heard = secondsOf(timing->read_index) - (static_cast<double>(timing->sink_usec) / PA_USEC_PER_SEC);
    if (timing->playing != 0) {
        heard += static_cast<double>(pa_timeval_age(&timing->timestamp)) / PA_USEC_PER_SEC;
    }
    heard = std::clamp(heard, 0.0, secondsOf(timing->write_index));
    // A sink that rewinds takes back some of what it had read, and the
    // account goes back with it: what was heard stays heard.
    server.heard = std::max(server.heard, heard);
    // A fresh account for the next time, so that little is ever guessed.
    if (pa_operation* update = pa_stream_update_timing_info(server.stream, nullptr, nullptr)) {
        pa_operation_unref(update);
    }
    return server.heard;
}

void tickWhileWaiting(void (*tick)(), double seconds) {
    server.tick = tick;
    server.tickMicroseconds = static_cast<pa_usec_t>(seconds * PA_USEC_PER_SEC);
    server.ticker = pa_context_rttime_new(server.context, pa_rtclock_now() + server.tickMicroseconds, onTick, nullptr);
}
