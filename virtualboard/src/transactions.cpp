// SPDX-License-Identifier: MIT
// Transactions as text and as JSON Lines, the text read back, and two runs compared.

#include "vboard/transactions.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "json.hpp"
#include "vboard/duration.hpp"

namespace vboard {
namespace {

constexpr const char *kHeader = "# index start end bus select bytes";
constexpr const char *kHex = "0123456789abcdef";

// "1.052120ms": exact to the nanosecond, in a column that sorts as text within a run.
std::string format_ms(std::uint64_t ns) {
    std::string fraction = std::to_string(ns % 1'000'000 + 1'000'000).substr(1);
    return std::to_string(ns / 1'000'000) + "." + fraction + "ms";
}

std::string format_hz(std::uint64_t hz) {
    const auto scaled = [hz](std::uint64_t unit, const char *name) {
        std::string text = std::to_string(hz / unit);
        if (const std::uint64_t rest = hz % unit; rest != 0) {
            std::string digits = std::to_string(rest + unit).substr(1, 3);
            while (!digits.empty() && digits.back() == '0') {
                digits.pop_back();
            }
            if (!digits.empty()) {
                text += "." + digits;
            }
        }
        return text + " " + name;
    };
    if (hz >= 1'000'000) {
        return scaled(1'000'000, "MHz");
    }
    return hz >= 1'000 ? scaled(1'000, "kHz") : std::to_string(hz) + " Hz";
}

std::string hex_byte(std::uint8_t value) { return {kHex[value >> 4], kHex[value & 0xF]}; }

std::string byte_token(std::uint8_t value, std::uint8_t bits) {
    std::string text = hex_byte(value);
    if (bits != 8) {
        text += "/" + std::to_string(bits) + "b";
    }
    return text;
}

std::string select_token(int select) { return select < 0 ? "-" : "BCM" + std::to_string(select); }

// "dc=1 cs2=0": the side lines in `shown`, with their levels in `side`.
std::string side_tokens(std::uint32_t side, std::uint32_t shown,
                        const std::vector<std::string> &names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::uint32_t bit = 1U << i;
        if ((shown & bit) != 0) {
            text += ' ';
            text += names[i] + ((side & bit) != 0 ? "=1" : "=0");
        }
    }
    return text;
}

std::vector<std::string> side_names(const FramingOptions &framing) {
    std::vector<std::string> names;
    for (const SideLine &side : framing.side_lines) {
        names.push_back(side.name);
    }
    return names;
}

std::string bytes_text(const Transaction &transaction, const std::vector<std::string> &names) {
    if (transaction.bytes.empty()) {
        return " -";
    }
    std::string text;
    if (transaction.bus != Bus::Link) {
        text += side_tokens(transaction.bytes.front().side, ~0U, names) + " >";
        for (const TransactionByte &byte : transaction.bytes) {
            text += ' ';
            text += hex_byte(byte.value);
        }
        text += " <";
        for (const TransactionByte &byte : transaction.bytes) {
            text += ' ';
            text += hex_byte(byte.reply);
        }
        return text;
    }
    for (std::size_t i = 0; i < transaction.bytes.size(); ++i) {
        const TransactionByte &byte = transaction.bytes[i];
        const TransactionByte *previous = i == 0 ? nullptr : &transaction.bytes[i - 1];
        text +=
            side_tokens(byte.side, previous != nullptr ? byte.side ^ previous->side : ~0U, names);
        if (previous == nullptr || previous->direction != byte.direction) {
            text += byte.direction == Direction::In ? " <" : " >";
        }
        text += ' ';
        text += byte_token(byte.value, byte.bits);
    }
    return text;
}

// Appends `text` padded with spaces to `width`, on the left or on the right.
void pad(std::string &out, std::string_view text, std::size_t width, bool right_align) {
    const std::size_t fill = text.size() < width ? width - text.size() : 0;
    if (right_align) {
        out.append(fill, ' ');
    }
    out += text;
    if (!right_align) {
        out.append(fill, ' ');
    }
}

// "     3     1.052120ms     1.130120ms  link  BCM8  ": index, start, end, bus, select.
std::string format_line(const Transaction &transaction, const std::vector<std::string> &names) {
    std::string line;
    line.reserve(64 + 3 * transaction.bytes.size());
    pad(line, std::to_string(transaction.index), 6, true);
    line += ' ';
    pad(line, format_ms(transaction.start_ns), 14, true);
    line += ' ';
    pad(line, format_ms(transaction.end_ns), 14, true);
    line += "  ";
    pad(line, to_string(transaction.bus), 5, false);
    line += ' ';
    pad(line, select_token(transaction.select), 6, false);
    line += bytes_text(transaction, names);
    return line;
}

std::string json_transaction(const Transaction &transaction,
                             const std::vector<std::string> &names) {
    std::string out = "{\"type\":\"transaction\",\"index\":" + std::to_string(transaction.index) +
                      ",\"bus\":\"" + to_string(transaction.bus) +
                      "\",\"select\":" + std::to_string(transaction.select) +
                      ",\"start_ns\":" + std::to_string(transaction.start_ns) +
                      ",\"end_ns\":" + std::to_string(transaction.end_ns) + ",\"bytes\":[";
    for (std::size_t i = 0; i < transaction.bytes.size(); ++i) {
        const TransactionByte &byte = transaction.bytes[i];
        out += i == 0 ? "{" : ",{";
        out += "\"time_ns\":" + std::to_string(byte.time_ns);
        if (byte.direction == Direction::Exchange) {
            out += ",\"dir\":\"exchange\",\"out\":" + std::to_string(byte.value) +
                   ",\"in\":" + std::to_string(byte.reply);
        } else {
            out += std::string(",\"dir\":\"") + (byte.direction == Direction::In ? "in" : "out") +
                   "\",\"value\":" + std::to_string(byte.value);
        }
        out += ",\"bits\":" + std::to_string(byte.bits) + ",\"side\":{";
        for (std::size_t s = 0; s < names.size(); ++s) {
            out += s == 0 ? "" : ",";
            out += json_string(names[s]) + ":" + (((byte.side >> s) & 1U) != 0 ? "1" : "0");
        }
        out += "}}";
    }
    return out + "]}";
}

}  // namespace

std::string TimingViolation::to_string() const {
    std::string text = format_duration(time_ns) + ": " + name + ": ";
    if (rate) {
        return text + format_hz(measured) + ", above the maximum of " + format_hz(limit);
    }
    return text + format_duration(measured) + ", below the minimum of " + format_duration(limit);
}

TransactionObserver::~TransactionObserver() = default;

std::string format_transaction(const Transaction &transaction, const FramingOptions &framing) {
    return format_line(transaction, side_names(framing));
}

TransactionWriter::TransactionWriter(std::ostream &out, Format format)
    : out_(out), format_(format) {}

namespace {
std::unique_ptr<std::ostream> open_for_writing(const std::string &path) {
    auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!*file) {
        throw std::runtime_error("cannot write '" + path + "'");
    }
    return file;
}
}  // namespace

TransactionWriter::TransactionWriter(const std::string &path, Format format)
    : owned_(open_for_writing(path)), out_(*owned_), format_(format) {}

TransactionWriter::~TransactionWriter() = default;

void TransactionWriter::start(const FramingOptions &framing) {
    framing_ = framing;
    side_names_ = side_names(framing);
    if (format_ == Format::Text) {
        out_ << kHeader << '\n';
        if (!framing.side_lines.empty()) {
            out_ << "# side lines:";
            for (const SideLine &side : framing.side_lines) {
                out_ << ' ' << side.name << "=BCM" << side.pin;
            }
            out_ << '\n';
        }
    }
}

void TransactionWriter::transaction(const Transaction &transaction) {
    out_ << (format_ == Format::Text ? format_line(transaction, side_names_)
                                     : json_transaction(transaction, side_names_))
         << '\n';
}

void TransactionWriter::violation(const TimingViolation &violation) {
    if (check_names_.size() <= violation.check) {
        check_names_.resize(violation.check + 1);
    }
    check_names_[violation.check] = violation.name;
    if (format_ == Format::Text) {
        out_ << "! " << violation.to_string() << '\n';
        return;
    }
    out_ << "{\"type\":\"violation\",\"check\":" << json_string(violation.name)
         << ",\"time_ns\":" << violation.time_ns << ",\"measured\":" << violation.measured
         << ",\"limit\":" << violation.limit << ",\"unit\":\"" << (violation.rate ? "Hz" : "ns")
         << "\",\"text\":" << json_string(violation.to_string()) << "}\n";
}

void TransactionWriter::frame(const Frame &frame) {
    const Image &image = *frame.image;
    if (format_ == Format::Text) {
        out_ << "# frame " << frame.file_name() << " at " << format_duration(frame.time_ns) << ", "
             << image.width << 'x' << image.height << '\n';
        return;
    }
    out_ << "{\"type\":\"frame\",\"index\":" << frame.index
         << ",\"device\":" << json_string(frame.device) << ",\"time_ns\":" << frame.time_ns
         << ",\"file\":" << json_string(frame.file_name()) << ",\"width\":" << image.width
         << ",\"height\":" << image.height << "}\n";
}

void TransactionWriter::finish(std::uint64_t time_ns,
                               const std::vector<std::uint64_t> &violation_counts) {
    std::string counts;
    for (std::size_t i = 0; i < violation_counts.size(); ++i) {
        if (violation_counts[i] == 0) {
            continue;
        }
        const std::string name =
            i < check_names_.size() ? check_names_[i] : "check " + std::to_string(i);
        if (format_ == Format::Text) {
            out_ << "!! " << name << ": " << violation_counts[i]
                 << (violation_counts[i] == 1 ? " violation" : " violations");
            if (violation_counts[i] > kViolationsKeptPerCheck) {
                out_ << ", the first " << kViolationsKeptPerCheck << " listed";
            }
            out_ << '\n';
        } else {
            counts += (counts.empty() ? "" : ",") + json_string(name) + ":" +
                      std::to_string(violation_counts[i]);
        }
    }
    if (format_ == Format::JsonLines) {
        out_ << "{\"type\":\"end\",\"time_ns\":" << time_ns << ",\"violations\":{" << counts
             << "}}\n";
    }
    out_.flush();
}

void TransactionRecorder::start(const FramingOptions &options) { framing = options; }
void TransactionRecorder::transaction(const Transaction &transaction) {
    transactions.push_back(transaction);
}
void TransactionRecorder::violation(const TimingViolation &violation) {
    violations.push_back(violation);
}
void TransactionRecorder::finish(std::uint64_t, const std::vector<std::uint64_t> &counts) {
    violation_counts = counts;
    finished = true;
}

// The reader.

TransactionFileError::TransactionFileError(const std::string &file, int line,
                                           const std::string &expected)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) +
                         ": expected " + expected),
      line_(line) {}

namespace {

class LineReader {
  public:
    LineReader(const std::string &file, int line, TransactionTable &table)
        : file_(file), line_(line), table_(table) {}

    [[noreturn]] void fail(const std::string &expected) const {
        throw TransactionFileError(file_, line_, expected);
    }

    Transaction read(const std::vector<std::string_view> &tokens) {
        if (tokens.size() < 6) {
            fail("index, start, end, bus, select and bytes (or -)");
        }
        Transaction t;
        t.index = number(tokens[0], "an index, a whole number");
        t.start_ns = time(tokens[1], "start");
        t.end_ns = time(tokens[2], "end");
        if (t.end_ns < t.start_ns) {
            fail("an end time no earlier than the start");
        }
        t.bus = bus(tokens[3]);
        t.select = select(tokens[4]);
        const std::vector<std::string_view> bytes(tokens.begin() + 5, tokens.end());
        if (bytes.size() == 1 && bytes[0] == "-") {
            return t;
        }
        if (t.bus == Bus::Link) {
            read_link_bytes(bytes, t);
        } else {
            read_spi_bytes(bytes, t);
        }
        return t;
    }

  private:
    std::uint64_t number(std::string_view text, const char *what) const {
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) {
            fail(what);
        }
        return value;
    }

    std::uint64_t time(std::string_view text, const char *column) const {
        const std::optional<std::uint64_t> ns = parse_duration(text);
        if (!ns) {
            fail(std::string("a ") + column + " time with its unit, as 1.052120ms");
        }
        return *ns;
    }

    Bus bus(std::string_view text) const {
        for (const Bus bus : {Bus::Link, Bus::Spi0, Bus::Spi1}) {
            if (text == to_string(bus)) {
                return bus;
            }
        }
        fail("a bus: link, spi0 or spi1");
    }

    int select(std::string_view text) const {
        if (text == "-") {
            return -1;
        }
        if (text.substr(0, 3) != "BCM") {
            fail("a select line, as BCM8, or - for none");
        }
        const std::uint64_t pin = number(text.substr(3), "a select line, as BCM8, or - for none");
        if (pin > 53) {
            fail("a select line from BCM0 to BCM53");
        }
        return static_cast<int>(pin);
    }

    // "a5", or "05/3b" for a partial byte of 3 bits.
    void byte(std::string_view text, std::uint8_t &value, std::uint8_t &bits) const {
        const auto hex = [this](char c) -> unsigned {
            if (c >= '0' && c <= '9') {
                return static_cast<unsigned>(c - '0');
            }
            if (c >= 'a' && c <= 'f') {
                return static_cast<unsigned>(c - 'a' + 10);
            }
            fail("a byte in two lower-case hex digits, as a5, or a partial byte, as 05/3b");
        };
        if (text.size() != 2 && !(text.size() == 5 && text[2] == '/' && text[4] == 'b')) {
            fail("a byte in two lower-case hex digits, as a5, or a partial byte, as 05/3b");
        }
        value = static_cast<std::uint8_t>(hex(text[0]) << 4 | hex(text[1]));
        bits = 8;
        if (text.size() == 5) {
            if (text[3] < '1' || text[3] > '7') {
                fail("a partial byte of 1 to 7 bits, as 05/3b");
            }
            bits = static_cast<std::uint8_t>(text[3] - '0');
            if (value >> bits != 0) {
                fail("a partial byte's value within its bits");
            }
        }
    }

    // "dc=1": sets side line `dc` for the bytes that follow. Returns false for any other token.
    bool side(std::string_view text, std::uint32_t &levels) const {
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            return false;
        }
        const std::string_view name = text.substr(0, equals);
        const std::string_view level = text.substr(equals + 1);
        if (name.empty() || (level != "0" && level != "1")) {
            fail("a side line as name=0 or name=1");
        }
        const auto found = std::find(table_.side_names.begin(), table_.side_names.end(), name);
        if (found == table_.side_names.end()) {
            std::string declared;
            for (const std::string &known : table_.side_names) {
                declared += (declared.empty() ? "" : ", ") + known;
            }
            fail("a side line that the file's \"# side lines:\" line names (" +
                 (declared.empty() ? std::string("it names none") : declared) + "), not " +
                 std::string(name));
        }
        const auto bit = 1U << static_cast<unsigned>(found - table_.side_names.begin());
        levels = level == "1" ? levels | bit : levels & ~bit;
        return true;
    }

    void read_link_bytes(const std::vector<std::string_view> &tokens, Transaction &t) const {
        std::uint32_t levels = 0;
        std::optional<Direction> direction;
        bool bytes_after_direction = true;
        for (const std::string_view token : tokens) {
            if (side(token, levels)) {
                continue;
            }
            if (token == ">" || token == "<") {
                if (!bytes_after_direction) {
                    fail("at least one byte after each > or <");
                }
                direction = token == ">" ? Direction::Out : Direction::In;
                bytes_after_direction = false;
                continue;
            }
            bytes_after_direction = true;
            if (!direction) {
                fail("a direction, > or <, before the first byte");
            }
            TransactionByte b;
            b.direction = *direction;
            b.side = levels;
            byte(token, b.value, b.bits);
            t.bytes.push_back(b);
        }
        if (t.bytes.empty()) {
            fail("at least one byte after the direction, or - for none");
        }
        if (!bytes_after_direction) {
            fail("at least one byte after each > or <");
        }
    }

    void read_spi_bytes(const std::vector<std::string_view> &tokens, Transaction &t) const {
        std::uint32_t levels = 0;
        std::size_t i = 0;
        while (i < tokens.size() && side(tokens[i], levels)) {
            ++i;
        }
        if (i == tokens.size() || tokens[i] != ">") {
            fail("> and the bytes out, then < and the bytes in");
        }
        std::vector<std::uint8_t> out;
        std::vector<std::uint8_t> in;
        std::vector<std::uint8_t> *into = &out;
        for (++i; i < tokens.size(); ++i) {
            if (tokens[i] == "<" && into == &out) {
                into = &in;
                continue;
            }
            std::uint8_t value = 0;
            std::uint8_t bits = 8;
            byte(tokens[i], value, bits);
            if (bits != 8) {
                fail("whole bytes on a hardware SPI bus");
            }
            into->push_back(value);
        }
        if (into != &in || in.size() != out.size() || out.empty()) {
            fail("as many bytes in, after <, as out, after >");
        }
        for (std::size_t b = 0; b < out.size(); ++b) {
            t.bytes.push_back(TransactionByte{0, Direction::Exchange, out[b], in[b], 8, levels});
        }
    }

    const std::string &file_;
    int line_;
    TransactionTable &table_;
};

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            tokens.push_back(line.substr(start, i - start));
        }
    }
    return tokens;
}

// "# side lines: dc=BCM25 rst=BCM17": the names the bytes' side lines may use.
void declare_side_lines(const std::vector<std::string_view> &tokens, const std::string &file,
                        int line, TransactionTable &table) {
    for (std::size_t i = 3; i < tokens.size(); ++i) {
        const std::string_view name = tokens[i].substr(0, tokens[i].find('='));
        if (name.empty() || name == tokens[i]) {
            throw TransactionFileError(file, line, "side lines as name=BCMn");
        }
        if (std::find(table.side_names.begin(), table.side_names.end(), name) !=
            table.side_names.end()) {
            continue;
        }
        if (table.side_names.size() == kMaxSideLines) {
            throw TransactionFileError(file, line, "at most 16 side lines");
        }
        table.side_names.emplace_back(name);
    }
}

}  // namespace

TransactionTable parse_transactions(std::string_view text, const std::string &name) {
    TransactionTable table;
    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::vector<std::string_view> tokens = split(line);
        if (tokens.size() >= 3 && tokens[0] == "#" && tokens[1] == "side" &&
            tokens[2] == "lines:") {
            declare_side_lines(tokens, name, number, table);
            continue;
        }
        if (tokens.empty() || tokens[0][0] == '#' || tokens[0][0] == '!') {
            continue;
        }
        LineReader reader(name, number, table);
        table.transactions.push_back(reader.read(tokens));
    }
    return table;
}

TransactionTable load_transactions(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw TransactionFileError(path, 0, "a transaction file (it is a directory)");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw TransactionFileError(
            path, 0, std::string("a readable transaction file (") + std::strerror(errno) + ")");
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse_transactions(text.str(), path);
}

// Comparing.

namespace {

bool side_level(const TransactionByte &byte, const std::vector<std::string> &names,
                const std::string &name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found != names.end() &&
           ((byte.side >> static_cast<unsigned>(found - names.begin())) & 1U) != 0;
}

bool same_bytes(const Transaction &a, const std::vector<std::string> &names_a, const Transaction &b,
                const std::vector<std::string> &names_b) {
    if (a.bus != b.bus || a.select != b.select || a.bytes.size() != b.bytes.size()) {
        return false;
    }
    std::vector<std::string> names = names_a;
    names.insert(names.end(), names_b.begin(), names_b.end());
    for (std::size_t i = 0; i < a.bytes.size(); ++i) {
        const TransactionByte &x = a.bytes[i];
        const TransactionByte &y = b.bytes[i];
        if (x.direction != y.direction || x.value != y.value || x.bits != y.bits ||
            (x.direction == Direction::Exchange && x.reply != y.reply)) {
            return false;
        }
        for (const std::string &name : names) {
            if (side_level(x, names_a, name) != side_level(y, names_b, name)) {
                return false;
            }
        }
    }
    return true;
}

bool within(std::uint64_t a, std::uint64_t b, std::uint64_t tolerance) {
    return (a > b ? a - b : b - a) <= tolerance;
}

// How far ahead a missing or an extra transaction is looked for, from the first difference.
constexpr std::size_t kRealignWindow = 64;

// The context before the first difference, as "  same     ..." lines.
std::string same_lines(const TransactionTable &got, std::size_t first, std::size_t context) {
    std::string lines;
    for (std::size_t i = first > context ? first - context : 0; i < first; ++i) {
        lines += "  same     " + format_line(got.transactions[i], got.side_names) + "\n";
    }
    return lines;
}

// At the first difference `first` (the same index in both), transactions that one side has and
// the other lacks, found where the two line up again: `count` expected ones missing from the run,
// or `count` extra ones in it. 0: they do not line up again within the window.
std::size_t realign(const TransactionTable &from, const TransactionTable &to, std::size_t first) {
    for (std::size_t k = 1; k <= kRealignWindow && first + k <= from.transactions.size(); ++k) {
        const bool to_ends = first >= to.transactions.size();
        const bool from_ends = first + k >= from.transactions.size();
        if (to_ends ? from_ends
                    : !from_ends && same_bytes(from.transactions[first + k], from.side_names,
                                               to.transactions[first], to.side_names)) {
            return k;
        }
    }
    return 0;
}

// "missing", or "3 missing".
std::string counted(std::size_t count, const char *what) {
    return (count == 1 ? std::string() : std::to_string(count) + " ") + what;
}

std::string missing_or_extra(const TransactionTable &expected, const TransactionTable &got,
                             std::size_t first, const CompareOptions &options) {
    const std::size_t missing = realign(expected, got, first);
    const std::size_t extra = realign(got, expected, first);
    if (missing == 0 && extra == 0) {
        return {};
    }
    const bool is_missing = missing != 0 && (extra == 0 || missing <= extra);
    const TransactionTable &side = is_missing ? expected : got;
    const TransactionTable &other = is_missing ? got : expected;
    const std::size_t count = is_missing ? missing : extra;
    const Transaction &at = side.transactions[first];
    const bool other_goes_on = first < other.transactions.size();
    std::string report = "transactions differ at transaction " + std::to_string(at.index) + ": ";
    if (is_missing) {
        report +=
            counted(count, "missing") + " (expected " + std::to_string(at.index) +
            (count == 1 ? "" : "-" + std::to_string(side.transactions[first + count - 1].index)) +
            ", not in the run; " +
            (other_goes_on
                 ? "the run goes on with " + std::to_string(other.transactions[first].index)
                 : std::string("the run has no more")) +
            "):\n";
    } else {
        report +=
            counted(count, "extra") + " (in the run as " + std::to_string(at.index) +
            (count == 1 ? "" : "-" + std::to_string(side.transactions[first + count - 1].index)) +
            ", not expected; " +
            (other_goes_on
                 ? "expected " + std::to_string(other.transactions[first].index) + " comes next"
                 : std::string("nothing more was expected")) +
            "):\n";
    }
    report += same_lines(got, first, options.context);
    const char *label = is_missing ? "  missing  " : "  extra    ";
    for (std::size_t i = first; i < first + count && i < first + 3; ++i) {
        report += label + format_line(side.transactions[i], side.side_names) + "\n";
    }
    if (count > 3) {
        report += "  (and " + std::to_string(count - 3) + " more)\n";
    }
    report += "  then     " +
              (other_goes_on ? format_line(other.transactions[first], other.side_names)
                             : std::string("(no more transactions)")) +
              "\n";
    return report;
}

}  // namespace

std::string compare_transactions(const TransactionTable &expected, const TransactionTable &got,
                                 const CompareOptions &options) {
    const std::size_t common = std::min(expected.transactions.size(), got.transactions.size());
    std::size_t first = common;
    std::string why;
    for (std::size_t i = 0; i < common; ++i) {
        const Transaction &e = expected.transactions[i];
        const Transaction &g = got.transactions[i];
        if (!same_bytes(e, expected.side_names, g, got.side_names)) {
            first = i;
            why = "bytes, bus or framing differ";
            break;
        }
        if (options.time_tolerance_ns &&
            (!within(e.start_ns, g.start_ns, *options.time_tolerance_ns) ||
             !within(e.end_ns, g.end_ns, *options.time_tolerance_ns))) {
            first = i;
            why = "times differ by more than " + format_duration(*options.time_tolerance_ns);
            break;
        }
    }
    if (first == common && expected.transactions.size() == got.transactions.size()) {
        return {};
    }
    if (why.empty() || why == "bytes, bus or framing differ") {
        if (std::string gap = missing_or_extra(expected, got, first, options); !gap.empty()) {
            return gap;
        }
    }
    if (why.empty()) {
        why = "expected " + std::to_string(expected.transactions.size()) + " transactions, got " +
              std::to_string(got.transactions.size());
    }
    const std::uint64_t index = first < expected.transactions.size()
                                    ? expected.transactions[first].index
                                    : got.transactions[first].index;
    std::string report =
        "transactions differ at transaction " + std::to_string(index) + " (" + why + "):\n";
    const std::size_t from = first > options.context ? first - options.context : 0;
    for (std::size_t i = from; i <= first; ++i) {
        const bool has_e = i < expected.transactions.size();
        const bool has_g = i < got.transactions.size();
        if (i < first) {
            report += "  same     " + format_line(got.transactions[i], got.side_names) + "\n";
            continue;
        }
        report += "  expected " +
                  (has_e ? format_line(expected.transactions[i], expected.side_names)
                         : std::string("(no more transactions)")) +
                  "\n";
        report += "  got      " +
                  (has_g ? format_line(got.transactions[i], got.side_names)
                         : std::string("(no more transactions)")) +
                  "\n";
    }
    return report;
}

}  // namespace vboard
