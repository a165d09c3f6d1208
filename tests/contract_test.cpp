// The player's contract against the man pages: each message and status is there for each program that passes it on.
// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "player_contract.h"
#include "text_input.h"

namespace {

// A man page's text with roff's escapes for the characters the messages use.
std::string readManPage(const std::string& program) {
    std::ifstream file(std::string(DSPFEED_SOURCE_DIR) + "/doc/" + program + ".1");
    std::stringstream roff;
    roff << file.rdbuf();
    std::string text = roff.str();
    for (const auto& [escape, character] : {std::pair{"\\-", "-"}, std::pair{"\\(dq", "\""}}) {
        for (std::size_t at = text.find(escape); at != std::string::npos; at = text.find(escape, at)) {
            text.replace(at, std::string(escape).size(), character);
        }
    }
    return text;
}

// What the page must hold: each message the program prints or passes on,
// and each status ".B N" under EXIT STATUS.
struct PageCase {
    const char* name;
    const char* program;
    std::vector<std::string> messages;
    std::vector<int> statuses;
};

const PageCase pageCases[] = {
    {"PlayerPage",
     "dspfeed",
     {describeMissingKey(headerKeys[0], false), describeMissingKey(flagKey, true), openFailedMessage,
      formatRefusedMessage, channelsRefusedMessage, rateRefusedMessage, noFrameBufferMessage, brokenInputMessage,
      writeFailedMessage},
     {exitPlayed, exitRejected, exitDeviceFailed}},
    {"PlayPage", "dspfeed-play", {openFailedMessage, writeFailedMessage}, {exitPlayed, exitRejected, exitDeviceFailed}},
    {"CheckPage", "dspfeed-check", {brokenInputMessage}, {}},
};

void PrintTo(const PageCase& row, std::ostream* out) {
    *out << row.name;
}

class ManPageTest : public testing::TestWithParam<PageCase> {};

TEST_P(ManPageTest, NamesEveryMessageAndStatus) {
    const std::string page = readManPage(GetParam().program);
    ASSERT_FALSE(page.empty());
    for (const std::string& message : GetParam().messages) {
        EXPECT_NE(page.find(message), std::string::npos) << message;
    }
    const std::size_t section = page.find(".SH EXIT STATUS");
    ASSERT_NE(section, std::string::npos);
    const std::string statuses = page.substr(section);
    for (const int status : GetParam().statuses) {
        const std::string entry = ".B " + std::to_string(shellStatusOf(status)) + "\n";
        EXPECT_NE(statuses.find(entry), std::string::npos) << entry;
    }
}

INSTANTIATE_TEST_SUITE_P(Contract, ManPageTest, testing::ValuesIn(pageCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
