// SPDX-License-Identifier: MIT
// VCD streaming and the text timing view.

#include "vboard/trace.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace vboard {
namespace {

const char *role(int pin) {
    switch (pin) {
        case 11: return "sclk";
        case 10: return "mosi";
        case 9: return "miso";
        case 8: return "ce0";
        case 7: return "ce1";
        case 25: return "out_a";
        case 17: return "out_b";
        case 24: return "in";
        case 18: return "en";
        default: return nullptr;
    }
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// VCD identifiers: one printable character per line, '!' for BCM 0 onwards.
char vcd_id(int pin) { return static_cast<char>('!' + pin); }

void check_line(int pin) {
    if (pin < 0 || pin >= kLineCount) {
        throw std::out_of_range("vboard: no BCM line " + std::to_string(pin) +
                                " (lines are 0 to 53)");
    }
}

}  // namespace

std::string line_label(int pin) {
    check_line(pin);
    std::string label = "bcm" + std::to_string(pin);
    if (const char *name = role(pin)) {
        label += '_';
        label += name;
    }
    return label;
}

std::vector<int> pin_map_lines() { return {11, 10, 9, 8, 7, 25, 17, 24, 18}; }

std::vector<int> all_lines() {
    std::vector<int> lines(kLineCount);
    for (int pin = 0; pin < kLineCount; ++pin) {
        lines[pin] = pin;
    }
    return lines;
}

// ---- VcdWriter ----------------------------------------------------------------------------------

VcdWriter::VcdWriter(const std::string &path, std::vector<int> lines)
    : path_(path), lines_(std::move(lines)) {
    if (lines_.empty()) {
        throw std::invalid_argument("vboard: a VCD file needs at least one line");
    }
    for (const int pin : lines_) {
        check_line(pin);
        traced_[pin] = true;
    }
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        throw std::runtime_error("cannot write VCD file '" + path + "': " + std::strerror(errno));
    }
}

VcdWriter::~VcdWriter() { close(); }

void VcdWriter::start(std::uint64_t time_ns, const std::array<bool, kLineCount> &levels) {
    if (file_ == nullptr) {
        return;
    }
    std::fputs("$version devconfig virtual board $end\n$timescale 1 ns $end\n", file_);
    std::fputs("$scope module gpio $end\n", file_);
    for (const int pin : lines_) {
        std::fprintf(file_, "$var wire 1 %c %s $end\n", vcd_id(pin), line_label(pin).c_str());
    }
    std::fputs("$upscope $end\n$enddefinitions $end\n", file_);
    stamp(time_ns);
    flush_buffer();
    std::fputs("$dumpvars\n", file_);
    for (const int pin : lines_) {
        std::fprintf(file_, "%d%c\n", levels[pin] ? 1 : 0, vcd_id(pin));
    }
    std::fputs("$end\n", file_);
}

void VcdWriter::change(std::uint64_t time_ns, int pin, bool level) {
    if (file_ == nullptr || !traced_[pin]) {
        return;
    }
    stamp(time_ns);
    make_room(3);
    char *out = buffer_ + pending_;
    out[0] = level ? '1' : '0';
    out[1] = vcd_id(pin);
    out[2] = '\n';
    pending_ += 3;
}

void VcdWriter::finish(std::uint64_t time_ns) {
    if (file_ == nullptr) {
        return;
    }
    stamp(time_ns);  // so the last levels have a length
    close();
}

bool VcdWriter::ok() const { return !failed_; }

// Time stamps come in rising order, mostly a few tens of nanoseconds apart. The decimal digits of
// the hundreds of nanoseconds are kept from one stamp to the next and moved on by the difference;
// the last two digits come from the time itself.
void VcdWriter::stamp(std::uint64_t time_ns) {
    if (has_stamp_ && time_ns == stamped_) {
        return;
    }
    const std::uint64_t hundreds = time_ns / 100;
    const auto units = static_cast<unsigned>(time_ns % 100);
    if (!has_stamp_ || hundreds < hundreds_ || hundreds - hundreds_ >= kSmallStep) {
        set_digits(hundreds);
    } else if (hundreds != hundreds_) {
        add_to_digits(hundreds - hundreds_);
    }
    hundreds_ = hundreds;
    stamped_ = time_ns;
    has_stamp_ = true;
    make_room(kDigits + 3);
    char *out = buffer_ + pending_;
    *out++ = '#';
    const char *pair = kDigitPairs + 2 * units;
    if (hundreds == 0) {
        if (units >= 10) {
            *out++ = pair[0];
        }
    } else {
        std::memcpy(out, digits_ + first_digit_, kDigits);  // a fixed length: inlined
        out += kDigits - first_digit_;
        *out++ = pair[0];
    }
    *out++ = pair[1];
    *out++ = '\n';
    pending_ = static_cast<std::size_t>(out - buffer_);
}

void VcdWriter::set_digits(std::uint64_t value) {
    first_digit_ = kDigits;
    if (value == 0) {
        return;
    }
    char *end = std::to_chars(digits_, digits_ + kDigits, value).ptr;
    const auto count = static_cast<std::size_t>(end - digits_);
    std::memmove(digits_ + kDigits - count, digits_, count);
    first_digit_ = kDigits - count;
}

void VcdWriter::add_to_digits(std::uint64_t step) {
    std::size_t pos = kDigits;
    while (step > 0) {
        --pos;
        if (pos < first_digit_) {
            digits_[pos] = '0';
            first_digit_ = pos;
        }
        auto digit = static_cast<unsigned>(digits_[pos] - '0') + static_cast<unsigned>(step % 10);
        step /= 10;
        if (digit >= 10) {
            digit -= 10;
            ++step;
        }
        digits_[pos] = static_cast<char>('0' + digit);
    }
}

// Changes collect in the writer's own buffer, which goes to the file in large blocks: a write per
// change through stdio would cost more than the board's own work.
void VcdWriter::make_room(std::size_t size) {
    if (pending_ + size > sizeof buffer_) {
        flush_buffer();
    }
}

void VcdWriter::flush_buffer() {
    if (pending_ > 0 && std::fwrite(buffer_, 1, pending_, file_) != pending_) {
        failed_ = true;
    }
    pending_ = 0;
}

void VcdWriter::close() {
    if (file_ == nullptr) {
        return;
    }
    flush_buffer();
    if (std::ferror(file_) != 0) {
        failed_ = true;
    }
    if (std::fclose(file_) != 0) {
        failed_ = true;
    }
    file_ = nullptr;
}

// ---- EdgeRecorder
// ---------------------------------------------------------------------------------

EdgeRecorder::EdgeRecorder(std::size_t max_changes) : max_changes_(max_changes) {}

void EdgeRecorder::start(std::uint64_t time_ns, const std::array<bool, kLineCount> &levels) {
    std::lock_guard lock(mutex_);
    initial_ = levels;
    start_ns_ = end_ns_ = time_ns;
    changes_.clear();
    dropped_ = 0;
}

void EdgeRecorder::change(std::uint64_t time_ns, int pin, bool level) {
    std::lock_guard lock(mutex_);
    end_ns_ = time_ns;
    if (changes_.size() >= max_changes_) {
        ++dropped_;
        return;
    }
    changes_.push_back(Change{time_ns, pin, level});
}

void EdgeRecorder::finish(std::uint64_t time_ns) {
    std::lock_guard lock(mutex_);
    end_ns_ = std::max(end_ns_, time_ns);
}

std::size_t EdgeRecorder::changes_dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::string EdgeRecorder::render(std::span<const int> lines) const {
    std::lock_guard lock(mutex_);
    for (const int pin : lines) {
        check_line(pin);
    }
    // One column per distinct change time among the lines shown.
    std::vector<std::uint64_t> times;
    for (const Change &c : changes_) {
        if (std::find(lines.begin(), lines.end(), c.pin) != lines.end() &&
            (times.empty() || times.back() != c.time_ns)) {
            times.push_back(c.time_ns);
        }
    }
    std::size_t width = 0;
    for (const int pin : lines) {
        width = std::max(width, line_label(pin).size());
    }
    std::string out = std::string(width, ' ') + "  " + std::to_string(start_ns_) + " ns .. " +
                      std::to_string(end_ns_) + " ns, " + std::to_string(times.size()) +
                      " change times";
    if (dropped_ > 0) {
        out += " (" + std::to_string(dropped_) + " later changes not kept)";
    }
    out += '\n';
    for (const int pin : lines) {
        std::string label = line_label(pin);
        label.resize(width, ' ');
        std::string row = label + "  ";
        bool level = initial_[pin];
        row += level ? '-' : '_';
        std::size_t next = 0;
        for (const std::uint64_t t : times) {
            char edge = level ? '-' : '_';
            for (; next < changes_.size() && changes_[next].time_ns <= t; ++next) {
                const Change &c = changes_[next];
                if (c.pin == pin && c.level != level) {
                    level = c.level;
                    edge = level ? '/' : '\\';
                }
            }
            row += edge;
            row += level ? '-' : '_';
        }
        out += row + '\n';
    }
    return out;
}

}  // namespace vboard
