// SPDX-License-Identifier: MIT
// The runner's report channel: its records, written and read.

#include "vboard/run_report.hpp"

#include <cstdlib>
#include <sstream>
#include <string_view>

namespace vboard::run_report {
namespace {

constexpr std::string_view kNote = "note ";
constexpr std::string_view kViolation = "violation ";
constexpr std::string_view kViolations = "violations ";
constexpr std::string_view kHeader = "header ";
constexpr std::string_view kClock = "clock ";
constexpr std::string_view kTimeout = "timeout ";

std::uint64_t number(const std::string &line, std::size_t at, char **end = nullptr) {
    return std::strtoull(line.c_str() + at, end, 10);
}

}  // namespace

std::string note(std::uint64_t time_ns, const std::string &text) {
    return std::string(kNote) + std::to_string(time_ns) + " " + text + "\n";
}

std::string violation(const std::string &text) { return std::string(kViolation) + text + "\n"; }

std::string violation_count(std::uint64_t count, const std::string &check) {
    return std::string(kViolations) + std::to_string(count) + " " + check + "\n";
}

std::string end_of_run(const std::array<int, kLineCount> &codes,
                       const std::array<bool, kLineCount> &levels, std::uint64_t clock_ns) {
    std::string line(kHeader.substr(0, kHeader.size() - 1));
    for (const int code : codes) {
        line += ' ';
        line += std::to_string(code);
    }
    for (const bool level : levels) {
        line += level ? " 1" : " 0";
    }
    return line + "\n" + std::string(kClock) + std::to_string(clock_ns) + "\n";
}

std::string timeout(const std::string &text) { return std::string(kTimeout) + text + "\n"; }

Read read(std::istream &in) {
    Read report;
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(kNote)) {
            const std::size_t space = line.find(' ', kNote.size());
            report.entries.push_back({Entry::Kind::Note, number(line, kNote.size()), 0,
                                      space == std::string::npos ? "" : line.substr(space + 1)});
        } else if (line.starts_with(kViolations)) {
            char *name = nullptr;
            const std::uint64_t count = number(line, kViolations.size(), &name);
            report.entries.push_back({Entry::Kind::ViolationCount, 0, count,
                                      name != nullptr && *name == ' ' ? name + 1 : ""});
        } else if (line.starts_with(kViolation)) {
            report.entries.push_back(
                {Entry::Kind::Violation, 0, 0, line.substr(kViolation.size())});
        } else if (line.starts_with(kClock)) {
            report.clock_ns = number(line, kClock.size());
        } else if (line.starts_with(kHeader)) {
            std::istringstream words(line.substr(kHeader.size()));
            std::array<int, kLineCount> codes{};
            std::array<int, kLineCount> levels{};
            for (int &code : codes) {
                words >> code;
            }
            for (int &level : levels) {
                words >> level;
            }
            if (words) {
                report.codes = codes;
                for (std::size_t i = 0; i < levels.size(); ++i) {
                    report.levels[i] = levels[i] != 0;
                }
            }
        } else if (line.starts_with(kTimeout)) {
            report.timeout = line.substr(kTimeout.size());
        }
    }
    return report;
}

}  // namespace vboard::run_report
