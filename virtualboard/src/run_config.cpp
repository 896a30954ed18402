// SPDX-License-Identifier: MIT
// A run's configuration in the environment: written by a runner, read by the board.

#include "vboard/run_config.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

#include "vboard/board.hpp"
#include "vboard/duration.hpp"

namespace vboard {
namespace {

const char *kBoard = "VBOARD_BOARD";
const char *kVcd = "VBOARD_VCD";
const char *kLog = "VBOARD_LOG";
const char *kTimeout = "VBOARD_TIMEOUT";
const char *kNoSleep = "VBOARD_NO_SLEEP";
const char *kTransactions = "VBOARD_TRANSACTIONS";
const char *kTransactionsFormat = "VBOARD_TRANSACTIONS_FORMAT";
const char *kTransactionsText = "VBOARD_TRANSACTIONS_TEXT";
const char *kFrames = "VBOARD_FRAMES";
const char *kHtml = "VBOARD_HTML";
const char *kHtmlTitle = "VBOARD_HTML_TITLE";
const char *kReport = "VBOARD_REPORT";
const char *kLineNames = "VBOARD_LINE_NAMES";
constexpr std::size_t kLineNameMax = 32;

std::string line_names_text(const std::vector<std::pair<int, std::string>> &names) {
    std::string text;
    for (const auto &[pin, name] : names) {
        if (!text.empty()) {
            text += ',';
        }
        text.append(std::to_string(pin)).append(1, '=').append(name);
    }
    return text;
}

// A variable's value; unset and empty are the same.
std::string value_of(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

const char *variable_name(RunSetting setting) {
    switch (setting) {
        case RunSetting::BoardFile: return kBoard;
        case RunSetting::Vcd: return kVcd;
        case RunSetting::Log: return kLog;
        case RunSetting::Transactions: return kTransactions;
        case RunSetting::TransactionsText: return kTransactionsText;
        case RunSetting::Html: return kHtml;
        case RunSetting::Report: return kReport;
        case RunSetting::Frames: return kFrames;
    }
    return "VBOARD";
}

std::optional<TransactionWriter::Format> transactions_format(std::string_view word) {
    if (word == "text") {
        return TransactionWriter::Format::Text;
    }
    if (word == "jsonl") {
        return TransactionWriter::Format::JsonLines;
    }
    return std::nullopt;
}

bool is_line_name(std::string_view name) {
    return !name.empty() && name.size() <= kLineNameMax &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' ||
                      c == '.';
           });
}

std::optional<std::vector<std::pair<int, std::string>>> parse_line_names(std::string_view text) {
    std::vector<std::pair<int, std::string>> names;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        const std::size_t equals = entry.find('=');
        int pin = -1;
        const std::string_view number = entry.substr(0, equals);
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), pin);
        if (equals == std::string_view::npos || error != std::errc{} ||
            end != number.data() + number.size() || pin < 0 || pin >= kLineCount ||
            !is_line_name(entry.substr(equals + 1))) {
            return std::nullopt;
        }
        names.emplace_back(pin, std::string(entry.substr(equals + 1)));
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> run_environment(const RunConfig &config) {
    const bool jsonl = config.transactions_format == TransactionWriter::Format::JsonLines;
    return {
        {kBoard, config.board_file},
        {kVcd, config.vcd},
        {kLog, config.log},
        {kTimeout, config.timeout_ns ? std::to_string(*config.timeout_ns) + "ns" : ""},
        {kNoSleep, config.no_sleep ? "1" : ""},
        {kTransactions, config.transactions},
        {kTransactionsFormat, config.transactions.empty() ? ""
                              : jsonl                     ? "jsonl"
                                                          : "text"},
        {kTransactionsText, config.transactions_text},
        {kFrames, config.frames},
        {kHtml, config.html},
        {kHtmlTitle, config.html.empty() ? "" : config.html_title},
        {kReport, config.report},
        {kLineNames, line_names_text(config.line_names)},
    };
}

RunEnvironment read_run_environment() {
    RunEnvironment read;
    RunConfig config;
    config.board_file = value_of(kBoard);
    config.vcd = value_of(kVcd);
    config.log = value_of(kLog);
    config.transactions = value_of(kTransactions);
    config.transactions_text = value_of(kTransactionsText);
    config.frames = value_of(kFrames);
    config.html = value_of(kHtml);
    config.html_title = value_of(kHtmlTitle);
    config.report = value_of(kReport);
    const std::string no_sleep = value_of(kNoSleep);
    config.no_sleep = !no_sleep.empty() && no_sleep != "0";
    if (const std::string text = value_of(kTimeout); !text.empty()) {
        config.timeout_ns = parse_duration(text);
        if (!config.timeout_ns) {
            read.variable = kTimeout;
            read.problem = "'" + text + "' is not a duration with its unit (50ms, 2s)";
            return read;
        }
    }
    if (const std::string text = value_of(kLineNames); !text.empty()) {
        auto names = parse_line_names(text);
        if (!names) {
            read.variable = kLineNames;
            read.problem = "'" + text + "' is not a list of LINE=NAME (24=BUSY,17=RST)";
            return read;
        }
        config.line_names = std::move(*names);
    }
    if (const std::string word = value_of(kTransactionsFormat); !word.empty()) {
        const std::optional<TransactionWriter::Format> format = transactions_format(word);
        if (!format) {
            read.variable = kTransactionsFormat;
            read.problem = "'" + word + "' is not a format (text or jsonl)";
            return read;
        }
        config.transactions_format = *format;
    }
    read.config = std::move(config);
    return read;
}

}  // namespace vboard
