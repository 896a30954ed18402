// The board's one list of listeners, in the order they joined, and for each kind of event the
// listeners that asked for it, so that telling nobody costs one empty-vector test. Private to the
// library.
#ifndef VBOARD_LISTENER_LIST_HPP
#define VBOARD_LISTENER_LIST_HPP

#include <algorithm>
#include <vector>

#include "engine.hpp"

namespace vboard {

class ListenerList {
  public:
    // Joins at the end of the list, wanting `interests`.
    void add(Listener *listener, unsigned interests) {
        entries_.push_back(Entry{listener, interests});
        rebuild();
    }
    void remove(const Listener *listener) {
        std::erase_if(entries_, [&](const Entry &e) { return e.listener == listener; });
        rebuild();
    }
    // Joins at the end of the list if not on it yet.
    void subscribe(Listener *listener, unsigned interests) {
        for (Entry &entry : entries_) {
            if (entry.listener == listener) {
                if (entry.interests != interests) {
                    entry.interests = interests;
                    rebuild();
                }
                return;
            }
        }
        add(listener, interests);
    }

    // Calls `tell` for each listener wanting `interest`. A listener may change what it wants
    // while it is told; the change applies once every dispatch in progress has returned.
    template <typename Tell>
    void each(Interest interest, Tell tell) {
        const std::vector<Listener *> &targets = wanting(interest);
        if (targets.empty()) {
            return;
        }
        ++depth_;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            tell(*targets[i]);
        }
        if (--depth_ == 0 && stale_) {
            rebuild();
        }
    }
    bool anyone(Interest interest) const { return !wanting(interest).empty(); }

  private:
    struct Entry {
        Listener *listener;
        unsigned interests;
    };

    const std::vector<Listener *> &wanting(Interest interest) const {
        switch (interest) {
            case kLineChanges: return lines_;
            case kFunctionChanges: return functions_;
            case kLinkBytes: return link_bytes_;
            case kSpiTransfers: break;
        }
        return spi_;
    }
    void rebuild() {
        if (depth_ > 0) {
            stale_ = true;
            return;
        }
        stale_ = false;
        for (auto [interest, list] :
             {std::pair{kLineChanges, &lines_}, std::pair{kFunctionChanges, &functions_},
              std::pair{kLinkBytes, &link_bytes_}, std::pair{kSpiTransfers, &spi_}}) {
            list->clear();
            for (const Entry &entry : entries_) {
                if ((entry.interests & interest) != 0) {
                    list->push_back(entry.listener);
                }
            }
        }
    }

    std::vector<Entry> entries_;
    std::vector<Listener *> lines_;
    std::vector<Listener *> functions_;
    std::vector<Listener *> link_bytes_;
    std::vector<Listener *> spi_;
    int depth_ = 0;
    bool stale_ = false;
};

}  // namespace vboard

#endif  // VBOARD_LISTENER_LIST_HPP
