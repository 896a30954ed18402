// SPDX-License-Identifier: MIT
// A capture's changes played on a board at their times.

#include <string>

#include "board_locked.hpp"
#include "vboard/capture.hpp"
#include "vboard/duration.hpp"

namespace vboard {

CaptureResult replay_capture(Board &board, const Capture &capture) {
    locked(board, [&](Board::State &s) {
        for (int pin = 0; pin < kLineCount; ++pin) {
            if (capture.initial[pin]) {
                s.set_captured(pin, *capture.initial[pin]);
            }
        }
        s.watch_capture();
        if (capture.glitches > 0) {
            s.note("capture: " + std::to_string(capture.glitches) +
                   " pulses shorter than the glitch filter's length dropped");
        }
        for (const std::string &note : capture.notes) {
            s.note(note);
        }
    });
    CaptureResult result;
    for (const CaptureChange &change : capture.changes) {
        locked(board, [&](Board::State &s) {
            s.advance_to(change.time_ns);
            s.set_captured(change.pin, change.level);
        });
        ++result.changes;
    }
    return result;
}

}  // namespace vboard
