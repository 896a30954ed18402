// SPDX-License-Identifier: MIT
// The process's default board and the environment that sets it up, with the handlers that keep
// its files complete however the process ends.

#include "vboard/session.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "board_state.hpp"
#include "model_device.hpp"
#include "vboard/board_file.hpp"
#include "vboard/call_log.hpp"
#include "vboard/duration.hpp"
#include "vboard/frames.hpp"
#include "vboard/report.hpp"
#include "vboard/run_config.hpp"
#include "vboard/run_report.hpp"
#include "vboard/trace.hpp"
#include "vboard/transactions.hpp"

namespace vboard {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTERM, SIGINT, SIGHUP};

std::atomic<Board *> g_session{nullptr};
int g_report_fd = -1;

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

// VBOARD_FRAMES: each frame as a PNG in the directory; a frame that cannot be written is reported
// once on standard error when the frames end.
class FrameFiles final : public FrameObserver {
  public:
    explicit FrameFiles(std::string directory) : writer_(std::move(directory)) {}
    void frame(const Frame &frame) override { writer_.frame(frame); }
    void frames_finished(std::uint64_t) override {
        if (!writer_.failure().empty() && !reported_) {
            reported_ = true;
            std::fprintf(stderr, "vboard: VBOARD_FRAMES: %s\n", writer_.failure().c_str());
        }
    }

  private:
    FrameWriter writer_;
    bool reported_ = false;
};

// Passes the board's diagnostics to the runner as they are raised.
class ReportChannel final : public CallObserver {
  public:
    void call(const CallRecord &) override {}
    bool wants_calls() const override { return false; }
    void note(std::uint64_t time_ns, const std::string &text) override {
        write_all(g_report_fd, run_report::note(time_ns, text));
    }
    void finish(std::uint64_t) override {}
};

// Passes timing violations, and their count per check at the end, to the runner.
class ViolationChannel final : public TransactionObserver {
  public:
    void start(const FramingOptions &) override {}
    void transaction(const Transaction &) override {}
    void violation(const TimingViolation &violation) override {
        names_.resize(std::max(names_.size(), violation.check + 1));
        names_[violation.check] = violation.name;
        write_all(g_report_fd, run_report::violation(violation.to_string()));
    }
    void finish(std::uint64_t, const std::vector<std::uint64_t> &counts) override {
        for (std::size_t i = 0; i < counts.size(); ++i) {
            if (counts[i] > 0) {
                write_all(g_report_fd, run_report::violation_count(
                                           counts[i], i < names_.size() ? names_[i] : "check"));
            }
        }
    }

  private:
    std::vector<std::string> names_;
};

// Tells the runner each line's function-select code and level as the run ends, for its header
// table: "header C0 ... C53 L0 ... L53". The board's lock is held.
void report_header(const Board::State &state) {
    if (g_report_fd < 0) {
        return;
    }
    std::array<int, kLineCount> codes{};
    std::array<bool, kLineCount> levels{};
    for (std::size_t pin = 0; pin < state.run->lines.size(); ++pin) {
        codes[pin] = alt_code(state.run->lines[pin].function);
        levels[pin] = state.run->lines[pin].level;
    }
    write_all(g_report_fd, run_report::end_of_run(codes, levels, state.run->now));
}

void finish_session_outputs() {
    if (Board *board = g_session.load()) {
        {
            std::lock_guard lock(board->state().mutex);
            report_header(board->state());
        }
        board->flush_outputs();
    }
}

void on_fatal_signal(int signal_number) {
    if (Board *board = g_session.load()) {
        Board::State &state = board->state();
        // A thread inside a wiringPi call holds the lock and its writers may be mid-line: leave
        // them rather than deadlock. A device model that crashed holds the lock on this thread,
        // between two records: finish the writers, leaving the models alone.
        if (state.mutex.try_lock()) {
            report_header(state);
            state.finish_observers();
            state.mutex.unlock();
        } else if (in_device_model()) {
            report_header(state);
            state.finish_observers(false);
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
    Board::State &state = board.state();  // the board's lock is held: finish in place
    state.call_done();
    report_header(state);
    state.finish_observers();
    const std::string text = report.to_string();
    if (g_report_fd >= 0) {
        write_all(g_report_fd, run_report::timeout(text));
    } else {
        write_all(STDERR_FILENO, "vboard: " + text + "\n");
    }
    std::fflush(nullptr);
    ::_exit(kExitTimeout);
}

// The pin map's lines and MISO, and every line the board file drives or watches.
std::vector<int> traced_lines(const std::optional<BoardFile> &file) {
    std::vector<int> lines = pin_map_lines();
    const auto add = [&lines](int pin) {
        if (pin >= 0 && std::find(lines.begin(), lines.end(), pin) == lines.end()) {
            lines.push_back(pin);
        }
    };
    if (file) {
        for (const auto &[pin, level] : file->drives) {
            add(pin);
        }
        for (const Rule &rule : file->rules) {
            add(rule.when.pin);
            add(rule.action.pin);
        }
        for (const DeviceConfig &config : file->devices) {
            add(config.select);
            for (const auto &[name, pin] : config.lines) {
                add(pin);
            }
        }
    }
    return lines;
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
            return refuse("VBOARD_BOARD", error.what());
        }
    }
    std::shared_ptr<VcdWriter> vcd;
    std::shared_ptr<CallLogWriter> log;
    if (!config.vcd.empty()) {
        try {
            vcd = std::make_shared<VcdWriter>(config.vcd, traced_lines(file));
        } catch (const std::exception &error) {
            return refuse("VBOARD_VCD", error.what());
        }
    }
    if (!config.log.empty()) {
        try {
            log = std::make_shared<CallLogWriter>(config.log);
        } catch (const std::exception &error) {
            return refuse("VBOARD_LOG", error.what());
        }
    }
    std::vector<std::shared_ptr<TransactionWriter>> transaction_files;
    // VBOARD_TRANSACTIONS_TEXT: the runner's own copy, as text, to compare with an expected file.
    for (const auto &[variable, path, as] :
         {std::tuple{"VBOARD_TRANSACTIONS", config.transactions, config.transactions_format},
          std::tuple{"VBOARD_TRANSACTIONS_TEXT", config.transactions_text,
                     TransactionWriter::Format::Text}}) {
        if (!path.empty()) {
            try {
                transaction_files.push_back(std::make_shared<TransactionWriter>(path, as));
            } catch (const std::exception &error) {
                return refuse(variable, error.what());
            }
        }
    }
    std::shared_ptr<FrameFiles> frame_files;
    if (!config.frames.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(config.frames, error)) {
            return refuse("VBOARD_FRAMES", "'" + config.frames + "' is not a directory");
        }
        frame_files = std::make_shared<FrameFiles>(config.frames);
    }
    if (!config.html.empty()) {
        const int fd = ::open(config.html.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            return refuse("VBOARD_HTML", "cannot write '" + config.html + "'");
        }
        ::close(fd);
    }
    if (!config.report.empty()) {
        g_report_fd =
            ::open(config.report.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (g_report_fd < 0) {
            return refuse("VBOARD_REPORT", "cannot write '" + config.report + "'");
        }
        board.add_call_observer(std::make_shared<ReportChannel>());
        // Violations come only from timing checks; without any, the buses are not decoded.
        if (file && !file->timing.empty()) {
            board.add_transaction_observer(std::make_shared<ViolationChannel>());
        }
        // Nobody reads a runner's board's calls back in memory: its files stream them.
        if (!file || !file->log_capacity) {
            board.set_log_capacity(0);
        }
    }

    if (file) {
        file->apply(board);
    }
    if (config.no_sleep) {
        board.set_real_sleep(false);
    }
    if (vcd) {
        board.add_observer(vcd);
    }
    if (log) {
        board.add_call_observer(log);
    }
    for (const auto &writer : transaction_files) {
        board.add_transaction_observer(writer);
        board.add_frame_observer(writer);
    }
    if (frame_files) {
        board.add_frame_observer(frame_files);
    }
    if (!config.html.empty()) {
        HtmlReport::attach(board, {config.html, config.html_title, ReportLimits{}});
    }
    if (config.timeout_ns) {
        board.set_time_limit(*config.timeout_ns, [&board](const TimeLimitReport &report) {
            end_at_time_limit(board, report);
        });
    }
    if (vcd || log || config.timeout_ns || g_report_fd >= 0 || !transaction_files.empty() ||
        !config.html.empty() || frame_files) {
        install_signal_handlers();
    }
    return true;
}

}  // namespace

Board &default_board() {
    // Never destroyed, so wiringPi calls made while the process exits still find a board.
    static Board *const board = [] {
        auto *fresh = new Board;
        g_session.store(fresh);
        if (!configure_from_environment(*fresh)) {
            std::fflush(nullptr);
            ::_exit(kExitBoardSetup);
        }
        // Whatever observes the process's board, its files are complete when the process exits.
        std::atexit(finish_session_outputs);
        return fresh;
    }();
    return *board;
}

}  // namespace vboard
