// SPDX-License-Identifier: MIT
// A logic analyser's capture of the Pi's header, played on a board: what the real wires did,
// brought back to the PC, so that the board's bus monitor frames and decodes it, its display
// models draw it and its checks judge it, as for a run.
//
//   const vboard::ChannelMap map = vboard::parse_channel_map("D0=11,D1=10,D2=8,D3=25");
//   const vboard::Capture capture = vboard::read_capture("panel.vcd", map, {.glitch_ns = 20});
//   vboard::replay_capture(board, capture);  // the board file's devices attached first
//
// A capture is a VCD file from any tool (any timescale, any signal names, one-bit or vector
// signals, a vector's bits named NAME[i]; a signal may be named with its scopes, as top.D0), or a
// sigrok session file, converted to VCD by sigrok-cli (Debian package sigrok-cli) when it is
// installed. The channel map names the captured signal of each BCM line; the lines the map leaves
// out stay the board's.
//
// How it is read:
//  - the values at the capture's first time are the lines' levels from the start; x and z leave a
//    line as it was;
//  - a pulse shorter than `glitch_ns` (a change and the change back) is dropped, and counted;
//  - two changes the capture puts in the same sample, where their order decides what is decoded
//    (a rising edge of SCLK, BCM 11, with a change of the data lines, BCM 10 and 9, or of the chip
//    enables, BCM 8 and 7), are not ordered by guess but said in a note: they are played in the
//    order the file lists them.
//
// How it is played (replay_capture): each change drives its line at its time, above anything on
// the board but an output the program drives (there is no program), the board's clock moving on
// as a wait would; the board's rules and devices run as in a run. The lines are read as wires:
//  - the link: a bit at each rising edge of BCM 11 outside SPI0's transfers, framed by the board
//    file's selects; a capture cannot see which way the data line was turned, so its link bytes
//    have no direction (Direction::Unknown, "?" in the transaction table) and compare with a
//    golden file's by value, bit count and framing only; a device on the link is handed each byte
//    as one the host sent;
//  - SPI0: behind a chip enable with a device on its bus (spi0: BCM 8, spi1: BCM 7), MOSI and
//    MISO sampled at each rising edge of SCLK (modes 0 and 3), one transfer from the chip enable's
//    fall to its rise, handed to the device and the rules as one the controller made;
//  - nothing is decoded before the first edge of a select, so a capture that starts in the middle
//    of a byte is framed from there.
//
// Thread safety: the reading functions are pure; replay_capture runs on the calling thread with
// `board` the current board, and no other thread may call wiringPi meanwhile.
#ifndef VBOARD_CAPTURE_HPP
#define VBOARD_CAPTURE_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"

namespace vboard {

// A capture or a channel map that cannot be used: what() is "FILE:LINE: what" (a file), or
// "--channels: what" (a map).
class VBOARD_EXPORT CaptureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Which captured signal is which BCM line, as "D0=11,D1=10": each signal and each line once.
struct ChannelMap {
    std::vector<std::pair<std::string, int>> channels;  // in the order given
};
VBOARD_EXPORT ChannelMap parse_channel_map(std::string_view text);

struct CaptureOptions {
    std::uint64_t glitch_ns = 0;  // pulses shorter than this are dropped
};

struct CaptureChange {
    std::uint64_t time_ns = 0;
    int pin = 0;
    bool level = false;
    bool operator==(const CaptureChange &) const = default;
};

struct Capture {
    std::array<std::optional<bool>, kLineCount> initial{};  // each mapped line's first level
    std::vector<CaptureChange> changes;                     // in time order
    std::uint64_t glitches = 0;                             // pulses dropped
    std::vector<std::string> notes;                         // changes in the same sample
};

// Reads a VCD capture's text; `name` is the file's name in messages. Throws CaptureError.
VBOARD_EXPORT Capture parse_vcd_capture(std::string_view text, const std::string &name,
                                        const ChannelMap &map, const CaptureOptions &options = {});
// Reads a capture file: a VCD file, or a sigrok session through sigrok-cli. Throws CaptureError.
VBOARD_EXPORT Capture read_capture(const std::string &path, const ChannelMap &map,
                                   const CaptureOptions &options = {});

struct CaptureResult {
    std::uint64_t changes = 0;  // changes played
};

// Plays `capture` on `board` from its clock's time on (the capture's times are the board's). The
// notes and the glitch count become the board's diagnostics.
VBOARD_EXPORT CaptureResult replay_capture(Board &board, const Capture &capture);

}  // namespace vboard

#endif  // VBOARD_CAPTURE_HPP
