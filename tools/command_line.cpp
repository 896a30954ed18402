// SPDX-License-Identifier: MIT
// Parsing devcfg's command line. Every word is checked before the first step runs.

#include "command_line.hpp"

#include <charconv>
#include <cstdio>
#include <limits>

namespace devcfg {
namespace {

constexpr int kMaxPin = 53;
constexpr int kMaxSpeedHz = 125'000'000;
constexpr std::uint32_t kMaxRecv = 1'048'576;
constexpr std::size_t kMaxSpiTransfer = 4096;

struct StepName {
    std::string_view word;
    StepKind kind;
};

constexpr StepName kSteps[] = {
    {"open", StepKind::Open},        {"close", StepKind::Close},
    {"mode", StepKind::Mode},        {"write", StepKind::Write},
    {"read", StepKind::Read},        {"send", StepKind::Send},
    {"recv", StepKind::Recv},        {"spi-open", StepKind::SpiOpen},
    {"spi", StepKind::Spi},          {"alt0", StepKind::Alt0},
    {"delay-ms", StepKind::DelayMs}, {"delay-us", StepKind::DelayUs},
    {"readall", StepKind::ReadAll},
};

std::optional<StepKind> step_kind(std::string_view word) {
    for (const StepName &step : kSteps) {
        if (step.word == word) {
            return step.kind;
        }
    }
    return std::nullopt;
}

// A word as messages show it: in quotes, with anything unprintable escaped, so that a message
// stays one line whatever the word holds.
std::string quoted(std::string_view word) {
    std::string text = "'";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text + "'";
}

// An unsigned decimal number within [min, max].
std::optional<std::uint64_t> parse_decimal(std::string_view word, std::uint64_t min,
                                           std::uint64_t max) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || error != std::errc{} || end != word.data() + word.size() || value < min ||
        value > max) {
        return std::nullopt;
    }
    return value;
}

// A byte written as hex: "a5", "A5", "0xa5" or "5".
std::optional<std::uint8_t> parse_byte(std::string_view word) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
    }
    if (word.empty() || word.size() > 2) {
        return std::nullopt;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
    if (error != std::errc{} || end != word.data() + word.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

// A comma-separated list of hex bytes, as the reply options take them.
std::optional<std::vector<std::uint8_t>> parse_byte_list(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    while (true) {
        const std::size_t comma = text.find(',');
        const auto byte = parse_byte(text.substr(0, comma));
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(*byte);
        if (comma == std::string_view::npos) {
            return bytes;
        }
        text.remove_prefix(comma + 1);
    }
}

class Parser {
  public:
    explicit Parser(std::span<const std::string_view> words) : words_(words) {}

    ParseResult run() {
        CommandLine line;
        while (pos_ < words_.size() && error_.empty()) {
            const std::string_view word = words_[pos_];
            if (word.starts_with("-")) {
                ++pos_;
                option(word, line.options);
            } else {
                step(line.steps);
            }
        }
        if (error_.empty() && line.steps.empty() && !line.options.help && !line.options.version) {
            error_ = "no step given; expected at least one step (see --help)";
        }
        if (error_.empty() && format_given_ && line.options.transactions_path.empty()) {
            error_ = "'--format' without '--transactions FILE'; expected both";
        }
        if (!error_.empty()) {
            return ParseResult{std::nullopt, error_};
        }
        return ParseResult{std::move(line), {}};
    }

  private:
    bool at_end() const { return pos_ >= words_.size(); }

    void fail(std::string message) {
        if (error_.empty()) {
            error_ = std::move(message);
        }
    }

    // The next word, which `what` needs; records an error when there is none.
    std::optional<std::string_view> next(std::string_view after, std::string_view expected) {
        if (at_end()) {
            fail("missing " + std::string(expected) + " after " + quoted(after));
            return std::nullopt;
        }
        return words_[pos_++];
    }

    void option(std::string_view word, Options &options) {
        auto virtual_only = [&] {
            if (options.first_virtual_option.empty()) {
                options.first_virtual_option = std::string(word);
            }
        };
        if (word == "--help" || word == "-h") {
            options.help = true;
        } else if (word == "--version") {
            options.version = true;
        } else if (word == "--link-reply") {
            virtual_only();
            reply_bytes(word, options.link_reply);
        } else if (word == "--spi-m-reply") {
            virtual_only();
            reply_bytes(word, options.spi_reply[0]);
        } else if (word == "--spi-s-reply") {
            virtual_only();
            reply_bytes(word, options.spi_reply[1]);
        } else if (word == "--setup-fail") {
            virtual_only();
            options.setup_fail = true;
        } else if (word == "--vcd") {
            virtual_only();
            if (const auto path = next(word, "a file name")) {
                if (path->empty()) {
                    fail("empty file name after '--vcd'");
                }
                options.vcd_path = std::string(*path);
            }
        } else if (word == "--log") {
            virtual_only();
            options.print_log = true;
        } else if (word == "--timing") {
            virtual_only();
            options.timing = true;
        } else if (word == "--no-sleep") {
            virtual_only();
            options.no_sleep = true;
        } else if (word == "--transactions") {
            virtual_only();
            if (const auto path = next(word, "a file name")) {
                if (path->empty()) {
                    fail("empty file name after '--transactions'");
                }
                options.transactions_path = std::string(*path);
            }
        } else if (word == "--report") {
            virtual_only();
            if (const auto path = next(word, "a file name")) {
                if (path->empty()) {
                    fail("empty file name after '--report'");
                }
                options.report_path = std::string(*path);
            }
        } else if (word == "--format") {
            virtual_only();
            format_given_ = true;
            if (const auto format = next(word, "a format, text or jsonl")) {
                if (*format != "text" && *format != "jsonl") {
                    fail("bad format " + quoted(*format) +
                         " after '--format'; expected text or jsonl");
                }
                options.transactions_jsonl = *format == "jsonl";
            }
        } else {
            fail("unknown option " + quoted(word) +
                 "; expected --help, --link-reply, --spi-m-reply, --spi-s-reply, --setup-fail, "
                 "--vcd, --log, --timing, --no-sleep, --transactions, --format or --report");
        }
    }

    void reply_bytes(std::string_view option, std::vector<std::uint8_t> &into) {
        if (const auto text = next(option, "hex bytes such as a5,3c")) {
            const auto bytes = parse_byte_list(*text);
            if (!bytes) {
                fail("bad byte list " + quoted(*text) + " after " + quoted(option) +
                     "; expected hex bytes separated by commas, such as a5,0x3c");
                return;
            }
            into.insert(into.end(), bytes->begin(), bytes->end());
        }
    }

    std::optional<std::uint16_t> pin(std::string_view step_word) {
        const auto word = next(step_word, "a BCM pin number");
        if (!word) {
            return std::nullopt;
        }
        const auto value = parse_decimal(*word, 0, kMaxPin);
        if (!value) {
            fail("bad pin " + quoted(*word) + " in " + quoted(step_word) +
                 "; expected a BCM line number from 0 to 53");
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(*value);
    }

    // The next word, which must be `first` or `second`; nothing once an error is recorded.
    std::optional<std::string_view> one_of(std::string_view step_word, std::string_view what,
                                           std::string_view first, std::string_view second) {
        if (!error_.empty()) {
            return std::nullopt;
        }
        const std::string expected = std::string(first) + " or " + std::string(second);
        const auto word = next(step_word, "a " + std::string(what) + ", " + expected);
        if (word && *word != first && *word != second) {
            fail("bad " + std::string(what) + " " + quoted(*word) + " in " + quoted(step_word) +
                 "; expected " + expected);
            return std::nullopt;
        }
        return word;
    }

    std::optional<int> channel(std::string_view step_word) {
        const auto word = next(step_word, "a channel, m or s");
        if (!word) {
            return std::nullopt;
        }
        if (*word == "m") {
            return 0;
        }
        if (*word == "s") {
            return 1;
        }
        fail("bad channel " + quoted(*word) + " in " + quoted(step_word) +
             "; expected m (channel 0, CE0) or s (channel 1, CE1)");
        return std::nullopt;
    }

    // Bytes up to the next step or option; at least one.
    std::vector<std::uint8_t> bytes(std::string_view step_word) {
        std::vector<std::uint8_t> result;
        while (!at_end() && !step_kind(words_[pos_]) && !words_[pos_].starts_with("-")) {
            const std::string_view word = words_[pos_++];
            const auto byte = parse_byte(word);
            if (!byte) {
                fail("bad byte " + quoted(word) + " in " + quoted(step_word) +
                     "; expected a hex byte such as a5 or 0xA5");
                return result;
            }
            result.push_back(*byte);
        }
        if (result.empty()) {
            fail("missing bytes after " + quoted(step_word) +
                 "; expected one or more hex bytes such as a5 or 0xA5");
        }
        return result;
    }

    std::optional<std::uint32_t> number(std::string_view step_word, std::uint64_t min,
                                        std::uint64_t max, std::string_view expected) {
        const auto word = next(step_word, expected);
        if (!word) {
            return std::nullopt;
        }
        const auto value = parse_decimal(*word, min, max);
        if (!value) {
            fail("bad number " + quoted(*word) + " in " + quoted(step_word) + "; expected " +
                 std::string(expected));
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(*value);
    }

    void step(std::vector<Step> &steps) {
        const std::string_view word = words_[pos_++];
        const auto kind = step_kind(word);
        if (!kind) {
            fail("unknown step " + quoted(word) +
                 "; expected open, close, mode, write, read, send, recv, spi-open, spi, alt0, "
                 "delay-ms, delay-us or readall");
            return;
        }
        Step s;
        s.kind = *kind;
        switch (*kind) {
            case StepKind::Open: opened_layer_ = true; break;
            case StepKind::Close:
            case StepKind::Alt0: break;
            case StepKind::ReadAll:
                if (!opened_layer_) {
                    fail(
                        "'readall' with no 'open' before it; expected 'open' first, which starts "
                        "wiringPi");
                }
                break;
            case StepKind::Mode:
                s.pin = pin(word).value_or(0);
                s.output = one_of(word, "direction", "in", "out") == "out";
                break;
            case StepKind::Write:
                s.pin = pin(word).value_or(0);
                s.level = one_of(word, "level", "0", "1") == "1" ? 1 : 0;
                break;
            case StepKind::Read: s.pin = pin(word).value_or(0); break;
            case StepKind::Send: s.bytes = bytes(word); break;
            case StepKind::Recv:
                s.count = 1;
                if (!at_end() && !step_kind(words_[pos_]) && !words_[pos_].starts_with("-")) {
                    s.count = number(word, 1, kMaxRecv, "a count from 1 to 1048576").value_or(0);
                }
                break;
            case StepKind::SpiOpen: {
                s.channel = channel(word).value_or(0);
                opened_[static_cast<std::size_t>(s.channel)] = true;
                s.speed_hz = static_cast<int>(
                    number(word, 1, kMaxSpeedHz, "a speed in Hz from 1 to 125000000").value_or(0));
                break;
            }
            case StepKind::Spi:
                s.channel = channel(word).value_or(0);
                if (error_.empty() && !opened_[static_cast<std::size_t>(s.channel)]) {
                    // A channel belongs to the process: with no spi-open before it, the transfer
                    // fails and nothing comes back.
                    const std::string name = s.channel == 0 ? "m" : "s";
                    fail("'spi " + name + "' with no 'spi-open " + name +
                         "' before it; expected 'spi-open " + name +
                         " SPEED' first, to open the channel");
                }
                if (error_.empty()) {
                    s.bytes = bytes(word);
                }
                if (s.bytes.size() > kMaxSpiTransfer) {
                    fail(std::to_string(s.bytes.size()) +
                         " bytes in one 'spi' step; expected at most " +
                         std::to_string(kMaxSpiTransfer) + " (the spidev buffer)");
                }
                break;
            case StepKind::DelayMs:
                s.count = number(word, 0, std::numeric_limits<std::uint32_t>::max(),
                                 "milliseconds from 0 to 4294967295")
                              .value_or(0);
                break;
            case StepKind::DelayUs:
                s.count = number(word, 0, std::numeric_limits<std::uint16_t>::max(),
                                 "a count from 0 to 65535")
                              .value_or(0);
                break;
        }
        steps.push_back(std::move(s));
    }

    std::span<const std::string_view> words_;
    std::size_t pos_ = 0;
    std::string error_;
    std::array<bool, 2> opened_{};  // the SPI channels an earlier spi-open opens
    bool format_given_ = false;
    bool opened_layer_ = false;
};

}  // namespace

bool Options::needs_virtual_board() const { return !first_virtual_option.empty(); }

ParseResult parse_command_line(std::span<const std::string_view> words) {
    return Parser(words).run();
}

std::string usage(std::string_view program) {
    std::string text = "Usage: " + std::string(program) + " [OPTION]... STEP...\n";
    text += R"(Runs the steps in order, in one process, through the hardware-access layer.
The whole command line is checked first: a bad word stops it before any line is touched.

Steps:
  open                   DEV_ModuleInit: start wiringPi, apply the pin map
  close                  DEV_ModuleExit: drive BCM 8, 7, 25, 17 and 18 low
  mode PIN in|out        DEV_GPIO_Mode: input with pull-up, or output
  write PIN 0|1          DEV_Digital_Write
  read PIN               DEV_Digital_Read; prints the level
  send BYTE...           send bytes over the three-wire link (clock BCM 11, data BCM 10)
  recv [N]               receive N bytes (default 1) over the link; prints them
  spi-open m|s SPEED     open SPI0 channel 0 (m, CE0) or 1 (s, CE1) at SPEED Hz, mode 0
  spi m|s BYTE...        full-duplex hardware SPI write of up to 4096 bytes, on a channel
                         an earlier spi-open opened; prints the bytes clocked in (after open,
                         'alt0' must come first, or nothing reaches the wire)
  alt0                   hand BCM 11, 10, 8 and 7 back to SPI0 (ALT0), as hardware SPI needs
  delay-ms N             DEV_Delay_ms: sleep N milliseconds
  delay-us N             DEV_Delay_us: busy-wait N x 10 loop passes
  readall                print the 40-pin header: each line's function and level, read
                         through wiringPi (after open)

PIN is a BCM line number, 0 to 53. BYTE is hex: a5, A5 or 0xa5. Bytes are printed as hex.

Options:
  -h, --help             print this help and exit
      --version          print the tool's name and version and exit
Virtual board only (refused on a real Pi):
  --link-reply BYTES     queue reply bytes (a5,3c,...) on the three-wire link's device
  --spi-m-reply BYTES    queue reply bytes on the SPI device on CE0 (channel 0)
  --spi-s-reply BYTES    queue reply bytes on the SPI device on CE1 (channel 1)
  --setup-fail           make wiringPi's set-up fail, so 'open' fails
  --vcd FILE             write the lines' waveforms to FILE as a VCD
  --log                  print the wiringPi call log at the end
  --timing               print a text timing view of the pin map's lines at the end
  --no-sleep             delays move the virtual clock without sleeping
  --transactions FILE    write the transactions (the bytes on the link, framed by BCM 8 and
                         7, and on SPI0) to FILE as a table
  --format text|jsonl    the format of --transactions (text by default)
  --report FILE          write an HTML page of the session: waveform, transactions, header

Exit status: 0 when every step ran, 1 when 'open' or 'spi-open' failed, 2 for a bad command line.

Example:
  devcfg --link-reply 5a open send a5 3c recv spi-open m 1000000 alt0 spi m de ad close
)";
    return text;
}

}  // namespace devcfg
