// SPDX-License-Identifier: MIT
// The one way to watch a run: a RunObserver added to a board receives the run as a stream of
// events, each one a RunEvent, in time order: the start, line changes, calls, diagnostics,
// transactions, timing violations, frames and the end. It says once which of them it wants, so
// that an event nobody asked for costs the board nothing. Every output of a run (the VCD, the
// call log, the transaction table, the frame files, the HTML page) is a RunObserver.
//
//   class Edges final : public vboard::RunObserver {
//     public:
//       unsigned interests() const override { return vboard::kWatchLines; }
//       void event(const vboard::RunEvent &e) override {
//           if (e.kind == vboard::RunEventKind::LineChange) { count += 1; }
//       }
//       int count = 0;
//   };
//   board.add_observer(std::make_shared<Edges>());
//
// The types the events point to are in vboard/board.hpp, vboard/transactions.hpp and
// vboard/frames.hpp.
//
// Thread safety: event() runs under the board's lock, on the thread whose call caused the event;
// it must not call back into the board.
#ifndef VBOARD_RUN_OBSERVER_HPP
#define VBOARD_RUN_OBSERVER_HPP

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vboard/export.h"
#include "vboard/pi_model.hpp"
#include "vboard/types.hpp"

namespace vboard {

// What the events point to: vboard/board.hpp (CallRecord), vboard/transactions.hpp (Transaction,
// TimingViolation, FramingOptions) and vboard/frames.hpp (Frame).
struct CallRecord;
struct Frame;
struct LineWave;
struct FramingOptions;
struct TimingViolation;
struct Transaction;

enum class RunEventKind : std::uint8_t {
    Start,        // once, when the observer is added: `start`
    LineChange,   // a line's level changed: `pin`, `level`
    Call,         // a wiringPi call has run, or a device or rule wrote to the log: `call`
    Note,         // a diagnostic: `note`
    Transaction,  // a transaction ended: `transaction`
    Violation,    // a timing check failed: `violation` (the first kViolationsKeptPerCheck of each)
    Frame,        // a display device showed a frame: `frame`
    End,          // once, when removed, at reset(), flush_outputs() or the board's end: `end`
    FunctionChange,  // a line's function changed: `pin`, `function`
    Wave,            // the wave a PWM or clock line carries changed: `wave`
};

// What an observer wants to be told, a bit each. Start and End reach every observer.
enum RunInterest : unsigned {
    kWatchLines = 1U << 0,         // LineChange
    kWatchCalls = 1U << 1,         // Call
    kWatchNotes = 1U << 2,         // Note
    kWatchTransactions = 1U << 3,  // Transaction and Violation: the board decodes its buses then
    kWatchFrames = 1U << 4,        // Frame
    kWatchFunctions = 1U << 5,     // FunctionChange and Wave
};

// The board as the observer joins it.
struct RunStart {
    std::array<bool, kLineCount> levels{};         // each line's level
    std::array<Function, kLineCount> functions{};  // and its function
    const FramingOptions &framing;  // the side lines' names, in TransactionByte::side order
    // The names the run gives its lines (Board::set_line_name), in the order they were given.
    const std::vector<std::pair<int, std::string>> &line_names;
    PiModel model;  // the Pi the board is
};

// The run as the observer leaves it. The transactions still open were ended and passed on first.
struct RunEnd {
    std::vector<std::uint64_t> violation_counts;  // per timing check, all of them
};

// One event. `time_ns` is the board's clock at it; the pointer the kind names is valid during
// event() only, and only that one is set.
struct RunEvent {
    RunEventKind kind = RunEventKind::Start;
    bool level = false;                   // LineChange
    int pin = -1;                         // LineChange, FunctionChange
    Function function = Function::Input;  // FunctionChange
    std::uint64_t time_ns = 0;
    union {
        const RunStart *start;
        const CallRecord *call;
        const std::string *note;
        const Transaction *transaction;
        const TimingViolation *violation;
        const Frame *frame;
        const RunEnd *end;
        const LineWave *wave;
    };
};

class VBOARD_EXPORT RunObserver {
  public:
    virtual ~RunObserver();
    // Which events it wants, a mask of RunInterest bits; asked once, when it is added.
    virtual unsigned interests() const = 0;
    virtual void event(const RunEvent &event) = 0;
};

}  // namespace vboard

#endif  // VBOARD_RUN_OBSERVER_HPP
