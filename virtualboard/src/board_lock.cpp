// SPDX-License-Identifier: MIT
// The process-wide half of the board's lock: Linux's membarrier.

#include "board_lock.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#if defined(__linux__) && defined(SYS_membarrier)
#include <linux/membarrier.h>
#endif

namespace vboard {

bool owned_lock_possible() noexcept {
#if defined(__linux__) && defined(SYS_membarrier)
    static const bool possible = [] {
        const long commands = ::syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0);
        return commands > 0 && (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0 &&
               ::syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0) == 0;
    }();
    return possible;
#else
    return false;
#endif
}

bool BoardLock::lock_shared() noexcept {
    if (owner_.load(std::memory_order_acquire) == 0 && claim() && owned_lock()) {
        return true;
    }
    leave_the_owner_out();
    while (locked_.exchange(true, std::memory_order_acquire)) {
        while (locked_.load(std::memory_order_relaxed)) {
            std::this_thread::yield();
        }
    }
    shared_holder_.store(self(), std::memory_order_relaxed);
    return false;
}

void fence_every_thread() noexcept {
#if defined(__linux__) && defined(SYS_membarrier)
    ::syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0);
#endif
}

}  // namespace vboard
