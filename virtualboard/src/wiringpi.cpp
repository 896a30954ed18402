// SPDX-License-Identifier: MIT
// The wiringPi face of the virtual board: each call runs atomically on the current board.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cstring>
#include <mutex>
#include <optional>

#include "board_call.hpp"
#include "c_library_time.hpp"
#include "vboard/export.h"

namespace {

using vboard::CallDone;
using vboard::InterruptsAfterCall;
using vboard::on_board;
using vboard::waiting_on_board;

using Write = vboard::Board::State::Write;

// What begin_write() left to do, each under the owner's lock and ending it.
[[gnu::noinline]] void tell_and_unlock(vboard::Board::State &state, int pin) {
    state.tell_line_change(pin);
    state.mutex.unlock_owner();
}

[[gnu::noinline]] void brief_write_and_unlock(vboard::Board::State &state, int pin, int value) {
    {
        CallDone done{state};
        state.brief_write(pin, value);
    }
    state.mutex.unlock_owner();
}

[[gnu::noinline]] void recorded_write_and_unlock(vboard::Board::State &state, int pin, int value) {
    const InterruptsAfterCall after{state};
    {
        CallDone done{state};
        state.recorded_write(pin, value);
    }
    state.mutex.unlock_owner();
}

// digitalWrite with the lock taken in full.
[[gnu::noinline]] void write_locked(vboard::Board::State &state, int pin, int value) {
    const InterruptsAfterCall after{state};
    const vboard::BoardLock::Guard lock(state.mutex);
    const Write write = state.begin_write(pin, value);
    if (write == Write::ToTell) {
        state.tell_line_change(pin);
    } else if (write == Write::Brief) {
        CallDone done{state};
        state.brief_write(pin, value);
    } else if (write == Write::Recorded) {
        CallDone done{state};
        state.recorded_write(pin, value);
    }
}

// A pin type as the caller passed it: a C caller may pass any int, which C++ may not read as the
// enum, so its bytes are read as one.
int pin_type(const WPIPinType &type) {
    int value = 0;
    static_assert(sizeof value == sizeof type);
    std::memcpy(&value, &type, sizeof value);
    return value;
}

}  // namespace

extern "C" {

VBOARD_EXPORT int wiringPiSetupGpio(void) {
    return on_board([](auto &s) { return s.setup_gpio(); });
}

VBOARD_EXPORT int wiringPiSetup(void) {
    return on_board(
        [](auto &s) { return s.setup(vboard::Call::WiringPiSetup, vboard::Numbering::WiringPi); });
}

VBOARD_EXPORT int wiringPiSetupPhys(void) {
    return on_board([](auto &s) {
        return s.setup(vboard::Call::WiringPiSetupPhys, vboard::Numbering::Physical);
    });
}

VBOARD_EXPORT int wiringPiSetupSys(void) {
    return on_board(
        [](auto &s) { return s.setup(vboard::Call::WiringPiSetupSys, vboard::Numbering::Bcm); });
}

VBOARD_EXPORT int wiringPiSetupPinType(enum WPIPinType pinType) {
    const int type = pin_type(pinType);
    return on_board(
        [=](auto &s) { return s.setup_pin_type(vboard::Call::WiringPiSetupPinType, type); });
}

VBOARD_EXPORT int wiringPiSetupGpioDevice(enum WPIPinType pinType) {
    const int type = pin_type(pinType);
    return on_board(
        [=](auto &s) { return s.setup_pin_type(vboard::Call::WiringPiSetupGpioDevice, type); });
}

VBOARD_EXPORT int wpiPinToGpio(int wpiPin) {
    return vboard::bcm_line(vboard::Numbering::WiringPi, wpiPin);
}

VBOARD_EXPORT int physPinToGpio(int physPin) {
    return vboard::bcm_line(vboard::Numbering::Physical, physPin);
}

VBOARD_EXPORT void piBoardId(int *model, int *rev, int *mem, int *maker, int *overVolted) {
    const std::uint32_t code = on_board([](auto &s) {
        const std::uint32_t revision = vboard::revision_code(s.settings.model);
        s.board_info(vboard::Call::PiBoardId, static_cast<int>((revision >> 4) & 0xFF));
        return revision;
    });
    const auto put = [](int *out, std::uint32_t value) {
        if (out != nullptr) {
            *out = static_cast<int>(value);
        }
    };
    put(model, (code >> 4) & 0xFF);
    put(rev, code & 0x0F);
    put(mem, (code >> 20) & 0x07);
    put(maker, (code >> 16) & 0x0F);
    put(overVolted, (code >> 25) & 0x01);
}

VBOARD_EXPORT int piGpioLayout(void) {
    return on_board([](auto &s) { return s.board_info(vboard::Call::PiGpioLayout, 2); });
}

VBOARD_EXPORT int piBoardRev(void) {
    return on_board([](auto &s) { return s.board_info(vboard::Call::PiBoardRev, 2); });
}

VBOARD_EXPORT int piBoard40Pin(void) {
    return on_board([](auto &s) { return s.board_info(vboard::Call::PiBoard40Pin, 1); });
}

VBOARD_EXPORT int piRP1Model(void) {
    return on_board([](auto &s) {
        return s.board_info(vboard::Call::PiRP1Model, s.settings.model == vboard::PiModel::Pi5);
    });
}

VBOARD_EXPORT void wiringPiVersion(int *major, int *minor) {
    on_board([](auto &s) { return s.board_info(vboard::Call::WiringPiVersion, 3); });
    if (major != nullptr) {
        *major = vboard::kWiringPiMajor;
    }
    if (minor != nullptr) {
        *minor = vboard::kWiringPiMinor;
    }
}

VBOARD_EXPORT int wiringPiGlobalMemoryAccess(void) {
    return on_board(
        [](auto &s) { return s.board_info(vboard::Call::WiringPiGlobalMemoryAccess, 1); });
}

VBOARD_EXPORT int wiringPiUserLevelAccess(void) {
    return on_board([](auto &s) { return s.board_info(vboard::Call::WiringPiUserLevelAccess, 1); });
}

VBOARD_EXPORT unsigned int millis(void) {
    return static_cast<unsigned int>(
        on_board([](auto &s) { return s.time_since_setup(vboard::Call::Millis, 1'000'000); }));
}

VBOARD_EXPORT unsigned int micros(void) {
    return static_cast<unsigned int>(
        on_board([](auto &s) { return s.time_since_setup(vboard::Call::Micros, 1'000); }));
}

VBOARD_EXPORT unsigned long long piMicros64(void) {
    return on_board([](auto &s) { return s.time_since_setup(vboard::Call::PiMicros64, 1'000); });
}

VBOARD_EXPORT void pinMode(int pin, int mode) {
    on_board([=](auto &s) { s.pin_mode(pin, mode); });
}

VBOARD_EXPORT void pullUpDnControl(int pin, int pud) {
    on_board([=](auto &s) { s.pull_up_dn_control(pin, pud); });
}

// The owner's quick way makes no call but in tail position, so that it needs no frame.
VBOARD_EXPORT void digitalWrite(int pin, int value) {
    vboard::Board::State &state = vboard::current_state();
    if (state.mutex.lock_if_owner()) [[likely]] {
        const Write write = state.begin_write(pin, value);
        switch (write) {
            case Write::Done: state.mutex.unlock_owner(); return;
            case Write::ToTell: return tell_and_unlock(state, pin);
            case Write::Brief: return brief_write_and_unlock(state, pin, value);
            case Write::Recorded: return recorded_write_and_unlock(state, pin, value);
        }
    }
    write_locked(state, pin, value);
}

VBOARD_EXPORT int digitalRead(int pin) {
    return on_board([=](auto &s) { return s.digital_read(pin); });
}

VBOARD_EXPORT int getAlt(int pin) {
    return on_board([=](auto &s) { return s.get_alt(pin); });
}

VBOARD_EXPORT int getPinModeAlt(int pin) {
    return on_board([=](auto &s) { return s.get_alt(pin, vboard::Call::GetPinModeAlt); });
}

VBOARD_EXPORT void digitalWriteByte(const int value) {
    on_board([=](auto &s) { s.digital_write_byte(value); });
}

VBOARD_EXPORT unsigned int digitalReadByte(void) {
    return static_cast<unsigned int>(on_board([](auto &s) { return s.digital_read_byte(); }));
}

VBOARD_EXPORT void setPadDrive(int group, int value) {
    on_board([=](auto &s) { s.set_pad_drive(vboard::Call::SetPadDrive, group, value); });
}

VBOARD_EXPORT void setPadDrivePin(int pin, int value) {
    on_board([=](auto &s) { s.set_pad_drive(vboard::Call::SetPadDrivePin, pin, value); });
}

VBOARD_EXPORT void pwmWrite(int pin, int value) {
    on_board([=](auto &s) { s.pwm_write(pin, value); });
}

VBOARD_EXPORT void pwmSetMode(int mode) {
    on_board([=](auto &s) { s.pwm_set_mode(mode); });
}

VBOARD_EXPORT void pwmSetRange(unsigned int range) {
    on_board([=](auto &s) { s.pwm_set_range(range); });
}

VBOARD_EXPORT void pwmSetClock(int divisor) {
    on_board([=](auto &s) { s.pwm_set_clock(divisor); });
}

VBOARD_EXPORT void pwmToneWrite(int pin, int freq) {
    on_board([=](auto &s) { s.pwm_tone_write(pin, freq); });
}

VBOARD_EXPORT void gpioClockSet(int pin, int freq) {
    on_board([=](auto &s) { s.gpio_clock_set(pin, freq); });
}

VBOARD_EXPORT void pinModeAlt(int pin, int mode) {
    on_board([=](auto &s) { s.pin_mode_alt(pin, mode); });
}

// The waits sleep outside the board's lock, so other threads keep using the board meanwhile.
VBOARD_EXPORT void delay(unsigned int howLong) {
    const std::uint64_t length = std::uint64_t{howLong} * 1'000'000;
    if (waiting_on_board([=](auto &s) { return s.wait(vboard::Call::Delay, {howLong}, length); })) {
        vboard::real_sleep(length);
    }
}

VBOARD_EXPORT void delayMicroseconds(unsigned int howLong) {
    const std::uint64_t length = std::uint64_t{howLong} * 1'000;
    if (waiting_on_board(
            [=](auto &s) { return s.wait(vboard::Call::DelayMicroseconds, {howLong}, length); })) {
        vboard::real_sleep(length);
    }
}

VBOARD_EXPORT int wiringPiISR(int pin, int mode, void (*function)(void)) {
    return waiting_on_board([=](auto &s) { return s.isr_register(pin, mode, function); });
}

VBOARD_EXPORT int wiringPiISRStop(int pin) {
    return waiting_on_board(
        [=](auto &s) { return s.isr_stop(vboard::Call::WiringPiISRStop, pin); });
}

VBOARD_EXPORT int waitForInterrupt(int pin, int mS) {
    std::uint64_t waited = 0;
    const int result = waiting_on_board([&](auto &s) {
        const std::uint64_t start = s.run->clock.now();
        const int answer = s.wait_for_interrupt(pin, mS);
        const std::uint64_t end = s.run ? s.run->clock.now() : start;
        waited = s.settings.real_sleep && end > start ? end - start : 0;
        return answer;
    });
    vboard::real_sleep(waited);
    return result;
}

VBOARD_EXPORT int waitForInterruptClose(int pin) {
    return waiting_on_board(
        [=](auto &s) { return s.isr_stop(vboard::Call::WaitForInterruptClose, pin); });
}

VBOARD_EXPORT int wiringPiSPISetup(int channel, int speed) {
    return on_board([=](auto &s) {
        return s.spi_setup(vboard::Call::SpiSetup, std::nullopt, channel, speed, 0);
    });
}

VBOARD_EXPORT int wiringPiSPISetupMode(int channel, int speed, int mode) {
    return on_board([=](auto &s) {
        return s.spi_setup(vboard::Call::SpiSetupMode, std::nullopt, channel, speed, mode);
    });
}

VBOARD_EXPORT int wiringPiSPIDataRW(int channel, unsigned char *data, int len) {
    return on_board([=](auto &s) {
        return s.spi_data_rw(vboard::Call::SpiDataRW, std::nullopt, channel, data, len);
    });
}

VBOARD_EXPORT int wiringPiSPIGetFd(int channel) {
    return on_board(
        [=](auto &s) { return s.spi_get_fd(vboard::Call::SpiGetFd, std::nullopt, channel); });
}

VBOARD_EXPORT int wiringPiSPIClose(const int channel) {
    return on_board(
        [=](auto &s) { return s.spi_close(vboard::Call::SpiClose, std::nullopt, channel); });
}

VBOARD_EXPORT int wiringPiSPIxSetup(const int number, const int channel, const int speed) {
    return on_board(
        [=](auto &s) { return s.spi_setup(vboard::Call::SpiXSetup, number, channel, speed, 0); });
}

VBOARD_EXPORT int wiringPiSPIxSetupMode(const int number, const int channel, const int speed,
                                        const int mode) {
    return on_board([=](auto &s) {
        return s.spi_setup(vboard::Call::SpiXSetupMode, number, channel, speed, mode);
    });
}

VBOARD_EXPORT int wiringPiSPIxDataRW(const int number, const int channel, unsigned char *data,
                                     const int len) {
    return on_board([=](auto &s) {
        return s.spi_data_rw(vboard::Call::SpiXDataRW, number, channel, data, len);
    });
}

VBOARD_EXPORT int wiringPiSPIxGetFd(const int number, int channel) {
    return on_board(
        [=](auto &s) { return s.spi_get_fd(vboard::Call::SpiXGetFd, number, channel); });
}

VBOARD_EXPORT int wiringPiSPIxClose(const int number, const int channel) {
    return on_board([=](auto &s) { return s.spi_close(vboard::Call::SpiXClose, number, channel); });
}

}  // extern "C"
