// SPDX-License-Identifier: MIT
// The transaction table read back from its text.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "vboard/duration.hpp"
#include "vboard/transactions.hpp"

namespace vboard {

namespace {

// "FILE:LINE: expected WHAT", or "FILE: expected WHAT" without a line; built by appending, which
// GCC 12 at -O3 does not mistake for an overlapping copy.
std::string file_error_text(const std::string &file, int line, const std::string &expected) {
    std::string text = file;
    if (line > 0) {
        text.append(1, ':').append(std::to_string(line));
    }
    return text.append(": expected ").append(expected);
}

}  // namespace

TransactionFileError::TransactionFileError(const std::string &file, int line,
                                           const std::string &expected)
    : std::runtime_error(file_error_text(file, line, expected)), line_(line) {}

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
            if (token == ">" || token == "<" || token == "?") {
                if (!bytes_after_direction) {
                    fail("at least one byte after each >, < or ?");
                }
                direction = token == ">"   ? Direction::Out
                            : token == "<" ? Direction::In
                                           : Direction::Unknown;
                bytes_after_direction = false;
                continue;
            }
            bytes_after_direction = true;
            if (!direction) {
                fail("a direction, >, < or ?, before the first byte");
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
            fail("at least one byte after each >, < or ?");
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

}  // namespace vboard
