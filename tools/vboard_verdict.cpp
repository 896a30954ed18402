// SPDX-License-Identifier: MIT
// vboard's verdict on a run.

#include "vboard_verdict.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "junit.hpp"
#include "vboard/board_file.hpp"
#include "vboard/duration.hpp"
#include "vboard/frames.hpp"
#include "vboard/report.hpp"
#include "vboard/run_report.hpp"
#include "vboard/session.hpp"
#include "vboard/transactions.hpp"

namespace vboard_tool {
namespace {

// Prints one line of the report on standard error and keeps it in `kept`.
void say(std::string &kept, const std::string &line) {
    std::fprintf(stderr, "vboard: %s\n", line.c_str());
    kept += line + "\n";
}

// Prints what the board reported: its diagnostics, the timing violations, and the time-limit line
// if it ended the run.
}  // namespace

Report print_report(const std::string &path) {
    std::ifstream in(path);
    const vboard::run_report::Read read = vboard::run_report::read(in);
    Report report;
    using Kind = vboard::run_report::Entry::Kind;
    for (const vboard::run_report::Entry &entry : read.entries) {
        switch (entry.kind) {
            case Kind::Note:
                say(report.notes,
                    "note at " + vboard::format_duration(entry.time_ns) + ": " + entry.text);
                break;
            case Kind::Violation:
                say(report.violation_lines, "timing violation at " + entry.text);
                break;
            case Kind::ViolationCount:
                report.violations += entry.count;
                say(report.violation_lines, entry.text + ": " + std::to_string(entry.count) +
                                                " timing violation" +
                                                (entry.count == 1 ? "" : "s") + " in all");
                break;
        }
    }
    report.clock_ns = read.clock_ns;
    if (read.codes) {
        std::array<devcfg::HeaderLine, devcfg::kHeaderLines> header{};
        for (int pin = 0; pin < devcfg::kHeaderLines; ++pin) {
            header[pin] = {(*read.codes)[pin], read.levels[pin] ? 1 : 0};
        }
        report.header = header;
    }
    if (read.timeout) {
        std::fprintf(stderr, "vboard: %s\n", read.timeout->c_str());
        report.timed_out = true;
        report.timeout_line = *read.timeout;
    }
    return report;
}

namespace {

// The Pi the board file names (checked before the run), a Pi 4 Model B without one.
vboard::PiModel board_model(const RunOptions &options) {
    if (!options.board.board_file.empty()) {
        try {
            return vboard::BoardFile::load(options.board.board_file)
                .model.value_or(vboard::PiModel::Pi4B);
        } catch (const vboard::BoardFileError &) {
        }
    }
    return vboard::PiModel::Pi4B;
}

// Writes `from`'s bytes over `to`: a file replaced keeps its mode, a new one gets the umask's
// default, as every output does (a copy would take the mode of `from`, a private temporary file).
void write_copy(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out || !(out << in.rdbuf()) || !out.flush()) {
        throw std::runtime_error(std::strerror(errno != 0 ? errno : EIO));
    }
}

// --expect and --update: compares the run's transactions with the expected file, or writes it.
// Returns the status to exit with when PROGRAM itself ended with 0.
// The differences found go to `difference` as well.
int check_expected(const RunOptions &options, const std::string &got_path, bool program_ok,
                   std::string &difference_out) {
    if (options.update) {
        if (!program_ok) {
            std::fprintf(stderr, "vboard: %s not updated: the program failed\n",
                         options.expect.c_str());
            return 0;
        }
        try {
            write_copy(got_path, options.expect);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "vboard: cannot write '%s': %s\n", options.expect.c_str(),
                         error.what());
            return kExitRunnerFailed;
        }
        std::fprintf(stderr, "vboard: wrote %s\n", options.expect.c_str());
        return 0;
    }
    try {
        const vboard::TransactionTable expected = vboard::load_transactions(options.expect);
        const vboard::TransactionTable got = vboard::load_transactions(got_path);
        vboard::CompareOptions compare;
        compare.time_tolerance_ns = options.time_tolerance_ns;
        const std::string difference = vboard::compare_transactions(expected, got, compare);
        if (difference.empty()) {
            return 0;
        }
        std::fprintf(stderr, "vboard: the transactions differ from %s\n%s", options.expect.c_str(),
                     difference.c_str());
        difference_out = difference;
        return kExitTransactionsDiffer;
    } catch (const vboard::TransactionFileError &error) {
        std::fprintf(stderr, "vboard: %s\n", error.what());
        return kExitRunnerFailed;
    }
}

// How the program ended, in words, for the report.
std::string ending_of(const RunOptions &options, int status, const Report &board) {
    const std::string &program = options.program.front();
    if (options.replay && WIFEXITED(status) && board.timed_out == false) {
        const int code = WEXITSTATUS(status);
        if (code == 0 || code == kExitModelDiffers) {
            return "the replay of " + program + " ended" +
                   (code == 0 ? ""
                              : "; the board's models answered reads otherwise than it "
                                "recorded");
        }
    }
    if (board.timed_out) {
        return program + " was stopped: " + board.timeout_line;
    }
    if (WIFSIGNALED(status)) {
        const int signal_number = WTERMSIG(status);
        const char *abbrev = sigabbrev_np(signal_number);
        return program + " was ended by signal " + std::to_string(signal_number) + " (SIG" +
               (abbrev != nullptr ? abbrev : "?") + ")";
    }
    return program + " exited with status " + std::to_string(WEXITSTATUS(status));
}

int exit_status_of(const std::string &program, int status, bool timed_out) {
    if (timed_out) {
        return vboard::kExitTimeout;
    }
    if (WIFSIGNALED(status)) {
        const int signal_number = WTERMSIG(status);
        const char *abbrev = sigabbrev_np(signal_number);
        std::fprintf(stderr, "vboard: %s was ended by signal %d (SIG%s: %s)\n", program.c_str(),
                     signal_number, abbrev != nullptr ? abbrev : "?", strsignal(signal_number));
        return kExitSignalBase + signal_number;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : kExitRunnerFailed;
}

// --expect-frames with --update: the golden directory becomes the run's frames, those of earlier
// runs that this one did not show removed.
int update_frames(const RunOptions &options, const std::string &got, bool program_ok) {
    const std::string &golden = options.expect_frames;
    if (!program_ok) {
        std::fprintf(stderr, "vboard: %s not updated: the program failed\n", golden.c_str());
        return 0;
    }
    try {
        std::filesystem::create_directories(golden);
        for (const std::string &name : vboard::list_frames(golden)) {
            std::filesystem::remove(golden + "/" + name);
        }
        const std::vector<std::string> names = vboard::list_frames(got);
        for (const std::string &name : names) {
            write_copy(got + "/" + name, golden + "/" + name);
        }
        std::fprintf(stderr, "vboard: wrote %s (%zu %s)\n", golden.c_str(), names.size(),
                     names.size() == 1 ? "frame" : "frames");
        return 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vboard: cannot write '%s': %s\n", golden.c_str(), error.what());
        return kExitRunnerFailed;
    }
}

// --expect-frames: compares the run's frames with the golden ones, or writes them (--update).
// Returns the status to exit with when PROGRAM itself ended with 0; the lines printed go to
// `difference_out` too.
int check_frames(const RunOptions &options, FramesDirectory &got, bool program_ok,
                 std::string &difference_out) {
    if (options.update) {
        return update_frames(options, got.path, program_ok);
    }
    try {
        vboard::FrameCompareOptions compare;
        compare.tolerance = options.frame_tolerance.value_or(0);
        compare.diff_directory = got.path;
        const std::vector<vboard::FrameDifference> differences =
            vboard::compare_frame_dirs(options.expect_frames, got.path, compare);
        if (differences.empty()) {
            return 0;
        }
        got.keep = true;
        std::string lines;
        for (const vboard::FrameDifference &difference : differences) {
            lines += difference.describe() + "\n";
        }
        std::fprintf(stderr, "vboard: %zu %s from %s (the run's frames and diff images: %s)\n%s",
                     differences.size(),
                     differences.size() == 1 ? "frame differs" : "frames differ",
                     options.expect_frames.c_str(), got.path.c_str(), lines.c_str());
        difference_out = std::to_string(differences.size()) +
                         (differences.size() == 1 ? " frame differs" : " frames differ") +
                         " from " + options.expect_frames + "\n" + lines;
        return kExitFramesDiffer;
    } catch (const vboard::FrameFileError &error) {
        std::fprintf(stderr, "vboard: %s\n", error.what());
        return kExitRunnerFailed;
    }
}

// The run as JUnit: why it failed, from the status it ends with.
vboard_tool::JUnitRun junit_run(const RunOptions &options, double real_seconds, int status,
                                int wait_status, const Report &board,
                                const std::string &difference) {
    const std::string &program = options.program.front();
    vboard_tool::JUnitRun run;
    run.name =
        options.name.empty() ? std::filesystem::path(program).filename().string() : options.name;
    run.real_seconds = real_seconds;
    run.simulated_ns = board.clock_ns;
    run.system_out = board.notes;
    run.failed = status != 0;
    if (board.timed_out) {
        run.failure_message = board.timeout_line;
    } else if (status == kExitTransactionsDiffer && !difference.empty()) {
        run.failure_message = difference.substr(0, difference.find('\n'));
        if (run.failure_message.ends_with(':')) {
            run.failure_message.pop_back();
        }
        run.failure_detail = "the transactions differ from " + options.expect + "\n" + difference;
    } else if (status == kExitFramesDiffer && !difference.empty()) {
        run.failure_message = difference.substr(0, difference.find('\n'));
        run.failure_detail = difference;
    } else if (status == kExitTimingViolated) {
        run.failure_message = std::to_string(board.violations) +
                              (board.violations == 1 ? " timing violation" : " timing violations");
        run.failure_detail = board.violation_lines;
    } else if (run.failed) {
        run.failure_message = ending_of(options, wait_status, board);
        run.failure_detail = board.violation_lines;
    }
    return run;
}

int finish_run(const RunOptions &options, std::chrono::steady_clock::time_point started,
               int wait_status, const Report &board, const std::string &difference, int status) {
    if (!options.junit.empty()) {
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        if (!vboard_tool::write_junit(options.junit, junit_run(options, took.count(), status,
                                                               wait_status, board, difference))) {
            std::fprintf(stderr, "vboard: cannot write '%s'\n", options.junit.c_str());
            return status != 0 ? status : kExitRunnerFailed;
        }
    }
    return status;
}

}  // namespace

FramesDirectory::FramesDirectory(const RunOptions &options) : path(options.board.frames) {
    if (path.empty() && !options.expect_frames.empty()) {
        const char *dir = std::getenv("TMPDIR");
        std::string pattern =
            std::string(dir != nullptr && *dir ? dir : "/tmp") + "/vboard-frames-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
            own = true;
        } else {
            failed = true;
        }
    }
}

FramesDirectory::~FramesDirectory() {
    if (own && !keep) {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
}

int judge_run(const RunOptions &options, int status, const Report &board,
              const std::string &transactions_got, FramesDirectory &frames,
              std::chrono::steady_clock::time_point started) {
    const std::string &program = options.program.front();
    int program_status = exit_status_of(program, status, board.timed_out);
    // A replay's own status: the checks below still judge it.
    const bool models_differ = options.replay && program_status == kExitModelDiffers;
    if (models_differ) {
        program_status = 0;
    }
    std::string difference;
    int expected_status = options.expect.empty() ? 0
                                                 : check_expected(options, transactions_got,
                                                                  program_status == 0, difference);
    if (!options.expect_frames.empty()) {
        std::string frames_difference;
        const int frames_status =
            check_frames(options, frames, program_status == 0, frames_difference);
        if (expected_status == 0) {
            expected_status = frames_status;
            difference = frames_difference;
        }
    }
    if (options.readall) {
        if (board.header) {
            std::fflush(stdout);
            std::printf("%s\n", vboard::pi_model_title(board_model(options)));
            std::fputs(devcfg::header_table(*board.header).c_str(), stdout);
        } else {
            std::fprintf(stderr,
                         "vboard: readall: the program left no header (it never called "
                         "wiringPi)\n");
        }
    }
    if (!options.board.html.empty()) {
        std::string ending = ending_of(options, status, board);
        if (board.violations > 0) {
            ending += "; " + std::to_string(board.violations) +
                      (board.violations == 1 ? " timing violation" : " timing violations");
        }
        if (expected_status == kExitTransactionsDiffer) {
            ending += "; its transactions differ from " + options.expect;
        }
        if (expected_status == kExitFramesDiffer) {
            ending += "; its frames differ from " + options.expect_frames;
        }
        if (!vboard::replace_report_ending(options.board.html, ending)) {
            std::fprintf(stderr,
                         "vboard: %s: the program left no report (it never called wiringPi)\n",
                         options.board.html.c_str());
        }
    }
    int final_status = program_status;
    if (final_status == 0) {
        final_status = expected_status;
    }
    if (final_status == 0 && board.violations > 0 && !options.timing_warnings) {
        final_status = kExitTimingViolated;
    }
    if (final_status == 0 && models_differ) {
        final_status = kExitModelDiffers;
    }
    return finish_run(options, started, status, board, difference, final_status);
}

int judge_unstarted(const RunOptions &options, int status, int error,
                    std::chrono::steady_clock::time_point started) {
    const std::string &program = options.program.front();
    std::fprintf(stderr, "vboard: cannot run '%s': %s\n", program.c_str(), std::strerror(error));
    Report none;
    none.notes = "cannot run '" + program + "': " + std::strerror(error) + "\n";
    return finish_run(options, started, status, none, "",
                      error == ENOENT ? kExitNotFound : kExitCannotExecute);
}

}  // namespace vboard_tool
