// SPDX-License-Identifier: MIT
// Interrupts: the registrations, their threads and the edges waiting for delivery.

#include "interrupts.hpp"

#include <thread>

namespace vboard {

std::shared_ptr<InterruptThread> InterruptThread::start(Callback callback) {
    std::shared_ptr<InterruptThread> self(new InterruptThread(callback));
    if (callback != nullptr) {
        std::thread([self] { self->serve(); }).detach();
    }
    return self;
}

void InterruptThread::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return go_ || stopping_; });
        if (!go_) {
            return;
        }
        lock.unlock();
        callback_();
        lock.lock();
        go_ = false;
        changed_.notify_all();
    }
}

void InterruptThread::run() {
    if (callback_ == nullptr) {
        return;
    }
    std::unique_lock lock(mutex_);
    if (stopping_) {
        return;
    }
    go_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !go_; });
}

void InterruptThread::stop() {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

Interrupts::~Interrupts() {
    for (Slot &slot : slots_) {
        if (slot.thread) {
            slot.thread->stop();
        }
    }
    due_.store(false, std::memory_order_relaxed);
}

bool Interrupts::add(int line, EdgeKind kind, std::shared_ptr<InterruptThread> thread) {
    const bool replaced = remove(line);
    slots_[line] = Slot{kind, std::move(thread)};
    ++count_;
    resubscribe();
    return replaced;
}

bool Interrupts::remove(int line) {
    Slot &slot = slots_[line];
    if (!slot.thread) {
        return false;
    }
    slot.thread->stop();
    std::erase(queue_, slot.thread);
    due_.store(!queue_.empty(), std::memory_order_relaxed);
    slot.thread.reset();
    --count_;
    resubscribe();
    return true;
}

void Interrupts::resubscribe() {
    LineInterest lines{0, 0};
    for (int pin = 0; pin < kLineCount; ++pin) {
        if (!slots_[pin].thread) {
            continue;
        }
        const std::uint64_t bit = std::uint64_t{1} << pin;
        const EdgeKind kind = slots_[pin].kind;
        lines.rising |= kind != EdgeKind::Falling ? bit : 0;
        lines.falling |= kind != EdgeKind::Rising ? bit : 0;
    }
    engine_.subscribe(this, count_ > 0 ? kLineChanges : 0U, lines);
}

std::shared_ptr<InterruptThread> Interrupts::next_delivery() {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (!(*it)->busy) {
            std::shared_ptr<InterruptThread> thread = std::move(*it);
            queue_.erase(it);
            due_.store(!queue_.empty(), std::memory_order_relaxed);
            thread->busy = true;
            return thread;
        }
    }
    return nullptr;
}

void Interrupts::begin_wait(int line) {
    wait_result_.store(0, std::memory_order_relaxed);
    wait_line_ = line;
}

void Interrupts::block_until_wait_result() {
    std::unique_lock lock(wait_mutex_);
    wait_changed_.wait(lock, [this] { return wait_result() != 0; });
}

void Interrupts::line_changed(const LineView &, int pin, bool level) {
    const Slot &slot = slots_[pin];
    if (!slot.thread || !matches(slot.kind, level)) {
        return;
    }
    if (pin == wait_line_ && wait_result() == 0) {
        {
            const std::lock_guard lock(wait_mutex_);
            wait_result_.store(level ? 1 : 2, std::memory_order_release);
        }
        wait_changed_.notify_all();
    }
    if (slot.thread->has_callback()) {
        queue_.push_back(slot.thread);
        due_.store(true, std::memory_order_relaxed);
    }
}

}  // namespace vboard
