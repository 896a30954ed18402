// SPDX-License-Identifier: MIT
// The trace: what a program did, as one text format whoever saw it (the bench's call log, written
// by `vboard run --log`, and a recording made on a Pi by vboard-record). A first line names the
// format and its version; header lines say what the board was; then one line per wiringPi call,
// with the time it started, its arguments and its result, and for SPI the bytes sent and received:
//
//   vboard-trace 1
//   source bench
//   model Raspberry Pi 4 Model B
//   wiringpi 3.14
//        1000000 ns  wiringPiSetupGpio() = 0
//        1000050 ns  pinMode(24, 0)
//        1000190 ns  digitalRead(24) = 1
//        1050000 ns  wiringPiSPIDataRW(0, [3c 00], 2) = 2 received [00 5a]
//        1060000 ns  note: a diagnostic of the board
//        1060000 ns  sensor: a line a device model wrote
//        1060000 ns  rule 0 "busy" fires: drives BCM24 high
//
// The reader is strict: a first line of another format or version, a header key it does not know,
// a call it does not know or a line of no known kind is refused with the file and line number. A
// last line without its newline (a recording cut short by power loss) is left out, with a note.
// Lines need not come in time order (a recorder writes a call when it returns, so an interrupt
// callback's calls come before the wait they happened in): the reader puts them in it.
#ifndef VBOARD_CALL_TRACE_HPP
#define VBOARD_CALL_TRACE_HPP

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"

namespace vboard {

inline constexpr int kTraceVersion = 1;
inline constexpr const char *kTraceMagic = "vboard-trace";

// Who made a trace: the bench (a run on the virtual board) or the recorder (a real Pi).
inline constexpr const char *kTraceSourceBench = "bench";
inline constexpr const char *kTraceSourceRecorder = "recorder";

// A trace file that cannot be read: what() is "FILE:LINE: WHAT", or "FILE: WHAT" without a line.
class VBOARD_EXPORT TraceError : public std::runtime_error {
  public:
    TraceError(const std::string &file, int line, const std::string &what);
    int line() const { return line_; }

  private:
    int line_;
};

struct CallTrace {
    int version = kTraceVersion;
    std::string source;    // kTraceSourceBench, kTraceSourceRecorder
    std::string model;     // the Pi, as its maker names it ("Raspberry Pi 4 Model B Rev 1.4")
    std::string wiringpi;  // wiringPi's version, "3.14"
    // Each call in time order (lines of equal times as written), with its time
    // (CallRecord::time_ns), arguments, result and flag, the line it reached (CallRecord::line) and
    // for SPI the bytes sent and received; the devices' log lines and the rules fired as
    // Call::DeviceLog and Call::RuleFired with their text. The board's notes are left out.
    std::vector<CallRecord> calls;
    // What the reader noticed without refusing the file: "FILE:N: the last line is cut short ...".
    std::vector<std::string> notes;
};

// The header a trace starts with, each line ending in '\n'.
VBOARD_EXPORT std::string trace_header(const std::string &source, const std::string &model,
                                       const std::string &wiringpi);
// One call's line without its time: CallRecord::to_string(), then " received [..]" for an SPI
// transfer that ran.
VBOARD_EXPORT std::string trace_call_text(const CallRecord &call);

// Reads a trace; `name` is the file's name in messages. Throws TraceError.
VBOARD_EXPORT CallTrace parse_call_trace(std::string_view text, const std::string &name);
// Reads the trace at `path`; throws TraceError, also when it cannot be read.
VBOARD_EXPORT CallTrace read_call_trace(const std::string &path);

// The call a function name is ("digitalRead"); none for a name the board does not know.
VBOARD_EXPORT std::optional<Call> call_named(std::string_view name);

}  // namespace vboard

#endif  // VBOARD_CALL_TRACE_HPP
