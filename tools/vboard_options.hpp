// SPDX-License-Identifier: MIT
// vboard's command line: what a run asks for, and its usage text.
#ifndef TOOLS_VBOARD_OPTIONS_HPP
#define TOOLS_VBOARD_OPTIONS_HPP

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vboard/run_config.hpp"

namespace vboard_tool {

struct RunOptions {
    // What the board inside the program is asked for: the board file, the outputs (each as the
    // board's table of outputs names it), the timeout, the sleep mode and the line names.
    vboard::RunConfig board;
    std::string expect;
    std::optional<std::uint64_t> time_tolerance_ns;
    bool update = false;
    std::string expect_frames;
    std::optional<std::size_t> frame_tolerance;
    bool timing_warnings = false;
    std::string junit;
    std::string name;
    bool readall = false;
    bool replay = false;               // vboard replay: program holds the trace alone
    std::string capture;               // vboard replay --capture: the capture, instead of a trace
    std::string channels;              // --channels: its map, read with the capture
    std::uint64_t glitch_ns = 0;       // --glitch
    std::vector<std::string> program;  // the program and its arguments
};

struct Parsed {
    std::optional<RunOptions> options;
    bool help = false;
    std::string error;  // why the command line cannot be used
};

// Parses the words after "run" (or "readall").
Parsed parse_run(const std::vector<std::string_view> &words);
// Parses the words after "replay": the trace, before or after the options, or --capture FILE
// with --channels MAP.
Parsed parse_replay(const std::vector<std::string_view> &words);

// The text of vboard --help.
std::string usage();

}  // namespace vboard_tool

#endif  // TOOLS_VBOARD_OPTIONS_HPP
