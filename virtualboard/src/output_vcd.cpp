// SPDX-License-Identifier: MIT
// The VCD output: the lines a run uses, as a waveform.

#include <algorithm>

#include "output_modules.hpp"
#include "vboard/board_file.hpp"
#include "vboard/trace.hpp"

namespace vboard {
namespace {

// The pin map's lines and MISO, every line the board file drives or watches, and the header's
// PWM and clock lines when it draws their waves.
std::vector<int> traced_lines(const BoardFile *file) {
    std::vector<int> lines = pin_map_lines();
    const auto add = [&lines](int pin) {
        if (pin >= 0 && std::find(lines.begin(), lines.end(), pin) == lines.end()) {
            lines.push_back(pin);
        }
    };
    if (file != nullptr) {
        for (const auto &[pin, level] : file->drives) {
            add(pin);
        }
        for (const Rule &rule : file->rules) {
            add(rule.when.pin);
            add(rule.action.pin);
        }
        for (const DeviceConfig &config : file->devices) {
            add(config.select);
            for (const auto &[name, pin] : config.lines) {
                add(pin);
            }
        }
        if (file->pwm_waveform.value_or(false)) {
            for (const int pin : {12, 13, 18, 19, 4, 5, 6, 20, 21}) {
                add(pin);
            }
        }
    }
    return lines;
}

}  // namespace

const OutputModule kVcdOutput{
    .setting = RunSetting::Vcd,
    .path = &RunConfig::vcd,
    .option = "--vcd",
    .argument = "FILE",
    .help =
        "stream the pin map's lines, MISO and the lines the board file drives, watches or "
        "draws a wave on to "
        "a VCD file",
    .open = [](const RunConfig &config,
               const BoardFile *board_file) -> std::shared_ptr<RunObserver> {
        return std::make_shared<VcdWriter>(config.vcd, traced_lines(board_file));
    },
    .finish = [](RunObserver &observer, const RunConfig &config,
                 const std::string &) -> std::optional<std::string> {
        if (static_cast<VcdWriter &>(observer).ok()) {
            return std::nullopt;
        }
        return write_failed(config.vcd);
    },
};

}  // namespace vboard
