// Opens inputs, and outputs beside their targets, which are put in place only when whole.
// SPDX-License-Identifier: MIT
#include "tool_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "signals.h"
#include "tool_statuses.h"

namespace {

std::string describeError(int error) {
    return std::strerror(error);
}

// The file a path leads to: a symbolic link is followed, so that the link
// stays and what it points to is replaced.
std::string followLinks(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A hidden temporary file beside `target`, with the mode a new file gets, or
// the mode of the file it will replace.
std::string openTemporary(const std::string& target, const struct stat* replaced, OutputFile& output) {
    std::string pattern = directoryOf(target) + "/." + baseNameOf(target) + ".XXXXXX";
    const int descriptor = mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0) {
        return describeError(errno);
    }
    removeOnSignal(pattern);
    const mode_t mask = umask(0);
    umask(mask);
    constexpr mode_t permissions = 07777;
    constexpr mode_t newFileMode = 0666;
    fchmod(descriptor, replaced != nullptr ? replaced->st_mode & permissions : newFileMode & ~mask);
    output.descriptor = descriptor;
    output.temporary = pattern;
    output.target = target;
    output.seekable = true;
    return "";
}

// Moves the finished temporary file to the first free name of TARGET,
// TARGET-1, TARGET-2 ..., the number before the extension. Returns 0 or errno.
int takeFreeName(OutputFile& output) {
    const std::size_t dot = output.target.rfind('.');
    const std::string stem = output.target.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : output.target.substr(dot);
    for (int number = 0;; ++number) {
        const std::string name = number == 0 ? output.target : stem + ("-" + std::to_string(number)).append(extension);
        int result = renameat2(AT_FDCWD, output.temporary.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            // A file system that cannot rename without replacing can still
            // link a new name, which never replaces either.
            result = link(output.temporary.c_str(), name.c_str());
            if (result == 0) {
                unlink(output.temporary.c_str());
            }
        }
        if (result == 0) {
            output.name = name;
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
}

// Gives up an output: the temporary file goes, and whatever was there stays.
void discardOutput(OutputFile& output) {
    if (output.descriptor > 2) {
        close(output.descriptor);
    }
    output.descriptor = -1;
    if (!output.temporary.empty()) {
        unlink(output.temporary.c_str());
        output.temporary.clear();
        removeOnSignal("");
    }
}

}  // namespace

int openInput(const std::string& path, struct stat& status) {
    const int descriptor = path == "-" ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0 && (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode))) {
        errno = S_ISDIR(status.st_mode) ? EISDIR : errno;
        return -1;
    }
    return descriptor;
}

void tellHowTerminalInputEnds(const char* tool, int input) {
    if (isatty(input) != 0) {
        std::fprintf(stderr, "%s: reading the stream from the terminal; end it with Ctrl-D on a line of its own\n",
                     tool);
    }
}

std::string openOutput(const std::string& path, const struct stat* input, OutputFile& output) {
    output.name = nameOutput(path);
    struct stat status = {};
    const bool exists = path == "-" ? fstat(1, &status) == 0 : stat(path.c_str(), &status) == 0;
    if (!exists && (path == "-" || errno != ENOENT)) {
        return describeError(errno);
    }
    if (exists && input != nullptr && status.st_dev == input->st_dev && status.st_ino == input->st_ino) {
        return "it is the input";
    }
    if (path == "-") {
        output.descriptor = 1;
        output.seekable = S_ISREG(status.st_mode) && lseek(1, 0, SEEK_CUR) >= 0;
    } else if (!exists || S_ISREG(status.st_mode)) {
        return openTemporary(followLinks(path), exists ? &status : nullptr, output);
    } else if (S_ISDIR(status.st_mode)) {
        return describeError(EISDIR);
    } else {
        output.descriptor = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (output.descriptor < 0) {
            return describeError(errno);
        }
    }
    if (isatty(output.descriptor) != 0) {
        return "it is a terminal";
    }
    return "";
}

std::string openNewOutput(const std::string& stem, const char* extension, OutputFile& output) {
    output.name = stem + extension;
    output.freshName = true;
    return openTemporary(output.name, nullptr, output);
}

bool writeAll(int descriptor, const void* bytes, std::size_t count) {
    const auto* next = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        const ssize_t written = write(descriptor, next, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

int copyAll(int input, int output, std::uint64_t& copied, bool& readFailed) {
    std::vector<unsigned char> block(1 << 16);
    for (;;) {
        const ssize_t got = read(input, block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        readFailed = got < 0;
        if (got <= 0) {
            return got < 0 ? errno : 0;
        }
        if (!writeAll(output, block.data(), static_cast<std::size_t>(got))) {
            return errno;
        }
        copied += static_cast<std::uint64_t>(got);
    }
}

std::string finishOutput(OutputFile& output) {
    if (output.temporary.empty()) {
        // A pipe or a device: what was written is gone, and only a regular
        // file behind standard output can be made to reach the disk.
        return output.seekable && fsync(output.descriptor) != 0 ? describeError(errno) : "";
    }
    int error = fsync(output.descriptor) == 0 ? 0 : errno;
    if (close(output.descriptor) != 0 && error == 0) {
        error = errno;
    }
    output.descriptor = -1;
    if (error == 0 && !output.freshName && rename(output.temporary.c_str(), output.target.c_str()) != 0) {
        error = errno;
    }
    if (error == 0 && output.freshName) {
        error = takeFreeName(output);
    }
    if (error != 0) {
        discardOutput(output);
        return describeError(error);
    }
    output.temporary.clear();
    removeOnSignal("");
    return "";
}

OutputFile::~OutputFile() {
    discardOutput(*this);
}
