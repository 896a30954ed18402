// SPDX-License-Identifier: MIT
// A board's state reached with its lock held, outside any wiringPi call: for the faces that play
// something on a board from outside, a trace's replay and a capture's. Private to the library.
#ifndef VBOARD_BOARD_LOCKED_HPP
#define VBOARD_BOARD_LOCKED_HPP

#include "board_access.hpp"
#include "board_state.hpp"

namespace vboard {

// Runs `operation` on `board`'s state with its lock held, and returns what it returns.
template <typename Operation>
auto locked(Board &board, Operation operation) {
    Board::State &state = BoardAccess::core(board);
    struct Unlock {
        Board::State &state;
        ~Unlock() { state.mutex.unlock(); }
    };
    state.mutex.lock();
    const Unlock unlock{state};
    return operation(state);
}

}  // namespace vboard

#endif  // VBOARD_BOARD_LOCKED_HPP
