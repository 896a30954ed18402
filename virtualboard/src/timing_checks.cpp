// SPDX-License-Identifier: MIT
// The timing checks, on the line changes and the transactions' starts the bus monitor passes on.

#include "timing_checks.hpp"

#include <algorithm>
#include <string>

namespace vboard {
namespace {

bool edge_matches(const TimingEvent &event, int pin, bool level) {
    return event.pin == pin && ((event.kind == TimingEvent::Kind::Rising && level) ||
                                (event.kind == TimingEvent::Kind::Falling && !level));
}

std::vector<std::pair<int, bool>> check_edges(const TimingCheck &check) {
    std::vector<std::pair<int, bool>> edges;
    const auto add = [&edges](int pin, bool rising, bool falling) {
        if (pin >= 0 && pin < kLineCount) {
            if (rising) {
                edges.emplace_back(pin, true);
            }
            if (falling) {
                edges.emplace_back(pin, false);
            }
        }
    };
    switch (check.kind) {
        case TimingCheckKind::ClockRate: add(kLinkClock, true, false); break;
        case TimingCheckKind::SelectToClock:
        case TimingCheckKind::ClockToDeselect:
            add(check.pin, true, true);  // and the clock's while selected: see follow_clock()
            break;
        case TimingCheckKind::PulseWidth: add(check.pin, true, true); break;
        case TimingCheckKind::Gap:
            for (const TimingEvent *event : {&check.from, &check.to}) {
                if (event->kind != TimingEvent::Kind::Transaction) {
                    add(event->pin, event->kind == TimingEvent::Kind::Rising,
                        event->kind == TimingEvent::Kind::Falling);
                }
            }
            break;
    }
    return edges;
}

bool transaction_matches(const TimingEvent &event, Bus bus) {
    return event.kind == TimingEvent::Kind::Transaction && (!event.bus || *event.bus == bus);
}

std::string event_name(const TimingEvent &event) {
    switch (event.kind) {
        case TimingEvent::Kind::Rising: return "BCM " + std::to_string(event.pin) + " rising";
        case TimingEvent::Kind::Falling: return "BCM " + std::to_string(event.pin) + " falling";
        case TimingEvent::Kind::Transaction: break;
    }
    return event.bus ? std::string("a transaction on ") + to_string(*event.bus)
                     : std::string("a transaction");
}

std::string default_name(const TimingCheck &check) {
    const std::string pin = "BCM " + std::to_string(check.pin);
    switch (check.kind) {
        case TimingCheckKind::ClockRate: return "link clock rate";
        case TimingCheckKind::SelectToClock: return "select " + pin + " to first clock edge";
        case TimingCheckKind::ClockToDeselect: return "last clock edge to deselect " + pin;
        case TimingCheckKind::PulseWidth:
            return (check.level ? "high" : "low") + (" pulse on " + pin);
        case TimingCheckKind::Gap: return event_name(check.from) + " to " + event_name(check.to);
    }
    return "timing";
}

}  // namespace

std::size_t TimingChecks::add_check(const TimingCheck &check) {
    CheckState state;
    state.check = check;
    if (state.check.name.empty()) {
        state.check.name = default_name(check);
    }
    const std::size_t index = checks_.size();
    for (const auto &[pin, level] : check_edges(state.check)) {
        auto &list = edge_checks_[edge_index(pin, level)];
        if (std::find(list.begin(), list.end(), index) == list.end()) {
            list.push_back(index);
        }
    }
    checks_.push_back(std::move(state));
    return index;
}

std::vector<std::uint64_t> TimingChecks::violation_counts() const {
    std::vector<std::uint64_t> counts;
    counts.reserve(checks_.size());
    for (const CheckState &state : checks_) {
        counts.push_back(state.count);
    }
    return counts;
}

// A select-to-clock or clock-to-deselect check looks at the clock's edges only while its select
// is low (`since` is set): the clock's lists have it then, and not otherwise.
void TimingChecks::follow_clock(std::size_t index) {
    const CheckState &state = checks_[index];
    const TimingCheckKind kind = state.check.kind;
    if ((kind != TimingCheckKind::SelectToClock && kind != TimingCheckKind::ClockToDeselect) ||
        state.check.pin == kLinkClock) {
        return;  // not one that follows the clock, or its own line's edges are the clock's
    }
    for (const bool level : {false, true}) {
        std::vector<std::size_t> &list = edge_checks_[edge_index(kLinkClock, level)];
        const auto at = std::lower_bound(list.begin(), list.end(), index);
        const bool listed = at != list.end() && *at == index;
        if (state.since && !listed) {
            list.insert(at, index);
        } else if (!state.since && listed) {
            list.erase(at);
        }
    }
}

void TimingChecks::edge(std::uint64_t now, int pin, bool level, bool link_rise) {
    bool refollow = false;
    const std::vector<std::size_t> &list = edge_checks_[edge_index(pin, level)];
    for (std::size_t at = 0; at < list.size(); ++at) {
        const std::size_t i = list[at];
        const TimingCheck &check = checks_[i].check;
        if (check.kind == TimingCheckKind::ClockRate) {  // at the link clock's every rising edge
            if (link_rise && last_rise_ && now > *last_rise_) {
                const std::uint64_t period = now - *last_rise_;
                if (period * check.limit < kNsPerSecond) {
                    measured(i, now, kNsPerSecond / period);
                }
            }
        } else {
            // Whether the check's select state may change here (see follow_clock).
            refollow |= check.kind == TimingCheckKind::SelectToClock ||
                        (check.kind == TimingCheckKind::ClockToDeselect && pin == check.pin);
            check_other(i, now, pin, level);
        }
    }
    // The lists change only now, after the loop over one of them.
    if (refollow) {
        for (std::size_t i = 0; i < checks_.size(); ++i) {
            follow_clock(i);
        }
    }
    if (link_rise) {
        last_rise_ = now;
    }
}

LineInterest TimingChecks::lines() const {
    // A check that follows the clock while selected needs the clock's falling edges too; asked
    // for once, not at each select, since a change of what a listener asks for remakes the
    // board's tables.
    LineInterest lines;
    for (const CheckState &state : checks_) {
        const TimingCheckKind kind = state.check.kind;
        if (kind == TimingCheckKind::SelectToClock || kind == TimingCheckKind::ClockToDeselect) {
            lines.rising |= std::uint64_t{1} << kLinkClock;
            lines.falling |= std::uint64_t{1} << kLinkClock;
        }
    }
    for (int pin = 0; pin < kLineCount; ++pin) {
        const std::uint64_t bit = std::uint64_t{1} << pin;
        lines.rising |= edge_checks_[edge_index(pin, true)].empty() ? 0 : bit;
        lines.falling |= edge_checks_[edge_index(pin, false)].empty() ? 0 : bit;
    }
    return lines;
}

// The checks but the clock rate's, at an edge they look at.
void TimingChecks::check_other(std::size_t i, std::uint64_t now, int pin, bool level) {
    CheckState &state = checks_[i];
    const TimingCheck &check = state.check;
    switch (check.kind) {
        case TimingCheckKind::ClockRate: break;
        case TimingCheckKind::SelectToClock:
            if (pin == check.pin) {
                state.since = level ? std::nullopt : std::optional<std::uint64_t>(now);
            } else if (pin == kLinkClock && state.since) {
                if (now - *state.since < check.limit) {
                    measured(i, now, now - *state.since);
                }
                state.since.reset();
            }
            break;
        case TimingCheckKind::ClockToDeselect:
            if (pin == check.pin) {
                if (level && state.since && state.last_clock &&
                    now - *state.last_clock < check.limit) {
                    measured(i, now, now - *state.last_clock);
                }
                state.since = level ? std::nullopt : std::optional<std::uint64_t>(now);
                state.last_clock.reset();
            } else if (pin == kLinkClock && state.since) {
                state.last_clock = now;
            }
            break;
        case TimingCheckKind::PulseWidth:
            if (pin == check.pin) {
                if (level == check.level) {
                    state.since = now;
                    state.waits_since = engine_.waits();
                    state.waits_since = engine_.waits();
                    state.waits_since = engine_.waits();
                } else if (state.since) {
                    if (now - *state.since < check.limit) {
                        measured(i, now, now - *state.since);
                    }
                    state.since.reset();
                }
            }
            break;
        case TimingCheckKind::Gap:
            if (state.since && edge_matches(check.to, pin, level)) {
                if (now - *state.since < check.limit) {
                    measured(i, now, now - *state.since);
                }
                state.since.reset();
            }
            if (edge_matches(check.from, pin, level)) {
                state.since = now;
                state.waits_since = engine_.waits();
                state.waits_since = engine_.waits();
            }
            break;
    }
}

void TimingChecks::transaction_started(std::uint64_t now, Bus bus) {
    for (std::size_t i = 0; i < checks_.size(); ++i) {
        CheckState &state = checks_[i];
        if (state.check.kind != TimingCheckKind::Gap) {
            continue;
        }
        if (state.since && transaction_matches(state.check.to, bus)) {
            if (now - *state.since < state.check.limit) {
                measured(i, now, now - *state.since);
            }
            state.since.reset();
        }
        if (transaction_matches(state.check.from, bus)) {
            state.since = now;
            state.waits_since = engine_.waits();
        }
    }
}

void TimingChecks::measured(std::size_t index, std::uint64_t now, std::uint64_t value) {
    CheckState &state = checks_[index];
    if (++state.count > kViolationsKeptPerCheck) {
        return;
    }
    TimingViolation violation{
        index, state.check.name,  now,
        value, state.check.limit, state.check.kind == TimingCheckKind::ClockRate};
    violation.no_wait = (state.check.kind == TimingCheckKind::PulseWidth ||
                         state.check.kind == TimingCheckKind::Gap) &&
                        engine_.waits() == state.waits_since;
    kept_.push_back(violation);
    engine_.violation(violation);
}

}  // namespace vboard
