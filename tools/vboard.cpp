// SPDX-License-Identifier: MIT
// vboard: runs a program that uses wiringPi (directly, or through the layer) on a fresh virtual
// board, described by a board file, and reports how it ended. See usage().

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool_common.hpp"
#include "vboard/call_trace.hpp"
#include "vboard/capture.hpp"
#include "vboard/frames.hpp"
#include "vboard/replay.hpp"
#include "vboard/run_config.hpp"
#include "vboard/run_outputs.hpp"
#include "vboard/session.hpp"
#include "vboard/transactions.hpp"
#include "vboard_launch.hpp"
#include "vboard_options.hpp"
#include "vboard_verdict.hpp"

namespace {

using vboard_tool::RunOptions;

// Whether --update can write `path` later, said on standard error when it cannot. Leaves an
// existing file as it is, and no new one behind.
bool can_write_file(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        std::fprintf(stderr, "vboard: cannot write '%s': it is a directory\n", path.c_str());
        return false;
    }
    const bool existed = std::filesystem::exists(path, error);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "vboard: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    ::close(fd);
    if (!existed) {
        ::unlink(path.c_str());
    }
    return true;
}

// Whether --update can write frames into `directory`: it is one that can be written, or one
// that can be made in a directory that exists.
bool can_write_directory(const std::string &directory) {
    std::error_code error;
    std::filesystem::path at = std::filesystem::absolute(directory, error);
    while (!at.empty() && !std::filesystem::exists(at, error) && at != at.parent_path()) {
        at = at.parent_path();
    }
    if (!std::filesystem::is_directory(at, error)) {
        std::fprintf(stderr, "vboard: cannot write '%s': %s is not a directory\n",
                     directory.c_str(), at.c_str());
        return false;
    }
    if (::access(at.c_str(), W_OK | X_OK) != 0) {
        std::fprintf(stderr, "vboard: cannot write '%s': %s\n", directory.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Says on standard error why one of the board's settings cannot be used; false when none.
bool refused(const std::optional<vboard::RunProblem> &problem) {
    if (!problem) {
        return false;
    }
    if (problem->setting == vboard::RunSetting::BoardFile) {  // the text names the file
        std::fprintf(stderr, "vboard: %s\n", problem->text.c_str());
    } else {
        std::fprintf(stderr, "vboard: %s: %s\n", tool::option_name(problem->setting).c_str(),
                     problem->text.c_str());
    }
    return true;
}

// Makes each output file empty, so that a program that never starts its board leaves none of an
// earlier run's in them.
void empty_outputs(const vboard::RunConfig &config) {
    for (const vboard::OutputModule &output : vboard::output_modules()) {
        const std::string &path = config.*output.path;
        if (!path.empty() && !output.directory()) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
}

// Runs `check`, which throws `Error` for a file that cannot be used: says why on standard error
// and returns false then.
template <typename Error, typename Check>
bool usable(const char *prefix, Check check) {
    try {
        check();
        return true;
    } catch (const Error &error) {
        std::fprintf(stderr, "vboard: %s%s\n", prefix, error.what());
        return false;
    }
}

// Refuses what would make the run fail before it starts: a bad board file, an output that cannot
// be written. Returns the status to exit with, or 0.
int check_inputs(const RunOptions &options) {
    const vboard::RunConfig config = vboard_tool::board_config(options);
    if (refused(vboard::check_run_config(config))) {
        return vboard::kExitBoardSetup;
    }
    if (!options.expect.empty() && !options.update &&
        !usable<vboard::TransactionFileError>("",
                                              [&] { vboard::load_transactions(options.expect); })) {
        return vboard::kExitBoardSetup;
    }
    if (!options.expect_frames.empty() && !options.update &&
        !usable<vboard::FrameFileError>("--expect-frames: ",
                                        [&] { vboard::check_frame_dir(options.expect_frames); })) {
        return vboard::kExitBoardSetup;
    }
    // What --update will write: the golden file, or the golden directory (made if need be).
    if (options.update && !options.expect.empty() && !can_write_file(options.expect)) {
        return vboard::kExitBoardSetup;
    }
    if (options.update && !options.expect_frames.empty() &&
        !can_write_directory(options.expect_frames)) {
        return vboard::kExitBoardSetup;
    }
    if (!options.junit.empty() && !can_write_file(options.junit)) {
        return vboard::kExitBoardSetup;
    }
    empty_outputs(config);
    return 0;
}

// vboard replay's trace, read before anything runs; nothing when it cannot be used (said).
std::optional<vboard::CallTrace> read_trace(const RunOptions &options) {
    try {
        return vboard::read_call_trace(options.program.front());
    } catch (const vboard::TraceError &error) {
        std::fprintf(stderr, "vboard: %s\n", error.what());
        return std::nullopt;
    }
}

// vboard replay --capture's capture, read before anything runs; nothing when it cannot be used
// (said).
std::optional<vboard::Capture> read_capture(const RunOptions &options) {
    try {
        return vboard::read_capture(options.capture, vboard::parse_channel_map(options.channels),
                                    vboard::CaptureOptions{.glitch_ns = options.glitch_ns});
    } catch (const vboard::CaptureError &error) {
        std::fprintf(stderr, "vboard: %s\n", error.what());
        return std::nullopt;
    }
}

int run(const RunOptions &options) {
    // The trace or the capture first: checking the inputs empties the output files.
    std::optional<vboard::CallTrace> trace;
    std::optional<vboard::Capture> capture;
    std::function<int()> replay;
    if (!options.capture.empty()) {
        capture = read_capture(options);
        if (!capture) {
            return vboard::kExitBoardSetup;
        }
        replay = [&capture] {
            vboard::replay_capture(vboard::default_board(), *capture);
            return 0;
        };
    } else if (options.replay) {
        trace = read_trace(options);
        if (!trace) {
            return vboard::kExitBoardSetup;
        }
        replay = [&trace] {
            const vboard::ReplayResult result =
                vboard::replay_trace(vboard::default_board(), *trace);
            return result.mismatches > 0 ? vboard_tool::kExitModelDiffers : 0;
        };
    }
    if (const int refused = check_inputs(options); refused != 0) {
        return refused;
    }
    const auto started = std::chrono::steady_clock::now();
    const vboard_tool::TempFile report("report");
    const vboard_tool::TempFile transactions_copy("transactions");
    vboard_tool::FramesDirectory frames(options);
    if (report.path.empty() || transactions_copy.path.empty() || !frames.usable()) {
        std::fprintf(stderr, "vboard: cannot make a temporary file: %s\n", std::strerror(errno));
        return vboard_tool::kExitRunnerFailed;
    }
    const vboard_tool::Launched launched = vboard_tool::launch(
        options, report.path, options.expect.empty() ? "" : transactions_copy.path, frames.path,
        replay);
    if (!launched.ran) {
        return vboard_tool::kExitRunnerFailed;
    }
    if (launched.exec_error != 0) {
        return vboard_tool::judge_unstarted(options, launched.wait_status, launched.exec_error,
                                            started);
    }
    const vboard_tool::Report board = vboard_tool::print_report(report.path);
    return vboard_tool::judge_run(options, launched.wait_status, board, transactions_copy.path,
                                  frames, started);
}

}  // namespace

int main(int argc, char **argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    if (words.empty()) {
        std::fputs("vboard: a subcommand is needed: vboard run [OPTIONS] -- PROGRAM [ARGS...]\n",
                   stderr);
        return tool::kExitUsage;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        std::fputs(vboard_tool::usage().c_str(), stdout);
        return 0;
    }
    if (words[0] == "--version") {
        std::puts("vboard (devconfig) " DEVCONFIG_VERSION);
        return 0;
    }
    if (words[0] != "run" && words[0] != "readall" && words[0] != "replay") {
        std::fprintf(stderr, "vboard: unknown subcommand '%s'; try vboard --help\n",
                     std::string(words[0]).c_str());
        return tool::kExitUsage;
    }
    const std::vector<std::string_view> rest(words.begin() + 1, words.end());
    const vboard_tool::Parsed parsed =
        words[0] == "replay" ? vboard_tool::parse_replay(rest) : vboard_tool::parse_run(rest);
    if (parsed.help) {
        std::fputs(vboard_tool::usage().c_str(), stdout);
        return 0;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "vboard: %s\n", parsed.error.c_str());
        return tool::kExitUsage;
    }
    RunOptions options = *parsed.options;
    options.readall = words[0] == "readall";
    return run(options);
}
