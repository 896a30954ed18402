// SPDX-License-Identifier: MIT
// The channel through which the board inside a program reports to the runner that started it
// (VBOARD_REPORT): one record a line, appended by the board as the run goes and read by the
// runner once the program has ended. The writer and the reader of each record are here, side by
// side, so the two cannot drift apart.
//
//   note T TEXT              a diagnostic at T ns
//   violation TEXT           a timing violation, as TimingViolation::to_string() says it
//   violations N NAME        N violations in all of the check NAME, at the end
//   header C0..C53 L0..L53   each line's function-select code and level, at the end
//   clock T                  the board's clock at the end, in ns
//   timeout TEXT             the time-limit line
#ifndef VBOARD_RUN_REPORT_HPP
#define VBOARD_RUN_REPORT_HPP

#include <array>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"

namespace vboard::run_report {

// The records, each a whole line with its newline.
VBOARD_EXPORT std::string note(std::uint64_t time_ns, const std::string &text);
VBOARD_EXPORT std::string violation(const std::string &text);
VBOARD_EXPORT std::string violation_count(std::uint64_t count, const std::string &check);
VBOARD_EXPORT std::string end_of_run(const std::array<int, kLineCount> &codes,
                                     const std::array<bool, kLineCount> &levels,
                                     std::uint64_t clock_ns);  // the header and the clock
VBOARD_EXPORT std::string timeout(const std::string &text);

// What a runner reads back. Lines it does not know are skipped.
struct Entry {
    enum class Kind : std::uint8_t { Note, Violation, ViolationCount } kind = Kind::Note;
    std::uint64_t time_ns = 0;  // Note
    std::uint64_t count = 0;    // ViolationCount
    std::string text;           // the note, the violation, or the check's name
};
struct Read {
    std::vector<Entry> entries;  // the notes and violations, in the order the board raised them
    std::optional<std::array<int, kLineCount>> codes;  // with `levels`: the header at the end
    std::array<bool, kLineCount> levels{};
    std::optional<std::uint64_t> clock_ns;
    std::optional<std::string> timeout;
};
VBOARD_EXPORT Read read(std::istream &in);

}  // namespace vboard::run_report

#endif  // VBOARD_RUN_REPORT_HPP
