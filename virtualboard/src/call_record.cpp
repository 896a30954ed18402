// SPDX-License-Identifier: MIT
// The names of the calls and flags, and a call's record and the time limit's report as text.

#include <cstdio>
#include <string>

#include "hex_text.hpp"
#include "vboard/board.hpp"
#include "vboard/duration.hpp"

namespace vboard {

const char *to_string(Call call) {
    switch (call) {
        case Call::WiringPiSetupGpio: return "wiringPiSetupGpio";
        case Call::PinMode: return "pinMode";
        case Call::PullUpDnControl: return "pullUpDnControl";
        case Call::DigitalWrite: return "digitalWrite";
        case Call::DigitalRead: return "digitalRead";
        case Call::PinModeAlt: return "pinModeAlt";
        case Call::Delay: return "delay";
        case Call::DelayMicroseconds: return "delayMicroseconds";
        case Call::SpiSetup: return "wiringPiSPISetup";
        case Call::SpiSetupMode: return "wiringPiSPISetupMode";
        case Call::SpiDataRW: return "wiringPiSPIDataRW";
        case Call::GetAlt: return "getAlt";
        case Call::DeviceLog: return "device";
        case Call::RuleFired: return "rule";
        case Call::WiringPiSetup: return "wiringPiSetup";
        case Call::WiringPiSetupPhys: return "wiringPiSetupPhys";
        case Call::WiringPiSetupSys: return "wiringPiSetupSys";
        case Call::WiringPiSetupPinType: return "wiringPiSetupPinType";
        case Call::WiringPiSetupGpioDevice: return "wiringPiSetupGpioDevice";
        case Call::Millis: return "millis";
        case Call::Micros: return "micros";
        case Call::PiMicros64: return "piMicros64";
        case Call::SpiGetFd: return "wiringPiSPIGetFd";
        case Call::SpiClose: return "wiringPiSPIClose";
        case Call::SpiXSetup: return "wiringPiSPIxSetup";
        case Call::SpiXSetupMode: return "wiringPiSPIxSetupMode";
        case Call::SpiXDataRW: return "wiringPiSPIxDataRW";
        case Call::SpiXGetFd: return "wiringPiSPIxGetFd";
        case Call::SpiXClose: return "wiringPiSPIxClose";
        case Call::PiBoardId: return "piBoardId";
        case Call::PiGpioLayout: return "piGpioLayout";
        case Call::PiBoardRev: return "piBoardRev";
        case Call::PiBoard40Pin: return "piBoard40Pin";
        case Call::PiRP1Model: return "piRP1Model";
        case Call::WiringPiVersion: return "wiringPiVersion";
        case Call::WiringPiGlobalMemoryAccess: return "wiringPiGlobalMemoryAccess";
        case Call::WiringPiUserLevelAccess: return "wiringPiUserLevelAccess";
        case Call::GetPinModeAlt: return "getPinModeAlt";
        case Call::DigitalWriteByte: return "digitalWriteByte";
        case Call::DigitalReadByte: return "digitalReadByte";
        case Call::SetPadDrive: return "setPadDrive";
        case Call::SetPadDrivePin: return "setPadDrivePin";
        case Call::WiringPiISR: return "wiringPiISR";
        case Call::WiringPiISRStop: return "wiringPiISRStop";
        case Call::WaitForInterrupt: return "waitForInterrupt";
        case Call::WaitForInterruptClose: return "waitForInterruptClose";
        case Call::PwmWrite: return "pwmWrite";
        case Call::PwmSetMode: return "pwmSetMode";
        case Call::PwmSetRange: return "pwmSetRange";
        case Call::PwmSetClock: return "pwmSetClock";
        case Call::PwmToneWrite: return "pwmToneWrite";
        case Call::GpioClockSet: return "gpioClockSet";
        case Call::Usleep: return "usleep";
        case Call::Nanosleep: return "nanosleep";
        case Call::ClockNanosleep: return "clock_nanosleep";
        case Call::Sleep: return "sleep";
    }
    return "?";
}

const char *to_string(Flag flag) {
    switch (flag) {
        case Flag::None: return "None";
        case Flag::NotSetUp: return "NotSetUp";
        case Flag::BadPin: return "BadPin";
        case Flag::BadArgument: return "BadArgument";
        case Flag::BadChannel: return "BadChannel";
        case Flag::NotOpen: return "NotOpen";
        case Flag::NullBuffer: return "NullBuffer";
        case Flag::TooLong: return "TooLong";
        case Flag::NotAlt0: return "NotAlt0";
        case Flag::BadBus: return "BadBus";
        case Flag::NotOnModel: return "NotOnModel";
        case Flag::NotPwm: return "NotPwm";
    }
    return "?";
}

std::string CallRecord::to_string() const {
    if (call == Call::DeviceLog || call == Call::RuleFired) {
        return text;
    }
    std::string out = vboard::to_string(call);
    out += '(';
    for (std::size_t i = 0; i < arg_count; ++i) {
        if (i > 0) {
            out += ", ";
        }
        if ((call == Call::SpiDataRW && i == 1) || (call == Call::SpiXDataRW && i == 2)) {
            // the buffer sits between channel and length, as in the call
            if (buffer == nullptr) {
                out += "NULL, ";
            } else if (flag == Flag::None || flag == Flag::NotAlt0) {
                out += bracketed_hex(sent) + ", ";
            } else {
                out += "<buffer>, ";
            }
        }
        out += std::to_string(args[i]);
    }
    out += ')';
    if (line >= 0) {
        out += " -> BCM " + std::to_string(line);
    }
    if (has_result) {
        out += " = " + std::to_string(result);
    }
    if (flag != Flag::None) {
        out += " [";
        out += vboard::to_string(flag);
        out += ']';
    }
    return out;
}

std::string LineWave::to_string() const {
    std::string text = "BCM" + std::to_string(pin) + " ";
    text += source == Source::Pwm ? "PWM" : "GPCLK";
    text += std::to_string(unit);
    if (source == Source::Pwm && period_ns > 0) {
        text += balanced ? " balanced" : " mark-space";
    }
    text += ": ";
    char buffer[96];
    if (period_ns > 0) {
        const double hz = 1e9 / period_ns;
        const char *unit_name = hz >= 1e6 ? "MHz" : hz >= 1e3 ? "kHz" : "Hz";
        const double shown = hz >= 1e6 ? hz / 1e6 : hz >= 1e3 ? hz / 1e3 : hz;
        std::snprintf(buffer, sizeof buffer, "%.6g %s (%s), ", shown, unit_name,
                      format_duration(static_cast<std::uint64_t>(period_ns + 0.5)).c_str());
        text += buffer;
    } else {
        text += "none, ";
    }
    std::snprintf(buffer, sizeof buffer, "duty %.1f %%", duty * 100);
    return text + buffer;
}

std::string TimeLimitReport::to_string() const {
    std::string text = "simulated time limit of " + format_duration(limit_ns) + " reached";
    if (!call.empty()) {
        text += " in " + call;
    }
    if (polling) {
        text += "; the program was polling BCM " + std::to_string(poll_pin) +
                " with digitalRead, " + (poll_level ? "high" : "low") + " since " +
                format_duration(poll_since_ns) + " (" + std::to_string(poll_reads) + " reads)";
    }
    return text;
}

}  // namespace vboard
