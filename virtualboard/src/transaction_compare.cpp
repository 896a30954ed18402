// SPDX-License-Identifier: MIT
// A run's transactions compared with the expected ones.

#include <algorithm>

#include "transaction_text.hpp"
#include "vboard/duration.hpp"
#include "vboard/transactions.hpp"

namespace vboard {

namespace {

bool side_level(const TransactionByte &byte, const std::vector<std::string> &names,
                const std::string &name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found != names.end() &&
           ((byte.side >> static_cast<unsigned>(found - names.begin())) & 1U) != 0;
}

// A capture's link byte has no direction: it is the same as a byte of either.
bool same_direction(Direction a, Direction b) {
    return a == b || (a == Direction::Unknown && b != Direction::Exchange) ||
           (b == Direction::Unknown && a != Direction::Exchange);
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
        if (!same_direction(x.direction, y.direction) || x.value != y.value || x.bits != y.bits ||
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
