// SPDX-License-Identifier: MIT
// The C library's waits and clocks under the board. The library defines usleep, nanosleep,
// clock_nanosleep, sleep, clock_gettime, gettimeofday and time, so that a program (and the C++
// standard library's clocks and sleeps, which call them) finds these before the C library's own
// when the board's library comes before it in the process. While the board's setting is on, the
// waits move the board's clock as delay does and the clocks read it; otherwise, before any board
// is made, on the board's own threads and inside a device model (which runs under the board's
// lock), each passes the call to the C library's function.

#include "c_library_time.hpp"

#include <dlfcn.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <limits>

#include "board_call.hpp"
#include "model_device.hpp"
#include "vboard/export.h"

namespace vboard {
namespace {

thread_local bool t_board_thread = false;

constexpr std::int64_t kNsPerSecond64 = 1'000'000'000;

// The C library's definition of `name`, whatever comes before it in the process.
void *from_libc(const char *name) {
    static void *const libc = ::dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    void *function = libc != nullptr ? ::dlsym(libc, name) : nullptr;
    return function != nullptr ? function : ::dlsym(RTLD_NEXT, name);
}

struct Libc {
    using ClockGettime = int (*)(clockid_t, timespec *);
    using Gettimeofday = int (*)(timeval *, void *);
    using Time = time_t (*)(time_t *);
    using Nanosleep = int (*)(const timespec *, timespec *);
    using ClockNanosleep = int (*)(clockid_t, int, const timespec *, timespec *);
    using Usleep = int (*)(useconds_t);
    using Sleep = unsigned (*)(unsigned);

    ClockGettime clock_gettime = reinterpret_cast<ClockGettime>(from_libc("clock_gettime"));
    Gettimeofday gettimeofday = reinterpret_cast<Gettimeofday>(from_libc("gettimeofday"));
    Time time = reinterpret_cast<Time>(from_libc("time"));
    Nanosleep nanosleep = reinterpret_cast<Nanosleep>(from_libc("nanosleep"));
    ClockNanosleep clock_nanosleep = reinterpret_cast<ClockNanosleep>(from_libc("clock_nanosleep"));
    Usleep usleep = reinterpret_cast<Usleep>(from_libc("usleep"));
    Sleep sleep = reinterpret_cast<Sleep>(from_libc("sleep"));
};

const Libc &libc() {
    static const Libc functions;
    return functions;
}

// The board whose clock the program's C library time follows, or null for the C library's own.
Board::State *program_board() {
    if (t_board_thread || in_device_model()) {
        return nullptr;
    }
    Board::State *state = g_current_state.load(std::memory_order_acquire);
    return state != nullptr && state->c_library_time.load(std::memory_order_relaxed) ? state
                                                                                     : nullptr;
}

// Which of the run's starts a clock counts from; none for a clock that stays real (the CPU-time
// clocks, CLOCK_TAI, a clock of a device).
const std::int64_t *clock_start(const RealStart &start, clockid_t clock) {
    switch (clock) {
        case CLOCK_REALTIME:
        case CLOCK_REALTIME_COARSE:
        case CLOCK_REALTIME_ALARM: return &start.realtime_ns;
        case CLOCK_MONOTONIC:
        case CLOCK_MONOTONIC_RAW:
        case CLOCK_MONOTONIC_COARSE: return &start.monotonic_ns;
        case CLOCK_BOOTTIME:
        case CLOCK_BOOTTIME_ALARM: return &start.boottime_ns;
        default: return nullptr;
    }
}

timespec to_timespec(std::int64_t ns) {
    return timespec{static_cast<time_t>(ns / kNsPerSecond64),
                    static_cast<long>(ns % kNsPerSecond64)};
}

// Whether a pointer the caller declared never null is null after all: the C library answers
// EFAULT then rather than crash, so the board passes such calls to it.
[[gnu::noinline]] bool is_null(const void *pointer) { return pointer == nullptr; }

bool valid(const timespec &length) {
    return length.tv_sec >= 0 && length.tv_nsec >= 0 && length.tv_nsec < kNsPerSecond64;
}

std::uint64_t to_ns(const timespec &length) {
    const auto seconds = static_cast<std::uint64_t>(length.tv_sec);
    constexpr std::uint64_t kMostSeconds =
        std::numeric_limits<std::uint64_t>::max() / 2 / 1'000'000'000;
    return (seconds > kMostSeconds ? kMostSeconds : seconds) * 1'000'000'000 +
           static_cast<std::uint64_t>(length.tv_nsec);
}

// A read of the board's clock as `clock` shows it: the run's start in that clock plus the board's
// time at the call, which costs a clock read.
std::int64_t read_clock(Call call, std::initializer_list<long long> args, clockid_t clock) {
    return on_board([&](Board::State &s) {
        CallRecord &rec = s.record(call, args);
        const std::int64_t ns =
            *clock_start(s.run->real_start, clock) + static_cast<std::int64_t>(s.run->clock.now());
        rec.has_result = true;
        rec.result = call == Call::Time ? ns / kNsPerSecond64 : 0;
        s.run->clock.advance(s.settings.costs.clock_read_ns);
        return ns;
    });
}

// A wait of the program's on the board's clock, with real sleep when the board sleeps.
void board_wait(Call call, std::initializer_list<long long> args, std::uint64_t length_ns) {
    if (waiting_on_board([&](Board::State &s) { return s.wait(call, args, length_ns); })) {
        real_sleep(length_ns);
    }
}

}  // namespace

std::int64_t real_clock_ns(clockid_t clock) {
    timespec now{};
    libc().clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNsPerSecond64 + now.tv_nsec;
}

void real_sleep(std::uint64_t ns) {
    if (ns == 0) {
        return;
    }
    timespec left = to_timespec(static_cast<std::int64_t>(
        ns > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
            ? std::numeric_limits<std::int64_t>::max()
            : ns));
    while (libc().nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void mark_board_thread() { t_board_thread = true; }

}  // namespace vboard

using vboard::Call;

extern "C" {

VBOARD_EXPORT int clock_gettime(clockid_t clock, timespec *tp) noexcept {
    if (vboard::program_board() == nullptr || vboard::is_null(tp) ||
        vboard::clock_start(vboard::RealStart{}, clock) == nullptr) {
        return vboard::libc().clock_gettime(clock, tp);
    }
    *tp = vboard::to_timespec(vboard::read_clock(Call::ClockGettime, {clock}, clock));
    return 0;
}

VBOARD_EXPORT int gettimeofday(timeval *tv, void *tz) noexcept {
    if (vboard::program_board() == nullptr || vboard::is_null(tv)) {
        return vboard::libc().gettimeofday(tv, tz);
    }
    if (tz != nullptr) {
        vboard::libc().gettimeofday(nullptr, tz);
    }
    const std::int64_t ns = vboard::read_clock(Call::Gettimeofday, {}, CLOCK_REALTIME);
    tv->tv_sec = static_cast<time_t>(ns / vboard::kNsPerSecond64);
    tv->tv_usec = static_cast<suseconds_t>(ns % vboard::kNsPerSecond64 / 1'000);
    return 0;
}

VBOARD_EXPORT time_t time(time_t *tloc) noexcept {
    if (vboard::program_board() == nullptr) {
        return vboard::libc().time(tloc);
    }
    const auto seconds = static_cast<time_t>(vboard::read_clock(Call::Time, {}, CLOCK_REALTIME) /
                                             vboard::kNsPerSecond64);
    if (tloc != nullptr) {
        *tloc = seconds;
    }
    return seconds;
}

VBOARD_EXPORT int nanosleep(const timespec *req, timespec *rem) {
    if (vboard::program_board() == nullptr) {
        return vboard::libc().nanosleep(req, rem);
    }
    if (req == nullptr || !vboard::valid(*req)) {
        errno = req == nullptr ? EFAULT : EINVAL;
        return -1;
    }
    vboard::board_wait(Call::Nanosleep, {req->tv_sec, req->tv_nsec}, vboard::to_ns(*req));
    if (rem != nullptr) {
        *rem = timespec{};
    }
    return 0;
}

VBOARD_EXPORT int clock_nanosleep(clockid_t clock, int flags, const timespec *req, timespec *rem) {
    if (vboard::program_board() == nullptr ||
        vboard::clock_start(vboard::RealStart{}, clock) == nullptr) {
        return vboard::libc().clock_nanosleep(clock, flags, req, rem);
    }
    if (req == nullptr) {
        return EFAULT;
    }
    if (!vboard::valid(*req)) {
        return EINVAL;
    }
    const std::uint64_t asked = vboard::to_ns(*req);
    std::uint64_t slept = 0;
    if (vboard::waiting_on_board([&](vboard::Board::State &s) {
            std::uint64_t length = asked;
            if ((flags & TIMER_ABSTIME) != 0) {  // until the clock shows `req`
                const std::int64_t at = *vboard::clock_start(s.run->real_start, clock) +
                                        static_cast<std::int64_t>(s.run->clock.now());
                const std::uint64_t now = at > 0 ? static_cast<std::uint64_t>(at) : 0;
                length = asked > now ? asked - now : 0;
            }
            slept = length;
            return s.wait(Call::ClockNanosleep, {clock, flags, req->tv_sec, req->tv_nsec}, length);
        })) {
        vboard::real_sleep(slept);
    }
    if (rem != nullptr && (flags & TIMER_ABSTIME) == 0) {
        *rem = timespec{};
    }
    return 0;
}

VBOARD_EXPORT int usleep(useconds_t usec) {
    if (vboard::program_board() == nullptr) {
        return vboard::libc().usleep(usec);
    }
    vboard::board_wait(Call::Usleep, {usec}, std::uint64_t{usec} * 1'000);
    return 0;
}

VBOARD_EXPORT unsigned int sleep(unsigned int seconds) {
    if (vboard::program_board() == nullptr) {
        return vboard::libc().sleep(seconds);
    }
    vboard::board_wait(Call::Sleep, {seconds}, std::uint64_t{seconds} * vboard::kNsPerSecond);
    return 0;
}

}  // extern "C"
