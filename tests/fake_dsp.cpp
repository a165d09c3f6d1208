// A fake OSS driver, preloaded into dspfeed, that takes over "/dev/dsp" (or FAKE_DSP_PATH) only.
// SPDX-License-Identifier: MIT
//
// A test scripts it through the environment:
//   FAKE_DSP_LOG       file to append one line per call to; unset logs nothing
//   FAKE_DSP_PATH      the device node it takes over, in place of /dev/dsp
//   FAKE_DSP_OPEN      "fail" makes opening the device fail with ENOENT
//   FAKE_DSP_SETFMT, FAKE_DSP_CHANNELS, FAKE_DSP_SPEED
//                      unset grants the value asked for, "refuse" fails the
//                      request, a number is answered instead
//   FAKE_DSP_ANSWERS   "kernel" answers what is not scripted as the kernel's
//                      OSS emulation does
//   FAKE_DSP_WRITES    comma-separated, one entry per write in turn: a number N
//                      accepts at most N bytes, "eintr" and "fail" return -1
//                      with EINTR or EIO; later writes accept everything
//   FAKE_DSP_INPUT_FAILS_AFTER
//                      a number N: reads of standard input fail with EIO
//                      once N bytes of it have been read, as a failing disk's
// The descriptor is one of /dev/null; written bytes go nowhere but the log,
// and with neither a log nor a write script a write costs next to nothing.
#include <linux/soundcard.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "device_interposition.h"
#include "oss_answers.h"

namespace {

int fakeDescriptor = -1;
int writeCount = 0;

// Read once: a run's script does not change while it plays.
const char* const logPath = std::getenv("FAKE_DSP_LOG");
const char* const writeScript = std::getenv("FAKE_DSP_WRITES");
const char* const inputFailsAfter = std::getenv("FAKE_DSP_INPUT_FAILS_AFTER");
const char* const devicePath = std::getenv("FAKE_DSP_PATH");
const bool answersAsKernel =
    std::getenv("FAKE_DSP_ANSWERS") != nullptr && std::string(std::getenv("FAKE_DSP_ANSWERS")) == "kernel";
std::size_t inputRead = 0;

void logLine(const std::string& line) {
    if (logPath == nullptr) {
        return;
    }
    // Kept above the standard descriptors, so that the log never takes one
    // the player left closed and so never hides what the player does with it.
    const int opened = realOpen(logPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int log = fcntl(opened, F_DUPFD_CLOEXEC, 10);
    realClose(opened);
    const std::string text = line + "\n";
    realWrite(log, text.data(), text.size());
    realClose(log);
}

std::string describeFlags(int flags) {
    const int access = flags & O_ACCMODE;
    std::string text = access == O_RDWR ? "O_RDWR" : access == O_WRONLY ? "O_WRONLY" : "O_RDONLY";
    if ((flags & ~O_ACCMODE) != 0) {
        char extra[32];
        std::snprintf(extra, sizeof extra, "|0x%x", flags & ~O_ACCMODE);
        text += extra;
    }
    return text;
}

}  // namespace

int device::open(const char* function, int flags) {
    const char* script = std::getenv("FAKE_DSP_OPEN");
    if (script != nullptr && std::strcmp(script, "fail") == 0) {
        logLine(std::string(function) + " " + describeFlags(flags) + " -> ENOENT");
        errno = ENOENT;
        return -1;
    }
    fakeDescriptor = realOpen("/dev/null", O_RDWR);
    // A device on a standard descriptor would be sent what is meant for it.
    const std::string onStandard = fakeDescriptor <= 2 ? " -> descriptor " + std::to_string(fakeDescriptor) : "";
    logLine(std::string(function) + " " + describeFlags(flags) + onStandard);
    return fakeDescriptor;
}

namespace {

// The entry of the write script for the write with the given index.
std::string writeAction(int index) {
    std::string rest = writeScript != nullptr ? writeScript : "";
    for (int skipped = 0; skipped < index; ++skipped) {
        const size_t comma = rest.find(',');
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    }
    return rest.substr(0, rest.find(','));
}

struct Request {
    unsigned long code;
    const char* name;
    const char* script;
};

constexpr Request requests[] = {
    {SNDCTL_DSP_SETFMT, "SNDCTL_DSP_SETFMT", "FAKE_DSP_SETFMT"},
    {SNDCTL_DSP_CHANNELS, "SNDCTL_DSP_CHANNELS", "FAKE_DSP_CHANNELS"},
    {SNDCTL_DSP_SPEED, "SNDCTL_DSP_SPEED", "FAKE_DSP_SPEED"},
};

}  // namespace

int device::request(unsigned long code, int* value) {
    for (const Request& request : requests) {
        if (request.code != code) {
            continue;
        }
        const std::string asked = std::string("ioctl ") + request.name + " " + std::to_string(*value);
        const char* answer = std::getenv(request.script);
        if (answer != nullptr && std::strcmp(answer, "refuse") == 0) {
            logLine(asked + " -> refused");
            errno = EINVAL;
            return -1;
        }
        if (answer != nullptr) {
            *value = std::atoi(answer);
        } else if (answersAsKernel) {
            const std::optional<std::int32_t> channels = answerChannels(*value);
            if (code == SNDCTL_DSP_CHANNELS && !channels) {
                logLine(asked + " -> refused");
                errno = EINVAL;
                return -1;
            }
            *value = code == SNDCTL_DSP_SETFMT  ? answerFormat(*value)
                     : code == SNDCTL_DSP_SPEED ? answerRate(*value)
                                                : channels.value_or(*value);
        }
        logLine(asked + " -> " + std::to_string(*value));
        return 0;
    }
    char unknown[48];
    std::snprintf(unknown, sizeof unknown, "ioctl 0x%lx -> EINVAL", code);
    logLine(unknown);
    errno = EINVAL;
    return -1;
}

ssize_t device::write(const void* bytes, size_t count) {
    // Unscripted and unlogged, a write costs next to nothing, so that a
    // benchmark measures the player alone.
    if (logPath == nullptr && writeScript == nullptr) {
        return static_cast<ssize_t>(count);
    }
    const std::string action = writeAction(writeCount++);
    std::string line = "write " + std::to_string(count) + ":";
    const auto* data = static_cast<const unsigned char*>(bytes);
    for (size_t index = 0; index < count; ++index) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", data[index]);
        line += hex;
    }
    if (action == "eintr" || action == "fail") {
        logLine(line + (action == "eintr" ? " -> EINTR" : " -> EIO"));
        errno = action == "eintr" ? EINTR : EIO;
        return -1;
    }
    size_t accepted = count;
    if (!action.empty() && std::strtoul(action.c_str(), nullptr, 10) < count) {
        accepted = std::strtoul(action.c_str(), nullptr, 10);
    }
    logLine(line + " -> " + std::to_string(accepted));
    return static_cast<ssize_t>(accepted);
}

void device::close() {
    logLine("close");
    fakeDescriptor = -1;
}

extern "C" DEVICE_EXPORT ssize_t read(int descriptor, void* bytes, size_t count) {
    static auto* real = findReal<ssize_t(int, void*, size_t)>("read");
    if (descriptor != 0 || inputFailsAfter == nullptr) {
        return real(descriptor, bytes, count);
    }
    const std::size_t limit = std::strtoull(inputFailsAfter, nullptr, 10);
    if (inputRead >= limit) {
        errno = EIO;
        return -1;
    }
    const ssize_t got = real(descriptor, bytes, std::min(count, limit - inputRead));
    inputRead += got > 0 ? static_cast<std::size_t>(got) : 0;
    return got;
}

const char* device::path() {
    return devicePath != nullptr ? devicePath : "/dev/dsp";
}

bool device::owns(int descriptor) {
    return descriptor == fakeDescriptor && fakeDescriptor >= 0;
}
