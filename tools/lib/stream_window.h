// The checker's window on a stream: read a block at a time, with line and column for what was read.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

struct Position {
    std::uint64_t line;
    std::uint64_t column;
};

// The stream, read a block at a time behind a stream buffer, so that the
// reading rules apply unchanged and memory stays the same at any length. It
// keeps some of what was read, counts lines as text leaves it, and can look
// ahead, so that a finding's position and token can be told when it is made.
class StreamWindow : public std::streambuf {
public:
    explicit StreamWindow(int descriptor);

    // How many characters have been handed out.
    std::uint64_t offset() const { return start_ + static_cast<std::uint64_t>(gptr() - eback()); }

    // Consumes whitespace as an extraction would before its token.
    void skipSpace();

    // Line and column of an offset read already.
    Position positionOf(std::uint64_t offset) const;

    // The token at an offset read already: its first bytes up to the next
    // whitespace, at most `most`. It may run on into what is not read yet,
    // which is read for it. (Of a number token longer than what is kept, the
    // bytes still kept are given.)
    std::string tokenAt(std::uint64_t offset, std::size_t most);

    // The errno of a read that failed, or 0.
    int error() const { return error_; }

protected:
    int_type underflow() override;

private:
    std::size_t size() const { return static_cast<std::size_t>(egptr() - eback()); }
    bool readMore();

    int descriptor_;
    std::vector<char> buffer_;
    std::uint64_t start_ = 0;      // the offset of the buffer's first character
    std::uint64_t lines_ = 0;      // newlines before it
    std::uint64_t lineStart_ = 0;  // the offset after the last of them
    int error_ = 0;
};
