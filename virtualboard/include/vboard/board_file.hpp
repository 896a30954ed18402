// SPDX-License-Identifier: MIT
// Board files: a TOML description of a virtual board (its set-up result, call costs, external
// drives, devices, rules, the lines that frame transactions and the timing checks), read and
// checked whole, then applied through Board's public interface. The format is described in the
// README and in vboard-board(5).
//
// Devices: [[device]] sections, and [link] and [[spi]] as short forms of them. Checking a file
// makes each device once on a board of its own, so a plug-in is loaded and its parameters are
// checked before the file is accepted (a model's create() runs then, and again at apply()).
#ifndef VBOARD_BOARD_FILE_HPP
#define VBOARD_BOARD_FILE_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/config_error.hpp"
#include "vboard/device.hpp"
#include "vboard/export.h"
#include "vboard/rules.hpp"

namespace vboard {

// A board file that cannot be used. what() is one line, "FILE:LINE: KEY: expected WHAT" (the key
// as a dotted path, "rule[2].after"; "syntax" for a file that is not TOML).

// A parsed, checked board file. Plain data: copy it, apply it to as many boards as needed.
class VBOARD_EXPORT BoardFile {
  public:
    // Reads and checks the file at `path`; throws BoardFileError (for a file that cannot be read
    // too, with line 0).
    static BoardFile load(const std::string &path);
    // Checks `text` as a board file named `name` in messages; throws BoardFileError.
    static BoardFile parse(std::string_view text, const std::string &name);

    // Sets `board` up as the file says. Only what the file names is changed; devices it names
    // replace those on the same bus behind the same select line. Throws only what Board's own
    // functions throw, which a checked file never makes them do (a plug-in that refuses at apply
    // what it accepted at load: DeviceError).
    void apply(Board &board) const;

    std::optional<int> setup_result;
    std::optional<bool> real_sleep;
    std::optional<bool> c_library_time;  // [board] c_library_time: Board::set_c_library_time
    std::optional<bool> pwm_waveform;    // [board] pwm_waveform: Board::set_pwm_waveform
    std::optional<std::size_t> log_capacity;
    std::optional<Fidelity> fidelity;
    std::optional<PiModel> model;    // [board] model
    std::optional<CallCosts> costs;  // the defaults, with what the file sets
    std::vector<std::pair<int, bool>> drives;
    std::vector<std::pair<int, std::string>> names;  // [names]: Board::set_line_name
    // [link] (named "link": Board::link_device), [[spi]] and [[device]], in the file's order.
    std::vector<DeviceConfig> devices;
    std::vector<Rule> rules;
    std::optional<FramingOptions> framing;  // [transactions]
    std::vector<TimingCheck> timing;        // [[timing]]
};

}  // namespace vboard

#endif  // VBOARD_BOARD_FILE_HPP
