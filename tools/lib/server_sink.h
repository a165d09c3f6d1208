// The bridge's way out to a PulseAudio or PipeWire server: a playback stream, written as a sound device is.
// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge_protocol.h"
#include "sound_sink.h"

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

// Connects, as the player starts, to the server that the environment and
// the client configuration name; a server that does not answer fails the
// device's open, with the failed line. The stream opens with the first
// frame, named as `request` asks, and where it asks for a meter, the lines
// of what is heard are written out while the stream waits.
std::unique_ptr<SoundSink> makeServerSink(const BridgeRequest& request, WriteOut writeOut);

// Whether a server answers: a connection made and closed at once.
bool isServerAnswering();
// The server's sinks, and in `defaultSink` the one a stream goes to unless
// asked otherwise. Returns why the server could not tell, or nothing.
std::string listServerSinks(std::vector<SoundOutput>& sinks, std::string& defaultSink);
