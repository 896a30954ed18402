// SPDX-License-Identifier: MIT
// The three pin primitives: what reaches wiringPi, unchanged, and what comes back.

#include <gmock/gmock.h>

#include "board_fixture.hpp"

using ::testing::ElementsAre;

namespace {

class PinsTest : public BoardTest {
  protected:
    void SetUp() override { open_layer(); }
};

TEST_F(PinsTest, InputModeSetsDirectionThenPullUp) {
    DEV_GPIO_Mode(5, 0);
    EXPECT_THAT(calls(), ElementsAre("pinMode(5, 0)", "pullUpDnControl(5, 2)"));
    EXPECT_EQ(board.function(5), vboard::Function::Input);
    EXPECT_EQ(board.pull(5), vboard::Pull::Up);
}

TEST_F(PinsTest, EveryOtherModeIsOutputAlone) {
    for (const uint16_t mode : {1, 2, 65535}) {
        SCOPED_TRACE(mode);
        board.clear_calls();
        DEV_GPIO_Mode(5, mode);
        EXPECT_THAT(calls(), ElementsAre("pinMode(5, 1)"));
    }
}

TEST_F(PinsTest, OutputKeepsThePullUpAnEarlierInputTurnedOn) {
    DEV_GPIO_Mode(20, 0);  // BCM 20 resets with a pull-down
    DEV_GPIO_Mode(20, 1);
    EXPECT_EQ(board.function(20), vboard::Function::Output);
    EXPECT_EQ(board.pull(20), vboard::Pull::Up);
}

TEST_F(PinsTest, WritePassesTheLevelThroughUnchanged) {
    DEV_Digital_Write(22, 0);
    DEV_Digital_Write(22, 1);
    DEV_Digital_Write(22, 2);
    DEV_Digital_Write(22, 255);
    EXPECT_THAT(calls(), ElementsAre("digitalWrite(22, 0)", "digitalWrite(22, 1)",
                                     "digitalWrite(22, 2)", "digitalWrite(22, 255)"));
}

TEST_F(PinsTest, PinNumbersAreWidenedWithoutSign) {
    DEV_Digital_Write(65535, 1);
    EXPECT_EQ(DEV_Digital_Read(65535), 0);
    DEV_GPIO_Mode(40000, 0);
    EXPECT_THAT(calls(),
                ElementsAre("digitalWrite(65535, 1) [BadPin]", "digitalRead(65535) = 0 [BadPin]",
                            "pinMode(40000, 0) [BadPin]", "pullUpDnControl(40000, 2) [BadPin]"));
}

TEST_F(PinsTest, ReadReturnsTheLineLevel) {
    DEV_GPIO_Mode(23, 0);
    board.drive(23, true);
    EXPECT_EQ(DEV_Digital_Read(23), 1);
    board.drive(23, false);
    EXPECT_EQ(DEV_Digital_Read(23), 0);
    board.release(23);
    EXPECT_EQ(DEV_Digital_Read(23), 1);  // back to the pull-up
}

TEST_F(PinsTest, ReadOfAnOutputReturnsWhatWasWritten) {
    DEV_GPIO_Mode(22, 1);
    DEV_Digital_Write(22, 1);
    EXPECT_EQ(DEV_Digital_Read(22), 1);
    DEV_Digital_Write(22, 0);
    EXPECT_EQ(DEV_Digital_Read(22), 0);
}

}  // namespace
