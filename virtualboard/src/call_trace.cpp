// SPDX-License-Identifier: MIT
// The trace format: its header, a call's text, and the strict reader.

#include "vboard/call_trace.hpp"

#include "hex_text.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vboard {

namespace {

std::string located(const std::string &file, int line, const std::string &what) {
    std::string text = file;
    if (line > 0) {
        text.append(1, ':').append(std::to_string(line));
    }
    return text.append(": ").append(what);
}

bool is_spi_transfer(Call call) { return call == Call::SpiDataRW || call == Call::SpiXDataRW; }

std::optional<Flag> flag_named(std::string_view name) {
    for (int f = 0; f <= static_cast<int>(Flag::NotPwm); ++f) {
        if (name == to_string(static_cast<Flag>(f))) {
            return static_cast<Flag>(f);
        }
    }
    return std::nullopt;
}

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

// Marks a parsed call that passed a buffer, whose address the text does not keep.
const std::uint8_t kBufferPassed = 0;

class TraceReader {
  public:
    TraceReader(const std::string &name, CallTrace &trace) : name_(name), trace_(trace) {}

    void first_line(std::string_view text) {
        const std::string magic = std::string(kTraceMagic) + ' ';
        if (!text.starts_with(magic)) {
            fail("not a trace: the first line should be \"" + magic +
                 std::to_string(kTraceVersion) + "\"");
        }
        const auto version = number(text.substr(magic.size()));
        if (!version || *version != kTraceVersion) {
            fail("trace version " + std::string(text.substr(magic.size())) +
                 " is not one this board reads (version " + std::to_string(kTraceVersion) + ")");
        }
        trace_.version = kTraceVersion;
    }

    void line(std::string_view text) {
        if (text.empty()) {
            return;
        }
        if (!in_header_ || text[0] == ' ' || (text[0] >= '0' && text[0] <= '9')) {
            in_header_ = false;
            event_line(text);
            return;
        }
        header_line(text);
    }

    void set_line(int line) { line_ = line; }

    [[noreturn]] void fail(const std::string &what) const { throw TraceError(name_, line_, what); }

  private:
    void header_line(std::string_view text) {
        const auto space = text.find(' ');
        const std::string_view key = text.substr(0, space);
        const std::string value =
            space == std::string_view::npos ? std::string() : std::string(text.substr(space + 1));
        if (key == "source") {
            trace_.source = value;
        } else if (key == "model") {
            trace_.model = value;
        } else if (key == "wiringpi") {
            trace_.wiringpi = value;
        } else {
            fail("unknown header line \"" + std::string(text) +
                 "\" (a header line is source, model or wiringpi)");
        }
    }

    void event_line(std::string_view text) {
        std::size_t at = text.find_first_not_of(' ');
        const std::size_t unit = text.find(" ns  ", at);
        if (at == std::string_view::npos || unit == std::string_view::npos) {
            fail("unknown line \"" + std::string(text) + "\" (expected TIME ns  CALL)");
        }
        const auto time = number(text.substr(at, unit - at));
        if (!time || *time < 0) {
            fail("a time in nanoseconds, not \"" + std::string(text.substr(at, unit - at)) + "\"");
        }
        const std::string_view body = text.substr(unit + 5);
        if (body.starts_with("note: ")) {
            return;
        }
        CallRecord rec;
        rec.time_ns = static_cast<std::uint64_t>(*time);
        if (body.starts_with("rule ")) {
            rec.call = Call::RuleFired;
            rec.text = body;
        } else if (const auto open = body.find('(');
                   open != std::string_view::npos && name_only(body.substr(0, open))) {
            call(body, open, rec);
        } else if (const auto colon = body.find(": "); colon != std::string_view::npos &&
                                                       colon > 0 &&
                                                       name_only(body.substr(0, colon))) {
            rec.call = Call::DeviceLog;
            rec.text = body;
        } else {
            fail("unknown line \"" + std::string(text) +
                 "\" (expected a call, a note, a device's line or a rule)");
        }
        trace_.calls.push_back(std::move(rec));
    }

    static bool name_only(std::string_view text) {
        if (text.empty()) {
            return false;
        }
        for (const char c : text) {
            if (!is_name_char(c)) {
                return false;
            }
        }
        return true;
    }

    void call(std::string_view body, std::size_t open, CallRecord &rec) {
        const std::string_view name = body.substr(0, open);
        const auto call = call_named(name);
        if (!call || *call == Call::DeviceLog || *call == Call::RuleFired) {
            fail("unknown call \"" + std::string(name) + "\"");
        }
        rec.call = *call;
        const auto close = body.find(')', open);
        if (close == std::string_view::npos) {
            fail("a call's arguments closed by ')'");
        }
        arguments(body.substr(open + 1, close - open - 1), rec);
        suffixes(body.substr(close + 1), rec);
    }

    void arguments(std::string_view list, CallRecord &rec) {
        while (!list.empty()) {
            const auto comma = list.find(", ");
            const std::string_view arg = list.substr(0, comma);
            list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 2);
            if (arg.starts_with('[') || arg == "NULL" || arg == "<buffer>") {
                if (!is_spi_transfer(rec.call)) {
                    fail("a buffer in a call that takes none");
                }
                rec.buffer = arg == "NULL" ? nullptr : &kBufferPassed;
                if (arg.starts_with('[')) {
                    rec.sent = bytes(arg);
                }
                continue;
            }
            const auto value = number(arg);
            if (!value) {
                fail("an argument, a whole number, not \"" + std::string(arg) + "\"");
            }
            if (rec.arg_count == CallRecord::kMaxArgs) {
                fail("at most " + std::to_string(CallRecord::kMaxArgs) + " arguments");
            }
            rec.args[rec.arg_count++] = *value;
        }
    }

    void suffixes(std::string_view rest, CallRecord &rec) {
        if (rest.starts_with(" -> BCM ")) {
            rest.remove_prefix(8);
            const auto end = rest.find(' ');
            const auto pin = number(rest.substr(0, end));
            if (!pin || *pin < 0 || *pin >= kLineCount) {
                fail("a BCM line 0 to 53 after \"->\"");
            }
            rec.line = static_cast<int>(*pin);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        }
        if (rest.starts_with(" = ")) {
            rest.remove_prefix(3);
            const auto end = rest.find(' ');
            const auto result = number(rest.substr(0, end));
            if (!result) {
                fail("a result, a whole number, after \"=\"");
            }
            rec.has_result = true;
            rec.result = *result;
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        }
        if (rest.starts_with(" [")) {
            const auto end = rest.find(']');
            const auto flag =
                end == std::string_view::npos ? std::nullopt : flag_named(rest.substr(2, end - 2));
            if (!flag) {
                fail("a flag the board knows in [ ]");
            }
            rec.flag = *flag;
            rest.remove_prefix(end + 1);
        }
        if (rest.starts_with(" received ")) {
            if (!is_spi_transfer(rec.call)) {
                fail("bytes received in a call that is not an SPI transfer");
            }
            rec.received = bytes(rest.substr(10));
            rest = {};
        }
        if (!rest.empty()) {
            fail("nothing more after the call, not \"" + std::string(rest) + "\"");
        }
    }

    std::vector<std::uint8_t> bytes(std::string_view text) const {
        if (text.size() < 2 || text.front() != '[' || text.back() != ']') {
            fail("bytes as [hex hex ...], not \"" + std::string(text) + "\"");
        }
        text = text.substr(1, text.size() - 2);
        std::vector<std::uint8_t> out;
        while (!text.empty()) {
            const auto space = text.find(' ');
            const std::string_view hex = text.substr(0, space);
            unsigned value = 0;
            const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
            if (ec != std::errc() || end != hex.data() + hex.size() || hex.size() != 2) {
                fail("a byte as two hex digits, not \"" + std::string(hex) + "\"");
            }
            out.push_back(static_cast<std::uint8_t>(value));
            text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        }
        return out;
    }

    static std::optional<long long> number(std::string_view text) {
        long long value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
            return std::nullopt;
        }
        return value;
    }

    const std::string &name_;
    CallTrace &trace_;
    int line_ = 0;
    bool in_header_ = true;
};

}  // namespace

TraceError::TraceError(const std::string &file, int line, const std::string &what)
    : std::runtime_error(located(file, line, what)), line_(line) {}

std::string trace_header(const std::string &source, const std::string &model,
                         const std::string &wiringpi) {
    return std::string(kTraceMagic) + ' ' + std::to_string(kTraceVersion) + "\nsource " + source +
           "\nmodel " + model + "\nwiringpi " + wiringpi + '\n';
}

std::string trace_call_text(const CallRecord &call) {
    std::string text = call.to_string();
    if (is_spi_transfer(call.call) && !call.received.empty()) {
        text += " received " + bracketed_hex(call.received);
    }
    return text;
}

std::optional<Call> call_named(std::string_view name) {
    for (int c = 0; c <= static_cast<int>(Call::Sleep); ++c) {
        if (name == to_string(static_cast<Call>(c))) {
            return static_cast<Call>(c);
        }
    }
    return std::nullopt;
}

CallTrace parse_call_trace(std::string_view text, const std::string &name) {
    CallTrace trace;
    TraceReader reader(name, trace);
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        ++number;
        reader.set_line(number);
        if (end == std::string_view::npos) {
            // A recording cut short (power lost mid-write): keep what came before it.
            trace.notes.push_back(located(name, number,
                                          "the last line is cut short (no newline); the trace is "
                                          "read up to the line before it"));
            if (number == 1) {
                reader.fail("not a trace: the first line is cut short");
            }
            break;
        }
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (number == 1) {
            reader.first_line(line);
        } else {
            reader.line(line);
        }
    }
    if (number == 0) {
        reader.fail("not a trace: the file is empty");
    }
    // A recorder writes a call when it returns: a call made on another thread during a wait
    // (an interrupt's callback) comes before the wait it happened in.
    std::stable_sort(
        trace.calls.begin(), trace.calls.end(),
        [](const CallRecord &a, const CallRecord &b) { return a.time_ns < b.time_ns; });
    return trace;
}

CallTrace read_call_trace(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw TraceError(path, 0, "is a directory, not a trace");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw TraceError(path, 0, std::string("cannot read: ") + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        throw TraceError(path, 0, "cannot read");
    }
    return parse_call_trace(text.str(), path);
}

}  // namespace vboard
