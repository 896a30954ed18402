// SPDX-License-Identifier: MIT
// The run's observers.

#include "observers.hpp"

namespace vboard {
namespace {

RunEvent end_event(std::uint64_t now, const RunEnd &end) {
    RunEvent event = Observers::event_at(RunEventKind::End, now);
    event.end = &end;
    return event;
}

}  // namespace

RunObserver::~RunObserver() = default;

void Observers::add(std::shared_ptr<RunObserver> observer, std::uint64_t now,
                    const RunStart &start) {
    const unsigned interests = observer->interests();
    RunEvent event = Observers::event_at(RunEventKind::Start, now);
    event.start = &start;
    observer->event(event);
    entries_.push_back({std::move(observer), interests});
    rebuild();
}

bool Observers::remove(const std::shared_ptr<RunObserver> &observer, std::uint64_t now,
                       const RunEnd &end) {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const Entry &e) { return e.observer == observer; });
    if (found == entries_.end()) {
        return false;
    }
    const std::shared_ptr<RunObserver> leaving = found->observer;
    entries_.erase(found);
    rebuild();
    leaving->event(end_event(now, end));
    return true;
}

void Observers::finish(std::uint64_t now, const RunEnd &end) {
    const std::vector<Entry> leaving = std::move(entries_);
    entries_.clear();
    rebuild();
    for (const Entry &entry : leaving) {
        entry.observer->event(end_event(now, end));
    }
}

void Observers::rebuild() {
    for (std::vector<RunObserver *> *list :
         {&calls_, &notes_, &transactions_, &frames_, &functions_}) {
        list->clear();
    }
    std::vector<RunObserver *> lines;
    for (const Entry &entry : entries_) {
        RunObserver *observer = entry.observer.get();
        const auto add_if = [&](unsigned interest, std::vector<RunObserver *> &list) {
            if ((entry.interests & interest) != 0) {
                list.push_back(observer);
            }
        };
        add_if(kWatchLines, lines);
        add_if(kWatchCalls, calls_);
        add_if(kWatchNotes, notes_);
        add_if(kWatchTransactions, transactions_);
        add_if(kWatchFrames, frames_);
        add_if(kWatchFunctions, functions_);
    }
    any_call_observer_ = !calls_.empty();
    listeners_.set_observers(std::move(lines));
}

}  // namespace vboard
