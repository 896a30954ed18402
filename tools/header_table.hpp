// SPDX-License-Identifier: MIT
// The Raspberry Pi's 40-pin header as a two-column table, as Pi users know it from the GPIO
// command-line tool: physical pin, BCM line, name or role, function and level on both sides.
#ifndef DEVCFG_HEADER_TABLE_HPP
#define DEVCFG_HEADER_TABLE_HPP

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace devcfg {

// BCM 0 to 27, the lines on the header.
inline constexpr int kHeaderLines = 28;

// What a line is doing: its function-select code, as wiringPi's getAlt returns it (0 input,
// 1 output, 4 ALT0, 5 ALT1, 6 ALT2, 7 ALT3, 3 ALT4, 2 ALT5), and its level.
struct HeaderLine {
    int alt_code = 0;
    int level = 0;
};

// The layer's pin map as line names ("DEV_SCLK_PIN" for BCM 11), the names a run on the virtual
// board gives its lines unless told otherwise.
std::vector<std::pair<int, std::string>> layer_line_names();

// The table, one line of text per header row, the pin map's lines named by their role.
std::string header_table(const std::array<HeaderLine, kHeaderLines> &lines);

}  // namespace devcfg

#endif  // DEVCFG_HEADER_TABLE_HPP
