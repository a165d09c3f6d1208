// Matches header key tokens on standard input and reads their values.
// SPDX-License-Identifier: MIT
#include "text_input.h"

#include <cstdio>
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

#include "playback_settings.h"

namespace {

[[noreturn]] void rejectHeader(const std::string& key, bool isFlag) {
    std::cerr << describeMissingKey(key, isFlag) << '\n';
    std::exit(exitRejected);
}

// What the classic locale counts as space: blank, tab, newline, vertical tab,
// form feed and carriage return.
bool isSpace(int character) {
    return character == ' ' || (character >= '\t' && character <= '\r');
}

bool isDigit(int character) {
    return character >= '0' && character <= '9';
}

// Skips whitespace as a formatted extraction does before its token. Returns
// the first character of the token, or EOF after setting eofbit and failbit;
// a stream that is not good fails at once and consumes nothing.
int skipToToken(std::istream& input) {
    if (!input.good()) {
        input.setstate(std::ios::failbit);
        return EOF;
    }
    std::streambuf& buffer = *input.rdbuf();
    int character = buffer.sgetc();
    while (character != EOF && isSpace(character)) {
        character = buffer.snextc();
    }
    if (character == EOF) {
        input.setstate(std::ios::eofbit | std::ios::failbit);
    }
    return character;
}

// The characters a stream buffer has read ahead and not yet handed out. Only
// classes derived from std::streambuf may name its window; the pointers to
// member taken here reach it in any stream buffer, the standard ones included.
struct ReadAhead : std::streambuf {
    static const char* next(std::streambuf& buffer) { return (buffer.*&ReadAhead::gptr)(); }
    static const char* end(std::streambuf& buffer) { return (buffer.*&ReadAhead::egptr)(); }
    static void consume(std::streambuf& buffer, int count) { (buffer.*&ReadAhead::gbump)(count); }
};

template <typename Number>
struct NumberRange {
    using Limits = std::numeric_limits<Number>;
    static unsigned long long largest(bool negative) {
        return negative ? 0ULL - static_cast<unsigned long long>(Limits::min()) : Limits::max();
    }
};

// Stores what the standard extraction stores for the sign and digits it took,
// and returns the state it leaves: no digit fails and stores 0, a value out of
// the type's range fails and stores the nearest limit.
template <typename Number>
std::ios::iostate storeNumber(Number& value, bool negative, bool anyDigit, bool outOfRange,
                              unsigned long long magnitude) {
    using Limits = std::numeric_limits<Number>;
    if (!anyDigit) {
        value = 0;
        return std::ios::failbit;
    }
    if (outOfRange) {
        value = negative ? Limits::min() : Limits::max();
        return std::ios::failbit;
    }
    value = static_cast<Number>(negative ? 0ULL - magnitude : magnitude);
    return std::ios::goodbit;
}

// The general path, one character at a time through the stream buffer, which
// refills itself as it goes. Kept out of line, so that the direct path stays
// small enough for the registers.
template <typename Number>
[[gnu::noinline]] bool extractNumberSlowly(std::istream& input, Number& value) {
    int character = skipToToken(input);
    if (character == EOF) {
        return false;
    }
    std::streambuf& buffer = *input.rdbuf();
    const bool negative = character == '-';
    if (negative || character == '+') {
        character = buffer.snextc();
    }
    const unsigned long long largest = NumberRange<Number>::largest(negative);
    unsigned long long magnitude = 0;
    bool anyDigit = false;
    bool outOfRange = false;
    while (character >= '0' && character <= '9') {
        anyDigit = true;
        // Past the range the digits are still taken, as the library takes them.
        if (!outOfRange) {
            magnitude = magnitude * 10 + static_cast<unsigned>(character - '0');
            outOfRange = magnitude > largest;
        }
        character = buffer.snextc();
    }
    std::ios::iostate state = storeNumber(value, negative, anyDigit, outOfRange, magnitude);
    if (character == EOF) {
        state |= std::ios::eofbit;
    }
    input.setstate(state);
    return (state & std::ios::failbit) == 0;
}

// How many of eight characters, loaded as one little-endian word, are digits
// before the first that is not. (A byte above 0xf9 carries into the next one
// in the sum, which disturbs only bytes after a non-digit.)
int countLeadingDigits(std::uint64_t eight) {
    constexpr std::uint64_t highNibbles = 0xf0f0f0f0f0f0f0f0, threes = 0x3030303030303030,
                            sixes = 0x0606060606060606;
    const std::uint64_t notDigit = ((eight & highNibbles) ^ threes) | (((eight + sixes) & highNibbles) ^ threes);
    return notDigit == 0 ? 8 : std::countr_zero(notDigit) / 8;
}

// The value of the first `count` (1 to 7) characters of such a word, all
// digits: they are moved to the top, below them come zeros, and pairs, then
// fours, then the eight are combined by multiplication.
std::uint64_t valueOfLeadingDigits(std::uint64_t eight, int count) {
    eight <<= 8 * (8 - count);
    eight = ((eight & 0x0f0f0f0f0f0f0f0f) * 2561) >> 8;
    eight = ((eight & 0x00ff00ff00ff00ff) * 6553601) >> 16;
    return ((eight & 0x0000ffff0000ffff) * 42949672960001) >> 32;
}

// Takes the digits at `at` within [at, end): their value, and whether there
// were too many for any value in range (leading zeros aside, a 20th digit).
// Returns where they end, or `end` when they may go on beyond it.
inline const char* takeDigits(const char* at, const char* end, unsigned long long& magnitude, bool& tooMany) {
    // The common case: fewer than eight digits, all in one word.
    if (end - at >= 8) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, at, sizeof eight);
        const int count = countLeadingDigits(eight);
        if (count < 8) {
            magnitude = count == 0 ? 0 : valueOfLeadingDigits(eight, count);
            tooMany = false;
            return at + count;
        }
    }
    while (at < end && *at == '0') {
        ++at;
    }
    const char* const exact = at + std::min<std::ptrdiff_t>(end - at, 19);
    magnitude = 0;
    for (; at < exact && isDigit(*at); ++at) {
        magnitude = magnitude * 10 + static_cast<unsigned>(*at - '0');
    }
    const char* const significant = at;
    while (at < end && isDigit(*at)) {
        ++at;
    }
    tooMany = at != significant;
    return at;
}

// A decimal integer taken exactly as the standard extraction takes it for a
// signed type in the classic locale: whitespace skipped, an optional sign,
// then every digit that follows, however many. A token that lies wholly in
// what the stream buffer has read ahead is taken from there directly, which
// is many times cheaper than the locale's number parser; one that may run
// past it takes the general path.
template <typename Number>
bool extractNumber(std::istream& input, Number& value) {
    if (!input.good()) {
        return extractNumberSlowly(input, value);
    }
    std::streambuf& buffer = *input.rdbuf();
    const char* const start = ReadAhead::next(buffer);
    const char* const end = ReadAhead::end(buffer);
    const char* at = start;
    while (at < end && isSpace(*at)) {
        ++at;
    }
    if (at == end) {
        return extractNumberSlowly(input, value);
    }
    const bool negative = *at == '-';
    if (negative || *at == '+') {
        ++at;
    }
    const char* const digits = at;
    unsigned long long magnitude = 0;
    bool tooMany = false;
    at = takeDigits(at, end, magnitude, tooMany);
    // Only a character that ends the token proves it ended here.
    if (at == end) {
        return extractNumberSlowly(input, value);
    }
    ReadAhead::consume(buffer, static_cast<int>(at - start));
    const bool outOfRange = tooMany || magnitude > NumberRange<Number>::largest(negative);
    const std::ios::iostate state = storeNumber(value, negative, at != digits, outOfRange, magnitude);
    if (state != std::ios::goodbit) {
        input.setstate(state);
    }
    return state == std::ios::goodbit;
}

}  // namespace

std::string readWord(std::istream& input) {
    std::string word;
    int character = skipToToken(input);
    std::streambuf& buffer = *input.rdbuf();
    while (character != EOF && !isSpace(character)) {
        if (word.size() < longestWord) {
            word += static_cast<char>(character);
        }
        character = buffer.snextc();
    }
    if (character == EOF && !word.empty()) {
        input.setstate(std::ios::eofbit);
    }
    return word;
}

bool isKeyToken(const std::string& word, const std::string& key) {
    return word == key + ":";
}

bool isTrueFlag(const std::string& word) {
    return word == "TRUE";
}

bool readHeaderNumber(std::istream& input, std::int32_t& value) {
    return extractNumber(input, value);
}

bool readSample(std::istream& input, std::int16_t& value) {
    return extractNumber(input, value);
}

std::string describeMissingKey(const std::string& key, bool isFlag) {
    return "Error, expected " + (isFlag ? '"' + key + '"' : key);
}

std::int32_t readValue(const std::string& key) {
    // When no word can be read the word is empty and so never matches.
    if (!isKeyToken(readWord(std::cin), key)) {
        rejectHeader(key, false);
    }
    // A value that is not a number leaves the stream failed, so the next
    // field's key token cannot be read and that field is reported instead.
    std::int32_t value = 0;
    readHeaderNumber(std::cin, value);
    return value;
}

bool readBool(const std::string& key) {
    if (!isKeyToken(readWord(std::cin), key)) {
        rejectHeader(key, true);
    }
    // No word at all (end of input) reads as false, like any word but TRUE.
    return isTrueFlag(readWord(std::cin));
}
