// SPDX-License-Identifier: MIT
// The board's diagnostics, each distinct one once.

#include "diagnostic_log.hpp"

namespace vboard {
namespace {

// 211561 as "211,561".
std::string grouped(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, 1, ',');
    }
    return digits;
}

}  // namespace

bool DiagnosticLog::first(const std::string &text) {
    if (const auto found = repeats_.find(text); found != repeats_.end()) {
        ++found->second;
        return false;
    }
    if (repeats_.size() < kCountedTexts) {
        repeats_.emplace(text, 0);
        order_.push_back(text);
    }
    texts_.push_back(text);
    return true;
}

std::vector<std::string> DiagnosticLog::take_repeats() {
    std::vector<std::string> lines;
    for (const std::string &text : order_) {
        std::uint64_t &count = repeats_[text];
        if (count > 0) {
            lines.push_back(text);
            lines.back().append(" \u2026 and ").append(grouped(count)).append(" more like it");
            count = 0;
        }
    }
    return lines;
}

void DiagnosticLog::clear() {
    texts_.clear();
    repeats_.clear();
    order_.clear();
}

}  // namespace vboard
