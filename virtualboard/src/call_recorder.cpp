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

CallRecorder::Suspended CallRecorder::suspend() {
    Suspended suspended;
    if (current_ != nullptr) {
        suspended.record = *current_;
        suspended.place = current_;
    }
    suspended.pushes = pushes_;
    suspended.pending = std::move(pending_);
    suspended.waiting = waiting_;
    pending_.clear();
    current_ = nullptr;
    return suspended;
}

void CallRecorder::resume(Suspended suspended) {
    if (suspended.place == nullptr) {
        current_ = nullptr;
    } else if (suspended.place == &unlogged_ ||
               pushes_ - suspended.pushes < settings_.log_capacity) {
        *suspended.place = std::move(suspended.record);  // still the call's own place
        current_ = suspended.place;
    } else {
        unlogged_ = std::move(suspended.record);  // the log has moved past it
        current_ = &unlogged_;
    }
    pending_ = std::move(suspended.pending);
    waiting_ = suspended.waiting;
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
    CallRecord *rec = place();
    *rec = CallRecord{};
    rec->call = kind;
    rec->time_ns = time;
    rec->text = std::move(text);
    observers_.call(*rec);
}

}  // namespace vboard
