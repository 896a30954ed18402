// SPDX-License-Identifier: MIT
// The call recorder.

#include "call_recorder.hpp"

namespace vboard {

void CallRecorder::log_text(Call kind, std::string text) {
    if (current_ != nullptr) {
        pending_.push_back({clock_.now(), kind, std::move(text), false});
    } else {
        push_text(clock_.now(), kind, std::move(text));
    }
}

void CallRecorder::note(std::string text) {
    if (current_ != nullptr) {
        pending_.push_back({clock_.now(), Call::DeviceLog, std::move(text), true});
    } else {
        observers_.note(clock_.now(), text);
    }
}

void CallRecorder::tell_held_notes() {
    for (Pending &line : pending_) {
        if (line.note) {
            observers_.note(line.time, line.text);
        }
    }
    std::erase_if(pending_, [](const Pending &line) { return line.note; });
}

void CallRecorder::flush_pending() {
    std::vector<Pending> pending = std::move(pending_);
    pending_.clear();
    for (Pending &line : pending) {
        if (line.note) {
            observers_.note(line.time, line.text);
        } else {
            push_text(line.time, line.kind, std::move(line.text));
        }
    }
}

void CallRecorder::push_text(std::uint64_t time, Call kind, std::string text) {
    CallRecord *rec =
        settings_.log_capacity > 0 ? &log_.push(settings_.log_capacity, dropped_) : &unlogged_;
    *rec = CallRecord{};
    rec->call = kind;
    rec->time_ns = time;
    rec->text = std::move(text);
    observers_.call(*rec);
}

}  // namespace vboard
