// The tools' inputs, and the outputs they write without ever losing a file that was there.
// SPDX-License-Identifier: MIT
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Opens an input by name, "-" being standard input; a directory fails with
// EISDIR. Returns the descriptor, or -1 with errno set.
int openInput(const std::string& path, struct stat& status);

// Says once, for `tool`, how a stream typed on a terminal is ended, when the
// input is one: otherwise a tool waiting for it would seem to hang.
void tellHowTerminalInputEnds(const char* tool, int input);

// Where a tool's output goes. A regular file is written as a temporary file
// beside it, which takes its place only when finished; anything else (a
// pipe, a terminal, a device, "-" for standard output) is written directly
// and never removed. An output that goes out of scope unfinished is given up:
// the temporary file goes, and whatever was there stays.
struct OutputFile {
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    std::string name;  // as the user gave it, for messages
    int descriptor = -1;
    std::string temporary;   // the file being written, empty when writing directly
    std::string target;      // what the temporary file will replace or become
    bool seekable = false;   // a regular file, whose header can be written again
    bool freshName = false;  // the target's name is only a wish: a free one near it is taken
};

// Opens the output named `path` ("-" for standard output). An output that is
// the input (`input`, when not null) is refused. Returns an empty string, or
// what is wrong, for a message.
std::string openOutput(const std::string& path, const struct stat* input, OutputFile& output);

// Opens a new file in the current directory for `stem`: it will become the
// first of STEM.wav, STEM-1.wav, STEM-2.wav ... that does not exist, and
// never replace one.
std::string openNewOutput(const std::string& stem, const char* extension, OutputFile& output);

// Writes every byte, or returns false with errno set.
bool writeAll(int descriptor, const void* bytes, std::size_t count);

// Copies what `input` holds, to its end, into `output`, adding the bytes to
// `copied`. Returns 0, or the errno of the read or the write that failed,
// with `readFailed` saying which.
int copyAll(int input, int output, std::uint64_t& copied, bool& readFailed);

// Puts a finished output in place: flushed to the disk, then renamed over
// the target. Returns an empty string, or the reason it failed, after which
// no temporary file is left. For openNewOutput, output.name then names the
// file made.
std::string finishOutput(OutputFile& output);
