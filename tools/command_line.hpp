// SPDX-License-Identifier: MIT
// The command line of devcfg: options and a sequence of steps, checked whole before anything runs.
#ifndef DEVCFG_COMMAND_LINE_HPP
#define DEVCFG_COMMAND_LINE_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace devcfg {

enum class StepKind {
    Open,
    Close,
    Mode,
    Write,
    Read,
    Send,
    Recv,
    SpiOpen,
    Spi,
    Alt0,
    DelayMs,
    DelayUs,
    ReadAll
};

struct Step {
    StepKind kind{};
    std::uint16_t pin = 0;            // mode, write, read
    bool output = false;              // mode: out
    std::uint8_t level = 0;           // write
    int channel = 0;                  // spi-open, spi: 0 for m, 1 for s
    int speed_hz = 0;                 // spi-open
    std::uint32_t count = 0;          // recv, delay-ms, delay-us
    std::vector<std::uint8_t> bytes;  // send, spi
};

struct Options {
    bool help = false;
    bool version = false;
    // Options only the virtual board can honour.
    std::vector<std::uint8_t> link_reply;
    std::array<std::vector<std::uint8_t>, 2> spi_reply;
    bool setup_fail = false;
    std::string vcd_path;
    bool print_log = false;
    bool timing = false;
    bool no_sleep = false;
    std::string transactions_path;
    std::string report_path;
    bool transactions_jsonl = false;

    bool needs_virtual_board() const;
    // The first virtual-board option given, spelled as on the command line, for messages.
    std::string first_virtual_option;
};

struct CommandLine {
    Options options;
    std::vector<Step> steps;
};

struct ParseResult {
    std::optional<CommandLine> command_line;
    std::string error;  // one line naming the offending word and what was expected
};

// Parses the words after the program name.
ParseResult parse_command_line(std::span<const std::string_view> words);

// The usage text that --help prints.
std::string usage(std::string_view program);

}  // namespace devcfg

#endif  // DEVCFG_COMMAND_LINE_HPP
