// SPDX-License-Identifier: MIT
// The board's clock: virtual time, the timeline of what is due, the guard against events that keep
// coming due with no time passing, the time limit, and the watch on a program polling one line
// (which the time limit's report names). Private to the library.
#ifndef VBOARD_BOARD_CLOCK_HPP
#define VBOARD_BOARD_CLOCK_HPP

#include <cstdint>
#include <optional>
#include <string>

#include "engine.hpp"
#include "timeline.hpp"
#include "vboard/board.hpp"

// The few steps every line operation takes, kept inline in the wiringPi functions whatever the
// compiler would decide for functions of their size.
#if defined(__GNUC__)
#define VBOARD_ALWAYS_INLINE [[gnu::always_inline]]
#else
#define VBOARD_ALWAYS_INLINE
#endif

namespace vboard {

// What the clock asks of the board it belongs to, at the two moments it cannot decide alone.
class ClockOwner {
  public:
    // Events keep coming due at `now` with no time passing. Returns whether the timeline is to be
    // cleared (nothing was found to stop that would end the loop).
    virtual bool break_loop(std::uint64_t now) = 0;
    // The call in progress, as CallRecord::to_string() gives it without its result; "" for none.
    virtual std::string call_in_progress() const = 0;

  protected:
    ~ClockOwner() = default;
};

class Clock {
  public:
    explicit Clock(ClockOwner &owner) : owner_(owner) {}

    std::uint64_t now() const { return now_; }

    // Moves the clock on by `ns`, running what the timeline has due on the way and stopping at
    // the time limit. Every cost and every wait goes through here.
    VBOARD_ALWAYS_INLINE void advance(std::uint64_t ns) {
        const std::uint64_t target = now_ + ns;
        if (!nothing_due_by(target)) [[unlikely]] {
            advance_through_events(target);
        }
        now_ = target > now_ ? target : now_;
    }
    // Whether the clock may move on to `target` with nothing due on the way: no event and not
    // the time limit.
    VBOARD_ALWAYS_INLINE bool nothing_due_by(std::uint64_t target) const { return target < due_; }
    // Moves the clock on to `target`, which nothing_due_by() has just allowed.
    VBOARD_ALWAYS_INLINE void pass_to(std::uint64_t target) { now_ = target; }
    // advance() in steps, for a wait that something may end early: moves the clock to the next
    // moment at which something is due up to `target` and runs all that is due then, or to
    // `target` when nothing is. Returns whether the clock has reached `target`; a `target` of
    // kNever with nothing due leaves the clock where it is.
    bool step_towards(std::uint64_t target);
    // Whether anything is due at all: an event or the time limit.
    bool anything_due() const { return due_ != kNever; }
    // Runs what came due at the current moment after the clock reached it (a rule a transfer's
    // end fired with no delay, say), so that a read at a moment sees everything due at it.
    void apply_due() {
        if (!timeline_.empty() && timeline_.next_time() <= now_) {
            run_until(now_);
        }
    }

    // Calls listener->timed(what, detail) when the clock reaches `time` (at once if it has).
    void schedule(std::uint64_t time, Listener *listener, std::uint64_t what,
                  std::uint64_t detail) {
        timeline_.schedule(time, listener, what, detail);
        due_ = time < due_ ? time : due_;
    }
    void forget(const Listener *listener) {
        timeline_.forget(listener);
        refresh_due();
    }

    void set_time_limit(std::uint64_t limit_ns, TimeLimitHandler handler) {
        time_limit_ = limit_ns;
        time_limit_handler_ = std::move(handler);
        refresh_due();
    }
    void clear_time_limit() {
        time_limit_.reset();
        time_limit_handler_ = nullptr;
        refresh_due();
    }

    // The poll watch: a digitalRead of `pin` that read `level`, and any other call but a wait.
    void note_read(int pin, bool level) {
        if (poll_.reads > 0 && poll_.pin == pin && poll_.level == level) {
            ++poll_.reads;
        } else {
            poll_ = PollWatch{pin, level, now_, 1};
        }
    }
    VBOARD_ALWAYS_INLINE void note_other_call() { poll_.reads = 0; }

    static constexpr std::uint64_t kNever = ~std::uint64_t{0};

  private:
    // The latest run of digitalRead calls on one line that all read the same level.
    struct PollWatch {
        int pin = -1;
        bool level = false;
        std::uint64_t since = 0;
        std::uint64_t reads = 0;
    };

    void advance_through_events(std::uint64_t target);
    // Sets due_ afresh, after the timeline lost events or the time limit changed.
    void refresh_due();
    void run_until(std::uint64_t time);
    void reach_time_limit();

    ClockOwner &owner_;
    std::uint64_t now_ = 0;
    Timeline timeline_;
    std::optional<std::uint64_t> time_limit_;
    // The earliest of the next event's time and the time limit: the one test a quiet advance makes.
    std::uint64_t due_ = kNever;
    TimeLimitHandler time_limit_handler_;
    PollWatch poll_;
};

}  // namespace vboard

#endif  // VBOARD_BOARD_CLOCK_HPP
