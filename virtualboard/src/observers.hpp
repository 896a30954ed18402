// SPDX-License-Identifier: MIT
// The observers a test or a tool added, owned for the run: the LineObservers, which the listener
// list tells of every line change, and the CallObservers, told of every call and diagnostic by the
// core. Private to the library.
#ifndef VBOARD_OBSERVERS_HPP
#define VBOARD_OBSERVERS_HPP

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine.hpp"
#include "listener_list.hpp"
#include "vboard/frames.hpp"

namespace vboard {

class Observers {
  public:
    Observers(Engine &engine, ListenerList &listeners) : engine_(engine), listeners_(listeners) {}

    void add_line_observer(std::shared_ptr<LineObserver> observer) {
        listeners_.add_observer(observer.get());
        line_observers_.push_back(std::move(observer));
    }
    bool remove_line_observer(const std::shared_ptr<LineObserver> &observer) {
        const auto found = std::find(line_observers_.begin(), line_observers_.end(), observer);
        if (found == line_observers_.end()) {
            return false;
        }
        listeners_.remove_observer(found->get());
        (*found)->finish(engine_.now());
        line_observers_.erase(found);
        return true;
    }
    void add_call_observer(std::shared_ptr<CallObserver> observer) {
        const bool wants_calls = observer->wants_calls();
        call_observers_.push_back({std::move(observer), wants_calls});
        calls_wanted_ += wants_calls ? 1 : 0;
    }
    bool remove_call_observer(const std::shared_ptr<CallObserver> &observer) {
        const auto found = std::find_if(call_observers_.begin(), call_observers_.end(),
                                        [&](const Watcher &w) { return w.observer == observer; });
        if (found == call_observers_.end()) {
            return false;
        }
        found->observer->finish(engine_.now());
        calls_wanted_ -= found->wants_calls ? 1 : 0;
        call_observers_.erase(found);
        return true;
    }
    bool any_call_observer() const { return calls_wanted_ > 0; }
    void add_frame_observer(std::shared_ptr<FrameObserver> observer) {
        frame_observers_.push_back(std::move(observer));
    }
    bool remove_frame_observer(const std::shared_ptr<FrameObserver> &observer) {
        const auto found = std::find(frame_observers_.begin(), frame_observers_.end(), observer);
        if (found == frame_observers_.end()) {
            return false;
        }
        (*found)->frames_finished(engine_.now());
        frame_observers_.erase(found);
        return true;
    }
    void frame(const Frame &frame) const {
        for (const auto &observer : frame_observers_) {
            observer->frame(frame);
        }
    }

    void call(const CallRecord &record) const {
        for (const Watcher &watcher : call_observers_) {
            if (watcher.wants_calls) {
                watcher.observer->call(record);
            }
        }
    }
    void note(std::uint64_t now, const std::string &text) const {
        for (const Watcher &watcher : call_observers_) {
            watcher.observer->note(now, text);
        }
    }
    // Ends every observer and removes it.
    void finish(std::uint64_t now) {
        for (const auto &observer : line_observers_) {
            listeners_.remove_observer(observer.get());
            observer->finish(now);
        }
        line_observers_.clear();
        for (const Watcher &watcher : call_observers_) {
            watcher.observer->finish(now);
        }
        call_observers_.clear();
        calls_wanted_ = 0;
        for (const auto &observer : frame_observers_) {
            observer->frames_finished(now);
        }
        frame_observers_.clear();
    }

  private:
    Engine &engine_;
    ListenerList &listeners_;
    std::vector<std::shared_ptr<LineObserver>> line_observers_;
    struct Watcher {
        std::shared_ptr<CallObserver> observer;
        bool wants_calls;
    };
    std::vector<Watcher> call_observers_;
    std::size_t calls_wanted_ = 0;
    std::vector<std::shared_ptr<FrameObserver>> frame_observers_;
};

}  // namespace vboard

#endif  // VBOARD_OBSERVERS_HPP
