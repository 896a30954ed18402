// SPDX-License-Identifier: MIT
// vboard's command line.

#include "vboard_options.hpp"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tool_common.hpp"
#include "vboard/duration.hpp"
#include "vboard/run_outputs.hpp"

namespace vboard_tool {
namespace {

// The output an option asks for, from the board's table of outputs.
const vboard::OutputModule *output_named(std::string_view word) {
    for (const vboard::OutputModule &output : vboard::output_modules()) {
        if (*output.option != '\0' && word == output.option) {
            return &output;
        }
    }
    return nullptr;
}

constexpr const char *kUsageHead = R"(Usage: vboard run [OPTIONS] -- PROGRAM [ARGS...]
  or:  vboard readall [OPTIONS] -- PROGRAM [ARGS...]
  or:  vboard replay TRACE [OPTIONS]
  or:  vboard replay --capture FILE --channels MAP [--glitch DURATION] [OPTIONS]
  or:  vboard --help
  or:  vboard --version

Runs PROGRAM on a fresh virtual board: the board's drop-in libwiringPi.so goes first on the
library path, and the board inside the program sets itself up from the options below when it
first starts. PROGRAM's standard input, output and error pass through untouched. readall does
the same, then prints the 40-pin header as the run left it: each line's function and level.
replay makes the calls of TRACE again instead of running a program: a trace that vboard run
--log wrote, or one that vboard-record recorded on a Pi. Each call is made at its recorded time
and each read returns what was recorded, on the board the options describe, with the same
outputs and checks as a run (waits never sleep). With --capture, replay plays a logic
analyser's capture of the header instead (a VCD file, or a sigrok session read through
sigrok-cli): each change drives its line at its time, and the board file's selects frame the
link (whose bytes then have no direction: they compare by value, bit count and framing only)
and its SPI devices' chip enables frame SPI0.

Capture:
  --capture FILE       the capture to play, instead of a trace
  --channels MAP       which captured signal is which BCM line, as D0=11,D1=10,D2=8 (a vector's
                       bits as NAME[0]); the lines it leaves out stay the board's
  --glitch DURATION    drop the pulses shorter than DURATION (20ns)

)";

constexpr const char *kOptions = R"(Options:
  --board FILE         describe the board with this board file (TOML; see vboard-board(5))
  --timeout DURATION   end PROGRAM when the board's clock reaches DURATION of simulated time;
                       the unit is required: 500us, 50ms, 2s
  --no-sleep           waits move the board's clock without sleeping
  --line-names LIST    the names the page gives lines, as 24=BUSY,17=RST (a board file's
                       [names] come after); by default those that installed packages give in
                       share/vboard/line-names.d (the layer's pin map: DEV_SCLK_PIN for BCM
                       11 and so on); '' names none

Outputs:
)";

constexpr const char *kChecks =
    R"(  --format FORMAT      the format of --transactions: text (the default) or jsonl

Checks:
  --expect FILE        compare the run's transactions with FILE, a transaction table as
                       --transactions writes it; buses, select lines, bytes, directions and side
                       lines must agree, times need not
  --compare-times TOL  with --expect: start and end times must agree within TOL too (10us)
  --expect-frames DIR  compare the run's frames with the PNG files of the same names in DIR,
                       pixel for pixel; a missing or an extra frame is a difference too
  --frame-tolerance N  with --expect-frames: allow up to N differing pixels in each frame
  --update             with --expect or --expect-frames: write FILE or DIR from this run instead
                       of comparing (only when PROGRAM ends with status 0)
  --timing-warnings    report timing violations without failing the run
  --junit FILE         write the run as a JUnit XML file for CI dashboards: one testcase, its
                       failure saying why the run failed, the board's diagnostics as its output
  --name NAME          with --junit: the testcase's name (default: PROGRAM's name)
)";

constexpr const char *kUsageTail = R"(
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
  7        replay: every check passed, but the board file's devices, rules or driven lines
           answered a read otherwise than the trace recorded
  124      PROGRAM was still running when the board's clock reached the timeout
  125      vboard itself failed
  126      PROGRAM could not be executed
  127      PROGRAM was not found
  128+N    PROGRAM was ended by signal N
)";

}  // namespace

std::string usage() {
    std::string text = std::string(kUsageHead) + kOptions;
    for (const vboard::OutputModule &output : vboard::output_modules()) {
        if (*output.option != '\0') {
            text +=
                tool::usage_row(std::string(output.option) + " " + output.argument, output.help);
        }
    }
    return text + kChecks + kUsageTail;
}

// The directory of line names that packages install (a driver layer's its pin map): beside an
// installed vboard, else the build tree's.
std::filesystem::path line_names_directory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed = exe.parent_path() / VBOARD_NAMES_FROM_BINDIR;
        if (std::filesystem::is_directory(installed, error)) {
            return installed;
        }
    }
    return VBOARD_NAMES_BUILD_DIR;
}

// The names every file of that directory gives, in the order of the files' names; a later name of
// a line wins. Sets `error` for a file that is not a list of LINE=NAME.
std::vector<std::pair<int, std::string>> packaged_line_names(std::string &error) {
    std::vector<std::pair<int, std::string>> names;
    std::error_code code;
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(line_names_directory(), code)) {
        if (entry.is_regular_file(code)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path &file : files) {
        std::ifstream in(file);
        std::ostringstream text;
        text << in.rdbuf();
        std::string list = text.str();
        while (!list.empty() && (list.back() == '\n' || list.back() == ' ')) {
            list.pop_back();
        }
        const auto parsed = vboard::parse_line_names(list);
        if (!parsed) {
            error = file.string() + ": not a list of LINE=NAME (24=BUSY,17=RST)";
            return {};
        }
        names.insert(names.end(), parsed->begin(), parsed->end());
    }
    return names;
}

// Parses the words after "run".
Parsed parse_run(const std::vector<std::string_view> &words) {
    Parsed parsed;
    RunOptions options;
    options.board.line_names = packaged_line_names(parsed.error);
    if (!parsed.error.empty()) {
        return parsed;
    }
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
        if (const vboard::OutputModule *output = output_named(word)) {
            if (!value(options.board.*output->path))
                return parsed;
        } else if (word == "--board") {
            if (!value(options.board.board_file))
                return parsed;
        } else if (word == "--timeout") {
            if (!value(text))
                return parsed;
            if (!vboard::parse_duration(text)) {
                parsed.error =
                    "--timeout '" + text + "' is not a duration with its unit (500us, 50ms, 2s)";
                return parsed;
            }
            options.board.timeout_ns = vboard::parse_duration(text);
        } else if (word == "--no-sleep") {
            options.board.no_sleep = true;
        } else if (word == "--format") {
            format_given = true;
            if (!value(text))
                return parsed;
            const auto format = vboard::transactions_format(text);
            if (!format) {
                parsed.error = "--format '" + text + "' is not text or jsonl";
                return parsed;
            }
            options.board.transactions_format = *format;
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
            options.board.line_names = std::move(*names);
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
    if (options.board.transactions.empty() && format_given) {
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

namespace {

// Takes --capture, --channels and --glitch out of `words`; what is wrong with them, if anything.
std::optional<std::string> take_capture_options(std::vector<std::string_view> &words,
                                                RunOptions &capture) {
    std::vector<std::string_view> rest;
    bool glitch_given = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (word == "--") {
            rest.insert(rest.end(), words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
            break;
        }
        if (word != "--capture" && word != "--channels" && word != "--glitch") {
            rest.push_back(word);
            continue;
        }
        if (i + 1 >= words.size()) {
            return "option '" + std::string(word) + "' needs a value";
        }
        const std::string value(words[++i]);
        if (word == "--capture") {
            capture.capture = value;
        } else if (word == "--channels") {
            capture.channels = value;
        } else {
            const std::optional<std::uint64_t> glitch = vboard::parse_duration(value);
            if (!glitch) {
                return "--glitch '" + value + "' is not a duration with its unit (20ns, 1us)";
            }
            capture.glitch_ns = *glitch;
            glitch_given = true;
        }
    }
    if (capture.capture.empty() && (!capture.channels.empty() || glitch_given)) {
        return std::string(capture.channels.empty() ? "--glitch" : "--channels") +
               " needs --capture FILE";
    }
    if (!capture.capture.empty() && capture.channels.empty()) {
        return "--capture needs --channels MAP: which captured signal is which BCM line, as "
               "D0=11,D1=10";
    }
    words = std::move(rest);
    return std::nullopt;
}

}  // namespace

Parsed parse_replay(const std::vector<std::string_view> &words) {
    std::vector<std::string_view> reordered(words);
    RunOptions capture;
    if (const std::optional<std::string> error = take_capture_options(reordered, capture)) {
        Parsed parsed;
        parsed.error = *error;
        return parsed;
    }
    if (!capture.capture.empty()) {
        // The capture stands where the trace would: nothing may follow the options.
        reordered.push_back(capture.capture);
    }
    // The trace may come first, before the options.
    if (!reordered.empty() && !reordered.front().starts_with("-")) {
        std::rotate(reordered.begin(), reordered.begin() + 1, reordered.end());
    }
    Parsed parsed = parse_run(reordered);
    if (parsed.error.starts_with("run needs a program")) {
        parsed.error = "replay needs a trace: vboard replay TRACE [OPTIONS]";
    }
    if (!parsed.options) {
        return parsed;
    }
    if (parsed.options->program.size() != 1) {
        parsed.error = capture.capture.empty()
                           ? "replay takes one trace, not '" + parsed.options->program[1] + "'"
                           : "replay takes a trace or --capture FILE, not both";
        parsed.options.reset();
        return parsed;
    }
    parsed.options->replay = true;
    parsed.options->board.no_sleep = true;
    parsed.options->capture = capture.capture;
    parsed.options->channels = capture.channels;
    parsed.options->glitch_ns = capture.glitch_ns;
    return parsed;
}

}  // namespace vboard_tool
