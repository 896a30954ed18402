// SPDX-License-Identifier: MIT
// Replaying a trace (vboard/call_trace.hpp) on a board: the program's calls made again at their
// recorded times, so that everything that watches the board (its outputs, rules, devices, timing
// checks) sees the run the trace recorded, whether it was a run on this board or a recording
// made on a Pi.
//
//   const vboard::CallTrace trace = vboard::read_call_trace("panel.trace");
//   const vboard::ReplayResult result = vboard::replay_trace(board, trace);
//   if (result.mismatches > 0) { /* a model answered otherwise than the real device */ }
//
// How each call is made again:
//  - before it, the board's clock moves on to the call's recorded time as a wait would (a call
//    whose time has passed already, the board's costs being longer than the Pi's, is made at once);
//  - a digitalRead reads what the recording read: where the board's level differs, the line is
//    driven to the recorded level from that moment until the next read of it, as the real
//    peripheral drove it;
//  - an SPI transfer sends the recorded bytes; with no device on the channel, the controller
//    receives the recorded bytes on MISO (a recording of an idle MISO, all 0x00, leaves MISO
//    unconnected, as on the board);
//  - where the board's own models answer a read otherwise than the recording, that is a
//    mismatch: a diagnostic naming the call, its time and both answers, counted in the result;
//    the recording wins. A line read is checked on a line a rule drives or something on the board
//    (a device, a rule, the board file's [lines]) drives now or has driven at an earlier read; a
//    transfer's bytes on a channel with a device;
//  - a call recorded before the end of a wait the board is making (an interrupt callback's, or
//    one after a wait where the board's costs ran ahead of the Pi's) is made inside the wait, at
//    its time;
//  - wiringPiISR registers a callback that does nothing (the callback's own calls are in the
//    trace); waitForInterrupt is not made again (the clock moves on to the next call);
//    digitalReadByte and the time reads (millis, micros) return the board's own answers;
//  - devices' log lines, rules fired and notes in the trace are the recording's: the board's own
//    devices and rules make theirs again.
//
// Thread safety: runs on the calling thread, with `board` the current board (ScopedBoard) for the
// replay; no other thread may call wiringPi meanwhile.
#ifndef VBOARD_REPLAY_HPP
#define VBOARD_REPLAY_HPP

#include <cstdint>

#include "vboard/board.hpp"
#include "vboard/call_trace.hpp"
#include "vboard/export.h"

namespace vboard {

struct ReplayResult {
    std::uint64_t calls = 0;       // calls made again
    std::uint64_t skipped = 0;     // calls not made again (waitForInterrupt)
    std::uint64_t mismatches = 0;  // reads the board's models answered otherwise
};

// The mismatches told one by one as diagnostics; the rest are counted in one more.
inline constexpr std::uint64_t kMismatchesTold = 20;

VBOARD_EXPORT ReplayResult replay_trace(Board &board, const CallTrace &trace);

}  // namespace vboard

#endif  // VBOARD_REPLAY_HPP
