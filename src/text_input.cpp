// Matches header key tokens on standard input and reads their values.
// SPDX-License-Identifier: MIT
#include "text_input.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <limits>

#include "playback_settings.h"
#include "player_contract.h"

namespace {

[[noreturn]] void rejectHeader(const std::string& key, bool isFlag) {
    std::cerr << describeMissingKey(key, isFlag) << '\n';
    std::exit(exitRejected);
}

bool isDigit(int character) {
    return character >= '0' && character <= '9';
}

// The character at the stream buffer's position, or past it, or EOF. A read
// of the input that fails (a folder given as input, a failing disk) ends the
// input there, as its end does: the library's file buffer tells of it by
// throwing, which would otherwise abort the player.
int peekCharacter(std::streambuf& buffer) {
    try {
        return buffer.sgetc();
    } catch (const std::exception&) {
        return EOF;
    }
}

int advanceCharacter(std::streambuf& buffer) {
    try {
        return buffer.snextc();
    } catch (const std::exception&) {
        return EOF;
    }
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
    int character = peekCharacter(buffer);
    while (character != EOF && isSpace(character)) {
        character = advanceCharacter(buffer);
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

constexpr unsigned decimalBase = 10;

// The largest magnitude a signed type holds, of a negative or positive value.
template <typename Number>
unsigned long long findLargest(bool negative) {
    using Limits = std::numeric_limits<Number>;
    return negative ? 0ULL - static_cast<unsigned long long>(Limits::min()) : Limits::max();
}

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
        character = advanceCharacter(buffer);
    }
    const unsigned long long largest = findLargest<Number>(negative);
    unsigned long long magnitude = 0;
    bool anyDigit = false;
    bool outOfRange = false;
    while (isDigit(character)) {
        anyDigit = true;
        // Past the range the digits are still taken, as the library takes them.
        if (!outOfRange) {
            magnitude = (magnitude * decimalBase) + static_cast<unsigned>(character - '0');
            outOfRange = magnitude > largest;
        }
        character = advanceCharacter(buffer);
    }
    std::ios::iostate state = storeNumber(value, negative, anyDigit, outOfRange, magnitude);
    if (character == EOF) {
        state |= std::ios::eofbit;
    }
    input.setstate(state);
    return (state & std::ios::failbit) == 0;
}

// Eight characters at a time, loaded as one little-endian word.
using Word = std::uint64_t;
constexpr int wordCharacters = sizeof(Word);
constexpr int characterBits = 8;

// How many characters of a word are digits before the first that is not.
// Taking '0' away sets the top bit of anything below it, and adding 0x46
// sets it for anything above '9'; as neither borrows nor carries out of a
// digit, the first byte that is not one is told exactly.
std::ptrdiff_t countLeadingDigits(Word characters) {
    constexpr Word zeros = 0x3030303030303030;
    constexpr Word pastNine = 0x4646464646464646;  // '9' + 0x46 is 0x7f
    constexpr Word tops = 0x8080808080808080;
    const Word notDigit = ((characters - zeros) | (characters + pastNine)) & tops;
    // Unsigned, the count needs no widening before it moves a pointer.
    return notDigit == 0 ? wordCharacters : static_cast<unsigned>(std::countr_zero(notDigit)) / characterBits;
}

// Turns lanes that hold the values of two neighbouring groups of digits into
// lanes of twice the width that hold the value of both. Memory being
// little-endian, the earlier, more significant group is in the lower half;
// the multiplication adds it, times ten to the number of digits of the later
// group, to the upper half, which the shift brings down.
template <int HalfBits, Word HalfMask, Word LowerPower>
Word combineNeighbours(Word lanes) {
    constexpr Word multiplier = (LowerPower * (Word{1} << HalfBits)) + 1;
    return ((lanes & HalfMask) * multiplier) >> HalfBits;
}

// The value of the first `count` (1 to 7) characters of a word, all digits:
// they are moved to the top, zeros coming below them, and then pairs, fours
// and the eight are combined.
Word findValueOfLeadingDigits(Word characters, std::ptrdiff_t count) {
    const Word digits = characters << (characterBits * (wordCharacters - count));
    const Word pairs = combineNeighbours<8, 0x0f0f0f0f0f0f0f0f, 10>(digits);
    const Word fours = combineNeighbours<16, 0x00ff00ff00ff00ff, 100>(pairs);
    const Word eight = combineNeighbours<32, 0x0000ffff0000ffff, 10000>(fours);
    return eight;
}

// Takes the digits at `from` within [from, end): their value, and whether
// there were too many for any value in range (leading zeros aside, more
// than a 64-bit accumulator always holds). Returns where they end, or `end`
// when they may go on beyond it.
inline const char* takeDigits(const char* from, const char* end, unsigned long long& magnitude, bool& tooMany) {
    constexpr std::ptrdiff_t mostDigitsHeld = 19;
    tooMany = false;
    // The common case: fewer digits than a word holds, all in one.
    if (end - from >= wordCharacters) {
        Word characters = 0;
        std::memcpy(&characters, from, sizeof characters);
        const std::ptrdiff_t count = countLeadingDigits(characters);
        if (count < wordCharacters) {
            magnitude = count == 0 ? 0 : findValueOfLeadingDigits(characters, count);
            return from + count;
        }
    }
    const char* next = from;
    while (next < end && *next == '0') {
        ++next;
    }
    const char* const held = next + std::min(end - next, mostDigitsHeld);
    magnitude = 0;
    for (; next < held && isDigit(*next); ++next) {
        magnitude = (magnitude * decimalBase) + static_cast<unsigned>(*next - '0');
    }
    const char* const significant = next;
    while (next < end && isDigit(*next)) {
        ++next;
    }
    tooMany = next != significant;
    return next;
}

// How a number at some place in what the stream buffer has read ahead came out.
enum class Taken : std::uint8_t { number, failure, beyond };

// Takes a decimal integer exactly as the standard extraction takes it for a
// signed type in the classic locale: whitespace skipped, an optional sign,
// then every digit that follows, however many. It is taken from [next, end),
// and `next` moves past it, when the character that ends it is there too;
// otherwise it may run on past what was read ahead, and `next` stays.
template <typename Number>
Taken takeNumber(const char*& next, const char* end, Number& value) {
    const char* cursor = next;
    while (cursor < end && isSpace(*cursor)) {
        ++cursor;
    }
    if (cursor == end) {
        return Taken::beyond;
    }
    // A sign is looked for only past a branch, which the processor predicts:
    // where the digits start then need not wait for this character to be
    // loaded and compared, and the next number is reached sooner. (Computed
    // without the branch, a steady tone took a fifth longer to parse.)
    bool negative = false;
    if (!isDigit(*cursor)) {
        negative = *cursor == '-';
        if (negative || *cursor == '+') {
            ++cursor;
        }
    }
    const char* const digits = cursor;
    unsigned long long magnitude = 0;
    bool tooMany = false;
    cursor = takeDigits(cursor, end, magnitude, tooMany);
    if (cursor == end) {
        return Taken::beyond;
    }
    next = cursor;
    const bool outOfRange = tooMany || magnitude > findLargest<Number>(negative);
    return storeNumber(value, negative, cursor != digits, outOfRange, magnitude) == std::ios::goodbit ? Taken::number
                                                                                                      : Taken::failure;
}

// Reads up to `count` numbers, by the rules of takeNumber, stopping at the
// first that fails. Those that lie wholly in what the stream buffer has read
// ahead are taken from there directly, which is many times cheaper than the
// locale's number parser; one that may run past it takes the general path.
template <typename Number>
bool extractNumbers(std::istream& input, Number* values, std::size_t count) {
    for (std::size_t index = 0; index < count;) {
        if (input.good()) {
            std::streambuf& buffer = *input.rdbuf();
            const char* const start = ReadAhead::next(buffer);
            const char* const end = ReadAhead::end(buffer);
            const char* next = start;
            Taken taken = Taken::number;
            while (index < count && (taken = takeNumber(next, end, values[index])) == Taken::number) {
                ++index;
            }
            ReadAhead::consume(buffer, static_cast<int>(next - start));
            if (taken == Taken::failure) {
                input.setstate(std::ios::failbit);
                return false;
            }
            if (index == count) {
                return true;
            }
        }
        if (!extractNumberSlowly(input, values[index])) {
            return false;
        }
        ++index;
    }
    return true;
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
        character = advanceCharacter(buffer);
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
    return extractNumbers(input, &value, 1);
}

bool readSample(std::istream& input, std::int16_t& value) {
    return extractNumbers(input, &value, 1);
}

bool readSamples(std::istream& input, std::int16_t* values, std::size_t count) {
    return extractNumbers(input, values, count);
}

std::string describeMissingKey(const std::string& key, bool isFlag) {
    return missingKeyMessage + (isFlag ? '"' + key + '"' : key);
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
