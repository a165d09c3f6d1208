// A playback stream on a PulseAudio or PipeWire server, written as a sound device is: a write waits for room.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

#include "wav_format.h"

// The latency asked of the server: what it holds ahead of what is heard, the
// sink's own buffer included. Lower costs wakeups; 40 ms dropped out on
// PipeWire.
constexpr double serverLatencySeconds = 0.2;
// How much the server asks for at a time. What is left of half the latency
// after a request is the sink's own buffer, or on PipeWire the period of its
// graph: 50 ms lets the graph run at its longest period, 2048 frames, as
// pacat's stream lets it. At 60 ms it ran at 1024, and a 60 ms stall of the
// server's thread lost a period of sound.
constexpr double serverRequestSeconds = 0.05;

// Connects to the server that the environment and the client configuration
// name. Returns an empty string, or why it cannot, for a message.
std::string connectToServer();

// Opens the playback stream, named `name`. A timed stream keeps the server's
// account of what has been heard up to date, for serverHeardSeconds.
std::string openServerStream(const WavFormat& format, const std::string& name, bool timed);

// Waits until the server has room for more, as a device's blocking write
// does, and says how much.
std::string waitForServerRoom(std::size_t& room);

// Hands whole frames to the server, first waiting until it has room.
std::string writeToServer(const void* bytes, std::size_t count);

// Serves the stream until `descriptor` has something to read.
std::string waitForInputBeside(int descriptor);

// Waits until all that was written has been heard, then closes the stream
// and the connection.
std::string drainServerStream();

// How much of the stream has been heard, by the server's account; -1 before
// the server has told.
double serverHeardSeconds();

// Calls `tick` about every `seconds` while the stream waits for room, for
// input or for the end of the sound.
void tickWhileWaiting(void (*tick)(), double seconds);
