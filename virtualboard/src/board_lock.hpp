// SPDX-License-Identifier: MIT
// The board's lock. Every wiringPi call takes it, so it is made cheap for the common case of a
// board used by one thread: the first thread to lock the board owns it and takes the lock with
// plain stores, no atomic read-modify-write. When another thread wants the board, it revokes the
// ownership once, for good, with an asymmetric fence (Linux's membarrier, which makes every thread
// of the process execute a full barrier) and waits for the owner to leave; from then on every
// thread takes the lock with one atomic exchange, yielding while it is taken. Where membarrier is
// missing (an old kernel, an emulator) or under ThreadSanitizer, which cannot see that fence, the
// lock is the exchange from the start. Held only for the length of one call. Private to the
// library.
#ifndef VBOARD_BOARD_LOCK_HPP
#define VBOARD_BOARD_LOCK_HPP

#include <atomic>
#include <cstdint>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define VBOARD_OWNED_LOCK 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VBOARD_OWNED_LOCK 0
#endif
#endif
#ifndef VBOARD_OWNED_LOCK
#define VBOARD_OWNED_LOCK 1
#endif

namespace vboard {

inline constexpr bool kOwnedLock = VBOARD_OWNED_LOCK != 0;

// Whether this process may use the owned fast path: membarrier is there and registered (once).
bool owned_lock_possible() noexcept;
// Makes every running thread of the process execute a full memory barrier.
void fence_every_thread() noexcept;

class BoardLock {
  public:
    void lock() noexcept {
        if (!owned_lock()) {
            lock_shared();
        }
    }

    // The owner's lock alone, for a caller with a quick way of its own: false, having taken
    // nothing, when this thread cannot take the lock that way. unlock_owner() lets it go.
    bool lock_if_owner() noexcept { return owned_lock(); }
    void unlock_owner() noexcept { held_owned_.store(false, std::memory_order_release); }

    // The lock held for a scope and let go the way it was taken, which unlock() has to find out.
    class Guard {
      public:
        explicit Guard(BoardLock &lock) noexcept
            : lock_(lock), owned_(lock.owned_lock() || lock.lock_shared()) {}
        ~Guard() {
            if (owned_) {
                lock_.unlock_owner();
            } else {
                lock_.release_shared();
            }
        }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;

      private:
        BoardLock &lock_;
        const bool owned_;
    };

    // Whether the calling thread holds the lock: a clock read made inside a board call (by a device
    // model, or by a memory allocator the call reached) must not wait for it.
    bool held_by_this_thread() const noexcept {
        const std::uintptr_t me = self();
        return (owner_.load(std::memory_order_relaxed) == me &&
                held_owned_.load(std::memory_order_relaxed)) ||
               (locked_.load(std::memory_order_relaxed) &&
                shared_holder_.load(std::memory_order_relaxed) == me);
    }

    // Never blocks, so that a signal handler may use it: false while the lock is held, or while
    // the owner would have to be waited for.
    bool try_lock() noexcept {
        const std::uintptr_t owner = owner_.load(std::memory_order_acquire);
        if (owner != 0 && owner == self() && owned_.load(std::memory_order_relaxed)) {
            return !held_owned_.load(std::memory_order_relaxed) && owned_lock();
        }
        if (owner != 0 && !revoked_.load(std::memory_order_acquire)) {
            return false;
        }
        if (locked_.load(std::memory_order_relaxed) ||
            locked_.exchange(true, std::memory_order_acquire)) {
            return false;
        }
        shared_holder_.store(self(), std::memory_order_relaxed);
        return true;
    }

    void unlock() noexcept {
        if (held_owned_.load(std::memory_order_relaxed) &&
            owner_.load(std::memory_order_relaxed) == self()) {
            held_owned_.store(false, std::memory_order_release);
            return;
        }
        release_shared();
    }

  private:
    void release_shared() noexcept {
        shared_holder_.store(0, std::memory_order_relaxed);
        locked_.store(false, std::memory_order_release);
    }

    // The lock when the fast path is not this thread's: claims the board for this thread if
    // nobody has, else takes the exchange lock, the ownership revoked first. Returns whether it
    // took the owner's lock.
    bool lock_shared() noexcept;

    static std::uintptr_t self() noexcept {
#if defined(__GNUC__) && !defined(__clang__) && \
    (defined(__x86_64__) || defined(__aarch64__) || defined(__arm__))
        return reinterpret_cast<std::uintptr_t>(__builtin_thread_pointer());
#else
        static thread_local const char tag = 0;
        return reinterpret_cast<std::uintptr_t>(&tag);
#endif
    }

    // The owner's lock: plain stores, and the compiler kept from moving the check above them; a
    // revoker's fence orders them for the processor.
    bool owned_lock() noexcept {
        if (!owned_.load(std::memory_order_relaxed) ||
            owner_.load(std::memory_order_relaxed) != self()) {
            return false;
        }
        held_owned_.store(true, std::memory_order_relaxed);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        if (owned_.load(std::memory_order_acquire)) {
            return true;
        }
        held_owned_.store(false, std::memory_order_release);
        return false;
    }

    bool claim() noexcept {
        if (!kOwnedLock || !owned_lock_possible() || revoked_.load(std::memory_order_acquire)) {
            return false;
        }
        std::uintptr_t none = 0;
        if (!owner_.compare_exchange_strong(none, self(), std::memory_order_acq_rel)) {
            return false;
        }
        // Another thread may hold the exchange lock (it took it before anyone owned the board):
        // wait for it, then the board is ours.
        while (locked_.exchange(true, std::memory_order_acquire)) {
            std::this_thread::yield();
        }
        owned_.store(true, std::memory_order_release);
        locked_.store(false, std::memory_order_release);
        return true;
    }

    // Before a thread takes the exchange lock: ends the ownership if it is still on, and waits
    // until the owner has left its last owned lock.
    void leave_the_owner_out() noexcept {
        if (owner_.load(std::memory_order_acquire) == 0) {
            return;
        }
        while (!revoked_.load(std::memory_order_acquire)) {
            bool on = true;
            if (owned_.compare_exchange_strong(on, false, std::memory_order_acq_rel)) {
                fence_every_thread();
                while (held_owned_.load(std::memory_order_acquire)) {
                    std::this_thread::yield();
                }
                revoked_.store(true, std::memory_order_release);
                return;
            }
            std::this_thread::yield();  // the owner is still claiming, or another thread revokes
        }
    }

    std::atomic<bool> locked_{false};       // the exchange lock
    std::atomic<std::uintptr_t> owner_{0};  // the owning thread, 0 before anyone claimed the board
    std::atomic<bool> owned_{false};        // the owner's fast path is on
    std::atomic<bool> held_owned_{false};   // the owner holds the lock through it
    std::atomic<bool> revoked_{false};      // the ownership has ended, for good
    std::atomic<std::uintptr_t> shared_holder_{0};  // the thread holding the exchange lock
};

}  // namespace vboard

#endif  // VBOARD_BOARD_LOCK_HPP
