// SPDX-License-Identifier: MIT
// The board's clock.

#include "board_clock.hpp"

#include <algorithm>

namespace vboard {
namespace {

// Zero-delay events that keep waking each other would stop the clock; past this many at one
// moment the board is asked to break the loop.
constexpr std::uint64_t kMaxEventsAtOneMoment = 100'000;

}  // namespace

void Clock::advance_through_events(std::uint64_t target) {
    if (time_limit_ && target >= *time_limit_) {
        run_until(*time_limit_);
        now_ = std::max(now_, *time_limit_);
        reach_time_limit();
    }
    run_until(target);
}

bool Clock::step_towards(std::uint64_t target) {
    if (due_ == kNever && target == kNever) {
        return false;  // nothing will ever come due
    }
    if (nothing_due_by(target)) {
        now_ = std::max(now_, target);
        return true;
    }
    if (time_limit_ && (timeline_.empty() || *time_limit_ < timeline_.next_time())) {
        run_until(*time_limit_);
        now_ = std::max(now_, *time_limit_);
        reach_time_limit();
    } else {
        const std::uint64_t moment = timeline_.next_time();
        run_until(moment);
        now_ = std::max(now_, moment);
    }
    return now_ >= target;
}

void Clock::run_until(std::uint64_t time) {
    std::uint64_t moment = now_;
    std::uint64_t at_moment = 0;
    while (!timeline_.empty() && timeline_.next_time() <= time) {
        const TimedEvent event = timeline_.pop();
        now_ = std::max(now_, event.time);
        at_moment = now_ == moment ? at_moment + 1 : 0;
        moment = now_;
        if (at_moment > kMaxEventsAtOneMoment) {
            if (owner_.break_loop(now_)) {
                timeline_.clear();
                refresh_due();
                return;
            }
            at_moment = 0;
        }
        event.target->timed(event.what, event.detail);
    }
    refresh_due();
}

void Clock::refresh_due() {
    due_ = time_limit_ ? *time_limit_ : kNever;
    if (!timeline_.empty()) {
        due_ = std::min(due_, timeline_.next_time());
    }
}

void Clock::reach_time_limit() {
    TimeLimitReport report;
    report.limit_ns = *time_limit_;
    report.call = owner_.call_in_progress();
    if (poll_.reads >= 2) {
        report.polling = true;
        report.poll_pin = poll_.pin;
        report.poll_level = poll_.level;
        report.poll_since_ns = poll_.since;
        report.poll_reads = poll_.reads;
    }
    const TimeLimitHandler handler = std::move(time_limit_handler_);
    clear_time_limit();
    if (handler) {
        handler(report);
    }
}

}  // namespace vboard
