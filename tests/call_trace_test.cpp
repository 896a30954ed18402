// SPDX-License-Identifier: MIT
// The trace: the call log read back as the board recorded it, the reader's refusals and what it
// forgives, and a trace made again on a board: recorded reads and received bytes, and a model that
// answers otherwise.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "board_fixture.hpp"
#include "vboard/call_log.hpp"
#include "vboard/call_trace.hpp"
#include "vboard/replay.hpp"

namespace {

std::string temp_path(const char *name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("call_trace_test_") + std::to_string(::getpid()) + "_" + name))
        .string();
}

constexpr const char *kHeader = "vboard-trace 1\nsource recorder\nmodel unknown\nwiringpi 3.14\n";

TEST_F(BoardTest, ACallLogReadsBackAsTheBoardRecordedIt) {
    const std::string path = temp_path("log");
    auto log = std::make_shared<vboard::CallLogWriter>(path);
    board.add_observer(log);
    board.attach_spi_device(0, [](auto) { return std::vector<std::uint8_t>{0x5a, 0xc3}; });
    wiringPiSetup();  // wiringPi numbering: pin 0 is BCM 17
    pinMode(0, OUTPUT);
    digitalWrite(0, HIGH);
    digitalRead(0);
    digitalWrite(99, HIGH);  // flagged
    pinModeAlt(vboard::kSpiSclk, 4);
    wiringPiSPISetup(0, 1000000);
    unsigned char data[2] = {0x3c, 0x00};
    wiringPiSPIDataRW(0, data, 2);
    board.remove_observer(log);

    const vboard::CallTrace trace = vboard::read_call_trace(path);
    EXPECT_EQ(trace.source, "bench");
    EXPECT_EQ(trace.model, "Raspberry Pi 4 Model B");
    EXPECT_EQ(trace.wiringpi, "3.14");
    const std::vector<vboard::CallRecord> recorded = board.calls();
    ASSERT_EQ(trace.calls.size(), recorded.size());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        SCOPED_TRACE(recorded[i].to_string());
        const vboard::CallRecord &got = trace.calls[i];
        EXPECT_EQ(vboard::trace_call_text(got), vboard::trace_call_text(recorded[i]));
        EXPECT_EQ(got.time_ns, recorded[i].time_ns);
        EXPECT_EQ(got.line, recorded[i].line);
        EXPECT_EQ(got.flag, recorded[i].flag);
    }
    EXPECT_EQ(trace.calls.back().received, (std::vector<std::uint8_t>{0x5a, 0xc3}));
    std::filesystem::remove(path);
}

struct Refusal {
    const char *name;
    const char *line;      // the line after the header
    const char *expected;  // what the error says after "t.trace:6: "
};

class TraceRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(TraceRefusals, NameTheLine) {
    const Refusal &refusal = GetParam();
    const std::string text =
        std::string(kHeader) + "       0 ns  wiringPiSetupGpio() = 0\n" + refusal.line + "\n";
    try {
        vboard::parse_call_trace(text, "t.trace");
        FAIL() << "accepted " << refusal.line;
    } catch (const vboard::TraceError &error) {
        EXPECT_EQ(error.what(), std::string("t.trace:6: ") + refusal.expected);
        EXPECT_EQ(error.line(), 6);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trace, TraceRefusals,
    ::testing::Values(
        Refusal{"line_off_the_board", "  5 ns  digitalRead(0) -> BCM 60 = 1",
                "a BCM line 0 to 53 after \"->\""},
        Refusal{"too_many_arguments", "  5 ns  pinMode(1, 2, 3, 4, 5)", "at most 4 arguments"},
        Refusal{"bytes_in_a_line_call", "  5 ns  digitalWrite([01], 1)",
                "a buffer in a call that takes none"},
        Refusal{"received_in_a_line_call", "  5 ns  digitalRead(3) = 1 received [01]",
                "bytes received in a call that is not an SPI transfer"},
        Refusal{"words_after_the_call", "  5 ns  digitalRead(3) = 1 twice",
                "nothing more after the call, not \" twice\""},
        Refusal{"unknown_flag", "  5 ns  digitalRead(3) = 1 [Broken]",
                "a flag the board knows in [ ]"},
        Refusal{"negative_time", " -5 ns  digitalRead(3) = 1", "a time in nanoseconds, not \"-5\""},
        Refusal{"a_header_line_among_calls", "model pi4b",
                "unknown line \"model pi4b\" (expected TIME ns  CALL)"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Trace, PutsCallsInTimeOrderAndKeepsWhatCameBeforeACutLine) {
    const std::string text = std::string(kHeader) +
                             "     300 ns  digitalRead(5) = 0\n"  // a callback's, inside the wait
                             "     100 ns  delay(1)\n"
                             "     300 ns  digitalWrite(6, 1)\n"
                             "  1000200 ns  digitalWr";
    const vboard::CallTrace trace = vboard::parse_call_trace(text, "cut.trace");
    ASSERT_EQ(trace.calls.size(), 3U);
    EXPECT_EQ(trace.calls[0].to_string(), "delay(1)");
    EXPECT_EQ(trace.calls[1].to_string(), "digitalRead(5) = 0");  // equal times keep their order
    EXPECT_EQ(trace.calls[2].to_string(), "digitalWrite(6, 1)");
    ASSERT_EQ(trace.notes.size(), 1U);
    EXPECT_EQ(trace.notes[0].rfind("cut.trace:8: the last line is cut short", 0), 0U);
}

// A recording of a driver's reads, made again on a fresh board.
class ReplayTest : public ::testing::Test {
  protected:
    vboard::Board board;

    vboard::ReplayResult replay(const std::string &calls) {
        return vboard::replay_trace(board,
                                    vboard::parse_call_trace(std::string(kHeader) + calls, "t"));
    }
};

TEST_F(ReplayTest, RecordedReadsAndReceivedBytesAreWhatTheBoardShows) {
    const vboard::ReplayResult result = replay(
        "         0 ns  wiringPiSetupGpio() = 0\n"
        "   1000000 ns  pinMode(24, 0)\n"
        "   1000100 ns  digitalRead(24) = 1\n"
        "   1000200 ns  pinModeAlt(11, 4)\n"
        "   1000300 ns  pinModeAlt(10, 4)\n"
        "   1000400 ns  pinModeAlt(8, 4)\n"
        "   1000500 ns  pinModeAlt(9, 4)\n"
        "   1000600 ns  wiringPiSPISetup(0, 1000000) = 40\n"
        "   2000000 ns  wiringPiSPIDataRW(0, [3c 00], 2) = 2 received [00 5a]\n");
    EXPECT_EQ(result.calls, 9U);
    EXPECT_EQ(result.mismatches, 0U);
    EXPECT_TRUE(board.level(24));  // driven as the real peripheral drove it
    const std::vector<vboard::CallRecord> calls = board.calls();
    ASSERT_EQ(calls.size(), 9U);
    EXPECT_EQ(calls[2].time_ns, 1000100U);
    EXPECT_EQ(calls[2].result, 1);
    EXPECT_EQ(calls[8].time_ns, 2000000U);
    EXPECT_EQ(calls[8].received, (std::vector<std::uint8_t>{0x00, 0x5a}));
}

TEST_F(ReplayTest, AModelThatAnswersOtherwiseIsNamed) {
    board.attach_spi_device(0, [](auto) { return std::vector<std::uint8_t>{0x00, 0x11}; });
    board.drive(24, false);  // the board file holds the line low; the real one read high
    const vboard::ReplayResult result = replay(
        "         0 ns  wiringPiSetupGpio() = 0\n"
        "   1000000 ns  digitalRead(24) = 1\n"
        "   1000600 ns  wiringPiSPISetup(0, 1000000) = 40\n"
        "   2000000 ns  wiringPiSPIDataRW(0, [3c 00], 2) = 2 received [00 5a]\n");
    EXPECT_EQ(result.mismatches, 2U);
    const std::vector<std::string> notes = board.diagnostics();
    ASSERT_GE(notes.size(), 2U);
    EXPECT_EQ(
        notes[0],
        "replay: digitalRead(24) = 1 at 1 ms: the board's models answered 0, the recording 1");
    EXPECT_NE(
        notes[notes.size() - 1].find("wiringPiSPIDataRW(0, [3c 00], 2) = 2 at 2 ms: the board's "
                                     "models answered [00 11], the recording [00 5a]"),
        std::string::npos)
        << notes.back();
}

TEST_F(ReplayTest, MismatchesPastTheTwentiethAreCountedInOneNote) {
    board.drive(24, false);
    std::string calls = "         0 ns  wiringPiSetupGpio() = 0\n";
    for (int i = 1; i <= 25; ++i) {
        calls += "   " + std::to_string(1000000 + i * 1000) + " ns  digitalRead(24) = 1\n";
    }
    EXPECT_EQ(replay(calls).mismatches, 25U);
    const std::vector<std::string> notes = board.diagnostics();
    ASSERT_EQ(notes.size(), vboard::kMismatchesTold + 1);
    EXPECT_EQ(
        notes.back(),
        "replay: 5 more reads where the board's models answered otherwise than the recording");
}

}  // namespace
