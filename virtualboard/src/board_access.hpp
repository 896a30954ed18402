// SPDX-License-Identifier: MIT
// What the library's own faces reach of a board beyond its control interface, each by name: the
// wiringPi face's dispatch, the device handles and the process's start-up. Nothing else reaches a
// board's state. Private to the library.
#ifndef VBOARD_BOARD_ACCESS_HPP
#define VBOARD_BOARD_ACCESS_HPP

#include <array>
#include <cstdint>

#include "board_lock.hpp"
#include "vboard/board.hpp"

namespace vboard {

class DeviceSlot;

// Each line's function-select code (as getAlt gives it) and level, and the clock.
struct LinesAtEnd {
    std::array<int, kLineCount> codes{};
    std::array<bool, kLineCount> levels{};
    std::uint64_t now_ns = 0;
};

class BoardAccess {
  public:
    // The state the wiringPi functions act on (ScopedBoard, current_state()).
    static Board::State &core(Board &board) { return *board.state_; }
    static BoardLock &lock(const Board &board);

    // Everything below expects the board's lock to be held.
    // The attached device with this id, or null.
    static DeviceSlot *device(const Board &board, std::uint64_t id);
    // Whether the link holds a byte of `slot`'s that it has taken from the device but not yet
    // put on the line.
    static bool link_holds_byte_of(const Board &board, const DeviceSlot *slot);
    static LinesAtEnd lines(const Board &board);
    // Ends the wiringPi call in progress, as its return would (the time limit inside a call).
    static void end_call(Board &board);
    // Ends the observers so that their files are complete; with `devices` false the device
    // models are left alone (one of them crashed).
    static void finish_outputs(Board &board, bool devices);
};

}  // namespace vboard

#endif  // VBOARD_BOARD_ACCESS_HPP
