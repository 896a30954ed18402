// SPDX-License-Identifier: MIT
// What the board is set to do, as opposed to what it has done: the settings reset() keeps. Private
// to the library.
#ifndef VBOARD_BOARD_SETTINGS_HPP
#define VBOARD_BOARD_SETTINGS_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/pi_model.hpp"

namespace vboard {

struct BoardSettings {
    CallCosts costs;
    bool real_sleep = true;
    bool pwm_waveform = false;  // the PWM's and the clocks' edges drawn on their lines
    Fidelity fidelity = Fidelity::Flag;
    PiModel model = PiModel::Pi4B;
    std::size_t log_capacity = 100'000;
    std::size_t frames_kept = 64;
    std::vector<std::pair<int, std::string>> line_names;  // in the order they were given
    FramingOptions framing;
    std::uint64_t select_lines =
        lines_mask(FramingOptions{}.selects);  // framing.selects, a bit each

    void set_framing(const FramingOptions &options) {
        framing = options;
        select_lines = lines_mask(options.selects);
    }
    static std::uint64_t lines_mask(const std::vector<int> &pins) {
        std::uint64_t mask = 0;
        for (const int pin : pins) {
            mask |= std::uint64_t{1} << pin;
        }
        return mask;
    }
};

}  // namespace vboard

#endif  // VBOARD_BOARD_SETTINGS_HPP
