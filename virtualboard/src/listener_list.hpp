// SPDX-License-Identifier: MIT
// The board's one list of listeners, in a fixed order, and for each kind of event the listeners
// that asked for it, so that telling nobody costs one empty-vector test. The run's observers that
// watch the lines are told of a line change first, before any listener. Private to the library.
#ifndef VBOARD_LISTENER_LIST_HPP
#define VBOARD_LISTENER_LIST_HPP

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "engine.hpp"
#include "vboard/run_observer.hpp"

namespace vboard {

class ListenerList {
  public:
    // Where a listener stands in the order: the board's parts in the order the core adds them,
    // then the devices in the order they first ask for something.
    enum Rank : int { kPartRank = 1, kDeviceRank = 2 };

    void add(Listener *listener, unsigned interests, Rank rank) {
        insert(Entry{listener, interests, LineInterest{}, rank});
    }
    void remove(const Listener *listener) {
        std::erase_if(entries_, [&](const Entry &e) { return e.listener == listener; });
        rebuild();
    }
    // The run's observers that watch the lines, in the order they were added.
    void set_observers(std::vector<RunObserver *> observers) {
        observers_ = std::move(observers);
        quiet_ = observers_.empty();
    }
    // A listener not on the list yet joins as a device.
    void subscribe(Listener *listener, unsigned interests, LineInterest lines = {}) {
        for (Entry &entry : entries_) {
            if (entry.listener == listener) {
                if (entry.interests != interests) {
                    entry.interests = interests;
                    entry.lines = lines;
                    rebuild();
                } else if (entry.lines != lines) {
                    entry.lines = lines;
                    edges_stale_ = true;  // not while a line change is being told: see line_changed
                }
                return;
            }
        }
        insert(Entry{listener, interests, lines, kDeviceRank});
    }

    // Whether a listener of the list's own (not an observer) hears line changes.
    bool hears_lines() const { return !lines_.empty(); }
    // Whether an observer hears line changes.
    bool observed() const { return !quiet_; }

    void line_changed(const LineView &lines, int pin, bool level) {
        if (!quiet_) {
            tell_observers(lines.now(), pin, level);  // first: they rank first
            if (lines_.empty()) {
                return;
            }
        } else if (lines_.empty()) {
            return;
        }
        if (edges_stale_) {
            rebuild_edges();
        }
        const std::vector<Listener *> &told = by_edge_[edge_index(pin, level)];
        for (std::size_t i = 0; i < told.size(); ++i) {
            Listener *listener = told[i];
            listener->line_changed(lines, pin, level);
        }
    }
    // Calls `tell` for each listener wanting `interest` (not kLineChanges: see line_changed).
    //
    // While listeners are told, the lists may only grow at their end: a device may join (devices
    // come last) or want more, and nothing leaves. The loops index the lists afresh at each step,
    // so a listener that joins meanwhile is told too and none is skipped.
    template <typename Tell>
    void each(Interest interest, Tell tell) {
        const std::vector<Listener *> &targets = wanting(interest);
        if (targets.empty()) {
            return;
        }
        for (std::size_t i = 0; i < targets.size(); ++i) {
            Listener *target = targets[i];
            tell(*target);
        }
    }
    bool anyone(Interest interest) const {
        return interest == kLineChanges ? !lines_.empty() || !observers_.empty()
                                        : !wanting(interest).empty();
    }

    // Tells a line change to the observers alone; only when observed().
    void tell_observers(std::uint64_t now, int pin, bool level) const {
        line_event_.time_ns = now;
        line_event_.pin = pin;
        line_event_.level = level;
        // Not empty, and the observers cannot change the list.
        RunObserver *const *observer = observers_.data();
        RunObserver *const *const end = observer + observers_.size();
        do {
            (*observer)->event(line_event_);
        } while (++observer != end);
    }

  private:
    static RunEvent line_change_event() {
        RunEvent event;
        event.kind = RunEventKind::LineChange;
        event.start = nullptr;
        return event;
    }
    struct Entry {
        Listener *listener;
        unsigned interests;
        LineInterest lines;  // kLineChanges: of these lines' edges
        Rank rank;
    };
    void insert(const Entry &entry) {
        const auto at = std::upper_bound(entries_.begin(), entries_.end(), entry.rank,
                                         [](Rank rank, const Entry &e) { return rank < e.rank; });
        entries_.insert(at, entry);
        rebuild();
    }
    const std::vector<Listener *> &wanting(Interest interest) const {
        switch (interest) {
            case kFunctionChanges: return functions_;
            case kLinkBytes: return link_bytes_;
            case kWaveChanges: return waves_;
            case kLineReads: return reads_;
            default: break;
        }
        return spi_;
    }
    void rebuild() {
        lines_.clear();
        functions_.clear();
        link_bytes_.clear();
        spi_.clear();
        waves_.clear();
        reads_.clear();
        for (const Entry &entry : entries_) {
            if ((entry.interests & kLineReads) != 0) {
                reads_.push_back(entry.listener);
            }
            if ((entry.interests & kLineChanges) != 0) {
                lines_.push_back(entry.listener);
            }
            if ((entry.interests & kFunctionChanges) != 0) {
                functions_.push_back(entry.listener);
            }
            if ((entry.interests & kLinkBytes) != 0) {
                link_bytes_.push_back(entry.listener);
            }
            if ((entry.interests & kSpiTransfers) != 0) {
                spi_.push_back(entry.listener);
            }
            if ((entry.interests & kWaveChanges) != 0) {
                waves_.push_back(entry.listener);
            }
        }
        rebuild_edges();
    }
    void rebuild_edges() {
        edges_stale_ = false;
        for (std::vector<Listener *> &told : by_edge_) {
            told.clear();
        }
        for (const Entry &entry : entries_) {
            if ((entry.interests & kLineChanges) == 0) {
                continue;
            }
            for (int pin = 0; pin < kLineCount; ++pin) {
                for (const bool level : {false, true}) {
                    const std::uint64_t mask = level ? entry.lines.rising : entry.lines.falling;
                    if (((mask >> pin) & 1) != 0) {
                        by_edge_[edge_index(pin, level)].push_back(entry.listener);
                    }
                }
            }
        }
    }

    std::vector<Entry> entries_;
    std::vector<RunObserver *> observers_;                         // of line changes
    bool quiet_ = true;                                            // observers_.empty()
    mutable RunEvent line_event_ = line_change_event();            // kept: no frame to build
    std::vector<Listener *> lines_;                                // of line changes
    std::array<std::vector<Listener *>, 2 * kLineCount> by_edge_;  // of each edge, by edge_index()
    bool edges_stale_ = false;  // by_edge_ is to be made afresh from the entries
    std::vector<Listener *> functions_;
    std::vector<Listener *> link_bytes_;
    std::vector<Listener *> spi_;
    std::vector<Listener *> waves_;
    std::vector<Listener *> reads_;
};

}  // namespace vboard

#endif  // VBOARD_LISTENER_LIST_HPP
