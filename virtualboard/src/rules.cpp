// The rule scheduler: triggers, the timeline of what is due, and the drives rules apply.

#include <stdexcept>

#include "board_state.hpp"

namespace vboard {
namespace {

// Zero-delay rules that keep waking each other would stop the clock; past this many events at one
// moment the board stops its rules and says so.
constexpr std::uint64_t kMaxEventsAtOneMoment = 100'000;

bool watches_line(Trigger::Kind kind) {
    return kind == Trigger::Kind::Rising || kind == Trigger::Kind::Falling ||
           kind == Trigger::Kind::Edge || kind == Trigger::Kind::Held;
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
    if (watches_line(rule.when.kind)) {
        check_rule_pin(rule.when.pin, "trigger line");
    }
    if (watches_spi(rule.when.kind) && (rule.when.channel < -1 || rule.when.channel > 1)) {
        throw std::out_of_range("vboard: rule trigger channel " +
                                std::to_string(rule.when.channel) + " is not -1, 0 or 1");
    }
    check_rule_pin(rule.action.pin, "line");
}

void remove_index(std::vector<std::size_t> &indexes, std::size_t index) {
    std::erase(indexes, index);
}

}  // namespace

Trigger Trigger::at(std::uint64_t time_ns) {
    Trigger t;
    t.kind = Kind::At;
    t.time_ns = time_ns;
    return t;
}

Trigger Trigger::rising(int pin) {
    Trigger t;
    t.kind = Kind::Rising;
    t.pin = pin;
    return t;
}

Trigger Trigger::falling(int pin) {
    Trigger t = rising(pin);
    t.kind = Kind::Falling;
    return t;
}

Trigger Trigger::edge(int pin) {
    Trigger t = rising(pin);
    t.kind = Kind::Edge;
    return t;
}

Trigger Trigger::link_byte(std::optional<std::uint8_t> byte) {
    Trigger t;
    t.kind = Kind::LinkByte;
    t.byte = byte;
    return t;
}

Trigger Trigger::spi_byte(int channel, std::optional<std::uint8_t> byte) {
    Trigger t;
    t.kind = Kind::SpiByte;
    t.channel = channel;
    t.byte = byte;
    return t;
}

Trigger Trigger::spi_end(int channel) {
    Trigger t;
    t.kind = Kind::SpiEnd;
    t.channel = channel;
    return t;
}

Trigger Trigger::held(int pin, bool level, std::uint64_t time_ns) {
    Trigger t;
    t.kind = Kind::Held;
    t.pin = pin;
    t.level = level;
    t.time_ns = time_ns;
    return t;
}

RuleId Board::State::add_rule(const Rule &rule) {
    check_rule(rule);
    const std::size_t index = rules.size();
    rules.push_back(RuleSlot{rule});
    const Trigger &when = rule.when;
    if (watches_line(when.kind)) {
        line_rules[when.pin].push_back(index);
    } else if (watches_spi(when.kind)) {
        spi_rules.push_back(index);
    } else if (when.kind == Trigger::Kind::LinkByte) {
        link_rules.push_back(index);
    }
    if (when.kind == Trigger::Kind::At) {
        TimedEvent event;
        event.time = std::max(now, when.time_ns);
        event.kind = TimedEvent::Kind::FireRule;
        event.rule = index;
        schedule(event);
    } else if (when.kind == Trigger::Kind::Held) {
        watch_held(index);
    }
    return index;
}

void Board::State::remove_rule(RuleId id) {
    if (id >= rules.size() || !rules[id].active) {
        return;
    }
    rules[id].active = false;
    const Trigger &when = rules[id].rule.when;
    if (watches_line(when.kind)) {
        remove_index(line_rules[when.pin], id);
    }
    remove_index(spi_rules, id);
    remove_index(link_rules, id);
}

void Board::State::clear_rules() {
    rules.clear();
    for (auto &watchers : line_rules) {
        watchers.clear();
    }
    link_rules.clear();
    spi_rules.clear();
    timeline = {};
}

void Board::State::schedule(TimedEvent event) {
    event.sequence = next_sequence++;
    timeline.push(event);
}

void Board::State::run_timeline_until(std::uint64_t time) {
    std::uint64_t moment = now;
    std::uint64_t at_moment = 0;
    while (!timeline.empty() && timeline.top().time <= time) {
        const TimedEvent event = timeline.top();
        timeline.pop();
        now = std::max(now, event.time);
        at_moment = now == moment ? at_moment + 1 : 0;
        moment = now;
        if (at_moment > kMaxEventsAtOneMoment) {
            note("rules keep waking each other at " + std::to_string(now) +
                 " ns with no time passing; the board stopped its rules");
            clear_rules();
            return;
        }
        run_event(event);
    }
}

void Board::State::run_event(const TimedEvent &event) {
    switch (event.kind) {
        case TimedEvent::Kind::Drive: apply_drive(event.pin, event.level); break;
        case TimedEvent::Kind::FireRule: fire_rule(event.rule); break;
        case TimedEvent::Kind::HeldCheck: {
            const Line &line = lines[event.pin];
            if (rules[event.rule].active && line.level == rules[event.rule].rule.when.level &&
                line.changed_at == event.stamp) {
                fire_rule(event.rule);
            }
            break;
        }
    }
}

// Puts the rule's drive (and its end, for a rule with a duration) on the timeline.
void Board::State::fire_rule(std::size_t index) {
    RuleSlot &slot = rules[index];
    if (!slot.active) {
        return;
    }
    ++slot.fired;
    const Action &action = slot.rule.action;
    TimedEvent drive;
    drive.time = now + action.after_ns;
    drive.kind = TimedEvent::Kind::Drive;
    drive.pin = action.pin;
    drive.level = action.level;
    schedule(drive);
    if (action.for_ns) {
        drive.time += *action.for_ns;
        drive.level = action.then;
        schedule(drive);
    }
}

void Board::State::apply_drive(int pin, Drive level) {
    Line &line = lines[pin];
    if (level == Drive::Release) {
        line.test_drive.reset();
    } else {
        line.test_drive = level == Drive::High;
    }
    settle(pin);
}

void Board::State::on_line_change(int pin, bool level) {
    for (const std::size_t index : line_rules[pin]) {
        const Trigger &when = rules[index].rule.when;
        switch (when.kind) {
            case Trigger::Kind::Rising:
                if (level) {
                    fire_rule(index);
                }
                break;
            case Trigger::Kind::Falling:
                if (!level) {
                    fire_rule(index);
                }
                break;
            case Trigger::Kind::Edge: fire_rule(index); break;
            case Trigger::Kind::Held: watch_held(index); break;
            default: break;
        }
    }
}

// Schedules the check that fires a Held rule if its line stays at its level long enough.
void Board::State::watch_held(std::size_t index) {
    const Trigger &when = rules[index].rule.when;
    const Line &line = lines[when.pin];
    if (line.level != when.level) {
        return;
    }
    TimedEvent check;
    check.time = std::max(now, line.changed_at + when.time_ns);
    check.kind = TimedEvent::Kind::HeldCheck;
    check.pin = when.pin;
    check.rule = index;
    check.stamp = line.changed_at;
    schedule(check);
}

void Board::State::on_link_byte(std::uint8_t byte) {
    for (const std::size_t index : link_rules) {
        const Trigger &when = rules[index].rule.when;
        if (!when.byte || *when.byte == byte) {
            fire_rule(index);
        }
    }
}

void Board::State::on_spi_byte(int channel, std::uint8_t byte) {
    for (const std::size_t index : spi_rules) {
        const Trigger &when = rules[index].rule.when;
        if (when.kind == Trigger::Kind::SpiByte && (when.channel < 0 || when.channel == channel) &&
            (!when.byte || *when.byte == byte)) {
            fire_rule(index);
        }
    }
}

void Board::State::on_spi_end(int channel) {
    for (const std::size_t index : spi_rules) {
        const Trigger &when = rules[index].rule.when;
        if (when.kind == Trigger::Kind::SpiEnd && (when.channel < 0 || when.channel == channel)) {
            fire_rule(index);
        }
    }
}

}  // namespace vboard
