// SPDX-License-Identifier: MIT
// Interrupts as wiringPiISR gives them: each registered line has an edge kind and a thread of its
// own that runs the program's callback when the board hands it an edge. The part hears the lines'
// edges, keeps those that match waiting for delivery in the order they came, and ends a
// waitForInterrupt on its line. The core delivers them (Board::State::deliver_interrupts) at
// moments when the board is whole: when a call ends, and at each moment of a wait. Private to the
// library.
#ifndef VBOARD_INTERRUPTS_HPP
#define VBOARD_INTERRUPTS_HPP

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "engine.hpp"

namespace vboard {

// wiringPi's edge kinds, as wiringPiISR takes them.
enum class EdgeKind : int { Falling = 1, Rising = 2, Both = 3 };

// A registration's thread. The callback runs on it, one edge at a time; run() hands it one edge
// and returns once the callback has. Shared by the registration and the thread, so that a
// registration stopped from inside its own callback ends its thread when the callback returns.
class InterruptThread {
  public:
    using Callback = void (*)();
    // Starts the thread; throws std::system_error when it cannot.
    static std::shared_ptr<InterruptThread> start(Callback callback);

    void run();   // call without the board's lock: the callback makes board calls
    void stop();  // the thread ends after the callback it runs, if any
    bool has_callback() const { return callback_ != nullptr; }

    bool busy = false;  // an edge is being delivered: under the board's lock

  private:
    explicit InterruptThread(Callback callback) : callback_(callback) {}
    void serve();

    const Callback callback_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool go_ = false;
    bool stopping_ = false;
};

class Interrupts final : public Listener {
  public:
    // `due` is true while an edge waits for delivery; read without the board's lock.
    Interrupts(Engine &engine, std::atomic<bool> &due) : engine_(engine), due_(due) {}
    ~Interrupts() override;
    Interrupts(const Interrupts &) = delete;
    Interrupts &operator=(const Interrupts &) = delete;

    // Registers `line` for `kind` with `callback` (may be null: for waitForInterrupt alone),
    // replacing an earlier registration. Returns whether there was one.
    bool add(int line, EdgeKind kind, std::shared_ptr<InterruptThread> thread);
    // Ends `line`'s registration; false when it had none.
    bool remove(int line);
    bool registered(int line) const { return slots_[line].thread != nullptr; }
    bool any() const { return count_ > 0; }

    // The thread of the oldest edge waiting for delivery whose thread is idle, taken off the
    // queue and marked busy; null for none.
    std::shared_ptr<InterruptThread> next_delivery();

    // waitForInterrupt: from begin_wait(line) until end_wait(), the first matching edge on `line`
    // sets wait_result(): 1 rising, 2 falling. wait_ended() blocks without the board's lock until
    // a result comes (for a wait with nothing else to wait for).
    void begin_wait(int line);
    int wait_result() const { return wait_result_.load(std::memory_order_acquire); }
    void end_wait() { wait_line_ = -1; }
    void block_until_wait_result();

    void line_changed(const LineView &lines, int pin, bool level) override;

  private:
    struct Slot {
        EdgeKind kind = EdgeKind::Both;
        std::shared_ptr<InterruptThread> thread;
    };
    static bool matches(EdgeKind kind, bool level) {
        return kind == EdgeKind::Both || (kind == EdgeKind::Rising) == level;
    }
    void resubscribe();

    Engine &engine_;
    std::atomic<bool> &due_;
    std::array<Slot, kLineCount> slots_{};
    int count_ = 0;
    std::deque<std::shared_ptr<InterruptThread>> queue_;  // an entry per edge, oldest first
    int wait_line_ = -1;
    std::atomic<int> wait_result_{0};
    std::mutex wait_mutex_;
    std::condition_variable wait_changed_;
};

}  // namespace vboard

#endif  // VBOARD_INTERRUPTS_HPP
