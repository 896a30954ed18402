// SPDX-License-Identifier: MIT
// How the process's board, default_board(), starts: made in its power-on state, then handed to the
// start-up the library was linked with, if any. The start-up from the environment (session.cpp)
// installs itself while the library loads; the core knows nothing of it.
#ifndef VBOARD_PROCESS_BOARD_HPP
#define VBOARD_PROCESS_BOARD_HPP

#include "vboard/board.hpp"
#include "vboard/export.h"

namespace vboard {

// Called once, with the process's board just made, before any wiringPi call acts on it. It may end
// the process (a setting that cannot be used).
using BoardStart = void (*)(Board &board);

// Installs the start-up; from a static initializer, before the process's board is made.
VBOARD_NO_EXPORT void install_board_start(BoardStart start);

}  // namespace vboard

#endif  // VBOARD_PROCESS_BOARD_HPP
