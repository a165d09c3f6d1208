// Reads the checker's stream a block at a time, keeping enough behind to tell where a token was.
// SPDX-License-Identifier: MIT
#include "stream_window.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "text_input.h"

namespace {

constexpr std::size_t keptBytes = 1 << 16;
constexpr std::size_t blockBytes = 1 << 16;

}  // namespace

StreamWindow::StreamWindow(int descriptor) : descriptor_(descriptor), buffer_(keptBytes + blockBytes) {
    setg(buffer_.data(), buffer_.data(), buffer_.data());
}

void StreamWindow::skipSpace() {
    while ((gptr() < egptr() || readMore()) && isSpace(*gptr())) {
        gbump(1);
    }
}

Position StreamWindow::positionOf(std::uint64_t offset) const {
    Position position{lines_ + 1, offset - lineStart_ + 1};
    for (std::uint64_t scanned = start_; scanned < offset && scanned < start_ + size(); ++scanned) {
        if (buffer_[scanned - start_] == '\n') {
            ++position.line;
            position.column = offset - scanned;
        }
    }
    return position;
}

std::string StreamWindow::tokenAt(std::uint64_t offset, std::size_t most) {
    std::uint64_t from = std::max(offset, start_);
    while (from + most > start_ + size() && readMore()) {
    }
    std::string token;
    for (; from < start_ + size() && token.size() < most; ++from) {
        const char character = buffer_[from - start_];
        if (isSpace(character)) {
            break;
        }
        token += character;
    }
    return token;
}

StreamWindow::int_type StreamWindow::underflow() {
    return gptr() < egptr() || readMore() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
}

// Reads another block after what is there. What lies more than keptBytes
// behind the reading position makes room first, its lines counted.
bool StreamWindow::readMore() {
    char* const base = buffer_.data();
    const std::size_t next = static_cast<std::size_t>(gptr() - base);
    std::size_t end = size();
    if (end + blockBytes > buffer_.size()) {
        const std::size_t dropped = next > keptBytes ? next - keptBytes : 0;
        for (std::size_t index = 0; index < dropped; ++index) {
            if (base[index] == '\n') {
                ++lines_;
                lineStart_ = start_ + index + 1;
            }
        }
        std::memmove(base, base + dropped, end - dropped);
        start_ += dropped;
        end -= dropped;
        setg(base, base + (next - dropped), base + end);
    }
    const std::size_t room = std::min(blockBytes, buffer_.size() - end);
    ssize_t got = 0;
    while ((got = read(descriptor_, base + end, room)) < 0 && errno == EINTR) {
    }
    if (got <= 0) {
        error_ = got < 0 ? errno : 0;
        return false;
    }
    setg(base, gptr(), base + end + static_cast<std::size_t>(got));
    return true;
}
