// SPDX-License-Identifier: MIT
// Every exported function and every wiringPi entry point of the board with the extreme values a
// caller can pass: each gives its documented result and leaves the board consistent.

#include <gmock/gmock.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "board_fixture.hpp"

using ::testing::ElementsAre;
using vboard::Flag;

namespace {

// A line's level follows from its state: an output reads its latch, an SPI0 output line in ALT0
// what the controller drives, anything else its drive or else its pull.
void expect_consistent(const vboard::Board &board) {
    for (int pin = 0; pin < vboard::kLineCount; ++pin) {
        const vboard::LineState line = board.line(pin);
        if (line.function == vboard::Function::Output) {
            EXPECT_EQ(line.level, line.latch) << "BCM " << pin;
        } else if (line.function == vboard::Function::Alt0 && pin >= 7 && pin <= 11 && pin != 9) {
            continue;
        } else if (line.driven) {
            EXPECT_EQ(line.level, line.drive_level) << "BCM " << pin;
        } else {
            EXPECT_EQ(line.level, line.pull == vboard::Pull::Up) << "BCM " << pin;
        }
    }
}

// A page that cannot be written: a buffer the layer may only read.
class ReadOnlyPage {
  public:
    explicit ReadOnlyPage(uint8_t fill) {
        size_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void *page =
            mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) {
            throw std::runtime_error("mmap failed");
        }
        data_ = static_cast<uint8_t *>(page);
        std::memset(data_, fill, size_);
        mprotect(data_, size_, PROT_READ);
    }
    ~ReadOnlyPage() { munmap(data_, size_); }
    ReadOnlyPage(const ReadOnlyPage &) = delete;
    ReadOnlyPage &operator=(const ReadOnlyPage &) = delete;
    uint8_t *data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
};

class ExtremeLayerInput : public BoardTest {
  protected:
    void SetUp() override {
        board.set_real_sleep(false);
        board.attach_link_device();
        open_layer();
    }
};

TEST_F(ExtremeLayerInput, PinPrimitivesPassEveryValueThrough) {
    for (const uint16_t pin : {0, 65535}) {
        for (const uint8_t level : {0, 1, 2, 255}) {
            board.clear_calls();
            DEV_Digital_Write(pin, level);
            const auto log = board.calls();
            ASSERT_EQ(log.size(), 1U);
            EXPECT_EQ(log[0].args[0], pin);
            EXPECT_EQ(log[0].args[1], level);
            EXPECT_EQ(log[0].flag, pin == 0 ? Flag::None : Flag::BadPin);
        }
        for (const uint16_t mode : {0, 1, 65535}) {
            board.clear_calls();
            DEV_GPIO_Mode(pin, mode);
            EXPECT_EQ(board.call_count(), mode == 0 ? 2U : 1U);
        }
        // BCM 0 is now an output whose latch the last write, 255, set high: any non-zero level is
        // high. Pin 65535 does not exist and reads low.
        EXPECT_EQ(DEV_Digital_Read(pin), pin == 0 ? 1 : 0);
    }
    DEV_Digital_Write(0, 0);
    EXPECT_EQ(DEV_Digital_Read(0), 0);
    expect_consistent(board);
}

TEST_F(ExtremeLayerInput, LinkSendLengthsAndBuffers) {
    uint8_t one[] = {0x5A};
    DEV_SPI_SendData_nByte(one, 1);
    std::vector<uint8_t> full(4096, 0xC3);
    DEV_SPI_SendData_nByte(full.data(), 4096);
    full.push_back(0x3C);
    DEV_SPI_SendData_nByte(full.data(), 4097);
    EXPECT_EQ(board.link_bytes_received().size(), 1U + 4096U + 4097U);
    board.clear_calls();
    DEV_SPI_SendData_nByte(nullptr, 0xFFFFFFFFU);  // null: nothing read, no call
    EXPECT_EQ(board.call_count(), 0U);

    ReadOnlyPage page(0x81);  // the buffer is only read, so a read-only one is fine
    DEV_SPI_SendData_nByte(page.data(), static_cast<uint32_t>(page.size()));
    const auto received = board.link_bytes_received();
    EXPECT_EQ(received.back(), 0x81);
    EXPECT_EQ(received.size(), 1U + 4096U + 4097U + page.size());
    expect_consistent(board);
}

TEST_F(ExtremeLayerInput, HardwareSpiLengthsReachWiringPiUnchanged) {
    board.attach_spi_device(
        1, [](std::span<const uint8_t> sent) { return std::vector<uint8_t>(sent.size(), 0xEE); });
    ASSERT_GE(wiringPiSPISetup(0, 1'000'000), 0);
    ASSERT_GE(wiringPiSPISetup(1, 1'000'000), 0);
    return_spi_lines_to_alt0();
    std::vector<uint8_t> buffer(4097, 0x11);
    board.clear_calls();
    DEV_SPI_Write_nByte_S(buffer.data(), 0);
    DEV_SPI_Write_nByte_S(buffer.data(), 1);
    DEV_SPI_Write_nByte_S(buffer.data() + 1, 4096);
    EXPECT_EQ(buffer[4096], 0xEE);
    std::fill(buffer.begin(), buffer.end(), 0x11);
    DEV_SPI_Write_nByte_S(buffer.data(), 4097);
    DEV_SPI_Write_nByte_S(buffer.data(), 0xFFFFFFFFU);
    DEV_SPI_Write_nByte_M(nullptr, 5);
    DEV_SPI_WriteByte_M(0);
    DEV_SPI_WriteByte_S(255);
    std::vector<long long> results;
    for (const auto &rec : board.calls()) {
        results.push_back(rec.result);
    }
    EXPECT_THAT(results, ElementsAre(0, 1, 4096, -90, -22, -14, 1, 1));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x11; }));
    expect_consistent(board);
}

TEST_F(ExtremeLayerInput, WaitsAtTheirExtremes) {
    DEV_Delay_ms(0);
    DEV_Delay_ms(0xFFFFFFFFU);  // only the virtual clock moves: real sleep is off
    DEV_Delay_us(0);
    DEV_Delay_us(1);
    DEV_Delay_us(65535);
    EXPECT_THAT(calls(), ElementsAre("delay(0)", "delay(4294967295)"));
    EXPECT_GE(board.now_ns(), 4294967295ULL * 1'000'000ULL);
}

TEST_F(ExtremeLayerInput, OpenAndCloseRepeatedAndOutOfOrder) {
    DEV_ModuleExit();
    DEV_ModuleExit();
    open_layer();
    open_layer();
    board.set_setup_result(INT_MIN);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(DEV_ModuleInit(), 1);
    ::testing::internal::GetCapturedStdout();
    board.set_setup_result(INT_MAX);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(DEV_ModuleInit(), 0);
    ::testing::internal::GetCapturedStdout();
    expect_consistent(board);
}

// The board's wiringPi face, called directly with what no layer call produces.
class ExtremeBoardInput : public BoardTest {
  protected:
    void SetUp() override {
        board.set_real_sleep(false);
        ASSERT_EQ(wiringPiSetupGpio(), 0);
        board.clear_calls();
    }

    Flag last_flag() const { return board.calls().back().flag; }
};

constexpr int kBadPins[] = {-1, 54, 65535, INT_MIN, INT_MAX};
constexpr int kBadModes[] = {-1, 10, 4, INT_MIN, INT_MAX};  // 4: soft PWM, not provided

TEST_F(ExtremeBoardInput, LineCallsWithBadPinsOrValues) {
    for (const int pin : kBadPins) {
        pinMode(pin, OUTPUT);
        EXPECT_EQ(last_flag(), Flag::BadPin);
        pullUpDnControl(pin, PUD_UP);
        EXPECT_EQ(last_flag(), Flag::BadPin);
        digitalWrite(pin, HIGH);
        EXPECT_EQ(last_flag(), Flag::BadPin);
        EXPECT_EQ(digitalRead(pin), LOW);
        pinModeAlt(pin, 4);
        EXPECT_EQ(last_flag(), Flag::BadPin);
    }
    for (const int mode : kBadModes) {
        pinMode(5, mode);
        EXPECT_EQ(last_flag(), Flag::BadArgument) << mode;
        pullUpDnControl(5, mode == 4 || mode == 10 ? 3 : mode);
        EXPECT_EQ(last_flag(), Flag::BadArgument) << mode;
        pinModeAlt(5, mode == 4 ? 8 : mode);
        EXPECT_EQ(last_flag(), Flag::BadArgument) << mode;
    }
    for (const int value : {INT_MIN, -1, 2, INT_MAX}) {
        digitalWrite(6, value);
        EXPECT_TRUE(board.line(6).latch) << value;  // any non-zero value is high
    }
    EXPECT_EQ(board.line(5).function, vboard::Function::Input);
    expect_consistent(board);
}

TEST_F(ExtremeBoardInput, SpiSetupWithBadChannelsSpeedsAndModes) {
    for (const int channel : {-1, 2, INT_MIN, INT_MAX}) {
        EXPECT_EQ(wiringPiSPISetup(channel, 1'000'000), -22);
        EXPECT_EQ(last_flag(), Flag::BadChannel);
    }
    for (const int speed : {0, -1, INT_MIN}) {
        EXPECT_EQ(wiringPiSPISetup(0, speed), -22);
        EXPECT_EQ(last_flag(), Flag::BadArgument);
    }
    for (const int mode : {-1, 4, INT_MIN, INT_MAX}) {
        EXPECT_EQ(wiringPiSPISetupMode(0, 1'000'000, mode), -22);
    }
    EXPECT_FALSE(board.spi_channel(0).open);
    EXPECT_GE(wiringPiSPISetup(0, INT_MAX), 0);   // the fastest speed there is
    EXPECT_GE(wiringPiSPISetupMode(1, 1, 3), 0);  // and the slowest
    expect_consistent(board);
}

TEST_F(ExtremeBoardInput, SpiTransfersAtTheEdgesOfTheirLength) {
    ASSERT_GE(wiringPiSPISetup(0, INT_MAX), 0);
    for (const int pin : {7, 8, 10, 11}) {
        pinModeAlt(pin, 4);
    }
    std::vector<uint8_t> buffer(4097, 0x42);
    EXPECT_EQ(wiringPiSPIDataRW(0, buffer.data(), 0), 0);
    EXPECT_EQ(wiringPiSPIDataRW(0, buffer.data(), 4096), 4096);
    EXPECT_EQ(buffer[4096], 0x42);
    for (const int len : {4097, INT_MAX}) {
        EXPECT_EQ(wiringPiSPIDataRW(0, buffer.data(), len), -90);
    }
    for (const int len : {-1, INT_MIN}) {
        EXPECT_EQ(wiringPiSPIDataRW(0, buffer.data(), len), -22);
    }
    EXPECT_EQ(wiringPiSPIDataRW(0, nullptr, 0), -14);
    EXPECT_EQ(wiringPiSPIDataRW(INT_MIN, nullptr, INT_MIN), -22);
    EXPECT_EQ(wiringPiSPIDataRW(1, buffer.data(), 1), -9);
    expect_consistent(board);
}

TEST_F(ExtremeBoardInput, WaitsOfAnyLengthOnlyMoveTheClock) {
    delay(UINT_MAX);
    delayMicroseconds(UINT_MAX);
    delayMicroseconds(0);
    EXPECT_EQ(board.call_count(), 3U);
    EXPECT_GE(board.now_ns(), static_cast<std::uint64_t>(UINT_MAX) * 1'001'000ULL);
}

TEST_F(ExtremeBoardInput, TheControlInterfaceRefusesWhatDoesNotExist) {
    for (const int pin : kBadPins) {
        EXPECT_THROW(board.drive(pin, true), std::out_of_range);
        EXPECT_THROW((void)board.level(pin), std::out_of_range);
    }
    for (const int channel : {-1, 2, INT_MAX}) {
        EXPECT_THROW(board.detach_spi_device(channel), std::out_of_range);
    }
    board.set_log_capacity(0);
    board.set_log_capacity(SIZE_MAX);
    EXPECT_EQ(board.log_capacity(), SIZE_MAX);
    expect_consistent(board);
}

}  // namespace
