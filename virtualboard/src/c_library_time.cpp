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
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <initializer_list>
#include <limits>

#include "board_call.hpp"
#include "model_device.hpp"
#include "vboard/export.h"

extern "C" [[gnu::weak]] void __sanitizer_print_stack_trace();

namespace vboard {
namespace {

[[gnu::tls_model("initial-exec")]] thread_local bool t_board_thread = false;
// This thread is finding a C library function: the loader may allocate, and an allocator may read
// the clock meanwhile.
[[gnu::tls_model("initial-exec")]] thread_local bool t_finding = false;

constexpr std::int64_t kNsPerSecond64 = 1'000'000'000;

// One of the C library's own functions, found on first use whatever comes before the C library in
// the process. None while this thread is finding one: the caller then makes the system call.
template <typename Function>
class LibcFunction {
  public:
    explicit constexpr LibcFunction(const char *name) : name_(name) {}

    Function get() {
        Function function = function_.load(std::memory_order_acquire);
        if (function != nullptr || t_finding) {
            return function;
        }
        t_finding = true;
        void *found = nullptr;
        if (void *libc = ::dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD)) {
            found = ::dlsym(libc, name_);
            ::dlclose(libc);
        }
        if (found == nullptr) {
            found = ::dlsym(RTLD_NEXT, name_);
        }
        t_finding = false;
        function = reinterpret_cast<Function>(found);
        function_.store(function, std::memory_order_release);
        return function;
    }

  private:
    const char *name_;
    std::atomic<Function> function_{nullptr};
};

constinit LibcFunction<int (*)(clockid_t, timespec *)> g_clock_gettime("clock_gettime");
constinit LibcFunction<int (*)(timeval *, void *)> g_gettimeofday("gettimeofday");
constinit LibcFunction<time_t (*)(time_t *)> g_time("time");
constinit LibcFunction<int (*)(const timespec *, timespec *)> g_nanosleep("nanosleep");
constinit LibcFunction<int (*)(clockid_t, int, const timespec *, timespec *)> g_clock_nanosleep(
    "clock_nanosleep");
constinit LibcFunction<int (*)(useconds_t)> g_usleep("usleep");
constinit LibcFunction<unsigned (*)(unsigned)> g_sleep("sleep");

// The C library's functions, or the system calls behind them while they are being found.
int libc_clock_gettime(clockid_t clock, timespec *tp) {
    if (auto function = g_clock_gettime.get()) {
        return function(clock, tp);
    }
    return static_cast<int>(::syscall(SYS_clock_gettime, clock, tp));
}

int libc_nanosleep(const timespec *req, timespec *rem) {
    if (auto function = g_nanosleep.get()) {
        return function(req, rem);
    }
    return static_cast<int>(::syscall(SYS_clock_nanosleep, CLOCK_MONOTONIC, 0, req, rem));
}

int libc_clock_nanosleep(clockid_t clock, int flags, const timespec *req, timespec *rem) {
    if (auto function = g_clock_nanosleep.get()) {
        return function(clock, flags, req, rem);
    }
    return ::syscall(SYS_clock_nanosleep, clock, flags, req, rem) == 0 ? 0 : errno;
}

int libc_gettimeofday(timeval *tv, void *tz) {
    if (auto function = g_gettimeofday.get()) {
        return function(tv, tz);
    }
    timespec now{};
    const int result = libc_clock_gettime(CLOCK_REALTIME, &now);
    if (tv != nullptr) {
        tv->tv_sec = now.tv_sec;
        tv->tv_usec = static_cast<suseconds_t>(now.tv_nsec / 1'000);
    }
    return result;
}

time_t libc_time(time_t *tloc) {
    if (auto function = g_time.get()) {
        return function(tloc);
    }
    timespec now{};
    libc_clock_gettime(CLOCK_REALTIME, &now);
    if (tloc != nullptr) {
        *tloc = now.tv_sec;
    }
    return now.tv_sec;
}

int libc_usleep(useconds_t usec) {
    if (auto function = g_usleep.get()) {
        return function(usec);
    }
    const timespec length{static_cast<time_t>(usec / 1'000'000),
                          static_cast<long>(usec % 1'000'000) * 1'000};
    return libc_nanosleep(&length, nullptr);
}

unsigned libc_sleep(unsigned seconds) {
    if (auto function = g_sleep.get()) {
        return function(seconds);
    }
    const timespec length{static_cast<time_t>(seconds), 0};
    return libc_nanosleep(&length, nullptr) == 0 ? 0 : seconds;
}

// Whether a sanitizer's runtime is in the process: each defines this function.
bool sanitizer_runtime_loaded() { return &__sanitizer_print_stack_trace != nullptr; }

// The program's latest reading of each clock family (realtime, monotonic, boottime) through the
// board's functions before any board existed: 0 for none.
std::atomic<std::int64_t> g_before_board[3] = {0, 0, 0};
std::atomic<bool> g_board_made{false};  // a board has taken its start: no more readings kept

int clock_family(clockid_t clock) {
    switch (clock) {
        case CLOCK_REALTIME:
        case CLOCK_REALTIME_COARSE:
        case CLOCK_REALTIME_ALARM: return 0;
        case CLOCK_MONOTONIC:
        case CLOCK_MONOTONIC_RAW:
        case CLOCK_MONOTONIC_COARSE: return 1;
        case CLOCK_BOOTTIME:
        case CLOCK_BOOTTIME_ALARM: return 2;
        default: return -1;
    }
}

// Whether the program's readings before any board are kept: not in a process with a sanitizer's
// runtime, which reads the clock from places where the board's instrumented code may not run (a
// thread being torn down), and whose reads stay the C library's anyway.
bool keeps_readings_before_board() { return !sanitizer_runtime_loaded(); }

// Keeps a reading the C library gave the program while no board existed yet.
void note_reading_before_board(clockid_t clock, std::int64_t ns) {
    const int family = clock_family(clock);
    if (family < 0 || g_board_made.load(std::memory_order_relaxed)) {
        return;
    }
    std::int64_t seen = g_before_board[family].load(std::memory_order_relaxed);
    while (ns > seen && !g_before_board[family].compare_exchange_weak(seen, ns)) {
    }
}

std::int64_t start_of(clockid_t clock) {
    const std::int64_t before = g_before_board[clock_family(clock)].exchange(0);
    return before != 0 ? before : real_clock_ns(clock);
}

// The board whose clock the program's C library time follows, or null for the C library's own.
Board::State *program_board() {
    if (t_board_thread || in_device_model()) {
        return nullptr;
    }
    Board::State *state = g_current_state.load(std::memory_order_acquire);
    if (state == nullptr || !state->c_library_time.load(std::memory_order_relaxed) ||
        state->mutex.held_by_this_thread()) {
        return nullptr;  // a read made inside a board call (an allocator's, say) is real
    }
    return state;
}

// program_board() for a read of a clock. In a process with a sanitizer's runtime the reads stay
// the C library's: the runtime reads the clock itself, from places where the board's code may not
// run (a thread being torn down, its allocator's lock held), and it takes the program's reads
// through its own interceptors, so the two cannot be told apart.
Board::State *program_board_for_reads() {
    return sanitizer_runtime_loaded() ? nullptr : program_board();
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

// Whether the board takes `clock`.
bool follows_board(clockid_t clock) { return clock_start(RealStart{}, clock) != nullptr; }

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
// time at the call, which costs a clock read. Not in the call log: a read makes nothing to log,
// and allocates nothing, as a memory allocator may read the clock while it holds its own lock.
std::int64_t read_clock(clockid_t clock) {
    return on_board([&](Board::State &s) {
        const std::int64_t ns =
            *clock_start(s.run->real_start, clock) + static_cast<std::int64_t>(s.run->clock.now());
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

RealStart RealStart::now() {
    g_board_made.store(true, std::memory_order_relaxed);
    return RealStart{start_of(CLOCK_REALTIME), start_of(CLOCK_MONOTONIC), start_of(CLOCK_BOOTTIME)};
}

std::int64_t real_clock_ns(clockid_t clock) {
    timespec now{};
    libc_clock_gettime(clock, &now);
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
    while (libc_nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void mark_board_thread() { t_board_thread = true; }

}  // namespace vboard

using vboard::Call;

extern "C" {

VBOARD_EXPORT int clock_gettime(clockid_t clock, timespec *tp) noexcept {
    if (vboard::program_board_for_reads() == nullptr || vboard::is_null(tp) ||
        !vboard::follows_board(clock)) {
        const int result = vboard::libc_clock_gettime(clock, tp);
        if (result == 0 && vboard::keeps_readings_before_board() && !vboard::is_null(tp)) {
            vboard::note_reading_before_board(clock,
                                              tp->tv_sec * vboard::kNsPerSecond64 + tp->tv_nsec);
        }
        return result;
    }
    *tp = vboard::to_timespec(vboard::read_clock(clock));
    return 0;
}

VBOARD_EXPORT int gettimeofday(timeval *tv, void *tz) noexcept {
    if (vboard::program_board_for_reads() == nullptr || vboard::is_null(tv)) {
        const int result = vboard::libc_gettimeofday(tv, tz);
        if (result == 0 && vboard::keeps_readings_before_board() && !vboard::is_null(tv)) {
            vboard::note_reading_before_board(
                CLOCK_REALTIME, tv->tv_sec * vboard::kNsPerSecond64 + tv->tv_usec * 1'000);
        }
        return result;
    }
    if (tz != nullptr) {
        vboard::libc_gettimeofday(nullptr, tz);
    }
    const std::int64_t ns = vboard::read_clock(CLOCK_REALTIME);
    tv->tv_sec = static_cast<time_t>(ns / vboard::kNsPerSecond64);
    tv->tv_usec = static_cast<suseconds_t>(ns % vboard::kNsPerSecond64 / 1'000);
    return 0;
}

VBOARD_EXPORT time_t time(time_t *tloc) noexcept {
    if (vboard::program_board_for_reads() == nullptr) {
        return vboard::libc_time(tloc);
    }
    const auto seconds =
        static_cast<time_t>(vboard::read_clock(CLOCK_REALTIME) / vboard::kNsPerSecond64);
    if (tloc != nullptr) {
        *tloc = seconds;
    }
    return seconds;
}

VBOARD_EXPORT int nanosleep(const timespec *req, timespec *rem) {
    if (vboard::program_board() == nullptr) {
        return vboard::libc_nanosleep(req, rem);
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
    // A time to sleep until was read from the clock, which must then be the board's too.
    if ((flags & TIMER_ABSTIME) != 0 ? vboard::program_board_for_reads() == nullptr
                                     : vboard::program_board() == nullptr) {
        return vboard::libc_clock_nanosleep(clock, flags, req, rem);
    }
    if (!vboard::follows_board(clock)) {
        return vboard::libc_clock_nanosleep(clock, flags, req, rem);
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
        return vboard::libc_usleep(usec);
    }
    vboard::board_wait(Call::Usleep, {usec}, std::uint64_t{usec} * 1'000);
    return 0;
}

VBOARD_EXPORT unsigned int sleep(unsigned int seconds) {
    if (vboard::program_board() == nullptr) {
        return vboard::libc_sleep(seconds);
    }
    vboard::board_wait(Call::Sleep, {seconds}, std::uint64_t{seconds} * vboard::kNsPerSecond);
    return 0;
}

}  // extern "C"
