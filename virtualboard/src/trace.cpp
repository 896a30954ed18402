// SPDX-License-Identifier: MIT
// VCD streaming and the text timing view.

#include "vboard/trace.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "vcd_stream.hpp"

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
        line_words_[pin] = static_cast<std::uint8_t>(VcdStream::line_word(vcd_id(pin)));
    }
    // Not truncated here: the stream empties the file with its first write, off the board's thread.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot write VCD file '" + path + "': " + std::strerror(errno));
    }
    stream_ = std::make_unique<VcdStream>(fd);
}

VcdWriter::~VcdWriter() = default;

void VcdWriter::start(std::uint64_t time_ns, const std::array<bool, kLineCount> &levels) {
    VcdText &text = stream_->header();
    text.append("$version devconfig virtual board $end\n$timescale 1 ns $end\n");
    text.append("$scope module gpio $end\n");
    for (const int pin : lines_) {
        text.append("$var wire 1 " + std::string(1, vcd_id(pin)) + " " + line_label(pin) +
                    " $end\n");
    }
    text.append("$upscope $end\n$enddefinitions $end\n");
    text.stamp(time_ns);
    text.append("$dumpvars\n");
    for (const int pin : lines_) {
        text.level(vcd_id(pin), levels[pin]);
    }
    text.append("$end\n");
}

void VcdWriter::event(const RunEvent &event) {
    if (event.kind == RunEventKind::LineChange) [[likely]] {
        if (const std::uint32_t word = line_words_[event.pin]) {
            stream_->change(event.time_ns, word | (event.level ? 1U : 0U));
        }
    } else if (event.kind == RunEventKind::Start) {
        start(event.time_ns, event.start->levels);
    } else if (event.kind == RunEventKind::End) {
        stream_->finish(event.time_ns);
    }
}

bool VcdWriter::ok() const { return stream_->ok(); }

// ---- EdgeRecorder
// ---------------------------------------------------------------------------------

EdgeRecorder::EdgeRecorder(std::size_t max_changes) : max_changes_(max_changes) {}

void EdgeRecorder::event(const RunEvent &event) {
    std::lock_guard lock(mutex_);
    switch (event.kind) {
        case RunEventKind::Start:
            initial_ = event.start->levels;
            start_ns_ = end_ns_ = event.time_ns;
            changes_.clear();
            dropped_ = 0;
            break;
        case RunEventKind::LineChange:
            end_ns_ = event.time_ns;
            if (changes_.size() >= max_changes_) {
                ++dropped_;
            } else {
                changes_.push_back(Change{event.time_ns, event.pin, event.level});
            }
            break;
        case RunEventKind::End: end_ns_ = std::max(end_ns_, event.time_ns); break;
        default: break;
    }
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
