// SPDX-License-Identifier: MIT
// How a function of the board's C face runs a call on the current board: under the board's lock,
// the call ended however the operation leaves, then the interrupts its edges raised delivered
// before the function returns. Private to the library.
#ifndef VBOARD_BOARD_CALL_HPP
#define VBOARD_BOARD_CALL_HPP

#include "board_state.hpp"

namespace vboard {

// Ends the call in progress however the operation leaves.
struct CallDone {
    Board::State &state;
    ~CallDone() { state.call_done(); }
};

// Once the lock is let go: runs the callbacks of the interrupts the call raised.
struct InterruptsAfterCall {
    Board::State &state;
    ~InterruptsAfterCall() {
        if (state.interrupts_due.load(std::memory_order_relaxed)) [[unlikely]] {
            state.deliver_interrupts_unlocked();
        }
    }
};

// Runs `operation` on the current board's state with the board's lock held.
template <typename Operation>
auto on_board(Operation operation) {
    Board::State &state = current_state();
    const InterruptsAfterCall after{state};
    const BoardLock::Guard lock(state.mutex);
    CallDone done{state};
    return operation(state);
}

// on_board() for the waits and interrupt calls, which may let the lock go and take it again
// inside (Board::State::deliver_interrupts): taken and let go the general way.
template <typename Operation>
auto waiting_on_board(Operation operation) {
    struct Unlock {
        Board::State &state;
        ~Unlock() { state.mutex.unlock(); }
    };
    Board::State &state = current_state();
    const InterruptsAfterCall after{state};
    state.mutex.lock();
    const Unlock unlock{state};
    CallDone done{state};
    return operation(state);
}

}  // namespace vboard

#endif  // VBOARD_BOARD_CALL_HPP
