// SPDX-License-Identifier: MIT
// vboard's verdict on a run: what the board reported, the comparisons with the golden
// transactions and frames, how the run ended in words, the status vboard exits with, and the run as
// JUnit.
#ifndef TOOLS_VBOARD_VERDICT_HPP
#define TOOLS_VBOARD_VERDICT_HPP

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "header_table.hpp"
#include "vboard_options.hpp"

namespace vboard_tool {

// vboard's own statuses, beside the program's (see usage()).
inline constexpr int kExitTransactionsDiffer = 4;
inline constexpr int kExitTimingViolated = 5;
inline constexpr int kExitFramesDiffer = 6;
// vboard replay: the board file's models answered a read otherwise than the trace recorded.
inline constexpr int kExitModelDiffers = 7;
inline constexpr int kExitRunnerFailed = 125;
inline constexpr int kExitCannotExecute = 126;
inline constexpr int kExitNotFound = 127;
inline constexpr int kExitSignalBase = 128;

// What the board inside the program reported through the runner's channel.
struct Report {
    std::optional<std::array<devcfg::HeaderLine, devcfg::kHeaderLines>> header;
    bool timed_out = false;
    std::string timeout_line;
    std::uint64_t violations = 0;
    std::string notes;                      // the diagnostics, as printed, one a line
    std::string violation_lines;            // the timing violations, as printed
    std::optional<std::uint64_t> clock_ns;  // the board's clock when the program ended
};

// Prints what the board reported at `path` on standard error: its diagnostics, the timing
// violations, and the time-limit line if it ended the run.
Report print_report(const std::string &path);

// Where the run's frames go: --frames DIR, else for --expect-frames a directory of the run's own,
// removed after the run unless it holds the diff images of frames that differ.
struct FramesDirectory {
    std::string path;
    bool own = false;
    bool keep = false;
    bool failed = false;  // a directory of its own was needed and could not be made
    explicit FramesDirectory(const RunOptions &options);
    ~FramesDirectory();
    bool usable() const { return !failed; }
    FramesDirectory(const FramesDirectory &) = delete;
    FramesDirectory &operator=(const FramesDirectory &) = delete;
};

// The run's verdict, from the program's wait status and what the board reported: the golden
// files compared (or written, with --update), the HTML page's ending put in, the header printed
// for readall. Returns the status vboard exits with.
int judge_run(const RunOptions &options, int wait_status, const Report &board,
              const std::string &transactions_got, FramesDirectory &frames,
              std::chrono::steady_clock::time_point started);

// A program that could not be executed: said, and written as JUnit when asked. `error` is the
// exec's errno.
int judge_unstarted(const RunOptions &options, int wait_status, int error,
                    std::chrono::steady_clock::time_point started);

}  // namespace vboard_tool

#endif  // TOOLS_VBOARD_VERDICT_HPP
