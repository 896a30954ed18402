// SPDX-License-Identifier: MIT
// Feeding a run observer events by hand, to test an output without a board.
#ifndef DEVCONFIG_TESTS_RUN_EVENTS_HPP
#define DEVCONFIG_TESTS_RUN_EVENTS_HPP

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/frames.hpp"
#include "vboard/run_observer.hpp"
#include "vboard/transactions.hpp"

inline vboard::RunEvent run_event(vboard::RunEventKind kind, std::uint64_t time_ns) {
    vboard::RunEvent event;
    event.kind = kind;
    event.time_ns = time_ns;
    return event;
}

inline void tell_start(vboard::RunObserver &observer, std::uint64_t time_ns,
                       const std::array<bool, vboard::kLineCount> &levels = {},
                       const vboard::FramingOptions &framing = {}) {
    const std::vector<std::pair<int, std::string>> no_names;
    const vboard::RunStart start{levels, {}, framing, no_names};
    vboard::RunEvent event = run_event(vboard::RunEventKind::Start, time_ns);
    event.start = &start;
    observer.event(event);
}

inline void tell_change(vboard::RunObserver &observer, std::uint64_t time_ns, int pin, bool level) {
    vboard::RunEvent event = run_event(vboard::RunEventKind::LineChange, time_ns);
    event.pin = pin;
    event.level = level;
    observer.event(event);
}

// A Call, Note, Transaction or Frame event, by the detail's type.
inline void tell(vboard::RunObserver &observer, std::uint64_t time_ns,
                 const vboard::CallRecord &call) {
    vboard::RunEvent event = run_event(vboard::RunEventKind::Call, time_ns);
    event.call = &call;
    observer.event(event);
}
inline void tell(vboard::RunObserver &observer, std::uint64_t time_ns, const std::string &note) {
    vboard::RunEvent event = run_event(vboard::RunEventKind::Note, time_ns);
    event.note = &note;
    observer.event(event);
}
inline void tell(vboard::RunObserver &observer, std::uint64_t time_ns,
                 const vboard::Transaction &transaction) {
    vboard::RunEvent event = run_event(vboard::RunEventKind::Transaction, time_ns);
    event.transaction = &transaction;
    observer.event(event);
}
inline void tell(vboard::RunObserver &observer, std::uint64_t time_ns, const vboard::Frame &frame) {
    vboard::RunEvent event = run_event(vboard::RunEventKind::Frame, time_ns);
    event.frame = &frame;
    observer.event(event);
}

inline void tell_end(vboard::RunObserver &observer, std::uint64_t time_ns) {
    const vboard::RunEnd end;
    vboard::RunEvent event = run_event(vboard::RunEventKind::End, time_ns);
    event.end = &end;
    observer.event(event);
}

#endif  // DEVCONFIG_TESTS_RUN_EVENTS_HPP
