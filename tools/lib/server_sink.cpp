// Plays through a PulseAudio or PipeWire server with libpulse, on a main loop that runs only while a write waits.
// SPDX-License-Identifier: MIT
// Single-threaded: the loop is served only where a sound device would block
// (no room for a write, no input yet, the end of the sound), so the process
// sleeps until the server asks for more, as a device's writer does.
#include "server_sink.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

#include "sound_levels.h"

namespace {

constexpr pa_usec_t connectTimeout = 5 * PA_USEC_PER_SEC;

// The connection to the server, and the one main loop that serves it.
class Connection {
public:
    // Connects; `error` says why it could not, for a message.
    Connection() {
        loop_ = pa_mainloop_new();
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "dspfeed");
        context_ = pa_context_new_with_proplist(pa_mainloop_get_api(loop_), nullptr, properties);
        pa_proplist_free(properties);
        if (context_ == nullptr || pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
            error = context_ != nullptr ? describeFailure() : "out of memory";
            return;
        }
        error = waitUntilReady([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection(Connection&&) = delete;
    Connection& operator=(Connection&&) = delete;

    ~Connection() { close(); }

    void close() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_ != nullptr) {
            pa_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }

    pa_context* context() const { return context_; }
    pa_mainloop_api* api() const { return pa_mainloop_get_api(loop_); }

    std::string describeFailure() const { return pa_strerror(pa_context_errno(context_)); }

    // Every wait is served here: one turn of the loop, waiting for what
    // comes next where `block` says so, then the stream's state. False when
    // the connection or the stream is lost.
    bool serve(bool block, pa_stream* stream = nullptr) {
        return pa_mainloop_iterate(loop_, block ? 1 : 0, nullptr) >= 0 &&
               PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) &&
               (stream == nullptr || PA_STREAM_IS_GOOD(pa_stream_get_state(stream)));
    }

    // Serves until `done`; a server that does not answer for a while is no
    // server. Returns why it failed, or nothing.
    template <typename Done>
    std::string waitUntilReady(Done done, pa_stream* stream = nullptr) {
        bool timedOut = false;
        pa_time_event* timeout = pa_context_rttime_new(
            context_, pa_rtclock_now() + connectTimeout,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* flag) {
                *static_cast<bool*>(flag) = true;
            },
            &timedOut);
        std::string failure;
        while (failure.empty() && !done()) {
            if (!serve(true, stream)) {
                failure = describeFailure();
            } else if (timedOut) {
                failure = "the sound server does not answer";
            }
        }
        api()->time_free(timeout);
        return failure;
    }

    std::string error;  // why it could not connect, or nothing

private:
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

class ServerSink : public SoundSink {
public:
    ServerSink(const BridgeRequest& request, WriteOut writeOut) : request_(request), report_(writeOut) {}
    ServerSink(const ServerSink&) = delete;
    ServerSink& operator=(const ServerSink&) = delete;
    ServerSink(ServerSink&&) = delete;
    ServerSink& operator=(ServerSink&&) = delete;
    ~ServerSink() override { closeStream(); }

    int checkOpen() override { return connection_.error.empty() ? 0 : report_.fail(connection_.error); }

    int start(const WavFormat& format, std::vector<unsigned char>& /*ahead*/) override {
        format_ = format;
        if (const std::string error = openStream(); !error.empty()) {
            return report_.fail(error);
        }
        if (request_.metered) {
            meter_ = std::make_unique<LevelTracker>(format);
            tickMicroseconds_ = static_cast<pa_usec_t>(updateSeconds * PA_USEC_PER_SEC);
            ticker_ = pa_context_rttime_new(connection_.context(), pa_rtclock_now() + tickMicroseconds_, onTick, this);
        }
        return 0;
    }

    // All that the server asks for goes in one write, as each write wakes
    // it; but no more than the server itself holds, so that no more waits
    // here.
    int askRoom(std::size_t& room) override {
        if (const std::string error = waitForRoom(room); !error.empty()) {
            room = 0;
            return report_.fail(error);
        }
        room = std::min(room, static_cast<std::size_t>(countBytesPerSecond(format_) * serverLatencySeconds));
        return report_.failure();
    }

    int handOver(const unsigned char* bytes, std::size_t count) override {
        if (report_.failure() != 0) {
            return report_.failure();
        }
        // A little more than the server asked for is taken at once: a device
        // blocks only while it is full.
        std::size_t room = 0;
        if (std::string error = waitForRoom(room); !error.empty()) {
            return report_.fail(error);
        }
        if (pa_stream_write(stream_, bytes, count, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return report_.fail(connection_.describeFailure());
        }
        if (meter_) {
            meter_->add(bytes, count);
        }
        // libpulse sends what is written from its main loop: without a turn
        // of it the sound would wait until the next time the stream is full.
        if (!connection_.serve(false, stream_)) {
            return report_.fail(connection_.describeFailure());
        }
        return report_.failure();
    }

    bool servesWhileWaiting() const override { return meter_ != nullptr && report_.failure() == 0; }

    int serveUntilReadable(int descriptor) override {
        bool ready = false;
        pa_io_event* input = connection_.api()->io_new(
            connection_.api(), descriptor, PA_IO_EVENT_INPUT,
            [](pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* flag) {
                *static_cast<bool*>(flag) = true;
            },
            &ready);
        std::string error;
        while (error.empty() && !ready) {
            if (!connection_.serve(true, stream_)) {
                error = connection_.describeFailure();
            }
        }
        connection_.api()->io_free(input);
        return error.empty() ? report_.failure() : report_.fail(error);
    }

    bool pacesInput() const override { return true; }

    // Waits until all that was written has been heard, then closes the
    // stream and the connection; the last line of what is heard tells all
    // of it.
    int finish(double seconds) override {
        if (stream_ != nullptr) {
            if (const std::string error = drain(); !error.empty()) {
                (void)report_.fail(error);
            } else if (meter_ && report_.failure() == 0) {
                report_.tellHeard(seconds, *meter_, format_);
            }
        }
        closeStream();
        meter_.reset();
        connection_.close();
        return report_.failure();
    }

private:
    std::string openStream() {
        const pa_sample_spec sampleFormat{format_.sampleBytes == 1 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE,
                                          static_cast<std::uint32_t>(format_.sampleRate),
                                          static_cast<std::uint8_t>(format_.channels)};
        pa_channel_map map;
        pa_channel_map_init_extend(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
        stream_ = pa_stream_new(connection_.context(), request_.streamName.c_str(), &sampleFormat, &map);
        if (stream_ == nullptr) {
            return connection_.describeFailure();
        }
        // What the server holds is a time, whatever the format: the sink's
        // buffer and the stream's together, as a live client asks for it; and
        // it asks for more each serverRequestSeconds rather than its own
        // 20 ms, for fewer wakeups here. A metered stream keeps the server's
        // account of what has been heard up to date.
        const auto bytesOf = [&sampleFormat](double seconds) {
            return static_cast<std::uint32_t>(
                pa_usec_to_bytes(static_cast<pa_usec_t>(seconds * PA_USEC_PER_SEC), &sampleFormat));
        };
        const auto unset = static_cast<std::uint32_t>(-1);
        pa_buffer_attr attributes{unset, bytesOf(serverLatencySeconds), unset, bytesOf(serverRequestSeconds), unset};
        auto flags = PA_STREAM_ADJUST_LATENCY;
        if (request_.metered) {
            flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_AUTO_TIMING_UPDATE);
        }
        const char* sink = request_.device.empty() ? nullptr : request_.device.c_str();
        if (pa_stream_connect_playback(stream_, sink, &attributes, flags, nullptr, nullptr) < 0) {
            return connection_.describeFailure();
        }
        return connection_.waitUntilReady([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }, stream_);
    }

    // Waits until the server has room for more, as a device's blocking
    // write does, and says how much.
    std::string waitForRoom(std::size_t& room) {
        while ((room = pa_stream_writable_size(stream_)) == 0) {
            if (!connection_.serve(true, stream_)) {
                return connection_.describeFailure();
            }
        }
        return room == static_cast<std::size_t>(-1) ? connection_.describeFailure() : std::string();
    }

    std::string drain() {
        bool drained = false;
        bool succeeded = false;
        struct Outcome {
            bool* drained;
            bool* succeeded;
        } outcome{&drained, &succeeded};
        pa_operation* draining = pa_stream_drain(
            stream_,
            [](pa_stream*, int success, void* told) {
                *static_cast<Outcome*>(told)->drained = true;
                *static_cast<Outcome*>(told)->succeeded = success != 0;
            },
            &outcome);
        std::string error;
        while (error.empty() && draining != nullptr && !drained) {
            if (!connection_.serve(true, stream_)) {
                error = connection_.describeFailure();
            }
        }
        if (draining == nullptr || (error.empty() && !succeeded)) {
            error = connection_.describeFailure();
        }
        if (draining != nullptr) {
            pa_operation_unref(draining);
        }
        return error;
    }

    void closeStream() {
        if (ticker_ != nullptr) {
            connection_.api()->time_free(ticker_);
            ticker_ = nullptr;
        }
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }

    static void onTick(pa_mainloop_api* /*api*/, pa_time_event* event, const struct timeval* /*when*/, void* sink) {
        auto* self = static_cast<ServerSink*>(sink);
        if (const double heard = self->heardSeconds(); heard >= 0 && self->report_.failure() == 0) {
            self->report_.tellHeard(heard, *self->meter_, self->format_);
        }
        pa_context_rttime_restart(self->connection_.context(), event, pa_rtclock_now() + self->tickMicroseconds_);
    }

    // How much of the stream has been heard, by the server's account; -1
    // before the server has told.
    double heardSeconds() {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
        if (timing == nullptr) {
            return -1;
        }
        const pa_sample_spec* format = pa_stream_get_sample_spec(stream_);
        const auto secondsOf = [format](std::int64_t index) {
            return static_cast<double>(
                       pa_bytes_to_usec(static_cast<std::uint64_t>(std::max<std::int64_t>(index, 0)), format)) /
                   PA_USEC_PER_SEC;
        };
        // What the sink has read of the stream, less what it holds before
        // that is heard; and while it plays, the time since the server told,
        // but never past what was written. Not yet playing, or after an
        // underrun, nothing more is heard: libpulse's own interpolation runs
        // on regardless, and on a sink that starts late it ran a second ahead
        // of the sound.
        double heard = secondsOf(timing->read_index) - (static_cast<double>(timing->sink_usec) / PA_USEC_PER_SEC);
        if (timing->playing != 0) {
            heard += static_cast<double>(pa_timeval_age(&timing->timestamp)) / PA_USEC_PER_SEC;
        }
        heard = std::clamp(heard, 0.0, secondsOf(timing->write_index));
        // A sink that rewinds takes back some of what it had read, and the
        // account goes back with it: what was heard stays heard.
        heard_ = std::max(heard_, heard);
        // A fresh account for the next time, so that little is ever guessed.
        if (pa_operation* update = pa_stream_update_timing_info(stream_, nullptr, nullptr)) {
            pa_operation_unref(update);
        }
        return heard_;
    }

    BridgeRequest request_;
    SinkReport report_;
    Connection connection_;  // made as the player starts, before it reads any input
    WavFormat format_;
    pa_stream* stream_ = nullptr;
    std::unique_ptr<LevelTracker> meter_;  // what the server was given, for the lines of what is heard
    pa_time_event* ticker_ = nullptr;
    pa_usec_t tickMicroseconds_ = 0;
    double heard_ = 0;  // the most the server's account has said was heard
};

}  // namespace

std::unique_ptr<SoundSink> makeServerSink(const BridgeRequest& request, WriteOut writeOut) {
    return std::make_unique<ServerSink>(request, writeOut);
}

bool isServerAnswering() {
    return Connection().error.empty();
}

std::string listServerSinks(std::vector<SoundOutput>& sinks, std::string& defaultSink) {
    struct Answers {
        std::vector<SoundOutput> sinks;
        std::string defaultSink;
        int pending = 2;  // the list and the server's own account
    } answers;
    Connection connection;
    if (!connection.error.empty()) {
        return connection.error;
    }
    const auto takeSink = [](pa_context*, const pa_sink_info* sink, int last, void* told) {
        auto* answers = static_cast<Answers*>(told);
        if (last != 0) {
            --answers->pending;
        } else if (sink != nullptr) {
            answers->sinks.push_back({sink->name, sink->description != nullptr ? sink->description : ""});
        }
    };
    const auto takeServer = [](pa_context*, const pa_server_info* server, void* told) {
        auto* answers = static_cast<Answers*>(told);
        if (server != nullptr && server->default_sink_name != nullptr) {
            answers->defaultSink = server->default_sink_name;
        }
        --answers->pending;
    };
    pa_operation* listing = pa_context_get_sink_info_list(connection.context(), takeSink, &answers);
    pa_operation* server = pa_context_get_server_info(connection.context(), takeServer, &answers);
    std::string error = connection.describeFailure();
    if (listing != nullptr && server != nullptr) {
        error = connection.waitUntilReady([&answers] { return answers.pending == 0; });
    }
    for (pa_operation* operation : {listing, server}) {
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
    }
    sinks = answers.sinks;
    defaultSink = answers.defaultSink;
    return error;
}
