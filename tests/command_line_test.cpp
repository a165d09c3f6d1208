// How every tool reads its command line: options first, then its names, and what is wrong with it.
// SPDX-License-Identifier: MIT
#include "command_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct ArgumentCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* read;  // the options and names taken, or what is wrong
};

void PrintTo(const ArgumentCase& row, std::ostream* out) {
    *out << row.name;
}

const ArgumentCase argumentCases[] = {
    {"ValueApart", {"--via", "wav", "s.txt"}, "--via wav, s.txt"},
    {"ValueJoined", {"--via=wav", "--json"}, "--via wav, --json"},
    {"ValueMissing", {"--via"}, "option '--via' needs a value"},
    {"FlagWithAValue", {"--json=yes"}, "option '--json' takes no value"},
    {"UnknownOption", {"-h", "s.txt"}, "unknown option '-h'"},
    {"DashIsStandardInput", {"-"}, "-"},
    {"DoubleDashEndsTheOptions", {"--", "-x.txt"}, "-x.txt"},
    {"OptionAfterAName", {"s.txt", "--json"}, "unknown option '--json' (a name that starts with '-' goes after '--')"},
    {"OneNameTooMany", {"a.txt", "b.txt"}, "'b.txt' is one name too many"},
    {"ShortNameWithItsValue", {"-d", "hw:1", "s.txt"}, "--device hw:1, s.txt"},
    {"ShortNameWithoutItsValue", {"-d"}, "option '--device' needs a value"},
};

class ArgumentTest : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTest, ReadsTheCommandLine) {
    std::vector<std::string> words = {"tool"};
    words.insert(words.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size());
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    std::vector<Option> options = {Option("--via", true), Option("--json"), Option("--device", true, "-d")};
    std::vector<std::string> names;
    const std::string problem = readArguments(static_cast<int>(argv.size()), argv.data(), options, names, 1);
    std::vector<std::string> taken;
    for (const Option& option : options) {
        if (option.given) {
            taken.push_back(std::string(option.name) + (option.takesValue ? " " + option.value : ""));
        }
    }
    taken.insert(taken.end(), names.begin(), names.end());
    std::string read;
    for (std::size_t index = 0; index < taken.size(); ++index) {
        read += (index == 0 ? "" : ", ") + taken[index];
    }
    EXPECT_EQ(problem.empty() ? read : problem, GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(Arguments, ArgumentTest, testing::ValuesIn(argumentCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
