// SPDX-License-Identifier: MIT
// A peripheral answering as a recording of it answered.

#include "recording_device.hpp"

#include <filesystem>
#include <variant>

#include "hex_text.hpp"
#include "vboard/call_trace.hpp"
#include "vboard/config_error.hpp"
#include "vboard/device.h"
#include "vboard/duration.hpp"
#include "vboard/pin_numbering.hpp"

namespace vboard {
namespace {

// The numbering a set-up call chooses; none for any other call.
std::optional<Numbering> numbering_of(const CallRecord &call) {
    switch (call.call) {
        case Call::WiringPiSetupGpio:
        case Call::WiringPiSetupSys: return Numbering::Bcm;
        case Call::WiringPiSetup: return Numbering::WiringPi;
        case Call::WiringPiSetupPhys: return Numbering::Physical;
        case Call::WiringPiSetupPinType:
        case Call::WiringPiSetupGpioDevice:
            switch (call.args[0]) {
                case 2: return Numbering::WiringPi;
                case 3: return Numbering::Physical;
                default: return Numbering::Bcm;
            }
        default: return std::nullopt;
    }
}

// Where a trace named in a board file is: beside the board file, unless the path is absolute.
std::string trace_path(const std::string &path, const DeviceConfig &config) {
    const std::filesystem::path given(path);
    const std::filesystem::path board_file(config.file);
    if (given.is_absolute() || !board_file.has_parent_path()) {
        return path;
    }
    return (board_file.parent_path() / given).string();
}

}  // namespace

RecordingDevice::RecordingDevice(Engine &engine, std::uint64_t id, const DeviceConfig &config)
    : DeviceSlot(id, config.name.empty() ? kRecordingModel : config.name, config.bus,
                 config.select),
      engine_(engine) {
    const DeviceParam *trace_param = nullptr;
    for (const DeviceParam &param : config.params) {
        const int line = param.line != 0 ? param.line : config.line;
        if (param.key != "trace") {
            throw DeviceError(config.file, line, config.key + ".params." + param.key,
                              "a parameter of model \"recording\" (unknown key)");
        }
        if (!std::holds_alternative<std::string>(param.value)) {
            throw DeviceError(config.file, line, config.key + ".params.trace", kExpectedString);
        }
        trace_param = &param;
    }
    if (trace_param == nullptr) {
        throw DeviceError(config.file, config.line, config.key + ".params.trace",
                          "the trace the device answers from (a string)");
    }
    trace_ = trace_path(std::get<std::string>(trace_param->value), config);
    CallTrace trace;
    try {
        trace = read_call_trace(trace_);
    } catch (const TraceError &error) {
        throw DeviceError(config.file, trace_param->line != 0 ? trace_param->line : config.line,
                          config.key + ".params.trace",
                          std::string("a trace this board reads (") + error.what() + ")");
    }
    for (const auto &[name, pin] : config.lines) {
        lines_ |= std::uint64_t{1} << pin;
    }
    const int channel = spi_channel(config.bus);
    Numbering numbering = Numbering::Bcm;
    for (const CallRecord &call : trace.calls) {
        if (const auto chosen = numbering_of(call)) {
            numbering = *chosen;
        }
        if (call.call == Call::DigitalRead && call.has_result && call.flag == Flag::None) {
            const int pin = static_cast<int>(call.args[0]);
            const int line = call.line >= 0                ? call.line
                             : numbering == Numbering::Bcm ? pin
                                                           : bcm_line(numbering, pin);
            if (line >= 0 && line < kLineCount && ((lines_ >> line) & 1) != 0) {
                answers_.push_back(Answer{call, line});
            }
        }
        const bool transfer =
            call.call == Call::SpiDataRW || (call.call == Call::SpiXDataRW && call.args[0] == 0);
        const int on =
            static_cast<int>(call.call == Call::SpiXDataRW ? call.args[1] : call.args[0]);
        if (transfer && channel >= 0 && on == channel && !call.received.empty()) {
            answers_.push_back(Answer{call, -1});
        }
    }
    if (lines_ != 0) {
        engine_.subscribe(this, kLineReads);
    }
}

int RecordingDevice::byte(std::uint8_t, std::uint8_t, std::uint64_t) { return VB_NO_ANSWER; }

void RecordingDevice::begin_transfer(std::span<const std::uint8_t> out) {
    reply_.clear();
    if (parted_) {
        return;
    }
    const Answer *answer = next();
    const std::vector<std::uint8_t> sent(out.begin(), out.end());
    if (answer == nullptr || answer->pin >= 0 || answer->call.sent != sent) {
        part("a transfer of " + bracketed_hex(sent) + " on SPI0 channel " +
             std::to_string(spi_channel(bus())));
        return;
    }
    reply_ = answer->call.received;
    ++next_;
}

int RecordingDevice::exchange(std::size_t index, std::uint8_t, std::uint64_t) {
    return index < reply_.size() ? reply_[index] : VB_NO_ANSWER;
}

void RecordingDevice::line_read(int pin) {
    if (parted_ || ((lines_ >> pin) & 1) == 0) {
        return;
    }
    const Answer *answer = next();
    if (answer == nullptr || answer->pin != pin) {
        part("a digitalRead of BCM " + std::to_string(pin));
        return;
    }
    engine_.set_external_drive(pin, answer->call.result != 0);
    ++next_;
}

void RecordingDevice::part(const std::string &live) {
    parted_ = true;
    const Answer *answer = next();
    std::string text = name() + ": the run parts from the recording " + trace_ +
                       ": the program made " + live + " at " + format_duration(engine_.now());
    if (answer == nullptr) {
        text += ", after the recording's last call to the device";
    } else {
        text += " where the recording made " + trace_call_text(answer->call) + " at " +
                format_duration(answer->call.time_ns);
    }
    engine_.note(text + "; the device answers nothing more");
}

}  // namespace vboard
