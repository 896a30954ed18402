// SPDX-License-Identifier: MIT
// The board's in-memory call log: the newest calls, oldest first, in a ring whose records are
// reused once it is full, so that a long session logs without allocating. The records are made as
// calls come, in blocks that never move: a board making a few calls (a test, one fuzz input) pays
// for a few, and a full log takes its records' memory once, not again while it grows. Private to
// the library.
#ifndef VBOARD_CALL_RING_HPP
#define VBOARD_CALL_RING_HPP

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "vboard/board.hpp"

namespace vboard {

class CallRing {
  public:
    std::size_t size() const { return size_; }
    void clear();
    // The record to fill for a new call. Past `capacity` it is the oldest one, and `dropped` grows.
    CallRecord &push(std::size_t capacity, std::uint64_t &dropped);
    // Keeps the newest `capacity` records.
    void shrink_to(std::size_t capacity, std::uint64_t &dropped);
    std::vector<CallRecord> copy() const;

  private:
    void linearize();  // moves the oldest record to slot 0

    std::deque<CallRecord> slots_;
    std::size_t head_ = 0;  // the oldest record
    std::size_t size_ = 0;
};

}  // namespace vboard

#endif  // VBOARD_CALL_RING_HPP
