// Takes over "/dev/dsp" inside a process from a preloaded library: the fake test driver and the sound bridge.
// SPDX-License-Identifier: MIT
//
// Included once by such a library, which defines the five functions of
// namespace `device` below. The calls a player makes of "/dev/dsp" (open,
// open64, openat, ioctl, write, close) go to them; every other call goes on
// to the C library. (The bridge also takes the player's read of its input,
// in dspfeed_bridge.cpp, to hand on what it gathered before the player waits.)
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>

#include <cstdarg>
#include <cstring>

namespace device {

// Opens the device for `function` ("open", "open64" or "openat"): returns a
// descriptor the library owns, or -1 with errno set.
int open(const char* function, int flags);
// Answers a request on the device's descriptor.
int request(unsigned long code, int* value);
// Takes bytes written to the device's descriptor.
ssize_t write(const void* bytes, size_t count);
// The device's descriptor is being closed.
void close();
// Whether a descriptor is the device's.
bool owns(int descriptor);
// The path the library takes over: "/dev/dsp", unless a test says otherwise.
const char* path();

}  // namespace device

// Each library includes this once, into one source file.
namespace {  // NOLINT(cert-dcl59-cpp)

template <typename Function>
Function* findReal(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

[[maybe_unused]] int realOpen(const char* path, int flags, mode_t mode = 0) {
    static auto* real = findReal<int(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

ssize_t realWrite(int descriptor, const void* bytes, size_t count) {
    static auto* real = findReal<ssize_t(int, const void*, size_t)>("write");
    return real(descriptor, bytes, count);
}

int realClose(int descriptor) {
    static auto* real = findReal<int(int)>("close");
    return real(descriptor);
}

mode_t modeArgument(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
}

// The device is told by its path alone; every other open goes on as the
// openat relative to the working directory that it is.
int interceptOpen(const char* function, int directory, const char* path, int flags, mode_t mode) {
    if (path != nullptr && std::strcmp(path, device::path()) == 0) {
        return device::open(function, flags);
    }
    static auto* real = findReal<int(int, const char*, int, ...)>("openat");
    return real(directory, path, flags, mode);
}

}  // namespace

// Built with hidden visibility, the library exports these alone, and calls
// the device's functions directly: one of them runs for every frame.
#define DEVICE_EXPORT __attribute__((visibility("default")))

extern "C" {

DEVICE_EXPORT int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return interceptOpen("open", AT_FDCWD, path, flags, mode);
}

DEVICE_EXPORT int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return interceptOpen("open64", AT_FDCWD, path, flags, mode);
}

DEVICE_EXPORT int openat(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return interceptOpen("openat", directory, path, flags, mode);
}

DEVICE_EXPORT int ioctl(int descriptor, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (device::owns(descriptor)) {
        return device::request(request, static_cast<int*>(argument));
    }
    static auto* real = findReal<int(int, unsigned long, ...)>("ioctl");
    return real(descriptor, request, argument);
}

DEVICE_EXPORT ssize_t write(int descriptor, const void* bytes, size_t count) {
    if (device::owns(descriptor)) {
        return device::write(bytes, count);
    }
    return realWrite(descriptor, bytes, count);
}

DEVICE_EXPORT int close(int descriptor) {
    if (device::owns(descriptor)) {
        device::close();
    }
    return realClose(descriptor);
}

}  // extern "C"
