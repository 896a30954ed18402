// SPDX-License-Identifier: MIT
// Board files: a full file applied to a board, and every kind of malformed file refused whole,
// with its file, line, key and what was expected.

#include <gmock/gmock.h>

#include "board_fixture.hpp"
#include "vboard/board_file.hpp"
#include "vboard/duration.hpp"

using ::testing::ElementsAre;

namespace {

constexpr const char *kFullFile = R"(
[board]
setup_result = -3
real_sleep = false
log_capacity = 10
fidelity = "flag"

[costs]
write = "1us"
read = "0.5us"

[drive]
24 = "low"
5 = "high"

[names]
24 = "BUSY"
17 = "RST"

[link]
replies = [0x5a, 0xc3]

[[spi]]
channel = 0
model = "registers"
registers = { 0x10 = 0x42 }

[[spi]]
channel = 1
model = "echo"

[[rule]]
name = "answer the trigger"
on = "rising"
pin = 17
drive = 23
to = "high"
after = "1ms"

[transactions]
select = [22]
side = { dc = 25, rs = 4 }

[[timing]]
check = "gap"
from = "falling 17"
to = "transaction spi1"
min = "10us"

[[timing]]
name = "reset"
check = "pulse_width"
pin = 17
level = "high"
min = "3ms"
)";

TEST_F(BoardTest, FullBoardFileSetsEveryPart) {
    vboard::BoardFile::parse(kFullFile, "full.toml").apply(board);
    EXPECT_EQ(wiringPiSetupGpio(), -3);
    EXPECT_FALSE(board.real_sleep());
    EXPECT_EQ(board.log_capacity(), 10U);
    EXPECT_EQ(board.costs().write_ns, 1000U);
    EXPECT_EQ(board.costs().read_ns, 500U);
    EXPECT_EQ(board.costs().pull_ns, vboard::CallCosts{}.pull_ns);
    EXPECT_FALSE(board.level(24));
    EXPECT_TRUE(board.level(5));
    EXPECT_EQ(board.link_replies_pending(), 2U);
    using Name = std::pair<int, std::string>;
    EXPECT_THAT(board.line_names(), ElementsAre(Name{24, "BUSY"}, Name{17, "RST"}));

    board.set_setup_result(0);
    wiringPiSetupGpio();
    wiringPiSPISetup(0, 1'000'000);
    wiringPiSPISetup(1, 1'000'000);
    return_spi_lines_to_alt0();
    std::vector<uint8_t> read{0x90, 0x00};
    wiringPiSPIDataRW(0, read.data(), 2);
    EXPECT_THAT(read, ElementsAre(0x00, 0x42));
    std::vector<uint8_t> echo{0x01, 0x02};
    wiringPiSPIDataRW(1, echo.data(), 2);
    EXPECT_THAT(echo, ElementsAre(0x01, 0x02));

    pinMode(17, OUTPUT);
    digitalWrite(17, 1);
    delay(2);
    EXPECT_TRUE(board.level(23));

    const vboard::FramingOptions framing = board.framing();
    EXPECT_THAT(framing.selects, ElementsAre(22));
    ASSERT_EQ(framing.side_lines.size(), 2U);
    EXPECT_EQ(framing.side_lines[0].name + "=" + std::to_string(framing.side_lines[0].pin),
              "dc=25");
    // A 2 ms pulse, under its 3 ms; then an SPI transfer starting after the write's 1 us and the
    // transfer's own 5 us, under 10 us.
    digitalWrite(17, 0);
    wiringPiSPIDataRW(1, echo.data(), 2);
    ASSERT_EQ(board.violations().size(), 2U);
    EXPECT_EQ(board.violations()[0].name, "reset");
    EXPECT_EQ(board.violations()[1].name, "BCM 17 falling to a transaction on spi1");
}

struct BadFile {
    const char *name;
    const char *text;
    const char *message;
};

const BadFile kBadFiles[] = {
    {"syntax", "[board\n", ""},
    {"unknown_section", "\n[boards]\n",
     "b.toml:2: boards: expected one of board, costs, drive, "
     "names, link, spi, device, rule, transactions, timing (unknown key)"},
    {"name_key_not_a_line", "[names]\n54 = \"BUSY\"\n",
     "b.toml:2: names.54: expected a BCM line from 0 to 53 as the key"},
    {"name_not_text", "[names]\n24 = 1\n",
     "b.toml:2: names.24: expected a name of 1 to 32 letters, digits, '_', '-' or '.', in quotes: "
     "\"BUSY\""},
    {"name_with_a_comma", "[names]\n24 = \"BUSY,RST\"\n",
     "b.toml:2: names.24: expected a name of 1 to 32 letters, digits, '_', '-' or '.', in quotes: "
     "\"BUSY\""},
    {"unknown_key", "[board]\nsleep = false\n",
     "b.toml:2: board.sleep: expected one of setup_result, real_sleep, c_library_time, "
     "log_capacity, fidelity, model, pwm_waveform (unknown key)"},
    {"wrong_type", "[board]\nreal_sleep = 1\n",
     "b.toml:2: board.real_sleep: expected true or false"},
    {"out_of_range", "[board]\nlog_capacity = -1\n",
     "b.toml:2: board.log_capacity: expected an integer from 0 to 2147483647"},
    {"bad_choice", "[board]\nfidelity = \"pi\"\n",
     "b.toml:2: board.fidelity: expected \"flag\" or \"wiringpi3\""},
    {"pin_off_the_bank", "[drive]\n54 = \"high\"\n",
     "b.toml:2: drive.54: expected a BCM line from 0 to 53 as the key"},
    {"duration_without_unit", "[costs]\nwrite = \"20\"\n",
     "b.toml:2: costs.write: expected a duration with its unit, as \"100us\", \"5ms\" or \"2s\""},
    {"byte_too_big", "[link]\nreplies = [0x5a, 256]\n",
     "b.toml:2: link.replies[1]: expected an integer from 0 to 255"},
    {"two_devices_on_one_chip_enable", "[[spi]]\nchannel = 0\n[[spi]]\nchannel = 0\n",
     "b.toml:4: spi[1].channel: expected a chip enable with no device yet; channel 0 has one "
     "from line 2"},
    {"key_of_another_model", "[[spi]]\nchannel = 1\nmodel = \"echo\"\nreplies = [1]\n",
     "b.toml:4: spi[0].replies: expected one of channel, model (unknown key)"},
    {"rule_key_of_another_trigger",
     "[[rule]]\non = \"time\"\nat = \"1ms\"\nbyte = 3\n"
     "drive = 5\nto = \"low\"\n",
     "b.toml:4: rule[0].byte: expected one of name, on, drive, to, after, for, then, at "
     "(unknown key for on = \"time\")"},
    {"rule_missing_its_trigger_key", "[[rule]]\non = \"rising\"\ndrive = 5\nto = \"low\"\n",
     "b.toml:1: rule[0].pin: expected a value: on = \"rising\" needs pin"},
    {"link_rule_without_link", "[[rule]]\non = \"link_byte\"\ndrive = 5\nto = \"low\"\n",
     "b.toml:2: rule[0].on: expected a [link] section: link_byte rules watch the link device"},
    {"then_without_for",
     "[[rule]]\non = \"time\"\nat = \"1ms\"\ndrive = 5\nto = \"low\"\n"
     "then = \"high\"\n",
     "b.toml:6: rule[0].then: expected a duration in \"for\" first: then applies after it"},
    {"zero_for", "[[rule]]\non = \"time\"\nat = \"1ms\"\ndrive = 5\nto = \"low\"\nfor = \"0ms\"\n",
     "b.toml:6: rule[0].for: expected a duration above 0 (leave for out for a drive that stays)"},
    {"rule_drive_level", "[[rule]]\non = \"time\"\nat = \"1ms\"\ndrive = 5\nto = 0\n",
     "b.toml:5: rule[0].to: expected \"high\" or \"low\" or \"release\""},
    {"enable_level_without_enable", "[link]\nenable_level = \"low\"\n",
     "b.toml:2: link.enable_level: expected link.enable naming the enable line first"},
    {"register_key", "[[spi]]\nchannel = 0\nmodel = \"registers\"\nregisters = { 0x100 = 1 }\n",
     "b.toml:4: spi[0].registers.0x100: expected a register number from 0x00 to 0xff as the key"},
    {"not_ascii", "[costs]\n\nwrite = \"20\xc2\xb5s\"\n",
     "b.toml:3: syntax: expected ASCII text (board files are ASCII: write us for microseconds)"},
    {"read_bit_not_one_bit", "[[spi]]\nchannel = 0\nmodel = \"registers\"\nread_bit = 0x81\n",
     "b.toml:4: spi[0].read_bit: expected a single bit, as 0x80 or 0x01"},
    {"side_line_name", "[transactions]\nside = { \"d c\" = 25 }\n",
     "b.toml:2: transactions.side.d c: expected a name of letters, digits, _ and -"},
    {"select_off_the_bank", "[transactions]\nselect = [8, 60]\n",
     "b.toml:2: transactions.select[1]: expected an integer from 0 to 53"},
    {"timing_check_unknown", "[[timing]]\ncheck = \"setup\"\n",
     "b.toml:2: timing[0].check: expected \"clock_rate\" or \"select_to_clock\" or "
     "\"clock_to_deselect\" or \"pulse_width\" or \"gap\""},
    {"timing_check_missing_key", "[[timing]]\ncheck = \"pulse_width\"\npin = 17\nmin = \"1ms\"\n",
     "b.toml:1: timing[0].level: expected a value for level (check = \"pulse_width\" needs it)"},
    {"timing_key_of_another_check",
     "[[timing]]\ncheck = \"clock_rate\"\nmax_hz = 1\nmin = \"1ms\"\n",
     "b.toml:4: timing[0].min: expected one of check, name, max_hz (unknown key for check = "
     "\"clock_rate\")"},
    {"gap_event",
     "[[timing]]\ncheck = \"gap\"\nfrom = \"rising 99\"\nto = \"transaction\"\n"
     "min = \"1ms\"\n",
     "b.toml:3: timing[0].from: expected an event: \"rising N\", \"falling N\", "
     "\"transaction\" or \"transaction BUS\" (link, spi0, spi1)"},
};

class BadBoardFiles : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadBoardFiles, AreRefusedWithFileLineKeyAndWhatWasExpected) {
    const BadFile &c = GetParam();
    try {
        vboard::BoardFile::parse(c.text, "b.toml");
        FAIL() << "accepted";
    } catch (const vboard::BoardFileError &error) {
        if (*c.message == '\0') {
            EXPECT_EQ(error.key(), "syntax");
            EXPECT_EQ(error.line(), 1);
        } else {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Board, BadBoardFiles, ::testing::ValuesIn(kBadFiles),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BoardFileLoad, AMissingFileIsRefusedWithItsName) {
    try {
        vboard::BoardFile::load("/nonexistent/board.toml");
        FAIL() << "accepted";
    } catch (const vboard::BoardFileError &error) {
        EXPECT_STREQ(error.what(),
                     "/nonexistent/board.toml: expected a readable board file (No such file or "
                     "directory)");
    }
}

struct DurationCase {
    const char *text;
    std::optional<std::uint64_t> ns;
};

TEST(Durations, ParseWithTheirUnitAndPrintBack) {
    const DurationCase cases[] = {
        {"50ms", 50'000'000},    {"2s", 2'000'000'000},  {"100us", 100'000},
        {"1.5ms", 1'500'000},    {"20ns", 20},           {"0s", 0},
        {"50", std::nullopt},    {"ms", std::nullopt},   {"1.ms", std::nullopt},
        {"0.5ns", std::nullopt}, {"5 ms", std::nullopt}, {"99999999999999999999s", std::nullopt},
        {"-1ms", std::nullopt},
    };
    for (const DurationCase &c : cases) {
        EXPECT_EQ(vboard::parse_duration(c.text), c.ns) << c.text;
    }
    EXPECT_EQ(vboard::format_duration(1'050'000), "1.05 ms");
    EXPECT_EQ(vboard::format_duration(2'000'000'000), "2 s");
    EXPECT_EQ(vboard::format_duration(20), "20 ns");
}

}  // namespace
