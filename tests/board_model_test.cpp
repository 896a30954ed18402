// SPDX-License-Identifier: MIT
// The virtual board's electrical model and its wiringPi faithfulness, through the wiringPi calls
// and the control interface.

#include <gmock/gmock.h>

#include <stdexcept>

#include "board_fixture.hpp"

using ::testing::ElementsAre;
using vboard::Flag;
using vboard::Function;
using vboard::LineState;
using vboard::Pull;

namespace {

std::vector<LineState> all_lines(const vboard::Board &board) {
    std::vector<LineState> lines;
    for (int pin = 0; pin < vboard::kLineCount; ++pin) {
        lines.push_back(board.line(pin));
    }
    return lines;
}

bool same(const LineState &a, const LineState &b) {
    return a.function == b.function && a.pull == b.pull && a.latch == b.latch &&
           a.driven == b.driven && a.drive_level == b.drive_level && a.level == b.level;
}

void expect_unchanged(const std::vector<LineState> &before, const vboard::Board &board) {
    const auto after = all_lines(board);
    for (int pin = 0; pin < vboard::kLineCount; ++pin) {
        EXPECT_TRUE(same(before[pin], after[pin])) << "BCM " << pin << " changed";
    }
}

class BoardModelTest : public BoardTest {
  protected:
    void SetUp() override { ASSERT_EQ(wiringPiSetupGpio(), 0); }
};

TEST_F(BoardModelTest, PowerOnStateIsAPiWithSpi0Enabled) {
    for (int pin = 0; pin < vboard::kLineCount; ++pin) {
        SCOPED_TRACE(pin);
        EXPECT_EQ(board.function(pin), pin >= 7 && pin <= 11 ? Function::Alt0 : Function::Input);
        EXPECT_FALSE(board.line(pin).latch);
    }
    for (const int pin : {0, 4, 8, 34, 36, 46, 53}) {
        EXPECT_EQ(board.pull(pin), Pull::Up) << pin;
    }
    for (const int pin : {9, 17, 27, 30, 33, 37, 43}) {
        EXPECT_EQ(board.pull(pin), Pull::Down) << pin;
    }
    for (const int pin : {28, 29, 44, 45}) {
        EXPECT_EQ(board.pull(pin), Pull::Off) << pin;
    }
    EXPECT_TRUE(board.level(8));    // CE0 idles high
    EXPECT_TRUE(board.level(7));    // CE1 idles high
    EXPECT_FALSE(board.level(11));  // SCLK idles low
    EXPECT_TRUE(board.level(4));    // pull-up
    EXPECT_FALSE(board.level(20));  // pull-down
}

TEST_F(BoardModelTest, AnInputReadsItsDriveElseItsPull) {
    pinMode(5, INPUT);
    pullUpDnControl(5, PUD_UP);
    EXPECT_EQ(digitalRead(5), HIGH);
    pullUpDnControl(5, PUD_DOWN);
    EXPECT_EQ(digitalRead(5), LOW);
    pullUpDnControl(5, PUD_OFF);
    EXPECT_EQ(digitalRead(5), LOW);  // floating reads low
    board.drive(5, true);
    EXPECT_EQ(digitalRead(5), HIGH);
    pullUpDnControl(5, PUD_DOWN);
    EXPECT_EQ(digitalRead(5), HIGH);  // a drive beats the pull
    board.release(5);
    EXPECT_EQ(digitalRead(5), LOW);
    EXPECT_FALSE(board.line(5).driven);
}

TEST_F(BoardModelTest, AnOutputReadsItsLatchWhateverDrivesIt) {
    digitalWrite(20, 7);  // latch set while still an input: any non-zero is high
    EXPECT_TRUE(board.line(20).latch);
    EXPECT_EQ(digitalRead(20), LOW);  // the input still reads its pull-down
    pinMode(20, OUTPUT);
    board.drive(20, false);
    EXPECT_EQ(digitalRead(20), HIGH);
    digitalWrite(20, LOW);
    EXPECT_EQ(digitalRead(20), LOW);
    board.drive(20, true);
    EXPECT_EQ(digitalRead(20), LOW);
}

TEST_F(BoardModelTest, AltFunctionCodesFollowTheFunctionSelectEncoding) {
    const std::pair<int, Function> codes[] = {
        {0, Function::Input}, {1, Function::Output}, {4, Function::Alt0}, {5, Function::Alt1},
        {6, Function::Alt2},  {7, Function::Alt3},   {3, Function::Alt4}, {2, Function::Alt5},
    };
    for (const auto &[code, function] : codes) {
        pinModeAlt(12, code);
        EXPECT_EQ(board.function(12), function) << code;
    }
}

TEST_F(BoardModelTest, BadArgumentsTouchNothingAndAreFlagged) {
    const auto before = all_lines(board);
    pinMode(5, 10);
    pinMode(5, -1);
    pullUpDnControl(5, 3);
    pullUpDnControl(5, -1);
    pinModeAlt(5, 8);
    pinModeAlt(5, -4);
    expect_unchanged(before, board);
    for (const auto &rec : board.calls()) {
        if (rec.call != vboard::Call::WiringPiSetupGpio) {
            EXPECT_EQ(rec.flag, Flag::BadArgument) << rec.to_string();
        }
    }
}

TEST_F(BoardModelTest, UnknownPinsTouchNothingAndAreFlagged) {
    const auto before = all_lines(board);
    board.clear_calls();
    for (const int pin : {-1, 54, 65535, -2147483647 - 1, 2147483647}) {
        pinMode(pin, OUTPUT);
        pullUpDnControl(pin, PUD_UP);
        digitalWrite(pin, HIGH);
        EXPECT_EQ(digitalRead(pin), LOW);
        pinModeAlt(pin, 4);
    }
    expect_unchanged(before, board);
    const auto log = board.calls();
    EXPECT_EQ(log.size(), 25U);
    for (const auto &rec : log) {
        EXPECT_EQ(rec.flag, Flag::BadPin) << rec.to_string();
    }
}

TEST(BoardBeforeSetUp, LineCallsTouchNothingAndAreFlagged) {
    vboard::Board board;
    vboard::ScopedBoard scope(board);
    board.drive(5, true);
    const auto before = all_lines(board);
    pinMode(5, OUTPUT);
    pullUpDnControl(5, PUD_DOWN);
    digitalWrite(5, HIGH);
    EXPECT_EQ(digitalRead(5), LOW);  // nothing is read before set-up
    pinModeAlt(5, 4);
    expect_unchanged(before, board);
    for (const auto &rec : board.calls()) {
        EXPECT_EQ(rec.flag, Flag::NotSetUp) << rec.to_string();
    }
    EXPECT_EQ(board.calls().size(), 5U);
}

TEST(BoardSetUp, TheResultIsSetByTheTestAndNegativeMeansFailure) {
    vboard::Board board;
    vboard::ScopedBoard scope(board);
    board.set_setup_result(-1);
    EXPECT_EQ(wiringPiSetupGpio(), -1);
    EXPECT_FALSE(board.is_set_up());
    board.set_setup_result(0);
    EXPECT_EQ(wiringPiSetupGpio(), 0);
    EXPECT_TRUE(board.is_set_up());
    board.reset();
    EXPECT_FALSE(board.is_set_up());
    EXPECT_TRUE(board.calls().empty());
}

TEST(BoardSelection, ScopedBoardRedirectsAndRestores) {
    vboard::Board outer;
    vboard::Board inner;
    vboard::ScopedBoard use_outer(outer);
    {
        vboard::ScopedBoard use_inner(inner);
        EXPECT_EQ(&vboard::current_board(), &inner);
        wiringPiSetupGpio();
    }
    EXPECT_EQ(&vboard::current_board(), &outer);
    EXPECT_EQ(inner.call_count(), 1U);
    EXPECT_EQ(outer.call_count(), 0U);
}

TEST(BoardControl, RefusesLinesAndChannelsThatDoNotExist) {
    vboard::Board board;
    EXPECT_THROW(board.drive(54, true), std::out_of_range);
    EXPECT_THROW(board.release(-1), std::out_of_range);
    EXPECT_THROW((void)board.line(100), std::out_of_range);
    EXPECT_THROW((void)board.spi_channel(2), std::out_of_range);
    EXPECT_THROW(board.attach_spi_device(-1, nullptr), std::out_of_range);
    EXPECT_THROW(board.queue_link_reply(std::vector<uint8_t>{1}), std::logic_error);
}

TEST_F(BoardModelTest, TheLogRecordsCallsResultsAndFlagsInOrder) {
    board.clear_calls();
    pinMode(3, OUTPUT);
    digitalWrite(3, 1);
    (void)digitalRead(3);
    delay(0);
    delayMicroseconds(1);
    EXPECT_THAT(calls(), ElementsAre("pinMode(3, 1)", "digitalWrite(3, 1)", "digitalRead(3) = 1",
                                     "delay(0)", "delayMicroseconds(1)"));
    board.clear_calls();
    EXPECT_EQ(board.call_count(), 0U);
}

TEST_F(BoardModelTest, LinkDeviceKeepsAReplyThatWasNeverClockedOut) {
    board.attach_link_device();
    board.queue_link_reply(std::vector<uint8_t>{0x00});
    pinMode(10, INPUT);  // the device puts bit 7 of 0x00 on the line
    EXPECT_EQ(digitalRead(10), LOW);
    pinMode(10, OUTPUT);  // the host takes the line back before any clock
    EXPECT_EQ(board.link_replies_pending(), 1U);
    pinMode(10, INPUT);
    pullUpDnControl(10, PUD_UP);
    EXPECT_EQ(digitalRead(10), LOW);  // still the device's byte, not the pull-up
}

}  // namespace
