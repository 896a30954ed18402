// SPDX-License-Identifier: MIT
// The C library's own clocks and sleep, for the board's own use: the board defines the program's
// usleep, nanosleep, clock_gettime and the rest (c_library_time.cpp), so its code never calls
// them by name. Private to the library.
#ifndef VBOARD_C_LIBRARY_TIME_HPP
#define VBOARD_C_LIBRARY_TIME_HPP

#include <time.h>

#include <cstdint>

namespace vboard {

// The C library's reading of `clock`, in nanoseconds.
std::int64_t real_clock_ns(clockid_t clock);
// Sleeps the calling thread for `ns` of real time (a wait with real sleep on).
void real_sleep(std::uint64_t ns);
// Marks the calling thread as one of the board's own (the VCD writer): its C library time stays
// real whatever the board's setting.
void mark_board_thread();

// Where the run started in the C library's clocks: the program's clocks under the board read
// these plus the board's clock.
struct RealStart {
    std::int64_t realtime_ns = 0;
    std::int64_t monotonic_ns = 0;
    std::int64_t boottime_ns = 0;
    // The C library's clocks now; for the first board made in the process, the program's
    // latest readings before any board existed, where it made some (taken_before_any_board()),
    // so that its clocks go on from where it last saw them, the board's own start-up left out.
    static RealStart now();
};

}  // namespace vboard

#endif  // VBOARD_C_LIBRARY_TIME_HPP
