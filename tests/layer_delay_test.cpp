// SPDX-License-Identifier: MIT
// The two waits: the millisecond sleep goes to wiringPi, the busy-wait makes no call.

#include <gmock/gmock.h>

#include "board_fixture.hpp"

using ::testing::ElementsAre;

namespace {

using DelayTest = BoardTest;

TEST_F(DelayTest, MillisecondSleepHandsItsCountToWiringPi) {
    DEV_Delay_ms(0);
    DEV_Delay_ms(2);
    EXPECT_THAT(calls(), ElementsAre("delay(0)", "delay(2)"));
}

TEST_F(DelayTest, BusyWaitMakesNoCall) {
    for (const uint16_t count : {0, 1, 100, 65535}) {
        DEV_Delay_us(count);
    }
    EXPECT_TRUE(calls().empty());
}

}  // namespace
