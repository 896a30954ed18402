// SPDX-License-Identifier: MIT
// What a run of a program on the board asks for (its board file, its outputs, its time limit), and
// the one way it travels from a runner to the board inside the program: the VBOARD_* variables
// listed in vboard/session.hpp. A runner fills a RunConfig from its own command line and puts it in
// the program's environment with run_environment(); the board reads it back with
// read_run_environment(), so which variables there are and how their values are written is
// decided here only.
#ifndef VBOARD_RUN_CONFIG_HPP
#define VBOARD_RUN_CONFIG_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vboard/export.h"
#include "vboard/transaction_writer.hpp"

namespace vboard {

// An empty path asks for nothing.
struct RunConfig {
    std::string board_file;    // VBOARD_BOARD
    std::string vcd;           // VBOARD_VCD
    std::string log;           // VBOARD_LOG
    std::string transactions;  // VBOARD_TRANSACTIONS, in transactions_format
    TransactionWriter::Format transactions_format = TransactionWriter::Format::Text;
    std::string transactions_text;  // VBOARD_TRANSACTIONS_TEXT: a copy, always text
    std::string frames;             // VBOARD_FRAMES: a directory
    std::string html;               // VBOARD_HTML
    std::string html_title;         // VBOARD_HTML_TITLE
    std::string report;             // VBOARD_REPORT: the runner's channel (vboard/run_report.hpp)
    std::optional<std::uint64_t> timeout_ns;  // VBOARD_TIMEOUT
    bool no_sleep = false;                    // VBOARD_NO_SLEEP
    // VBOARD_LINE_NAMES ("24=BUSY,17=RST"): Board::set_line_name for each, before the board file,
    // whose [names] come after.
    std::vector<std::pair<int, std::string>> line_names;

    bool operator==(const RunConfig &) const = default;
};

// One setting of a RunConfig, to name it in a message: each face names it its own way (the
// variable, a command-line option).
enum class RunSetting : std::uint8_t {
    BoardFile,
    Vcd,
    Log,
    Transactions,
    TransactionsText,
    Html,
    Report,
    Frames,
};

// The variable that carries `setting`: "VBOARD_VCD".
VBOARD_EXPORT const char *variable_name(RunSetting setting);

// "text" or "jsonl", as --format and VBOARD_TRANSACTIONS_FORMAT say it; nothing for another word.
VBOARD_EXPORT std::optional<TransactionWriter::Format> transactions_format(std::string_view word);

// A line's name as a run gives it: 1 to 32 letters, digits, '_', '-' or '.'.
VBOARD_EXPORT bool is_line_name(std::string_view name);

// Line names written as "24=BUSY,17=RST" (empty: none), or nothing when an entry is not
// LINE=NAME with a line from 0 to 53 and a name as is_line_name() says.
VBOARD_EXPORT std::optional<std::vector<std::pair<int, std::string>>> parse_line_names(
    std::string_view text);

// What a variable of the run is to be set to, an empty value meaning unset: every variable the
// board reads, so that a runner leaves none of its own environment's behind.
VBOARD_EXPORT std::vector<std::pair<std::string, std::string>> run_environment(
    const RunConfig &config);

// The run the process's environment describes, or, when a variable cannot be used, its name and
// the problem ("'5 parsecs' is not a duration with its unit (50ms, 2s)").
struct RunEnvironment {
    std::optional<RunConfig> config;
    std::string variable;
    std::string problem;
};
VBOARD_EXPORT RunEnvironment read_run_environment();

}  // namespace vboard

#endif  // VBOARD_RUN_CONFIG_HPP
