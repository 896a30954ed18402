// The board's observers as one listener: the LineObservers a test or a tool added, told of every
// line change, and the CallObservers, told of every call and diagnostic by the core. Private to the
// library.
#ifndef VBOARD_OBSERVERS_HPP
#define VBOARD_OBSERVERS_HPP

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine.hpp"

namespace vboard {

class Observers final : public Listener {
  public:
    explicit Observers(Engine &engine) : engine_(engine) {}

    void add_line_observer(std::shared_ptr<LineObserver> observer) {
        line_observers_.push_back(std::move(observer));
        engine_.subscribe(this, kLineChanges);
    }
    bool remove_line_observer(const std::shared_ptr<LineObserver> &observer) {
        const auto found = std::find(line_observers_.begin(), line_observers_.end(), observer);
        if (found == line_observers_.end()) {
            return false;
        }
        (*found)->finish(engine_.now());
        line_observers_.erase(found);
        engine_.subscribe(this, line_observers_.empty() ? 0U : kLineChanges);
        return true;
    }
    void add_call_observer(std::shared_ptr<CallObserver> observer) {
        call_observers_.push_back(std::move(observer));
    }
    bool remove_call_observer(const std::shared_ptr<CallObserver> &observer) {
        const auto found = std::find(call_observers_.begin(), call_observers_.end(), observer);
        if (found == call_observers_.end()) {
            return false;
        }
        (*found)->finish(engine_.now());
        call_observers_.erase(found);
        return true;
    }
    bool any_call_observer() const { return !call_observers_.empty(); }

    void line_changed(const LineView &, int pin, bool level) override {
        const std::uint64_t now = engine_.now();
        for (const auto &observer : line_observers_) {
            observer->change(now, pin, level);
        }
    }
    void call(const CallRecord &record) const {
        for (const auto &observer : call_observers_) {
            observer->call(record);
        }
    }
    void note(std::uint64_t now, const std::string &text) const {
        for (const auto &observer : call_observers_) {
            observer->note(now, text);
        }
    }
    // Ends every observer and removes it.
    void finish(std::uint64_t now) {
        for (const auto &observer : line_observers_) {
            observer->finish(now);
        }
        line_observers_.clear();
        for (const auto &observer : call_observers_) {
            observer->finish(now);
        }
        call_observers_.clear();
        engine_.subscribe(this, 0);
    }

  private:
    Engine &engine_;
    std::vector<std::shared_ptr<LineObserver>> line_observers_;
    std::vector<std::shared_ptr<CallObserver>> call_observers_;
};

}  // namespace vboard

#endif  // VBOARD_OBSERVERS_HPP
