// Unit cases for the header readers' token rules.
// SPDX-License-Identifier: MIT
#include "text_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Points standard input at the given text for the life of the object.
class FakeStandardInput {
public:
    explicit FakeStandardInput(const std::string& text) : text_(text), saved_(std::cin.rdbuf(text_.rdbuf())) {
        std::cin.clear();
    }
    ~FakeStandardInput() {
        std::cin.rdbuf(saved_);
        std::cin.clear();
    }

private:
    std::istringstream text_;
    std::streambuf* saved_;
};

struct ValueCase {
    const char* name;
    const char* input;
    std::int32_t value;
};

// clang-format off
const ValueCase valueCases[] = {
    {"ReadsTheNumberAfterTheKey", "SAMPLES: 5\n", 5},
    {"ValueOnTheNextLine", "SAMPLES:\r\n\t 12\r\n", 12},
    {"KeepsTheMinusSign", "SAMPLES: -7", -7},
    {"ExplicitPlus", "SAMPLES: +3", 3},
    {"LeadingZeros", "SAMPLES: 0010", 10},
    {"Int32Limits", "SAMPLES: -2147483648", -2147483647 - 1},
    {"StopsAtFirstNonDigit", "SAMPLES: 44BITSPERSAMPLE:", 44},
};
// clang-format on

void PrintTo(const ValueCase& valueCase, std::ostream* out) {
    *out << valueCase.name;
}

class ReadValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(ReadValueTest, ReadsTheNumberAfterTheKeyToken) {
    FakeStandardInput input(GetParam().input);
    EXPECT_EQ(readValue("SAMPLES"), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(TokenRules, ReadValueTest, testing::ValuesIn(valueCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct FlagCase {
    const char* name;
    const char* input;
    bool value;
};

// clang-format off
const FlagCase flagCases[] = {
    {"TrueInCapitalsIsTrue", "NORMALIZED: TRUE\n", true},
    {"TrueFollowedByBody", "NORMALIZED:\nTRUE 1 2\n", true},
    {"FalseIsFalse", "NORMALIZED: FALSE", false},
    {"LowerCaseTrueIsFalse", "NORMALIZED: true", false},
    {"MixedCaseTrueIsFalse", "NORMALIZED: True", false},
    {"OneIsNotTrue", "NORMALIZED: 1", false},
    {"TrueWithMore", "NORMALIZED: TRUEISH", false},
    {"MissingFlagIsFalse", "NORMALIZED:", false},
};
// clang-format on

void PrintTo(const FlagCase& flagCase, std::ostream* out) {
    *out << flagCase.name;
}

class ReadBoolTest : public testing::TestWithParam<FlagCase> {};

TEST_P(ReadBoolTest, IsTrueOnlyForTrue) {
    FakeStandardInput input(GetParam().input);
    EXPECT_EQ(readBool("NORMALIZED"), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(TokenRules, ReadBoolTest, testing::ValuesIn(flagCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Serves a text in blocks of the given sizes, in turn, so that tokens fall
// across the ends of what the reader sees at once; counts what was taken.
class BlockBuffer : public std::streambuf {
public:
    BlockBuffer(const std::string& text, const std::vector<std::size_t>& blocks) : text_(text), blocks_(blocks) {}
    std::size_t consumed() const { return served_ - static_cast<std::size_t>(egptr() - gptr()); }

protected:
    int_type underflow() override {
        if (served_ == text_.size()) {
            return traits_type::eof();
        }
        const std::size_t size = std::min(blocks_[block_++ % blocks_.size()], text_.size() - served_);
        char* start = text_.data() + served_;
        setg(start, start, start + size);
        served_ += size;
        return traits_type::to_int_type(*start);
    }

private:
    std::string text_;
    std::vector<std::size_t> blocks_;
    std::size_t block_ = 0;
    std::size_t served_ = 0;
};

// One token of the differential test: numbers near every edge, and what
// looks like one but is not.
std::string randomToken(std::mt19937& random) {
    const auto pick = [&random](std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    };
    static const char* const edges[] = {"32767",
                                        "32768",
                                        "-32768",
                                        "-32769",
                                        "2147483647",
                                        "2147483648",
                                        "-2147483648",
                                        "-2147483649",
                                        "+",
                                        "-",
                                        "+-",
                                        "-+1",
                                        "0",
                                        "9223372036854775807",
                                        "9223372036854775808",
                                        "18446744073709551616"};
    static const char glued[] = "x:.,e#\x01\x7f\x80\xff";
    std::string token;
    switch (pick(4)) {
        case 0:
            token = edges[pick(std::size(edges))];
            break;
        default: {
            token = std::string("+-").substr(pick(3), 1);  // a sign, or none
            token.append(pick(4) == 0 ? pick(30) : 0, '0');
            const std::size_t digits = 1 + (pick(4) == 0 ? pick(40) : pick(6));
            for (std::size_t index = 0; index < digits; ++index) {
                token += static_cast<char>('0' + pick(10));
            }
        }
    }
    if (pick(6) == 0) {
        token.insert(pick(token.size() + 1), 1, std::string(glued, sizeof glued)[pick(sizeof glued)]);
    }
    return token;
}

bool readHeaderNumbers(std::istream& input, std::int32_t* values, std::size_t count) {
    return count == 1 && readHeaderNumber(input, *values);
}

// The reader against the standard library's own extraction: the same values,
// the same state and the same characters taken, read after read, for sample
// values (one at a time and several at once) and header numbers, with a word
// now and then, up to and after the first failure.
template <typename Number>
void compareWithTheLibrary(const std::string& text, const std::vector<std::size_t>& blocks,
                           bool (*read)(std::istream&, Number*, std::size_t), std::size_t most, int& reads) {
    BlockBuffer libraryBuffer(text, blocks);
    BlockBuffer readerBuffer(text, blocks);
    std::istream library(&libraryBuffer);
    std::istream reader(&readerBuffer);
    for (std::size_t attempt = 0; attempt < 64; ++attempt, ++reads) {
        const bool failedBefore = library.fail();
        std::vector<Number> expected(1 + (attempt % most), 7);
        std::vector<Number> actual(expected.size(), 7);
        std::string expectedWord;
        std::string actualWord;
        if (attempt % 4 == 3) {
            library >> expectedWord;
            expectedWord.resize(std::min(expectedWord.size(), longestWord));
            actualWord = readWord(reader);
        } else {
            // The library reads until its first failure, as the reader must.
            for (std::size_t index = 0; index < expected.size() && (index == 0 || library); ++index) {
                library >> expected[index];
            }
            read(reader, actual.data(), actual.size());
        }
        ASSERT_EQ(std::make_tuple(actual, actualWord, reader.rdstate(), readerBuffer.consumed()),
                  std::make_tuple(expected, expectedWord, library.rdstate(), libraryBuffer.consumed()))
            << "read " << attempt << " of " << testing::PrintToString(text) << " in blocks of "
            << testing::PrintToString(blocks);
        if (failedBefore) {
            return;
        }
    }
}

TEST(ReaderAgainstTheLibrary, MillionRandomTokens) {
    std::mt19937 random(20261208);
    static const char spaces[] = " \t\n\r\v\f";
    int tokens = 0;
    int reads = 0;
    while (reads < 2'000'000) {
        std::string text;
        for (int count = std::uniform_int_distribution<int>(0, 12)(random); count > 0; --count, ++tokens) {
            text += std::string(1 + (random() % 2), spaces[random() % 6]) + randomToken(random);
        }
        if (random() % 2 == 0) {
            text += spaces[random() % 6];
        }
        const std::vector<std::size_t> blocks = {1 + (random() % 16), 1 + (random() % 3), 1 + (random() % 64)};
        compareWithTheLibrary<std::int16_t>(text, blocks, readSamples, 3, reads);
        compareWithTheLibrary<std::int32_t>(text, blocks, readHeaderNumbers, 1, reads);
        if (HasFatalFailure()) {
            return;
        }
    }
    std::cout << "reader: " << reads << " reads of " << tokens
              << " random tokens, as the library's extraction reads them\n";
}

}  // namespace
