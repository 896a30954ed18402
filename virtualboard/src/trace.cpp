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
    const char record[3] = {level ? '1' : '0', vcd_id(pin), '\n'};
    std::fwrite(record, 1, sizeof record, file_);
}

void VcdWriter::finish(std::uint64_t time_ns) {
    if (file_ == nullptr) {
        return;
    }
    stamp(time_ns);  // so the last levels have a length
    close();
}

bool VcdWriter::ok() const { return !failed_; }

void VcdWriter::stamp(std::uint64_t time_ns) {
    if (has_stamp_ && time_ns == stamped_) {
        return;
    }
    char text[24] = {'#'};
    char *end = std::to_chars(text + 1, text + sizeof text - 1, time_ns).ptr;
    *end++ = '\n';
    std::fwrite(text, 1, static_cast<std::size_t>(end - text), file_);
    stamped_ = time_ns;
    has_stamp_ = true;
}

void VcdWriter::close() {
    if (file_ == nullptr) {
        return;
    }
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
