// SPDX-License-Identifier: MIT
// Fuzzes the virtual board and the layer together: the input is decoded into a sequence of
// wiringPi calls, layer calls and control-interface calls, with arguments that include every
// extreme. After each call the board must be consistent (an output reads its latch, a line nobody
// drives reads its pull) and the log must have grown by exactly the calls made.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <time.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "DEV_Config.h"
#include "vboard/board.hpp"

namespace {

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

class Input {
  public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int any_int() {
        static constexpr std::array<int, 8> kExtremes{INT_MIN, -1, 0, 1, 2, 4096, 4097, INT_MAX};
        const uint8_t b = byte();
        return b < 200 ? b : kExtremes[b % kExtremes.size()];
    }
    int pin() {
        const uint8_t b = byte();
        return b < 240 ? b % 60 : any_int();
    }
    uint16_t u16() { return static_cast<uint16_t>(byte() << 8 | byte()); }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Counts the wiringPi calls a board logs, leaving out the lines that are not calls (a wave that
// changed, a rule that fired).
class CallCounter final : public vboard::RunObserver {
  public:
    unsigned interests() const override { return vboard::kWatchCalls; }
    void event(const vboard::RunEvent &event) override {
        if (event.kind == vboard::RunEventKind::Call &&
            event.call->call != vboard::Call::DeviceLog &&
            event.call->call != vboard::Call::RuleFired) {
            ++calls;
        }
    }
    std::size_t calls = 0;
};

void check_lines(const vboard::Board &board) {
    for (int pin = 0; pin < vboard::kLineCount; ++pin) {
        const vboard::LineState line = board.line(pin);
        if (line.function == vboard::Function::Output) {
            require(line.level == line.latch, "an output does not read its latch");
        } else if (line.function != vboard::Function::Input &&
                   line.function == vboard::peripheral_function(pin)) {
            continue;  // SPI0, the PWM or a clock drives it
        } else if (line.driven) {
            require(line.level == line.drive_level, "a driven line does not read its drive");
        } else {
            require(line.level == (line.pull == vboard::Pull::Up),
                    "a line nobody drives does not read its pull");
        }
    }
}

// The wiringPi calls a layer call makes, for the log check.
std::size_t layer_call(Input &in, vboard::Board &board) {
    switch (in.byte() % 14) {
        case 0: {
            const bool ok = !(in.byte() & 1);
            board.set_setup_result(ok ? 0 : -1);
            return DEV_ModuleInit() == 0 ? 17 : 1;
        }
        case 1: DEV_ModuleExit(); return 5;
        case 2: DEV_Digital_Write(in.u16(), in.byte()); return 1;
        case 3: (void)DEV_Digital_Read(in.u16()); return 1;
        case 4: {
            const uint16_t mode = in.u16();
            DEV_GPIO_Mode(in.u16(), mode);
            return mode == 0 ? 2 : 1;
        }
        case 5: DEV_SPI_SendData(in.byte()); return 26;
        case 6: {
            std::vector<uint8_t> bytes(in.byte() % 8);
            for (uint8_t &b : bytes)
                b = in.byte();
            const bool null = (in.byte() & 3) == 0;
            DEV_SPI_SendData_nByte(null ? nullptr : bytes.data(),
                                   static_cast<uint32_t>(bytes.size()));
            return null ? 0 : bytes.size() * 26;
        }
        case 7: (void)DEV_SPI_ReadData(); return 27;
        case 8: DEV_SPI_WriteByte_M(in.byte()); return 1;
        case 9: DEV_SPI_WriteByte_S(in.byte()); return 1;
        case 10:
        case 11: {
            // Pointer and length reach wiringPi unchanged, so only calls the contract allows are
            // made: a length within the buffer, or one the board refuses before reading.
            std::vector<uint8_t> bytes(64, 0x5A);
            uint32_t len = in.byte() % 65;
            const uint8_t how = in.byte();
            if (how % 4 == 1) {
                len = 4097U + in.byte();  // too long: -90
            } else if (how % 4 == 2) {
                len = 0xFFFFFFFFU - in.byte();  // negative as wiringPi's int: -22
            }
            uint8_t *buffer = how % 4 == 3 ? nullptr : bytes.data();
            if (how & 4) {
                DEV_SPI_Write_nByte_M(buffer, len);
            } else {
                DEV_SPI_Write_nByte_S(buffer, len);
            }
            return 1;
        }
        case 12: DEV_Delay_ms(in.byte()); return 1;
        default: DEV_Delay_us(in.byte()); return 0;
    }
}

int g_edges = 0;
void count_edge() { ++g_edges; }

std::size_t wiringpi_call(Input &in, vboard::Board &board) {
    switch (in.byte() % 34) {
        case 23: pwmWrite(in.pin(), in.any_int()); return 1;
        case 24: pwmSetMode(in.any_int()); return 1;
        case 25: pwmSetRange(static_cast<unsigned>(in.any_int())); return 1;
        case 26: pwmSetClock(in.any_int()); return 1;
        case 27: pwmToneWrite(in.pin(), in.any_int()); return 1;
        case 28: gpioClockSet(in.pin(), in.any_int()); return 1;
        case 29: {
            const int pin = in.pin();
            const int mode = in.any_int();
            (void)wiringPiISR(pin, mode, (in.byte() & 1) != 0 ? count_edge : nullptr);
            return 1;
        }
        case 30: (void)wiringPiISRStop(in.pin()); return 1;
        case 31: (void)waitForInterrupt(in.pin(), in.byte()); return 1;  // never without end
        case 32: (void)waitForInterruptClose(in.pin()); return 1;
        case 33: {
            board.set_c_library_time(true);
            const unsigned length = in.byte();
            if ((length & 1) != 0) {
                (void)usleep(length);
            } else {
                timespec now{};
                (void)clock_gettime(static_cast<clockid_t>(length % 12), &now);
            }
            board.set_c_library_time(false);
            return (length & 1) != 0 ? 1 : 0;  // a read is not logged
        }
        case 11: (void)wiringPiSetup(); return 1;
        case 12: (void)wiringPiSetupPhys(); return 1;
        case 13:  // 0 is no pin type: refused
            (void)wiringPiSetupPinType(static_cast<WPIPinType>(in.byte() % 4));
            return 1;
        case 14: (void)wpiPinToGpio(in.any_int()); return 0;
        case 15: (void)physPinToGpio(in.any_int()); return 0;
        case 16: (void)millis(); return 1;
        case 17: (void)piMicros64(); return 1;
        case 18: (void)wiringPiSPIClose(in.any_int()); return 1;
        case 19:
            (void)wiringPiSPIxSetupMode(in.any_int(), in.any_int(), in.any_int(), in.any_int());
            return 1;
        case 20: (void)wiringPiSPIxGetFd(in.any_int(), in.any_int()); return 1;
        case 21: {
            int model = 0, rev = 0, mem = 0, maker = 0, over = 0;
            piBoardId(&model, &rev, &mem, &maker, &over);
            return 1;
        }
        case 22: {
            std::vector<uint8_t> bytes(64, 0x5A);
            int len = in.any_int();
            if (len >= 0 && len <= 4096 && len > 64)
                len = 64;  // stay within the buffer
            (void)wiringPiSPIxDataRW(in.any_int(), in.any_int(), bytes.data(), len);
            return 1;
        }
        case 0: (void)wiringPiSetupGpio(); return 1;
        case 1: pinMode(in.pin(), in.any_int()); return 1;
        case 2: pullUpDnControl(in.pin(), in.any_int()); return 1;
        case 3: digitalWrite(in.pin(), in.any_int()); return 1;
        case 4: (void)digitalRead(in.pin()); return 1;
        case 5: pinModeAlt(in.pin(), in.any_int()); return 1;
        case 6: delay(in.byte()); return 1;
        case 7: delayMicroseconds(static_cast<unsigned>(in.any_int())); return 1;
        case 8: (void)wiringPiSPISetup(in.any_int(), in.any_int()); return 1;
        case 9: (void)wiringPiSPISetupMode(in.any_int(), in.any_int(), in.any_int()); return 1;
        case 10:
        default: {
            std::vector<uint8_t> bytes(64, 0xA5);
            int len = in.any_int();
            if (len >= 0 && len <= 4096 && len > 64)
                len = 64;  // stay within the buffer
            (void)wiringPiSPIDataRW(in.any_int(), (in.byte() & 7) == 0 ? nullptr : bytes.data(),
                                    len);
            return 1;
        }
    }
}

void control_call(Input &in, vboard::Board &board, const std::shared_ptr<CallCounter> &counter) {
    switch (in.byte() % 6) {
        case 0: board.drive(in.byte() % vboard::kLineCount, in.byte() & 1); break;
        case 1: board.release(in.byte() % vboard::kLineCount); break;
        case 2: {
            const std::vector<uint8_t> reply{in.byte(), in.byte()};
            board.queue_link_reply(reply);
            break;
        }
        case 3: board.attach_link_device(); break;
        case 4: board.clear_calls(); break;
        default:
            board.reset();
            board.add_observer(counter);
            board.attach_link_device();
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::freopen("/dev/null", "w", stdout);  // the layer's report lines
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    board.set_real_sleep(false);
    board.set_log_capacity(SIZE_MAX);
    board.attach_link_device();
    board.attach_spi_device(0, [](std::span<const uint8_t> sent) {
        return std::vector<uint8_t>(sent.rbegin(), sent.rend());
    });
    const auto counter = std::make_shared<CallCounter>();
    board.add_observer(counter);
    Input in(data, size);
    while (!in.empty()) {
        const std::size_t before = counter->calls;
        const uint8_t kind = in.byte() % 3;
        std::size_t expected = 0;
        if (kind == 0) {
            expected = wiringpi_call(in, board);
        } else if (kind == 1) {
            expected = layer_call(in, board);
        } else {
            control_call(in, board, counter);
            check_lines(board);
            continue;
        }
        require(counter->calls == before + expected, "the log did not grow by the calls made");
        check_lines(board);
    }
    return 0;
}
