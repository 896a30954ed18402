// SPDX-License-Identifier: MIT
// Parsing and printing lengths of virtual time.

#include "vboard/duration.hpp"

#include <array>
#include <limits>

namespace vboard {
namespace {

struct Unit {
    std::string_view name;
    std::uint64_t ns;
};

constexpr std::array<Unit, 5> kUnits{{
    {"ns", 1},
    {"us", 1'000},
    {"\xC2\xB5s", 1'000},  // µs
    {"ms", 1'000'000},
    {"s", 1'000'000'000},
}};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Appends one decimal digit to `value`, refusing to overflow.
bool push_digit(std::uint64_t &value, char digit) {
    const auto d = static_cast<std::uint64_t>(digit - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
        return false;
    }
    value = value * 10 + d;
    return true;
}

}  // namespace

std::optional<std::uint64_t> parse_duration(std::string_view text) {
    std::size_t pos = 0;
    std::uint64_t whole = 0;
    while (pos < text.size() && is_digit(text[pos])) {
        if (!push_digit(whole, text[pos++])) {
            return std::nullopt;
        }
    }
    if (pos == 0) {
        return std::nullopt;
    }
    std::string_view fraction;
    if (pos < text.size() && text[pos] == '.') {
        const std::size_t begin = ++pos;
        while (pos < text.size() && is_digit(text[pos])) {
            ++pos;
        }
        fraction = text.substr(begin, pos - begin);
        if (fraction.empty()) {
            return std::nullopt;
        }
    }
    const std::string_view unit_name = text.substr(pos);
    for (const Unit &unit : kUnits) {
        if (unit.name != unit_name) {
            continue;
        }
        if (whole > std::numeric_limits<std::uint64_t>::max() / unit.ns) {
            return std::nullopt;
        }
        std::uint64_t ns = whole * unit.ns;
        std::uint64_t scale = unit.ns;
        for (const char digit : fraction) {
            const auto d = static_cast<std::uint64_t>(digit - '0');
            if (scale % 10 != 0) {
                if (d != 0) {
                    return std::nullopt;  // finer than a nanosecond
                }
                continue;
            }
            scale /= 10;
            if (ns > std::numeric_limits<std::uint64_t>::max() - d * scale) {
                return std::nullopt;
            }
            ns += d * scale;
        }
        return ns;
    }
    return std::nullopt;
}

std::string format_duration(std::uint64_t ns) {
    if (ns == 0) {
        return "0 s";
    }
    const Unit *unit = &kUnits[0];                  // ns
    for (const std::size_t index : {4U, 3U, 1U}) {  // s, ms, us
        if (ns >= kUnits[index].ns) {
            unit = &kUnits[index];
            break;
        }
    }
    std::string text = std::to_string(ns / unit->ns);
    std::uint64_t rest = ns % unit->ns;
    if (rest != 0) {
        std::string digits = std::to_string(rest + unit->ns).substr(1);  // zero-padded
        while (digits.back() == '0') {
            digits.pop_back();
        }
        text += '.' + digits;
    }
    return text + ' ' + std::string(unit->name);
}

}  // namespace vboard
