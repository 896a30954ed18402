// SPDX-License-Identifier: MIT
// The run's observers that a test or a tool added, owned for the run, and for each kind of event
// the ones that want it, so that an event nobody asked for costs one empty-vector test. Line
// changes reach them through the listener list, first of all. Private to the library.
#ifndef VBOARD_OBSERVERS_HPP
#define VBOARD_OBSERVERS_HPP

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "listener_list.hpp"
#include "vboard/run_observer.hpp"

namespace vboard {

class Observers {
  public:
    explicit Observers(ListenerList &listeners) : listeners_(listeners) {}

    // Adds `observer` and tells it Start.
    void add(std::shared_ptr<RunObserver> observer, std::uint64_t now, const RunStart &start);
    // Tells `observer` End and takes it off; false when it was not added.
    bool remove(const std::shared_ptr<RunObserver> &observer, std::uint64_t now, const RunEnd &end);
    // Tells every observer End and takes them all off.
    void finish(std::uint64_t now, const RunEnd &end);

    bool any_call_observer() const { return any_call_observer_; }
    bool wants_transactions() const { return !transactions_.empty(); }

    void call(const CallRecord &record) const {
        tell(calls_, event_at(RunEventKind::Call, record.time_ns), &record);
    }
    void note(std::uint64_t now, const std::string &text) const {
        tell(notes_, event_at(RunEventKind::Note, now), &text);
    }
    void transaction(std::uint64_t now, const Transaction &transaction) const {
        tell(transactions_, event_at(RunEventKind::Transaction, now), &transaction);
    }
    void violation(const TimingViolation &violation) const {
        tell(transactions_, event_at(RunEventKind::Violation, violation.time_ns), &violation);
    }
    void frame(const Frame &frame) const {
        tell(frames_, event_at(RunEventKind::Frame, frame.time_ns), &frame);
    }
    bool watch_functions() const { return !functions_.empty(); }
    void function_changed(std::uint64_t now, int pin, Function function) const {
        RunEvent event = event_at(RunEventKind::FunctionChange, now);
        event.pin = pin;
        event.function = function;
        event.start = nullptr;
        for (RunObserver *target : functions_) {
            target->event(event);
        }
    }
    void wave(std::uint64_t now, const LineWave &wave) const {
        tell(functions_, event_at(RunEventKind::Wave, now), &wave);
    }

    // An event of `kind` at `time_ns`, its detail to be set.
    static RunEvent event_at(RunEventKind kind, std::uint64_t time_ns) {
        RunEvent event;
        event.kind = kind;
        event.time_ns = time_ns;
        return event;
    }

  private:
    struct Entry {
        std::shared_ptr<RunObserver> observer;
        unsigned interests;
    };
    static void set_detail(RunEvent &event, const CallRecord *call) { event.call = call; }
    static void set_detail(RunEvent &event, const std::string *note) { event.note = note; }
    static void set_detail(RunEvent &event, const Transaction *t) { event.transaction = t; }
    static void set_detail(RunEvent &event, const TimingViolation *v) { event.violation = v; }
    static void set_detail(RunEvent &event, const Frame *frame) { event.frame = frame; }
    static void set_detail(RunEvent &event, const LineWave *wave) { event.wave = wave; }
    template <typename Detail>
    static void tell(const std::vector<RunObserver *> &targets, RunEvent event,
                     const Detail *detail) {
        if (targets.empty()) {
            return;
        }
        set_detail(event, detail);
        for (RunObserver *target : targets) {
            target->event(event);
        }
    }
    void rebuild();

    ListenerList &listeners_;
    std::vector<Entry> entries_;  // in the order added
    std::vector<RunObserver *> calls_;
    bool any_call_observer_ = false;  // !calls_.empty(), read by every wiringPi call
    std::vector<RunObserver *> notes_;
    std::vector<RunObserver *> transactions_;
    std::vector<RunObserver *> frames_;
    std::vector<RunObserver *> functions_;  // FunctionChange and Wave
};

}  // namespace vboard

#endif  // VBOARD_OBSERVERS_HPP
