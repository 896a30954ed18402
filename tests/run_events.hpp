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
    const vboard::RunStart start{levels, {}, framing, no_names, vboard::PiModel::Pi4B};
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
inline void set_detail(vboard::RunEvent &e, const vboard::CallRecord &d) {
    e.kind = vboard::RunEventKind::Call;
    e.call = &d;
}
inline void set_detail(vboard::RunEvent &e, const std::string &d) {
    e.kind = vboard::RunEventKind::Note;
    e.note = &d;
}
inline void set_detail(vboard::RunEvent &e, const vboard::Transaction &d) {
    e.kind = vboard::RunEventKind::Transaction;
    e.transaction = &d;
}
inline void set_detail(vboard::RunEvent &e, const vboard::Frame &d) {
    e.kind = vboard::RunEventKind::Frame;
    e.frame = &d;
}
template <typename Detail>
void tell(vboard::RunObserver &observer, std::uint64_t time_ns, const Detail &detail) {
    vboard::RunEvent event = run_event(vboard::RunEventKind::Start, time_ns);
    set_detail(event, detail);
    observer.event(event);
}

inline void tell_end(vboard::RunObserver &observer, std::uint64_t time_ns) {
    const vboard::RunEnd end;
    vboard::RunEvent event = run_event(vboard::RunEventKind::End, time_ns);
    event.end = &end;
    observer.event(event);
}

#endif  // DEVCONFIG_TESTS_RUN_EVENTS_HPP
