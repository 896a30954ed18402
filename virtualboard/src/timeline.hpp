// SPDX-License-Identifier: MIT
// What is due at moments of virtual time: the board's parts put events on it (a rule's drive, a
// device's timer) and the core runs them as its clock passes their moments. Private to the library.
#ifndef VBOARD_TIMELINE_HPP
#define VBOARD_TIMELINE_HPP

#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

#include "engine.hpp"

namespace vboard {

struct TimedEvent {
    std::uint64_t time = 0;
    std::uint64_t sequence = 0;  // keeps events of one moment in the order they were scheduled
    Listener *target = nullptr;
    std::uint64_t what = 0;
    std::uint64_t detail = 0;

    bool operator>(const TimedEvent &other) const {
        return time != other.time ? time > other.time : sequence > other.sequence;
    }
};

class Timeline {
  public:
    bool empty() const { return events_.empty(); }
    // The moment of the earliest event; only when not empty.
    std::uint64_t next_time() const { return events_.top().time; }
    void schedule(std::uint64_t time, Listener *target, std::uint64_t what, std::uint64_t detail) {
        events_.push(TimedEvent{time, next_sequence_++, target, what, detail});
    }
    TimedEvent pop() {
        TimedEvent event = events_.top();
        events_.pop();
        return event;
    }
    void clear() { events_ = {}; }
    // Drops the events of a listener that is going away.
    void forget(const Listener *target) {
        std::vector<TimedEvent> kept;
        while (!events_.empty()) {
            if (events_.top().target != target) {
                kept.push_back(events_.top());
            }
            events_.pop();
        }
        for (const TimedEvent &event : kept) {
            events_.push(event);
        }
    }

  private:
    std::priority_queue<TimedEvent, std::vector<TimedEvent>, std::greater<>> events_;
    std::uint64_t next_sequence_ = 0;
};

}  // namespace vboard

#endif  // VBOARD_TIMELINE_HPP
