// SPDX-License-Identifier: MIT
// devcfg's command-line parser: what it accepts, and that every malformed word is refused with a
// message that names it.

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "command_line.hpp"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

devcfg::ParseResult parse(const std::vector<std::string_view> &words) {
    return devcfg::parse_command_line(words);
}

TEST(DevcfgParser, ReadsAWholeSession) {
    const auto result = parse({"--link-reply",
                               "5a,0xC3",
                               "--spi-s-reply",
                               "1",
                               "--no-sleep",
                               "open",
                               "mode",
                               "17",
                               "out",
                               "write",
                               "17",
                               "1",
                               "read",
                               "24",
                               "send",
                               "a5",
                               "0x3C",
                               "recv",
                               "recv",
                               "3",
                               "spi-open",
                               "s",
                               "500000",
                               "alt0",
                               "spi",
                               "s",
                               "de",
                               "ad",
                               "delay-ms",
                               "10",
                               "delay-us",
                               "65535",
                               "close"});
    ASSERT_TRUE(result.command_line) << result.error;
    const auto &line = *result.command_line;
    EXPECT_THAT(line.options.link_reply, ElementsAre(0x5A, 0xC3));
    EXPECT_THAT(line.options.spi_reply[1], ElementsAre(0x01));
    EXPECT_TRUE(line.options.no_sleep);
    EXPECT_EQ(line.options.first_virtual_option, "--link-reply");
    ASSERT_EQ(line.steps.size(), 13U);
    using K = devcfg::StepKind;
    EXPECT_EQ(line.steps[1].kind, K::Mode);
    EXPECT_EQ(line.steps[1].pin, 17);
    EXPECT_TRUE(line.steps[1].output);
    EXPECT_EQ(line.steps[2].level, 1);
    EXPECT_EQ(line.steps[3].pin, 24);
    EXPECT_THAT(line.steps[4].bytes, ElementsAre(0xA5, 0x3C));
    EXPECT_EQ(line.steps[5].count, 1U);
    EXPECT_EQ(line.steps[6].count, 3U);
    EXPECT_EQ(line.steps[7].channel, 1);
    EXPECT_EQ(line.steps[7].speed_hz, 500000);
    EXPECT_EQ(line.steps[8].kind, K::Alt0);
    EXPECT_THAT(line.steps[9].bytes, ElementsAre(0xDE, 0xAD));
    EXPECT_EQ(line.steps[10].count, 10U);
    EXPECT_EQ(line.steps[11].count, 65535U);
}

TEST(DevcfgParser, OneSpiStepCarriesAtMostTheSpidevBuffer) {
    std::vector<std::string_view> words{"spi-open", "m", "1000000", "spi", "m"};
    words.insert(words.end(), 4096, "a5");
    EXPECT_TRUE(parse(words).command_line);
    words.push_back("a5");
    const auto result = parse(words);
    EXPECT_FALSE(result.command_line);
    EXPECT_THAT(result.error, HasSubstr("4097 bytes in one 'spi' step"));
}

TEST(DevcfgParser, HelpNeedsNoStep) {
    const auto result = parse({"--help"});
    ASSERT_TRUE(result.command_line);
    EXPECT_TRUE(result.command_line->options.help);
    EXPECT_FALSE(result.command_line->options.needs_virtual_board());
}

struct BadLine {
    std::vector<std::string_view> words;
    std::string named;  // what the message must name
};

class DevcfgParserRefuses : public ::testing::TestWithParam<BadLine> {};

TEST_P(DevcfgParserRefuses, NamingTheOffendingWord) {
    const auto result = parse(GetParam().words);
    EXPECT_FALSE(result.command_line);
    EXPECT_THAT(result.error, HasSubstr(GetParam().named));
    EXPECT_EQ(result.error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    BadWords, DevcfgParserRefuses,
    ::testing::Values(
        BadLine{{}, "no step"}, BadLine{{"blink"}, "'blink'"},
        BadLine{{"open", "write"}, "after 'write'"}, BadLine{{"write", "-1", "1"}, "'-1'"},
        BadLine{{"write", "54", "1"}, "'54'"}, BadLine{{"write", "5", "2"}, "'2'"},
        BadLine{{"write", "5"}, "level"}, BadLine{{"read", "12abc"}, "'12abc'"},
        BadLine{{"read", ""}, "''"}, BadLine{{"mode", "5", "IN"}, "'IN'"},
        BadLine{{"send"}, "'send'"}, BadLine{{"send", "close"}, "'send'"},
        BadLine{{"send", "100"}, "'100'"}, BadLine{{"send", "0x"}, "'0x'"},
        BadLine{{"send", "0xg1"}, "'0xg1'"}, BadLine{{"spi", "x", "1"}, "'x'"},
        BadLine{{"spi-open", "m", "1000", "spi", "m"}, "'spi'"},
        // a channel no earlier spi-open opened, even when the other one was
        BadLine{{"open", "spi", "m", "01"}, "'spi m' with no 'spi-open m' before it"},
        BadLine{{"spi-open", "m", "1000", "spi", "s", "01", "spi-open", "s", "1000"},
                "'spi s' with no 'spi-open s'"},
        BadLine{{"--format", "jsonl", "open"}, "'--format' without '--transactions FILE'"},
        BadLine{{"--transactions", "t.txt", "--format", "csv", "open"}, "'csv'"},
        BadLine{{"spi-open", "m", "0"}, "'0'"},
        BadLine{{"spi-open", "m", "125000001"}, "'125000001'"}, BadLine{{"recv", "0"}, "'0'"},
        BadLine{{"recv", "a5"}, "'a5'"}, BadLine{{"delay-ms", "4294967296"}, "'4294967296'"},
        BadLine{{"delay-us", "65536"}, "'65536'"},
        BadLine{{"--link-reply", "1,,2", "open"}, "'1,,2'"},
        BadLine{{"--link-reply"}, "'--link-reply'"}, BadLine{{"--vcd", "", "open"}, "--vcd"},
        BadLine{{"--colour", "open"}, "'--colour'"},
        BadLine{{"open", "read", "5", "write", "5", "x"}, "'x'"},
        // unprintable bytes are escaped, so the message stays one line
        BadLine{{"spi-open", "m\n1", "5"}, "'m\\x0a1'"},
        BadLine{{"send", "a\x1b[2J"}, "'a\\x1b[2J'"}));

}  // namespace
