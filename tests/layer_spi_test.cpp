// SPDX-License-Identifier: MIT
// The hardware SPI writes: one wiringPiSPIDataRW each, on the right channel, with pointer and
// length passed through.

#include <gmock/gmock.h>

#include "board_fixture.hpp"

using ::testing::ElementsAre;
using ::testing::SizeIs;

namespace {

class HardwareSpiTest : public BoardTest {
  protected:
    std::vector<std::vector<uint8_t>> seen[2];

    void SetUp() override {
        open_layer();
        for (int channel = 0; channel < 2; ++channel) {
            board.attach_spi_device(channel, [this, channel](std::span<const uint8_t> sent) {
                seen[channel].emplace_back(sent.begin(), sent.end());
                std::vector<uint8_t> answer(sent.size());
                for (std::size_t i = 0; i < sent.size(); ++i) {
                    answer[i] = static_cast<uint8_t>(~sent[i]);
                }
                return answer;
            });
        }
        ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
        ASSERT_GE(wiringPiSPISetup(1, 1000000), 0);
        return_spi_lines_to_alt0();
        board.clear_calls();
    }
};

TEST_F(HardwareSpiTest, WriteByteOnChannelZeroSendsAPrivateCopy) {
    DEV_SPI_WriteByte_M(0x3C);
    const auto log = board.calls();
    ASSERT_THAT(log, SizeIs(1));
    EXPECT_EQ(log[0].to_string(), "wiringPiSPIDataRW(0, [3c], 1) = 1");
    EXPECT_NE(log[0].buffer, nullptr);
    EXPECT_THAT(seen[0], ElementsAre(std::vector<uint8_t>{0x3C}));
    EXPECT_TRUE(seen[1].empty());
}

TEST_F(HardwareSpiTest, WriteByteOnChannelOneUsesChannelOne) {
    DEV_SPI_WriteByte_S(0x81);
    EXPECT_THAT(calls(), ElementsAre("wiringPiSPIDataRW(1, [81], 1) = 1"));
    EXPECT_THAT(seen[1], ElementsAre(std::vector<uint8_t>{0x81}));
    EXPECT_TRUE(seen[0].empty());
}

TEST_F(HardwareSpiTest, BufferWriteIsInPlaceAndFullDuplex) {
    uint8_t data[] = {0x01, 0x02, 0x03, 0x04};
    DEV_SPI_Write_nByte_S(data, 4);
    const auto log = board.calls();
    ASSERT_THAT(log, SizeIs(1));
    EXPECT_EQ(log[0].to_string(), "wiringPiSPIDataRW(1, [01 02 03 04], 4) = 4");
    EXPECT_EQ(log[0].buffer, data);
    EXPECT_THAT(data, ElementsAre(0xFE, 0xFD, 0xFC, 0xFB));  // what the device answered

    uint8_t more[] = {0xF0, 0x0F};
    DEV_SPI_Write_nByte_M(more, 2);
    EXPECT_EQ(board.calls().back().buffer, more);
    EXPECT_THAT(more, ElementsAre(0x0F, 0xF0));
    EXPECT_THAT(seen[0], ElementsAre(std::vector<uint8_t>{0xF0, 0x0F}));
}

TEST_F(HardwareSpiTest, PointerAndLengthGoThroughUnchecked) {
    uint8_t data[] = {0xAA};
    DEV_SPI_Write_nByte_M(data, 0);
    DEV_SPI_Write_nByte_S(nullptr, 0);
    DEV_SPI_Write_nByte_M(data, 4097);
    DEV_SPI_Write_nByte_S(data, 0xFFFFFFFFU);  // arrives as -1 in wiringPi's int
    EXPECT_THAT(calls(), ElementsAre("wiringPiSPIDataRW(0, [], 0) = 0",
                                     "wiringPiSPIDataRW(1, NULL, 0) = -14 [NullBuffer]",
                                     "wiringPiSPIDataRW(0, <buffer>, 4097) = -90 [TooLong]",
                                     "wiringPiSPIDataRW(1, <buffer>, -1) = -22 [BadArgument]"));
    EXPECT_EQ(data[0], 0xAA);
}

TEST_F(HardwareSpiTest, WithoutAlt0NothingReachesTheWire) {
    open_layer();  // the pin map makes the SPI0 lines plain outputs again
    uint8_t data[] = {0x55, 0x66};
    DEV_SPI_Write_nByte_M(data, 2);
    EXPECT_TRUE(seen[0].empty());
    EXPECT_THAT(data, ElementsAre(0x00, 0x00));  // MISO idles low on its pull-down
    ASSERT_THAT(board.diagnostics(), SizeIs(1));
    EXPECT_EQ(board.diagnostics()[0],
              "wiringPiSPIDataRW on channel 0: BCM 11 (SCLK) is OUTPUT, BCM 10 (MOSI) is OUTPUT, "
              "not ALT0; nothing reached the wire");
    EXPECT_EQ(board.calls().back().flag, vboard::Flag::NotAlt0);
}

}  // namespace
