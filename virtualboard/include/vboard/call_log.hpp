// SPDX-License-Identifier: MIT
// Streams the board's call log and diagnostics to a text file as they happen, as a trace
// (vboard/call_trace.hpp): its header, then one line per wiringPi call,
// "   1000020 ns  digitalWrite(11, 1)", and one per diagnostic, "   1000020 ns  note: ...". A run
// observer of the calls and notes: add it with Board::add_observer.
#ifndef VBOARD_CALL_LOG_HPP
#define VBOARD_CALL_LOG_HPP

#include <cstdio>
#include <string>

#include "vboard/board.hpp"
#include "vboard/export.h"
#include "vboard/run_observer.hpp"

namespace vboard {

class VBOARD_EXPORT CallLogWriter final : public RunObserver {
  public:
    // Opens `path` for writing; throws std::runtime_error naming the path and the reason when it
    // cannot. The file is complete once it has been told End (removing the writer from its board,
    // or Board::flush_outputs()).
    explicit CallLogWriter(const std::string &path);
    ~CallLogWriter() override;
    CallLogWriter(const CallLogWriter &) = delete;
    CallLogWriter &operator=(const CallLogWriter &) = delete;

    unsigned interests() const override { return kWatchCalls | kWatchNotes; }
    void event(const RunEvent &event) override;

    // false once a write to the file has failed; the error is kept, not thrown.
    bool ok() const;

  private:
    void close();

    std::FILE *file_ = nullptr;
    bool failed_ = false;
};

}  // namespace vboard

#endif  // VBOARD_CALL_LOG_HPP
