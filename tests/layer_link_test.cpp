// SPDX-License-Identifier: MIT
// The bit-banged three-wire link on BCM 11 (clock) and BCM 10 (data): exact call sequences and
// what a device on the wires sees and answers.

#include <gmock/gmock.h>

#include <array>

#include "board_fixture.hpp"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

class LinkTest : public BoardTest {
  protected:
    void SetUp() override {
        open_layer();
        board.attach_link_device();
    }

    void queue_reply(std::initializer_list<uint8_t> bytes) {
        board.queue_link_reply(std::vector<uint8_t>(bytes));
    }
};

TEST_F(LinkTest, SendingAByteMakesTheExactCallsAndTheDeviceReceivesIt) {
    DEV_SPI_SendData(0xA5);
    EXPECT_THAT(calls(), ElementsAreArray(expected_send_calls(0xA5)));
    EXPECT_THAT(board.link_bytes_received(), ElementsAre(0xA5));
    EXPECT_FALSE(board.level(DEV_SCLK_PIN));
    EXPECT_TRUE(board.level(DEV_MOSI_PIN));  // holds bit 0
}

TEST_F(LinkTest, DataLineKeepsTheLastBit) {
    DEV_SPI_SendData(0x00);
    EXPECT_FALSE(board.level(DEV_MOSI_PIN));
    DEV_SPI_SendData(0x01);
    EXPECT_TRUE(board.level(DEV_MOSI_PIN));
    EXPECT_THAT(board.link_bytes_received(), ElementsAre(0x00, 0x01));
}

TEST_F(LinkTest, BufferSendSendsEachByteWhole) {
    uint8_t data[] = {0x12, 0xFE, 0x80};
    DEV_SPI_SendData_nByte(data, 3);
    std::vector<std::string> expected;
    for (const uint8_t byte : data) {
        const auto one = expected_send_calls(byte);
        expected.insert(expected.end(), one.begin(), one.end());
    }
    EXPECT_THAT(calls(), ElementsAreArray(expected));
    EXPECT_EQ(expected.size(), 3U * 26U);
    EXPECT_THAT(board.link_bytes_received(), ElementsAre(0x12, 0xFE, 0x80));
    EXPECT_THAT(data, ElementsAre(0x12, 0xFE, 0x80));  // only read
}

TEST_F(LinkTest, BufferSendOfNothingMakesNoCall) {
    uint8_t data[] = {0x55};
    DEV_SPI_SendData_nByte(data, 0);
    DEV_SPI_SendData_nByte(nullptr, 0);
    DEV_SPI_SendData_nByte(nullptr, 5);  // a null buffer is never read
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(board.link_bytes_received().empty());
}

TEST_F(LinkTest, ReceivingTakesTheDevicesReplyMostSignificantBitFirst) {
    queue_reply({0xA5});
    EXPECT_EQ(DEV_SPI_ReadData(), 0xA5);
    EXPECT_THAT(calls(), ElementsAreArray(expected_receive_calls(0xA5)));
    EXPECT_FALSE(board.level(DEV_SCLK_PIN));
    EXPECT_EQ(board.function(DEV_MOSI_PIN), vboard::Function::Input);
    EXPECT_EQ(board.pull(DEV_MOSI_PIN), vboard::Pull::Up);
}

TEST_F(LinkTest, ConsecutiveReceivesTakeConsecutiveReplies) {
    queue_reply({0x3C, 0x81, 0x00, 0xFF});
    EXPECT_EQ(DEV_SPI_ReadData(), 0x3C);
    EXPECT_EQ(DEV_SPI_ReadData(), 0x81);
    EXPECT_EQ(DEV_SPI_ReadData(), 0x00);
    EXPECT_EQ(DEV_SPI_ReadData(), 0xFF);
    EXPECT_EQ(board.link_replies_pending(), 0U);
}

TEST_F(LinkTest, ReceivingWithNothingDrivingReadsThePullUp) {
    EXPECT_EQ(DEV_SPI_ReadData(), 0xFF);
    EXPECT_THAT(calls(), ElementsAreArray(expected_receive_calls(0xFF)));
    board.detach_link_device();
    EXPECT_EQ(DEV_SPI_ReadData(), 0xFF);
}

TEST_F(LinkTest, ReceivingALineHeldLowReadsZero) {
    board.drive(DEV_MOSI_PIN, false);
    EXPECT_EQ(DEV_SPI_ReadData(), 0x00);
}

TEST_F(LinkTest, SendAfterReceiveTurnsTheDataLineBackToOutputFirst) {
    queue_reply({0x5A});
    ASSERT_EQ(DEV_SPI_ReadData(), 0x5A);
    board.clear_calls();
    DEV_SPI_SendData(0xC3);
    const auto log = calls();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "pinMode(10, 1)");
    EXPECT_THAT(log, ElementsAreArray(expected_send_calls(0xC3)));
    EXPECT_THAT(board.link_bytes_received(), ElementsAre(0xC3));
}

TEST_F(LinkTest, MixedTrafficKeepsBothDirectionsApart) {
    queue_reply({0x11, 0x22});
    uint8_t command[] = {0x9F, 0x00};
    DEV_SPI_SendData_nByte(command, 2);
    EXPECT_EQ(DEV_SPI_ReadData(), 0x11);
    DEV_SPI_SendData(0x42);
    EXPECT_EQ(DEV_SPI_ReadData(), 0x22);
    EXPECT_THAT(board.link_bytes_received(), ElementsAre(0x9F, 0x00, 0x42));
}

}  // namespace
