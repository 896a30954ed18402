// SPDX-License-Identifier: MIT
// The start-up of the process's board from the environment, with the handlers that keep its files
// complete however the process ends. Linked into the board's libraries apart from the core, which
// calls it through install_board_start().

#include "vboard/session.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "board_access.hpp"
#include "model_device.hpp"
#include "process_board.hpp"
#include "vboard/board_file.hpp"
#include "vboard/duration.hpp"
#include "vboard/run_config.hpp"
#include "vboard/run_outputs.hpp"
#include "vboard/run_report.hpp"

namespace vboard {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTERM, SIGINT, SIGHUP};

std::atomic<Board *> g_session{nullptr};
int g_report_fd = -1;
RunOutputs *g_outputs = nullptr;  // the board's files; lives as long as the process

// Writes all of `text` to `fd`, as far as it goes; usable from a signal handler.
void write_all(int fd, const std::string &text) {
    const char *data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n <= 0) {
            return;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Passes the board's diagnostics to the runner as they are raised, and with `violations` the timing
// violations and their count per check at the end.
class RunnerChannel final : public RunObserver {
  public:
    explicit RunnerChannel(bool violations) : violations_(violations) {}
    unsigned interests() const override {
        // Violations come only from timing checks; without any, the buses are not decoded.
        return kWatchNotes | (violations_ ? kWatchTransactions : 0U);
    }
    void event(const RunEvent &event) override {
        switch (event.kind) {
            case RunEventKind::Note:
                write_all(g_report_fd, run_report::note(event.time_ns, *event.note));
                break;
            case RunEventKind::Violation: violation(*event.violation); break;
            case RunEventKind::End:
                if (violations_) {
                    counts(event.end->violation_counts);
                }
                break;
            default: break;
        }
    }

  private:
    void violation(const TimingViolation &violation) {
        names_.resize(std::max(names_.size(), violation.check + 1));
        names_[violation.check] = violation.name;
        write_all(g_report_fd, run_report::violation(violation.to_string()));
    }
    void counts(const std::vector<std::uint64_t> &counts) {
        for (std::size_t i = 0; i < counts.size(); ++i) {
            if (counts[i] > 0) {
                write_all(g_report_fd, run_report::violation_count(
                                           counts[i], i < names_.size() ? names_[i] : "check"));
            }
        }
    }

    bool violations_;
    std::vector<std::string> names_;
};

// Tells the runner each line's function-select code and level as the run ends, for its header
// table: "header C0 ... C53 L0 ... L53". The board's lock is held.
void report_header(const Board &board) {
    if (g_report_fd < 0) {
        return;
    }
    const LinesAtEnd lines = BoardAccess::lines(board);
    write_all(g_report_fd, run_report::end_of_run(lines.codes, lines.levels, lines.now_ns));
}

// Says on standard error which of the board's files could not be written, once they have ended.
void say_output_problems() {
    if (g_outputs == nullptr) {
        return;
    }
    for (const RunProblem &problem : g_outputs->problems()) {
        write_all(STDERR_FILENO, std::string("vboard: ") + variable_name(problem.setting) + ": " +
                                     problem.text + "\n");
    }
}

void finish_session_outputs() {
    if (Board *board = g_session.load()) {
        {
            std::lock_guard lock(BoardAccess::lock(*board));
            report_header(*board);
        }
        board->flush_outputs();
        say_output_problems();
    }
}

void on_fatal_signal(int signal_number) {
    if (Board *board = g_session.load()) {
        // A thread inside a wiringPi call holds the lock and its writers may be mid-line: leave
        // them rather than deadlock. A device model that crashed holds the lock on this thread,
        // between two records: finish the writers, leaving the models alone.
        BoardLock &lock = BoardAccess::lock(*board);
        if (lock.try_lock()) {
            report_header(*board);
            BoardAccess::finish_outputs(*board, true);
            lock.unlock();
            say_output_problems();
        } else if (in_device_model()) {
            report_header(*board);
            BoardAccess::finish_outputs(*board, false);
            say_output_problems();
        }
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (const int signal_number : kFatalSignals) {
        struct sigaction previous {};
        sigaction(signal_number, nullptr, &previous);
        if (previous.sa_handler == SIG_DFL) {  // the program's own handlers come first
            sigaction(signal_number, &action, nullptr);
        }
    }
}

// Ends the process at the time limit, files complete, with the line that says where it was.
void end_at_time_limit(Board &board, const TimeLimitReport &report) {
    // The board's lock is held: finish in place.
    BoardAccess::end_call(board);
    report_header(board);
    BoardAccess::finish_outputs(board, true);
    say_output_problems();
    const std::string text = report.to_string();
    if (g_report_fd >= 0) {
        write_all(g_report_fd, run_report::timeout(text));
    } else {
        write_all(STDERR_FILENO, "vboard: " + text + "\n");
    }
    std::fflush(nullptr);
    ::_exit(kExitTimeout);
}

bool refuse(const std::string &variable, const std::string &problem) {
    std::fprintf(stderr, "vboard: %s: %s\n", variable.c_str(), problem.c_str());
    return false;
}

// Sets `board` up as the variables say. Returns false, with one line on standard error naming the
// variable and the problem, when one of them cannot be used; nothing is applied then.
bool configure_from_environment(Board &board) {
    const RunEnvironment read = read_run_environment();
    if (!read.config) {
        return refuse(read.variable, read.problem);
    }
    const RunConfig &config = *read.config;
    std::optional<BoardFile> file;
    if (!config.board_file.empty()) {
        try {
            file = BoardFile::load(config.board_file);
        } catch (const BoardFileError &error) {
            return refuse(variable_name(RunSetting::BoardFile), error.what());
        }
    }
    std::unique_ptr<RunOutputs> outputs;
    try {
        outputs = RunOutputs::open(config, file ? &*file : nullptr);
    } catch (const RunSetupError &error) {
        return refuse(variable_name(error.problem().setting), error.problem().text);
    }
    if (!config.report.empty()) {
        g_report_fd =
            ::open(config.report.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (g_report_fd < 0) {
            return refuse(variable_name(RunSetting::Report),
                          "cannot write '" + config.report + "'");
        }
        board.add_observer(std::make_shared<RunnerChannel>(file && !file->timing.empty()));
        // Nobody reads a runner's board's calls back in memory: its files stream them.
        if (!file || !file->log_capacity) {
            board.set_log_capacity(0);
        }
    }

    for (const auto &[pin, name] : config.line_names) {
        board.set_line_name(pin, name);
    }
    board.set_c_library_time(true);  // a program run on the board waits on its clock
    if (file) {
        file->apply(board);
    }
    if (config.no_sleep) {
        board.set_real_sleep(false);
    }
    outputs->attach(board);
    const bool writes_files = !config.vcd.empty() || !config.log.empty() ||
                              !config.transactions.empty() || !config.transactions_text.empty() ||
                              !config.frames.empty() || !config.html.empty();
    g_outputs = outputs.release();
    if (config.timeout_ns) {
        board.set_time_limit(*config.timeout_ns, [&board](const TimeLimitReport &report) {
            end_at_time_limit(board, report);
        });
    }
    if (writes_files || config.timeout_ns || g_report_fd >= 0) {
        install_signal_handlers();
    }
    return true;
}

// The process's board starts from the environment in every program linked with this start-up.
void start_from_environment(Board &board) {
    g_session.store(&board);
    if (!configure_from_environment(board)) {
        std::fflush(nullptr);
        ::_exit(kExitBoardSetup);
    }
    // Whatever observes the process's board, its files are complete when the process exits.
    std::atexit(finish_session_outputs);
}

[[maybe_unused]] const bool g_start_installed = (install_board_start(start_from_environment), true);

}  // namespace

}  // namespace vboard
