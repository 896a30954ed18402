// SPDX-License-Identifier: MIT
// The wiringPi face of the virtual board: each call runs atomically on the current board.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "board_state.hpp"
#include "vboard/export.h"

namespace {

// Runs `operation` on the current board's state with the board's lock held.
template <typename Operation>
auto on_board(Operation operation) {
    vboard::Board::State &state = vboard::current_state();
    std::lock_guard lock(state.mutex);
    struct CallDone {
        vboard::Board::State &state;
        ~CallDone() { state.call_done(); }
    } done{state};
    return operation(state);
}

std::uint64_t nanoseconds(std::chrono::nanoseconds length) {
    return static_cast<std::uint64_t>(length.count());
}

}  // namespace

extern "C" {

VBOARD_EXPORT int wiringPiSetupGpio(void) {
    return on_board([](auto &s) { return s.setup_gpio(); });
}

VBOARD_EXPORT void pinMode(int pin, int mode) {
    on_board([=](auto &s) { s.pin_mode(pin, mode); });
}

VBOARD_EXPORT void pullUpDnControl(int pin, int pud) {
    on_board([=](auto &s) { s.pull_up_dn_control(pin, pud); });
}

VBOARD_EXPORT void digitalWrite(int pin, int value) {
    on_board([=](auto &s) { s.digital_write(pin, value); });
}

VBOARD_EXPORT int digitalRead(int pin) {
    return on_board([=](auto &s) { return s.digital_read(pin); });
}

VBOARD_EXPORT int getAlt(int pin) {
    return on_board([=](auto &s) { return s.get_alt(pin); });
}

VBOARD_EXPORT void pinModeAlt(int pin, int mode) {
    on_board([=](auto &s) { s.pin_mode_alt(pin, mode); });
}

// The waits sleep outside the board's lock, so other threads keep using the board meanwhile.
VBOARD_EXPORT void delay(unsigned int howLong) {
    const std::chrono::milliseconds length(howLong);
    if (on_board(
            [=](auto &s) { return s.wait(vboard::Call::Delay, howLong, nanoseconds(length)); })) {
        std::this_thread::sleep_for(length);
    }
}

VBOARD_EXPORT void delayMicroseconds(unsigned int howLong) {
    const std::chrono::microseconds length(howLong);
    if (on_board([=](auto &s) {
            return s.wait(vboard::Call::DelayMicroseconds, howLong, nanoseconds(length));
        })) {
        std::this_thread::sleep_for(length);
    }
}

VBOARD_EXPORT int wiringPiSPISetup(int channel, int speed) {
    return on_board(
        [=](auto &s) { return s.spi_setup(vboard::Call::SpiSetup, channel, speed, 0); });
}

VBOARD_EXPORT int wiringPiSPISetupMode(int channel, int speed, int mode) {
    return on_board(
        [=](auto &s) { return s.spi_setup(vboard::Call::SpiSetupMode, channel, speed, mode); });
}

VBOARD_EXPORT int wiringPiSPIDataRW(int channel, unsigned char *data, int len) {
    return on_board([=](auto &s) { return s.spi_data_rw(channel, data, len); });
}

}  // extern "C"
