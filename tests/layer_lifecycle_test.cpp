// SPDX-License-Identifier: MIT
// Opening and closing the layer: the report line, the exact wiringPi calls and the pin map's
// resulting states.

#include <gmock/gmock.h>

#include "board_fixture.hpp"

using ::testing::ElementsAreArray;
using vboard::Function;
using vboard::Pull;

namespace {

const std::vector<std::string> kPinMapCalls = {
    "pinMode(11, 1)",     "pinMode(10, 1)",      "pinMode(8, 1)",       "pinMode(7, 1)",
    "pinMode(25, 1)",     "pinMode(17, 1)",      "pinMode(24, 0)",      "pullUpDnControl(24, 2)",
    "pinMode(18, 1)",     "digitalWrite(11, 0)", "digitalWrite(10, 0)", "digitalWrite(8, 0)",
    "digitalWrite(7, 0)", "digitalWrite(25, 0)", "digitalWrite(17, 0)", "digitalWrite(18, 1)",
};

const std::vector<std::string> kExitCalls = {
    "digitalWrite(8, 0)",  "digitalWrite(7, 0)",  "digitalWrite(25, 0)",
    "digitalWrite(17, 0)", "digitalWrite(18, 0)",
};

const char kSuccessLine[] = "set wiringPi lib success !!! \r\n";
const char kFailureLine[] = "set wiringPi lib failed\t!!! \r\n";

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class LifecycleTest : public BoardTest {
  protected:
    // Runs DEV_ModuleInit and returns what it printed.
    std::string init_printing(uint8_t &status) {
        ::testing::internal::CaptureStdout();
        status = DEV_ModuleInit();
        return ::testing::internal::GetCapturedStdout();
    }
};

TEST_F(LifecycleTest, OpenStartsWiringPiThenSetsDirectionsThenLevels) {
    uint8_t status = 99;
    EXPECT_EQ(init_printing(status), kSuccessLine);
    EXPECT_EQ(status, 0);
    EXPECT_THAT(calls(), ElementsAreArray(concat({"wiringPiSetupGpio() = 0"}, kPinMapCalls)));
}

TEST_F(LifecycleTest, OpenLeavesThePinMapInItsStartingStates) {
    open_layer();
    for (const int pin : {11, 10, 8, 7, 25, 17}) {
        SCOPED_TRACE(pin);
        EXPECT_EQ(board.function(pin), Function::Output);
        EXPECT_FALSE(board.level(pin));
    }
    EXPECT_EQ(board.function(18), Function::Output);
    EXPECT_TRUE(board.level(18));
    EXPECT_EQ(board.function(24), Function::Input);
    EXPECT_EQ(board.pull(24), Pull::Up);
    EXPECT_TRUE(board.level(24));
    board.drive(24, false);
    EXPECT_EQ(DEV_Digital_Read(DEV_IN_PIN), 0);
}

TEST_F(LifecycleTest, FailedSetUpPrintsFailureAndTouchesNoLine) {
    for (const int result : {-1, -5, -2147483647 - 1}) {
        SCOPED_TRACE(result);
        board.reset();
        board.set_setup_result(result);
        uint8_t status = 0;
        EXPECT_EQ(init_printing(status), kFailureLine);
        EXPECT_EQ(status, 1);
        EXPECT_THAT(calls(), ElementsAreArray({"wiringPiSetupGpio() = " + std::to_string(result)}));
        for (const int pin : {11, 10, 8, 7}) {
            EXPECT_EQ(board.function(pin), Function::Alt0);
        }
        EXPECT_EQ(board.function(18), Function::Input);
    }
}

TEST_F(LifecycleTest, AnyNonNegativeSetUpResultIsSuccess) {
    board.set_setup_result(3);
    uint8_t status = 99;
    EXPECT_EQ(init_printing(status), kSuccessLine);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls().size(), 1 + kPinMapCalls.size());
}

TEST_F(LifecycleTest, OpeningTwiceRepeatsReportAndPinMap) {
    uint8_t first = 9;
    uint8_t second = 9;
    ::testing::internal::CaptureStdout();
    first = DEV_ModuleInit();
    second = DEV_ModuleInit();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string(kSuccessLine) + kSuccessLine);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    const auto once = concat({"wiringPiSetupGpio() = 0"}, kPinMapCalls);
    EXPECT_THAT(calls(), ElementsAreArray(concat(once, once)));
}

TEST_F(LifecycleTest, CloseDrivesFiveOutputsLowAndLeavesTheLinkAndInputAlone) {
    open_layer();
    DEV_Digital_Write(DEV_SCLK_PIN, 1);
    DEV_Digital_Write(DEV_MOSI_PIN, 1);
    DEV_Digital_Write(DEV_CS_M_PIN, 1);
    DEV_Digital_Write(DEV_OUT_A_PIN, 1);
    board.clear_calls();

    DEV_ModuleExit();

    EXPECT_THAT(calls(), ElementsAreArray(kExitCalls));
    for (const int pin : {8, 7, 25, 17, 18}) {
        SCOPED_TRACE(pin);
        EXPECT_EQ(board.function(pin), Function::Output);
        EXPECT_FALSE(board.level(pin));
    }
    EXPECT_TRUE(board.level(11));
    EXPECT_TRUE(board.level(10));
    EXPECT_EQ(board.function(24), Function::Input);
    EXPECT_EQ(board.pull(24), Pull::Up);
}

TEST_F(LifecycleTest, CloseWithoutOpenStillMakesItsFiveWrites) {
    DEV_ModuleExit();
    const std::vector<vboard::CallRecord> log = board.calls();
    ASSERT_EQ(log.size(), kExitCalls.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].flag, vboard::Flag::NotSetUp);
        EXPECT_EQ(log[i].to_string(), kExitCalls[i] + " [NotSetUp]");
    }
}

}  // namespace
