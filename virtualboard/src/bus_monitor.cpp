// SPDX-License-Identifier: MIT
// The bus monitor: bytes on the link and SPI0 grouped into transactions, and the timing checks.

#include "bus_monitor.hpp"

#include <algorithm>

namespace vboard {
namespace {

bool edge_matches(const TimingEvent &event, int pin, bool level) {
    return event.pin == pin && ((event.kind == TimingEvent::Kind::Rising && level) ||
                                (event.kind == TimingEvent::Kind::Falling && !level));
}

// The edges a check looks at, as a line and a level (the line's level after the edge).
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

std::size_t BusMonitor::add_check(const TimingCheck &check) {
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
    update_active();
    return index;
}

void BusMonitor::update_active() {
    active_ = decoding_ || !checks_.empty();
    // The edges it reads: the link clock's rising ones (the data line is read there), the
    // selects', and those the checks look at. A check that follows the clock while selected needs
    // the clock's falling edges too; asked for once, not at each select, since a change of what a
    // listener asks for remakes the board's tables.
    const std::uint64_t clock = std::uint64_t{1} << kLinkClock;
    LineInterest lines{clock | select_lines_, select_lines_};
    for (const CheckState &state : checks_) {
        const TimingCheckKind kind = state.check.kind;
        if (kind == TimingCheckKind::SelectToClock || kind == TimingCheckKind::ClockToDeselect) {
            lines.falling |= clock;
        }
    }
    for (int pin = 0; pin < kLineCount; ++pin) {
        const std::uint64_t bit = std::uint64_t{1} << pin;
        lines.rising |= edge_checks_[edge_index(pin, true)].empty() ? 0 : bit;
        lines.falling |= edge_checks_[edge_index(pin, false)].empty() ? 0 : bit;
    }
    engine_.subscribe(this, active_ ? kLineChanges | kFunctionChanges | kSpiTransfers : 0U, lines);
}

std::vector<std::uint64_t> BusMonitor::violation_counts() const {
    std::vector<std::uint64_t> counts;
    counts.reserve(checks_.size());
    for (const CheckState &state : checks_) {
        counts.push_back(state.count);
    }
    return counts;
}

std::uint32_t BusMonitor::side_levels(const LineView &lines) const {
    std::uint32_t side = 0;
    for (std::size_t i = 0; i < framing_.side_lines.size(); ++i) {
        if (lines.level(framing_.side_lines[i].pin)) {
            side |= 1U << i;
        }
    }
    return side;
}

void BusMonitor::line_changed(const LineView &lines, int pin, bool) {
    const std::uint64_t now = lines.now();
    const Line &line = lines[pin];
    const bool link_rise = pin == kLinkClock && line.function == Function::Output && line.level;
    if (!edge_checks_[edge_index(pin, line.level)].empty()) {
        check_edge(now, pin, line.level, link_rise);
    }
    if (link_rise) {
        last_rise_ = now;
        const Function data = lines[kLinkData].function;
        if (data == Function::Output || data == Function::Input) {
            take_bit(now, data == Function::Output ? Direction::Out : Direction::In,
                     lines[kLinkData].level, lines);
        }
    }
    if (line.function == Function::Output && ((select_lines_ >> pin) & 1) != 0) {
        if (!line.level && !frame_) {
            open_frame(now, pin);
        } else if (line.level && frame_ && frame_->select == pin) {
            close_frame(now);
        }
    }
}

void BusMonitor::function_changed(const LineView &lines, int pin) {
    if (pin != kLinkData || pending_.bits == 0) {
        return;
    }
    const Function data = lines[kLinkData].function;
    const bool same = (data == Function::Output && pending_.direction == Direction::Out) ||
                      (data == Function::Input && pending_.direction == Direction::In);
    if (!same) {
        end_pending_byte();  // the line turned around in the middle of a byte
    }
}

void BusMonitor::take_bit(std::uint64_t now, Direction direction, bool bit, const LineView &lines) {
    if (pending_.bits > 0 && pending_.direction != direction) {
        end_pending_byte();
    }
    if (pending_.bits == 0) {
        pending_ = PendingByte{direction, 0, 0, now, now, side_levels(lines)};
        if (!frame_) {
            transaction_started(now, Bus::Link);
        }
    }
    pending_.value = static_cast<std::uint8_t>((pending_.value << 1) | (bit ? 1U : 0U));
    pending_.last = now;
    if (++pending_.bits == 8) {
        end_pending_byte();
    }
}

void BusMonitor::end_pending_byte() {
    if (pending_.bits == 0) {
        return;
    }
    const TransactionByte byte{pending_.time, pending_.direction, pending_.value, 0,
                               pending_.bits, pending_.side};
    const std::uint64_t last = pending_.last;
    pending_ = PendingByte{};
    if (frame_) {
        frame_->bytes.push_back(byte);
        return;
    }
    Transaction unframed;
    unframed.start_ns = byte.time_ns;
    unframed.end_ns = last;
    unframed.bytes.push_back(byte);
    emit(unframed);
}

void BusMonitor::open_frame(std::uint64_t now, int select) {
    end_pending_byte();  // bits clocked before the frame are not part of it
    frame_.emplace();
    frame_->select = select;
    frame_->start_ns = now;
    transaction_started(now, Bus::Link);
}

void BusMonitor::close_frame(std::uint64_t now) {
    end_pending_byte();
    frame_->end_ns = now;
    emit(*frame_);
    frame_.reset();
}

void BusMonitor::spi_transfer(const LineView &lines, const SpiTransferView &transfer) {
    const int channel = transfer.channel;
    const std::uint64_t start = transfer.start_ns;
    const std::uint64_t byte_ns = transfer.byte_ns;
    const std::span<const std::uint8_t> out = transfer.out;
    // What the host receives: nothing, with MISO disconnected.
    const std::vector<std::uint8_t> nothing(transfer.in.empty() ? out.size() : 0, 0);
    const std::span<const std::uint8_t> in = transfer.in.empty() ? nothing : transfer.in;
    transaction_started(start, spi_bus(channel));
    if (!decoding_) {
        return;
    }
    spi_.emplace();
    spi_->bus = spi_bus(channel);
    spi_->select = spi_chip_enable(channel);
    spi_->start_ns = start;
    const std::uint32_t side = side_levels(lines);
    spi_->bytes.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        spi_->bytes.push_back(
            TransactionByte{start + i * byte_ns, Direction::Exchange, out[i], in[i], 8, side});
    }
}

void BusMonitor::spi_end(int) {
    if (spi_) {
        spi_->end_ns = engine_.now();
        emit(*spi_);
        spi_.reset();
    }
}

void BusMonitor::emit(Transaction &transaction) {
    transaction.index = next_index_++;
    engine_.transaction(transaction);
}

// A select-to-clock or clock-to-deselect check looks at the clock's edges only while its select
// is low (`since` is set): the clock's lists have it then, and not otherwise.
void BusMonitor::follow_clock(std::size_t index) {
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

void BusMonitor::check_edge(std::uint64_t now, int pin, bool level, bool link_rise) {
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
}

// The checks but the clock rate's, at an edge they look at.
void BusMonitor::check_other(std::size_t i, std::uint64_t now, int pin, bool level) {
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
            }
            break;
    }
}

void BusMonitor::transaction_started(std::uint64_t now, Bus bus) {
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
        }
    }
}

void BusMonitor::measured(std::size_t index, std::uint64_t now, std::uint64_t value) {
    CheckState &state = checks_[index];
    if (++state.count > kViolationsKeptPerCheck) {
        return;
    }
    const TimingViolation violation{
        index, state.check.name,  now,
        value, state.check.limit, state.check.kind == TimingCheckKind::ClockRate};
    kept_.push_back(violation);
    engine_.violation(violation);
}

void BusMonitor::close(std::uint64_t now) {
    if (frame_) {
        close_frame(now);
    }
    end_pending_byte();
}

}  // namespace vboard
