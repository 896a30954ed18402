// SPDX-License-Identifier: MIT
// vboard: runs a program that uses wiringPi (directly, or through the layer) on a fresh virtual
// board, described by a board file, and reports how it ended. See kUsage.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "header_table.hpp"
#include "junit.hpp"
#include "vboard/board_file.hpp"
#include "vboard/duration.hpp"
#include "vboard/frames.hpp"
#include "vboard/report.hpp"
#include "vboard/run_config.hpp"
#include "vboard/run_outputs.hpp"
#include "vboard/run_report.hpp"
#include "vboard/session.hpp"
#include "vboard/transaction_writer.hpp"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitTransactionsDiffer = 4;
constexpr int kExitTimingViolated = 5;
constexpr int kExitFramesDiffer = 6;
constexpr int kExitRunnerFailed = 125;
constexpr int kExitCannotExecute = 126;
constexpr int kExitNotFound = 127;
constexpr int kExitSignalBase = 128;

constexpr const char *kUsage = R"(Usage: vboard run [OPTIONS] -- PROGRAM [ARGS...]
  or:  vboard readall [OPTIONS] -- PROGRAM [ARGS...]
  or:  vboard --help
  or:  vboard --version

Runs PROGRAM on a fresh virtual board: the board's drop-in libwiringPi.so goes first on the
library path, and the board inside the program sets itself up from the options below when it
first starts. PROGRAM's standard input, output and error pass through untouched. readall does the same, then
prints the 40-pin header as the run left it: each line's function and level.

Options:
  --board FILE         describe the board with this board file (TOML; see vboard-board(5))
  --vcd FILE           stream the pin map's lines, MISO and the lines the board file drives or
                       watches to a VCD file
  --log FILE           stream the call log and the board's diagnostics to a text file
  --timeout DURATION   end PROGRAM when the board's clock reaches DURATION of simulated time;
                       the unit is required: 500us, 50ms, 2s
  --no-sleep           waits move the board's clock without sleeping
  --transactions FILE  stream the transactions (the bytes on the link and on SPI0, framed by
                       their select lines) and the timing violations to FILE
  --format FORMAT      the format of --transactions: text (the default) or jsonl
  --expect FILE        compare the run's transactions with FILE, a transaction table as
                       --transactions writes it; buses, select lines, bytes, directions and side
                       lines must agree, times need not
  --compare-times TOL  with --expect: start and end times must agree within TOL too (10us)
  --frames DIR         write each frame a display device showed as DIR/NNN-DEVICE.png (DIR
                       must exist)
  --expect-frames DIR  compare the run's frames with the PNG files of the same names in DIR,
                       pixel for pixel; a missing or an extra frame is a difference too
  --frame-tolerance N  with --expect-frames: allow up to N differing pixels in each frame
  --update             with --expect or --expect-frames: write FILE or DIR from this run instead
                       of comparing (only when PROGRAM ends with status 0)
  --timing-warnings    report timing violations without failing the run
  --report FILE        write one self-contained HTML page of the run: the waveform with the
                       decoded bytes, the transactions, what went wrong and the 40-pin header
  --line-names LIST    the names the page gives lines, as 24=BUSY,17=RST (a board file's
                       [names] come after); by default the layer's pin map, DEV_SCLK_PIN for
                       BCM 11 and so on; '' names none
  --junit FILE         write the run as a JUnit XML file for CI dashboards: one testcase, its
                       failure saying why the run failed, the board's diagnostics as its output
  --name NAME          with --junit: the testcase's name (default: PROGRAM's name)

The board's diagnostics, the timing violations and, with --expect, the first differing
transactions are printed on standard error once PROGRAM has ended; with --expect-frames, one
line per differing frame, and its diff image (the differing pixels in red over a faded copy) is
written as NNN-DEVICE.diff.png beside the run's frames.

Exit status:
  N        PROGRAM's own exit status
  2        a bad command line; nothing was run
  3        the board file, the --expect file, the --expect-frames directory or an output
           file could not be used; nothing was run
  4        PROGRAM ended with 0, but its transactions differ from the --expect file
  5        PROGRAM ended with 0, but the board file's timing checks found violations
  6        PROGRAM ended with 0, but its frames differ from the --expect-frames directory
  124      PROGRAM was still running when the board's clock reached the timeout
  125      vboard itself failed
  126      PROGRAM could not be executed
  127      PROGRAM was not found
  128+N    PROGRAM was ended by signal N
)";

struct RunOptions {
    std::string board_file;
    std::string vcd;
    std::string log;
    std::optional<std::string> timeout;
    bool no_sleep = false;
    std::string transactions;
    std::string format = "text";
    std::string expect;
    std::optional<std::uint64_t> time_tolerance_ns;
    bool update = false;
    std::string frames;
    std::string expect_frames;
    std::optional<std::size_t> frame_tolerance;
    bool timing_warnings = false;
    std::string report;
    std::vector<std::pair<int, std::string>> line_names = devcfg::layer_line_names();
    std::string junit;
    std::string name;
    bool readall = false;
    std::vector<std::string> program;  // the program and its arguments
};

struct Parsed {
    std::optional<RunOptions> options;
    bool help = false;
    std::string error;
};

// Parses the words after "run".
Parsed parse_run(const std::vector<std::string_view> &words) {
    Parsed parsed;
    RunOptions options;
    bool format_given = false;
    std::size_t i = 0;
    const auto value = [&](std::string &out) {
        if (i + 1 >= words.size()) {
            parsed.error = "option '" + std::string(words[i]) + "' needs a value";
            return false;
        }
        out = words[++i];
        return true;
    };
    for (; i < words.size(); ++i) {
        const std::string_view word = words[i];
        std::string text;
        if (word == "--") {
            ++i;
            break;
        }
        if (word == "--board") {
            if (!value(options.board_file))
                return parsed;
        } else if (word == "--vcd") {
            if (!value(options.vcd))
                return parsed;
        } else if (word == "--log") {
            if (!value(options.log))
                return parsed;
        } else if (word == "--timeout") {
            if (!value(text))
                return parsed;
            if (!vboard::parse_duration(text)) {
                parsed.error =
                    "--timeout '" + text + "' is not a duration with its unit (500us, 50ms, 2s)";
                return parsed;
            }
            options.timeout = text;
        } else if (word == "--no-sleep") {
            options.no_sleep = true;
        } else if (word == "--transactions") {
            if (!value(options.transactions))
                return parsed;
        } else if (word == "--format") {
            format_given = true;
            if (!value(options.format))
                return parsed;
            if (!vboard::transactions_format(options.format)) {
                parsed.error = "--format '" + options.format + "' is not text or jsonl";
                return parsed;
            }
        } else if (word == "--expect") {
            if (!value(options.expect))
                return parsed;
        } else if (word == "--compare-times") {
            if (!value(text))
                return parsed;
            options.time_tolerance_ns = vboard::parse_duration(text);
            if (!options.time_tolerance_ns) {
                parsed.error = "--compare-times '" + text +
                               "' is not a duration with its unit (500ns, 10us, 1ms)";
                return parsed;
            }
        } else if (word == "--update") {
            options.update = true;
        } else if (word == "--frames") {
            if (!value(options.frames))
                return parsed;
        } else if (word == "--expect-frames") {
            if (!value(options.expect_frames))
                return parsed;
        } else if (word == "--frame-tolerance") {
            if (!value(text))
                return parsed;
            std::size_t count = 0;
            const auto [end, problem] =
                std::from_chars(text.data(), text.data() + text.size(), count);
            if (text.empty() || problem != std::errc() || end != text.data() + text.size()) {
                parsed.error = "--frame-tolerance '" + text + "' is not a count of pixels (0, 25)";
                return parsed;
            }
            options.frame_tolerance = count;
        } else if (word == "--timing-warnings") {
            options.timing_warnings = true;
        } else if (word == "--report") {
            if (!value(options.report))
                return parsed;
        } else if (word == "--line-names") {
            if (!value(text))
                return parsed;
            auto names = vboard::parse_line_names(text);
            if (!names) {
                parsed.error = "--line-names '" + text +
                               "' is not a list of LINE=NAME (24=BUSY,17=RST), each name 1 to 32 "
                               "letters, digits, '_', '-' or '.'";
                return parsed;
            }
            options.line_names = std::move(*names);
        } else if (word == "--junit") {
            if (!value(options.junit))
                return parsed;
        } else if (word == "--name") {
            if (!value(options.name))
                return parsed;
        } else if (word == "--help") {
            parsed.help = true;
            return parsed;
        } else if (word.starts_with("-")) {
            parsed.error = "unknown option '" + std::string(word) + "'";
            return parsed;
        } else {
            break;
        }
    }
    options.program.assign(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
    if (options.expect.empty() && options.expect_frames.empty() && options.update) {
        parsed.error = "--update needs --expect FILE or --expect-frames DIR";
        return parsed;
    }
    if (options.expect.empty() && options.time_tolerance_ns) {
        parsed.error = "--compare-times needs --expect FILE";
        return parsed;
    }
    if (options.expect_frames.empty() && options.frame_tolerance) {
        parsed.error = "--frame-tolerance needs --expect-frames DIR";
        return parsed;
    }
    if (options.junit.empty() && !options.name.empty()) {
        parsed.error = "--name needs --junit FILE";
        return parsed;
    }
    if (options.transactions.empty() && format_given) {
        parsed.error = "--format needs --transactions FILE";
        return parsed;
    }
    if (options.program.empty()) {
        parsed.error = "run needs a program: vboard run [OPTIONS] -- PROGRAM [ARGS...]";
        return parsed;
    }
    parsed.options = options;
    return parsed;
}

// The directory holding the drop-in libwiringPi.so: beside an installed vboard, else the build
// tree's.
std::string dropin_directory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
            exe.parent_path() / VBOARD_DROPIN_FROM_BINDIR / "libwiringPi.so";
        if (std::filesystem::exists(installed, error)) {
            return installed.parent_path().lexically_normal().string();
        }
    }
    return VBOARD_DROPIN_BUILD_DIR;
}

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

std::string absolute(const std::string &path) {
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

// What the run asks the board inside the program for, from the command line, its paths as given;
// the runner's own channel and copies are added in the child.
vboard::RunConfig run_config(const RunOptions &options) {
    vboard::RunConfig config;
    config.board_file = options.board_file;
    config.vcd = options.vcd;
    config.log = options.log;
    config.timeout_ns = options.timeout ? vboard::parse_duration(*options.timeout) : std::nullopt;
    config.no_sleep = options.no_sleep;
    config.transactions = options.transactions;
    config.transactions_format = vboard::transactions_format(options.format)
                                     .value_or(vboard::TransactionWriter::Format::Text);
    config.frames = options.frames;
    config.html = options.report;
    config.line_names = options.line_names;
    for (const std::string &word : options.program) {
        config.html_title += (config.html_title.empty() ? "" : " ") + word;
    }
    return config;
}

// The option that gave a setting, to name it in a message.
const char *option_name(vboard::RunSetting setting) {
    switch (setting) {
        case vboard::RunSetting::BoardFile: return "--board";
        case vboard::RunSetting::Vcd: return "--vcd";
        case vboard::RunSetting::Log: return "--log";
        case vboard::RunSetting::Transactions: return "--transactions";
        case vboard::RunSetting::Frames: return "--frames";
        case vboard::RunSetting::Html: return "--report";
        default: return vboard::variable_name(setting);
    }
}

// Says on standard error why one of the board's settings cannot be used; false when none.
bool refused(const std::optional<vboard::RunProblem> &problem) {
    if (!problem) {
        return false;
    }
    if (problem->setting == vboard::RunSetting::BoardFile) {  // the text names the file
        std::fprintf(stderr, "vboard: %s\n", problem->text.c_str());
    } else {
        std::fprintf(stderr, "vboard: %s: %s\n", option_name(problem->setting),
                     problem->text.c_str());
    }
    return true;
}

// Makes each output an empty file, so that a program that never starts its board leaves none of
// an earlier run's in them.
void empty_outputs(const vboard::RunConfig &config) {
    for (const std::string *path : {&config.vcd, &config.log, &config.transactions, &config.html}) {
        if (!path->empty()) {
            const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
    const vboard::RunConfig config = run_config(options);
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

void set_or_clear(const char *name, const std::string &value) {
    if (value.empty()) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value.c_str(), 1);
    }
}

// In the child: the environment the board reads, then the program. Reports a failed exec through
// `error_fd` and never returns.
[[noreturn]] void exec_program(const RunOptions &options, const std::string &report,
                               const std::string &transactions_copy, const std::string &frames,
                               int error_fd) {
    // Absolute, as the program may change its directory before its board starts.
    vboard::RunConfig config = run_config(options);
    for (std::string *path :
         {&config.board_file, &config.vcd, &config.log, &config.transactions, &config.html}) {
        *path = absolute(*path);
    }
    config.report = report;
    config.transactions_text = transactions_copy;
    config.frames = absolute(frames);
    for (const auto &[name, value] : vboard::run_environment(config)) {
        set_or_clear(name.c_str(), value);
    }
    std::string library_path = dropin_directory();
    if (const char *previous = std::getenv("LD_LIBRARY_PATH"); previous && *previous) {
        library_path += ":" + std::string(previous);
    }
    ::setenv("LD_LIBRARY_PATH", library_path.c_str(), 1);

    std::vector<char *> argv;
    for (const std::string &word : options.program) {
        argv.push_back(const_cast<char *>(word.c_str()));
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(error_fd, &error, sizeof error);
    ::_exit(kExitNotFound);
}

struct Report {
    std::optional<std::array<devcfg::HeaderLine, devcfg::kHeaderLines>> header;
    bool timed_out = false;
    std::string timeout_line;
    std::uint64_t violations = 0;
    std::string notes;                      // the diagnostics, as printed, one a line
    std::string violation_lines;            // the timing violations, as printed
    std::optional<std::uint64_t> clock_ns;  // the board's clock when the program ended
};

// Prints one line of the report on standard error and keeps it in `kept`.
void say(std::string &kept, const std::string &line) {
    std::fprintf(stderr, "vboard: %s\n", line.c_str());
    kept += line + "\n";
}

// Prints what the board reported: its diagnostics, the timing violations, and the time-limit line
// if it ended the run.
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
        std::error_code error;
        std::filesystem::copy_file(got_path, options.expect,
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error) {
            std::fprintf(stderr, "vboard: cannot write '%s': %s\n", options.expect.c_str(),
                         error.message().c_str());
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
std::string ending_of(const std::string &program, int status, const Report &board) {
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

// While the program runs, vboard stays to report on it: an interrupt from the terminal reaches the
// program (it is in the same process group) and vboard waits for its end; a SIGTERM or SIGHUP sent
// to vboard alone is passed on to the program.
pid_t g_child = 0;

void forward_signal(int signal_number) {
    if (g_child > 0) {
        ::kill(g_child, signal_number);
    }
}

void stay_for_the_program(pid_t child) {
    g_child = child;
    struct sigaction forward {};
    forward.sa_handler = forward_signal;
    sigemptyset(&forward.sa_mask);
    for (const int signal_number : {SIGTERM, SIGHUP}) {
        sigaction(signal_number, &forward, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int signal_number : {SIGINT, SIGQUIT}) {
        sigaction(signal_number, &ignore, nullptr);
    }
}

// A temporary file, removed when the run is over.
struct TempFile {
    std::string path;
    explicit TempFile(const char *name) {
        const char *dir = std::getenv("TMPDIR");
        std::string pattern =
            std::string(dir != nullptr && *dir ? dir : "/tmp") + "/vboard-" + name + "-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd >= 0) {
            ::close(fd);
            path = pattern;
        }
    }
    ~TempFile() {
        if (!path.empty()) {
            ::unlink(path.c_str());
        }
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
};

// Where the run's frames go: --frames DIR, else for --expect-frames a directory of the run's own,
// removed after the run unless it holds the diff images of frames that differ.
struct FramesDirectory {
    std::string path;
    bool own = false;
    bool keep = false;
    bool failed = false;  // a directory of its own was needed and could not be made
    explicit FramesDirectory(const RunOptions &options) : path(options.frames) {
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
    bool usable() const { return !failed; }
    ~FramesDirectory() {
        if (own && !keep) {
            std::error_code error;
            std::filesystem::remove_all(path, error);
        }
    }
    FramesDirectory(const FramesDirectory &) = delete;
    FramesDirectory &operator=(const FramesDirectory &) = delete;
};

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
            std::filesystem::copy_file(got + "/" + name, golden + "/" + name,
                                       std::filesystem::copy_options::overwrite_existing);
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
        run.failure_message = ending_of(program, wait_status, board);
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

int run(const RunOptions &options) {
    if (const int refused = check_inputs(options); refused != 0) {
        return refused;
    }
    const auto started = std::chrono::steady_clock::now();
    const TempFile report("report");
    const TempFile transactions_copy("transactions");
    FramesDirectory frames(options);
    if (report.path.empty() || transactions_copy.path.empty() || !frames.usable()) {
        std::fprintf(stderr, "vboard: cannot make a temporary file: %s\n", std::strerror(errno));
        return kExitRunnerFailed;
    }
    int exec_error[2];
    if (::pipe2(exec_error, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "vboard: pipe: %s\n", std::strerror(errno));
        return kExitRunnerFailed;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        std::fprintf(stderr, "vboard: fork: %s\n", std::strerror(errno));
        return kExitRunnerFailed;
    }
    if (child == 0) {
        ::close(exec_error[0]);
        exec_program(options, report.path, options.expect.empty() ? "" : transactions_copy.path,
                     frames.path, exec_error[1]);
    }
    ::close(exec_error[1]);
    stay_for_the_program(child);
    int error = 0;
    const bool exec_failed = ::read(exec_error[0], &error, sizeof error) == sizeof error;
    ::close(exec_error[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string &program = options.program.front();
    if (exec_failed) {
        std::fprintf(stderr, "vboard: cannot run '%s': %s\n", program.c_str(),
                     std::strerror(error));
        Report none;
        none.notes = "cannot run '" + program + "': " + std::strerror(error) + "\n";
        return finish_run(options, started, status, none, "",
                          error == ENOENT ? kExitNotFound : kExitCannotExecute);
    }
    const Report board = print_report(report.path);
    const int program_status = exit_status_of(program, status, board.timed_out);
    std::string difference;
    int expected_status = options.expect.empty() ? 0
                                                 : check_expected(options, transactions_copy.path,
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
            std::fputs(devcfg::header_table(*board.header).c_str(), stdout);
        } else {
            std::fprintf(stderr,
                         "vboard: readall: the program left no header (it never called "
                         "wiringPi)\n");
        }
    }
    if (!options.report.empty()) {
        std::string ending = ending_of(program, status, board);
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
        if (!vboard::replace_report_ending(options.report, ending)) {
            std::fprintf(stderr,
                         "vboard: %s: the program left no report (it never called wiringPi)\n",
                         options.report.c_str());
        }
    }
    int final_status = program_status;
    if (final_status == 0) {
        final_status = expected_status;
    }
    if (final_status == 0 && board.violations > 0 && !options.timing_warnings) {
        final_status = kExitTimingViolated;
    }
    return finish_run(options, started, status, board, difference, final_status);
}

}  // namespace

int main(int argc, char **argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    if (words.empty()) {
        std::fputs("vboard: a subcommand is needed: vboard run [OPTIONS] -- PROGRAM [ARGS...]\n",
                   stderr);
        return kExitUsage;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (words[0] == "--version") {
        std::puts("vboard (devconfig) " DEVCONFIG_VERSION);
        return 0;
    }
    if (words[0] != "run" && words[0] != "readall") {
        std::fprintf(stderr, "vboard: unknown subcommand '%s'; try vboard --help\n",
                     std::string(words[0]).c_str());
        return kExitUsage;
    }
    const Parsed parsed = parse_run({words.begin() + 1, words.end()});
    if (parsed.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "vboard: %s\n", parsed.error.c_str());
        return kExitUsage;
    }
    RunOptions options = *parsed.options;
    options.readall = words[0] == "readall";
    return run(options);
}
