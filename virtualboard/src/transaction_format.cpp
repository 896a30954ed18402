// SPDX-License-Identifier: MIT
// Transactions and timing violations as text, and transactions as JSON Lines.

#include <algorithm>
#include <string_view>

#include "json.hpp"
#include "transaction_text.hpp"
#include "vboard/duration.hpp"

namespace vboard {
namespace {

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
        text.append(1, '/').append(std::to_string(bits)).append(1, 'b');
    }
    return text;
}

const char *direction_token(Direction direction) {
    return direction == Direction::In ? " <" : direction == Direction::Unknown ? " ?" : " >";
}

const char *direction_name(Direction direction) {
    return direction == Direction::In ? "in" : direction == Direction::Unknown ? "unknown" : "out";
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

}  // namespace

std::vector<std::string> side_names(const FramingOptions &framing) {
    std::vector<std::string> names;
    for (const SideLine &side : framing.side_lines) {
        names.push_back(side.name);
    }
    return names;
}

namespace {

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
            text += direction_token(byte.direction);
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

}  // namespace

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
            out += std::string(",\"dir\":\"") + direction_name(byte.direction) +
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

std::string TimingViolation::to_string() const {
    std::string text = format_duration(time_ns) + ": " + name + ": ";
    if (rate) {
        return text + format_hz(measured) + ", above the maximum of " + format_hz(limit);
    }
    text += format_duration(measured) + ", below the minimum of " + format_duration(limit);
    if (no_wait) {
        text +=
            "; no wait passed between the calls that made it (a busy loop, as DEV_Delay_us, "
            "passes no time on the board's clock)";
    }
    return text;
}

std::string format_transaction(const Transaction &transaction, const FramingOptions &framing) {
    return format_line(transaction, side_names(framing));
}

}  // namespace vboard
