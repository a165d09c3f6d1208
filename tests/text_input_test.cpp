// Unit cases for the header readers' token rules.
// SPDX-License-Identifier: MIT
#include "text_input.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

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
    {"Plain", "SAMPLES: 5\n", 5},
    {"ValueOnTheNextLine", "SAMPLES:\r\n\t 12\r\n", 12},
    {"Negative", "SAMPLES: -7", -7},
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
    {"True", "NORMALIZED: TRUE\n", true},
    {"TrueFollowedByBody", "NORMALIZED:\nTRUE 1 2\n", true},
    {"False", "NORMALIZED: FALSE", false},
    {"LowerCase", "NORMALIZED: true", false},
    {"MixedCase", "NORMALIZED: True", false},
    {"Digit", "NORMALIZED: 1", false},
    {"TrueWithMore", "NORMALIZED: TRUEISH", false},
    {"Missing", "NORMALIZED:", false},
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

}  // namespace
