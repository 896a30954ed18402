// SPDX-License-Identifier: MIT
// wiringPi's PWM and clock calls: each checked and recorded, then handed to the PWM and the
// clocks.

#include <cmath>
#include <string>

#include "board_state.hpp"

namespace vboard {
namespace {

// pinMode's modes, as wiringPi numbers them.
constexpr int kPwmOutput = 2;
constexpr int kGpioClock = 3;
constexpr int kSoftPwmOutput = 4;
constexpr int kSoftToneOutput = 5;
constexpr int kPwmToneOutput = 6;
constexpr int kPmOff = 7;
constexpr int kPwmMsOutput = 8;
constexpr int kPwmBalOutput = 9;

// What pinMode sets on a PWM line, as wiringPi does: the mode, a range of 1024 and a divisor of
// 32 (600 kHz ticks on a 19.2 MHz clock).
constexpr std::uint32_t kDefaultRange = 1024;
constexpr int kDefaultDivisor = 32;
// pwmToneWrite's tick rate: wiringPi's 19.2 MHz / 32.
constexpr int kToneTicksPerSecond = 600'000;

std::string call_text(const CallRecord &rec) {
    CallRecord shown = rec;
    shown.flag = Flag::None;
    shown.has_result = false;
    return shown.to_string();
}

enum class Unit { Pwm, Clock };

// Whether `line` has the unit a call asks for; when not, the call is flagged NotPwm and a
// diagnostic names the lines that have it.
bool line_has(Board::State &state, CallRecord &rec, int line, Unit unit) {
    if (unit == Unit::Pwm ? is_pwm_line(line) : clock_generator(line) >= 0) {
        return true;
    }
    rec.flag = Flag::NotPwm;
    state.note(call_text(rec) + ": BCM " + std::to_string(line) +
               (unit == Unit::Pwm ? " has no PWM (BCM 12, 13, 18 and 19 have)"
                                  : " has no general-purpose clock (BCM 4, 5, 6, 20 and 21 have)") +
               " (ignored)");
    return false;
}

}  // namespace

void Board::State::pin_mode_peripheral(CallRecord &rec, int line, int mode) {
    const auto refuse = [&](Flag flag, const std::string &why) {
        rec.flag = flag;
        note(call_text(rec) + ": " + why + " (ignored)");
    };
    switch (mode) {
        case kPmOff: set_line_function(line, Function::Input); return;
        case kPwmOutput:
        case kPwmMsOutput:
        case kPwmBalOutput:
        case kPwmToneOutput:
            if (!line_has(*this, rec, line, Unit::Pwm)) {
                return;
            }
            set_line_function(line, peripheral_function(line));
            run->pwm.set_mode(mode == kPwmOutput || mode == kPwmBalOutput);
            run->pwm.set_range(kDefaultRange);
            run->pwm.set_clock(kDefaultDivisor);
            run->pwm.refresh();
            return;
        case kGpioClock:
            if (!line_has(*this, rec, line, Unit::Clock)) {
                return;
            }
            set_line_function(line, peripheral_function(line));
            return;
        case kSoftPwmOutput:
        case kSoftToneOutput:
            return refuse(Flag::BadArgument,
                          "soft PWM and soft tone are not provided by the board");
        default: return refuse(Flag::BadArgument, "not a pin mode of wiringPi's");
    }
}

void Board::State::pwm_set_mode(int mode) {
    CallRecord &rec = record(Call::PwmSetMode, {mode});
    if (mode != 0 && mode != 1) {
        rec.flag = Flag::BadArgument;
        note(call_text(rec) + ": not a PWM mode (PWM_MODE_MS 0, PWM_MODE_BAL 1); ignored");
    } else {
        run->pwm.set_mode(mode == 1);
        run->pwm.refresh();
    }
    run->clock.advance(settings.costs.write_ns);
}

void Board::State::pwm_set_range(unsigned int range) {
    CallRecord &rec = record(Call::PwmSetRange, {range});
    if (range == 0) {
        rec.flag = Flag::BadArgument;
        note(call_text(rec) + ": a range of 0 ticks makes no period; ignored");
    } else {
        run->pwm.set_range(range);
        run->pwm.refresh();
    }
    run->clock.advance(settings.costs.write_ns);
}

void Board::State::pwm_set_clock(int divisor) {
    CallRecord &rec = record(Call::PwmSetClock, {divisor});
    if (!run->pwm.set_clock(divisor)) {
        rec.flag = Flag::BadArgument;
        note(call_text(rec) + ": leaves the PWM clock of a " + pi_model_title(settings.model) +
             " no divisor (1 to 4095 after wiringPi's scaling); ignored");
    } else {
        run->pwm.refresh();
    }
    run->clock.advance(settings.costs.write_ns);
}

void Board::State::pwm_write(int pin, int value) {
    CallRecord &rec = record(Call::PwmWrite, {pin, value});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    if (rec.flag != Flag::None || !line_has(*this, rec, line, Unit::Pwm)) {
        // refused
    } else if (value < 0) {
        rec.flag = Flag::BadArgument;
        note(call_text(rec) + ": a negative value; ignored");
    }
    if (rec.flag == Flag::None) {
        run->pwm.write(line, static_cast<std::uint32_t>(value));
        run->pwm.refresh();
    }
    run->clock.advance(settings.costs.write_ns);
}

void Board::State::pwm_tone_write(int pin, int freq) {
    CallRecord &rec = record(Call::PwmToneWrite, {pin, freq});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    if (rec.flag != Flag::None || !line_has(*this, rec, line, Unit::Pwm)) {
        // refused
    } else if (freq < 0 || freq > kToneTicksPerSecond) {
        rec.flag = Flag::BadArgument;
        note(call_text(rec) + ": a tone from 0 to 600000 Hz; ignored");
    }
    if (rec.flag == Flag::None) {
        // As wiringPi writes it: the range from a 600 kHz tick, and half the frequency as the
        // value.
        if (freq > 0) {
            run->pwm.set_range(static_cast<std::uint32_t>(kToneTicksPerSecond / freq));
        }
        run->pwm.write(line, static_cast<std::uint32_t>(freq / 2));
        run->pwm.refresh();
    }
    run->clock.advance(settings.costs.write_ns);
}

void Board::State::gpio_clock_set(int pin, int freq) {
    CallRecord &rec = record(Call::GpioClockSet, {pin, freq});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    if (rec.flag == Flag::None && settings.model == PiModel::Pi5) {
        rec.flag = Flag::NotOnModel;
        note(call_text(rec) +
             ": not on a Raspberry Pi 5, whose clocks wiringPi does not set (ignored)");
        if (settings.fidelity == Fidelity::WiringPi3) {
            end_process_as_wiringpi(
                "wiringPi: gpioClockSet: not supported on a Raspberry Pi 5: "
                "wiringPi 3.x ends the program here with status 1");
        }
    } else if (rec.flag == Flag::None) {
        line_has(*this, rec, line, Unit::Clock);
    }
    if (rec.flag == Flag::None) {
        const double hz = run->pwm.set_frequency(line, freq);
        if (hz == 0) {
            rec.flag = Flag::BadArgument;
            note(call_text(rec) + ": a frequency from 1 Hz to 19.2 MHz; ignored");
        } else {
            if (std::abs(hz - freq) > 0.01 * freq) {
                note(call_text(rec) + ": the clock runs at " +
                     std::to_string(static_cast<long long>(std::llround(hz))) +
                     " Hz: wiringPi divides the oscillator by 19.2 MHz / " + std::to_string(freq) +
                     ", whole, and the oscillator of a " + pi_model_title(settings.model) +
                     " runs at " + std::to_string(run->pwm.oscillator_hz()) + " Hz");
            }
            run->pwm.refresh();
        }
    }
    run->clock.advance(settings.costs.write_ns);
}

}  // namespace vboard
