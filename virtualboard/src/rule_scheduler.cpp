// SPDX-License-Identifier: MIT
// The rule scheduler: triggers, and the drives rules put on the board's timeline.

#include "rule_scheduler.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "vboard/duration.hpp"

namespace vboard {
namespace {

// What a rule puts on the timeline.
enum What : std::uint64_t {
    kDrive,      // detail: pin | level << 8
    kFireRule,   // an At trigger; the rule's index in the high bits of `what`
    kHeldCheck,  // fire the rule if its line has not changed since `detail`
};

constexpr unsigned kWhatBits = 8;

bool watches_line(Trigger::Kind kind) {
    return kind == Trigger::Kind::Rising || kind == Trigger::Kind::Falling ||
           kind == Trigger::Kind::Edge || kind == Trigger::Kind::Held;
}

bool watches_duty(Trigger::Kind kind) {
    return kind == Trigger::Kind::DutyAbove || kind == Trigger::Kind::DutyBelow;
}

bool watches_spi(Trigger::Kind kind) {
    return kind == Trigger::Kind::SpiByte || kind == Trigger::Kind::SpiEnd;
}

void check_rule_pin(int pin, const char *what) {
    if (pin < 0 || pin >= kLineCount) {
        throw std::out_of_range(std::string("vboard: rule ") + what + " " + std::to_string(pin) +
                                " is not a BCM line (lines are 0 to 53)");
    }
}

void check_rule(const Rule &rule) {
    if (watches_line(rule.when.kind) || watches_duty(rule.when.kind)) {
        check_rule_pin(rule.when.pin, "trigger line");
    }
    if (watches_duty(rule.when.kind) && !(rule.when.duty >= 0 && rule.when.duty <= 1)) {
        throw std::out_of_range("vboard: rule trigger duty " + std::to_string(rule.when.duty) +
                                " is not a share from 0 to 1");
    }
    if (watches_spi(rule.when.kind) && (rule.when.channel < -1 || rule.when.channel > 1)) {
        throw std::out_of_range("vboard: rule trigger channel " +
                                std::to_string(rule.when.channel) + " is not -1, 0 or 1");
    }
    check_rule_pin(rule.action.pin, "line");
}

std::uint64_t encode(What what, std::size_t rule) {
    return what | (static_cast<std::uint64_t>(rule) << kWhatBits);
}

const char *drive_name(Drive level) {
    switch (level) {
        case Drive::High: return "high";
        case Drive::Low: return "low";
        case Drive::Release: break;
    }
    return "released";
}

// "drives BCM24 low after 100 us, then high after 5 ms"
std::string describe(const Action &action) {
    std::string text = action.level == Drive::Release ? "releases BCM" + std::to_string(action.pin)
                                                      : "drives BCM" + std::to_string(action.pin) +
                                                            " " + drive_name(action.level);
    if (action.after_ns > 0) {
        text += " after " + format_duration(action.after_ns);
    }
    if (action.for_ns) {
        text += std::string(", then ") +
                (action.then == Drive::Release ? "releases it" : drive_name(action.then)) +
                " after " + format_duration(*action.for_ns);
    }
    return text;
}

std::uint64_t drive_detail(int pin, Drive level) {
    return static_cast<std::uint64_t>(pin) | (static_cast<std::uint64_t>(level) << 8);
}

}  // namespace

RuleId RuleScheduler::add(const Rule &rule) {
    check_rule(rule);
    const std::size_t index = rules_.size();
    rules_.push_back(Slot{rule});
    const Trigger &when = rule.when;
    if (watches_line(when.kind)) {
        line_rules_[when.pin].push_back(index);
        ++line_rule_count_;
    } else if (watches_spi(when.kind)) {
        spi_rules_.push_back(index);
    } else if (when.kind == Trigger::Kind::LinkByte) {
        link_rules_.push_back(index);
    } else if (watches_duty(when.kind)) {
        duty_rules_.push_back(index);
    }
    if (when.kind == Trigger::Kind::At) {
        engine_.schedule(std::max(engine_.now(), when.time_ns), this, encode(kFireRule, index), 0);
    } else if (when.kind == Trigger::Kind::Held) {
        watch_held(index);
    }
    update_interests();
    return index;
}

void RuleScheduler::remove(RuleId id) {
    if (id >= rules_.size() || !rules_[id].active) {
        return;
    }
    rules_[id].active = false;
    const Trigger &when = rules_[id].rule.when;
    if (watches_line(when.kind)) {
        std::erase(line_rules_[when.pin], id);
        --line_rule_count_;
    }
    std::erase(spi_rules_, id);
    std::erase(link_rules_, id);
    std::erase(duty_rules_, id);
    update_interests();
}

void RuleScheduler::stop_all() {
    for (Slot &slot : rules_) {
        slot.active = false;
    }
    for (auto &watchers : line_rules_) {
        watchers.clear();
    }
    line_rule_count_ = 0;
    link_rules_.clear();
    spi_rules_.clear();
    duty_rules_.clear();
    update_interests();
}

std::string RuleScheduler::label(std::size_t index) const {
    std::string text = "rule " + std::to_string(index);
    if (index < rules_.size() && !rules_[index].rule.name.empty()) {
        text += " \"" + rules_[index].rule.name + "\"";
    }
    return text;
}

std::vector<std::string> RuleScheduler::stop_looping(std::uint64_t min_fires) {
    std::vector<std::string> stopped;
    if (moment_ != engine_.now()) {
        return stopped;
    }
    for (const std::size_t index : fired_now_) {
        Slot &slot = rules_[index];
        if (slot.active && slot.fired_at_moment >= min_fires) {
            remove(index);
            slot.stopped = true;
            stopped.push_back(label(index));
        }
    }
    return stopped;
}

void RuleScheduler::update_interests() {
    unsigned interests = 0;
    std::uint64_t lines = 0;
    if (line_rule_count_ > 0) {
        interests |= kLineChanges;
        for (std::size_t pin = 0; pin < line_rules_.size(); ++pin) {
            if (!line_rules_[pin].empty()) {
                lines |= std::uint64_t{1} << pin;
            }
        }
    }
    if (!link_rules_.empty()) {
        interests |= kLinkBytes;
    }
    if (!spi_rules_.empty()) {
        interests |= kSpiTransfers;
    }
    if (!duty_rules_.empty()) {
        interests |= kWaveChanges;
    }
    engine_.subscribe(this, interests, LineInterest{lines, lines});
}

void RuleScheduler::timed(std::uint64_t what, std::uint64_t detail) {
    const std::size_t rule = what >> kWhatBits;
    switch (static_cast<What>(what & ((1U << kWhatBits) - 1))) {
        case kDrive: {
            if (rules_[rule].stopped) {
                break;
            }
            const int pin = static_cast<int>(detail & 0xFF);
            const auto level = static_cast<Drive>(detail >> 8);
            engine_.set_external_drive(pin, level == Drive::Release
                                                ? std::nullopt
                                                : std::optional<bool>(level == Drive::High));
            break;
        }
        case kFireRule: fire(rule); break;
        case kHeldCheck: {
            const Slot &slot = rules_[rule];
            const LineView lines = engine_.lines();
            const int pin = slot.rule.when.pin;
            if (slot.active && lines.level(pin) == slot.rule.when.level &&
                lines.changed_at(pin) == detail) {
                fire(rule);
            }
            break;
        }
    }
}

// Puts the rule's drive (and its end, for a rule with a duration) on the timeline.
void RuleScheduler::fire(std::size_t index) {
    Slot &slot = rules_[index];
    if (!slot.active) {
        return;
    }
    ++slot.fired;
    const std::uint64_t now = engine_.now();
    if (now != moment_) {
        for (const std::size_t earlier : fired_now_) {
            rules_[earlier].fired_at_moment = 0;
        }
        fired_now_.clear();
        moment_ = now;
    }
    if (slot.fired_at_moment++ == 0) {
        fired_now_.push_back(index);
    }
    const Action &action = slot.rule.action;
    if (engine_.logging()) {
        engine_.log_text(label(index) + " fires: " + describe(action), Call::RuleFired);
    }
    const std::uint64_t at = now + action.after_ns;
    engine_.schedule(at, this, encode(kDrive, index), drive_detail(action.pin, action.level));
    if (action.for_ns) {
        engine_.schedule(at + *action.for_ns, this, encode(kDrive, index),
                         drive_detail(action.pin, action.then));
    }
}

void RuleScheduler::line_changed(const LineView &, int pin, bool level) {
    for (const std::size_t index : line_rules_[pin]) {
        const Trigger &when = rules_[index].rule.when;
        switch (when.kind) {
            case Trigger::Kind::Rising:
                if (level) {
                    fire(index);
                }
                break;
            case Trigger::Kind::Falling:
                if (!level) {
                    fire(index);
                }
                break;
            case Trigger::Kind::Edge: fire(index); break;
            case Trigger::Kind::Held: watch_held(index); break;
            default: break;
        }
    }
}

// Schedules the check that fires a Held rule if its line stays at its level long enough.
void RuleScheduler::watch_held(std::size_t index) {
    const Trigger &when = rules_[index].rule.when;
    const LineView lines = engine_.lines();
    if (lines.level(when.pin) != when.level) {
        return;
    }
    const std::uint64_t since = lines.changed_at(when.pin);
    engine_.schedule(std::max(engine_.now(), since + when.time_ns), this, encode(kHeldCheck, index),
                     since);
}

void RuleScheduler::link_byte(std::uint8_t byte) {
    for (const std::size_t index : link_rules_) {
        const Trigger &when = rules_[index].rule.when;
        if (!when.byte || *when.byte == byte) {
            fire(index);
        }
    }
}

void RuleScheduler::spi_byte(int channel, std::uint8_t byte) {
    for (const std::size_t index : spi_rules_) {
        const Trigger &when = rules_[index].rule.when;
        if (when.kind == Trigger::Kind::SpiByte && (when.channel < 0 || when.channel == channel) &&
            (!when.byte || *when.byte == byte)) {
            fire(index);
        }
    }
}

void RuleScheduler::spi_end(int channel) {
    for (const std::size_t index : spi_rules_) {
        const Trigger &when = rules_[index].rule.when;
        if (when.kind == Trigger::Kind::SpiEnd && (when.channel < 0 || when.channel == channel)) {
            fire(index);
        }
    }
}

void RuleScheduler::wave_changed(const LineWave &wave) {
    const double before = duty_[wave.pin];
    duty_[wave.pin] = wave.duty;
    for (const std::size_t index : duty_rules_) {
        const Trigger &when = rules_[index].rule.when;
        if (when.pin != wave.pin) {
            continue;
        }
        if ((when.kind == Trigger::Kind::DutyAbove && before <= when.duty &&
             wave.duty > when.duty) ||
            (when.kind == Trigger::Kind::DutyBelow && before >= when.duty &&
             wave.duty < when.duty)) {
            fire(index);
        }
    }
}

}  // namespace vboard
