// SPDX-License-Identifier: MIT
// The call recorder: a record of each wiringPi call as it runs, kept in the log's ring (or in one
// scratch record while the log is off), the call in progress, and the lines devices and rules write
// to the log and the board's diagnostics, which follow the call they were written in. Each record
// is handed to the call observers once its call is done. Private to the library.
#ifndef VBOARD_CALL_RECORDER_HPP
#define VBOARD_CALL_RECORDER_HPP

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "board_clock.hpp"
#include "board_settings.hpp"
#include "call_ring.hpp"
#include "observers.hpp"

namespace vboard {

class CallRecorder {
    struct Pending {
        std::uint64_t time;
        Call kind;
        std::string text;
        bool note;  // a diagnostic for the observers, not a line of the log
    };

  public:
    CallRecorder(const BoardSettings &settings, const Clock &clock, Observers &observers)
        : settings_(settings), clock_(clock), observers_(observers) {}

    // Whether a record is kept or seen by anyone: when not, the quiet path may skip filling it.
    bool logging() const { return settings_.log_capacity > 0 || observers_.any_call_observer(); }

    // Starts the record of a call made at `now`; it is the call in progress until done(). The
    // inline functions take the clock's time from the caller, which has it at hand.
    VBOARD_ALWAYS_INLINE CallRecord &record(Call call, std::initializer_list<long long> args,
                                            std::uint64_t now) {
        CallRecord *rec = place();
        rec->sent.clear();
        if (!rec->text.empty()) {
            rec->text.clear();
        }
        rec->call = call;
        rec->time_ns = now;
        rec->arg_count = static_cast<std::uint8_t>(args.size());
        for (std::size_t i = 0; i < CallRecord::kMaxArgs; ++i) {  // fixed count: no memmove
            rec->args[i] = i < args.size() ? args.begin()[i] : 0;
        }
        rec->has_result = false;
        rec->result = 0;
        rec->flag = Flag::None;
        rec->buffer = nullptr;
        rec->line = -1;
        current_ = rec;
        return *rec;
    }
    // record() for a line call that nobody logs or sees: the record holds only what the
    // time-limit report says of the call.
    VBOARD_ALWAYS_INLINE CallRecord &brief_record(Call call, int pin, int value,
                                                  std::uint64_t now) {
        CallRecord &rec = unlogged_;
        rec.call = call;
        rec.time_ns = now;
        rec.args[0] = pin;  // the third argument is past arg_count: left as it is
        rec.args[1] = value;
        rec.arg_count = 2;
        current_ = &rec;
        return rec;
    }
    const CallRecord *current() const { return current_; }
    CallRecord *current() { return current_; }
    // The call in progress, or the wait that began_wait() set aside.
    const CallRecord *in_progress() const { return current_ != nullptr ? current_ : waiting_; }

    // A wait's record is told to the call observers when the wait starts, so that what happens
    // during it follows it in a log; it stays the call in progress for in_progress() until
    // wait_over().
    void begin_wait() {
        if (current_ != nullptr && observers_.any_call_observer()) {
            observers_.call(*current_);
        }
        waiting_ = current_;
        current_ = nullptr;
        if (!pending_.empty()) {
            flush_pending();
        }
    }
    void wait_over() { waiting_ = nullptr; }
    // Sets the call in progress aside while other calls run inside it (an interrupt's callback
    // during a wait), and brings it back: its record is kept by value, as those calls may reuse
    // its place in the log.
    struct Suspended {
        CallRecord record;
        CallRecord *place = nullptr;
        std::uint64_t pushes = 0;
        std::vector<Pending> pending;
        CallRecord *waiting = nullptr;
    };
    Suspended suspend();
    void resume(Suspended suspended);

    // Ends the call in progress: tells the call observers, then logs what devices wrote meanwhile.
    // `calls_seen`: whether a call observer wants calls (Observers::any_call_observer()).
    VBOARD_ALWAYS_INLINE void done(bool calls_seen) {
        if (calls_seen && current_ != nullptr) {
            observers_.call(*current_);
        }
        current_ = nullptr;
        if (!pending_.empty()) {
            flush_pending();
        }
    }
    // A line in the log that is not a call (Call::DeviceLog, Call::RuleFired). Inside a call it is
    // logged after the call, so the call keeps its record.
    void log_text(Call kind, std::string text);
    // A diagnostic for the observers, at the clock's time: inside a call, told after the call too,
    // so that a call log shows the call first.
    void note(std::string text);
    // Tells the diagnostics held for the call in progress now: the run ends inside it.
    void tell_held_notes();

    std::vector<CallRecord> copy() const { return log_.copy(); }
    std::size_t size() const { return log_.size(); }
    std::uint64_t dropped() const { return dropped_; }
    void clear() {
        log_.clear();
        dropped_ = 0;
    }
    void shrink_to(std::size_t capacity) { log_.shrink_to(capacity, dropped_); }

  private:
    VBOARD_ALWAYS_INLINE CallRecord *place() {
        if (settings_.log_capacity == 0) {
            return &unlogged_;
        }
        ++pushes_;
        return &log_.push(settings_.log_capacity, dropped_);
    }
    void flush_pending();
    void push_text(std::uint64_t time, Call kind, std::string text);

    const BoardSettings &settings_;
    const Clock &clock_;
    Observers &observers_;
    CallRing log_;
    std::uint64_t dropped_ = 0;
    CallRecord unlogged_;            // where calls are recorded while the log is off
    CallRecord *current_ = nullptr;  // the call being made, while a wiringPi function runs
    CallRecord *waiting_ = nullptr;  // the wait in progress, once begin_wait() told it
    std::uint64_t pushes_ = 0;       // records placed in the log so far
    std::vector<Pending> pending_;   // to log after `current_`
};

}  // namespace vboard

#endif  // VBOARD_CALL_RECORDER_HPP
