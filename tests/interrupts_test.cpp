// SPDX-License-Identifier: MIT
// Interrupts in virtual time, and the C library's waits and clocks under the board.

#include <gmock/gmock.h>

#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "board_fixture.hpp"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

extern "C" [[gnu::weak]] void __sanitizer_print_stack_trace();

namespace {

constexpr std::uint64_t kMs = 1'000'000;

// In a process with a sanitizer's runtime the board leaves the C library's clock reads alone.
bool clock_reads_stay_real() { return &__sanitizer_print_stack_trace != nullptr; }
#define SKIP_WHERE_CLOCK_READS_STAY_REAL()                                            \
    if (clock_reads_stay_real()) {                                                    \
        GTEST_SKIP() << "a sanitizer's runtime is loaded: the clock reads stay real"; \
    }

// What the callbacks saw: the board's clock at each call, and the level then.
struct Seen {
    std::vector<std::uint64_t> times;
    std::vector<int> levels;
};
Seen g_seen;
vboard::Board *g_board = nullptr;

void on_button() {
    g_seen.times.push_back(g_board->now_ns());
    g_seen.levels.push_back(digitalRead(5));
}

class Interrupts : public BoardTest {
  protected:
    void SetUp() override {
        g_seen = {};
        g_board = &board;
        board.set_real_sleep(false);
        ASSERT_EQ(wiringPiSetupGpio(), 0);
    }
    // A button on BCM 5: pressed (low) at `at` for `length`.
    void press(std::uint64_t at, std::uint64_t length) {
        vboard::Rule rule;
        rule.when = vboard::Trigger::at(at);
        rule.action = vboard::Action{5, vboard::Drive::Low, 0, length, vboard::Drive::High};
        board.add_rule(rule);
    }
};

struct EdgeCase {
    int mode;
    std::vector<std::uint64_t> moments;  // of the callbacks, for a press at 1.5 s for 1 s
};

class EdgeKinds : public Interrupts, public ::testing::WithParamInterface<EdgeCase> {};

// A press during a delay runs the callback at each matching edge's moment, on the callback's
// thread, with the board's clock standing at the edge; its calls follow the delay in the log.
TEST_P(EdgeKinds, RunTheCallbackAtTheEdgesMoment) {
    board.drive(5, true);
    press(1'500 * kMs, 1'000 * kMs);
    ASSERT_EQ(wiringPiISR(5, GetParam().mode, on_button), 0);
    EXPECT_EQ(board.now_ns(), 1'001 * kMs);  // set-up's 1 ms and registration's second
    board.clear_calls();
    delay(2'000);
    EXPECT_EQ(g_seen.times, GetParam().moments);
    EXPECT_EQ(board.now_ns(), 3'001 * kMs + board.costs().delay_call_ns);
    const std::vector<std::string> log = calls();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "delay(2000)");
}

INSTANTIATE_TEST_SUITE_P(Board, EdgeKinds,
                         ::testing::Values(EdgeCase{INT_EDGE_FALLING, {1'500 * kMs}},
                                           EdgeCase{INT_EDGE_RISING, {2'500 * kMs}},
                                           EdgeCase{INT_EDGE_BOTH, {1'500 * kMs, 2'500 * kMs}}));

bool g_in_callback_thread = false;
std::thread::id g_callback_thread;
void note_thread() {
    g_callback_thread = std::this_thread::get_id();
    g_in_callback_thread = true;
    digitalWrite(6, HIGH);
}

// The program's own write, driven back by a rule with no delay: the callback has run, on a thread
// of its own, before the write returns, and its write follows the program's in the log.
TEST_F(Interrupts, AnEdgeTheProgramCausedRunsItsCallbackBeforeTheCallReturns) {
    pinMode(17, OUTPUT);
    pinMode(6, OUTPUT);
    vboard::Rule rule;
    rule.when = vboard::Trigger::rising(17);
    rule.action = vboard::Action{5, vboard::Drive::Low, 0, std::nullopt, vboard::Drive::Release};
    board.add_rule(rule);
    ASSERT_EQ(wiringPiISR(5, INT_EDGE_FALLING, note_thread), 0);  // BCM 5 is pulled up
    board.clear_calls();
    digitalWrite(17, HIGH);
    EXPECT_TRUE(g_in_callback_thread);
    EXPECT_NE(g_callback_thread, std::this_thread::get_id());
    EXPECT_THAT(calls(),
                ElementsAre("digitalWrite(17, 1)", HasSubstr("rule 0"), "digitalWrite(6, 1)"));
}

struct WaitCase {
    const char *name;
    int mode;
    int press_ms;  // -1: no press
    int timeout_ms;
    int result;
    std::uint64_t ends_at_ms;  // after the registration
};

class WaitForInterrupts : public Interrupts, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitForInterrupts, AnswerTheEdgeOrTheTimeOutInVirtualTime) {
    const WaitCase &c = GetParam();
    board.drive(5, true);
    ASSERT_EQ(wiringPiISR(5, c.mode, nullptr), 0);
    const std::uint64_t start = board.now_ns();
    if (c.press_ms >= 0) {
        press(start + static_cast<std::uint64_t>(c.press_ms) * kMs, 10 * kMs);
    }
    EXPECT_EQ(waitForInterrupt(5, c.timeout_ms), c.result);
    const std::uint64_t waited = board.now_ns() - start;
    EXPECT_GE(waited, c.ends_at_ms * kMs);
    EXPECT_LT(waited, c.ends_at_ms * kMs + kMs / 100);
    // Logged in the order of the calls' starts, with the result it returned.
    const std::vector<std::string> log = calls();
    EXPECT_EQ(
        log[log.size() - (c.result != 0 ? 2 : 1)],
        "waitForInterrupt(5, " + std::to_string(c.timeout_ms) + ") = " + std::to_string(c.result));
}

INSTANTIATE_TEST_SUITE_P(Board, WaitForInterrupts,
                         ::testing::Values(WaitCase{"falling", INT_EDGE_FALLING, 30, 100, 2, 30},
                                           WaitCase{"rising", INT_EDGE_RISING, 30, 100, 1, 40},
                                           WaitCase{"both", INT_EDGE_BOTH, 30, 100, 2, 30},
                                           WaitCase{"timeout", INT_EDGE_FALLING, -1, 100, 0, 100},
                                           WaitCase{"after_timeout", INT_EDGE_FALLING, 150, 100, 0,
                                                    100},
                                           WaitCase{"forever", INT_EDGE_RISING, 5000, -1, 1, 5010}),
                         [](const auto &info) { return std::string(info.param.name); });

int g_calls = 0;
void count_call() { ++g_calls; }

// Registration: a pin never registered answers -2; a second registration replaces the first with
// a diagnostic; after wiringPiISRStop no callback runs; a bad pin or edge kind is refused.
TEST_F(Interrupts, RegistrationsReplaceStopAndRefuse) {
    EXPECT_EQ(waitForInterrupt(5, 10), -2);
    EXPECT_THAT(board.diagnostics().back(), HasSubstr("no wiringPiISR registration"));
    g_calls = 0;
    ASSERT_EQ(wiringPiISR(5, INT_EDGE_BOTH, on_button), 0);
    ASSERT_EQ(wiringPiISR(5, INT_EDGE_BOTH, count_call), 0);
    EXPECT_THAT(board.diagnostics().back(), HasSubstr("the new one replaces it"));
    board.drive(5, false);
    EXPECT_EQ(g_calls, 1);
    EXPECT_TRUE(g_seen.times.empty());
    EXPECT_EQ(wiringPiISRStop(5), 0);
    board.drive(5, true);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(wiringPiISR(54, INT_EDGE_BOTH, count_call), -1);
    EXPECT_EQ(wiringPiISR(5, INT_EDGE_SETUP, count_call), -1);
    EXPECT_EQ(board.calls().back().flag, vboard::Flag::BadArgument);
}

// Two runs of the same program on the same board make the same calls at the same times.
TEST_F(Interrupts, TheSameRunMakesTheSameCallsEveryTime) {
    const auto run = [this] {
        board.reset();
        board.set_real_sleep(false);
        wiringPiSetupGpio();
        pinMode(6, OUTPUT);
        board.drive(5, true);
        for (int i = 0; i < 20; ++i) {
            press(static_cast<std::uint64_t>(1'010 + 7 * i) * kMs, 3 * kMs);
        }
        wiringPiISR(5, INT_EDGE_BOTH, note_thread);
        for (int i = 0; i < 50; ++i) {
            digitalWrite(6, i & 1);
            delayMicroseconds(3'000);
        }
        std::vector<std::string> log;
        for (const vboard::CallRecord &rec : board.calls()) {
            log.push_back(std::to_string(rec.time_ns) + " " + rec.to_string());
        }
        return log;
    };
    const std::vector<std::string> first = run();
    EXPECT_EQ(run(), first);
    EXPECT_GT(first.size(), 100U);
}

class CLibraryTime : public Interrupts {
  protected:
    void SetUp() override {
        Interrupts::SetUp();
        board.set_c_library_time(true);
    }
    void TearDown() override { board.set_c_library_time(false); }
};

// The C library's waits move the board's clock and are logged.
TEST_F(CLibraryTime, WaitsMoveTheBoardsClock) {
    const vboard::CallCosts costs = board.costs();
    std::uint64_t before = board.now_ns();
    usleep(11'000);
    EXPECT_EQ(board.now_ns() - before, 11 * kMs + costs.delay_call_ns);
    EXPECT_EQ(calls().back(), "usleep(11000)");
    before = board.now_ns();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    EXPECT_EQ(board.now_ns() - before, 3 * kMs + costs.delay_call_ns);
    before = board.now_ns();
    EXPECT_EQ(sleep(2), 0U);
    EXPECT_EQ(board.now_ns() - before, 2'000 * kMs + costs.delay_call_ns);
}

// Its clocks and std::chrono's read the board's clock, so differences across a delay equal the
// delay and its costs.
TEST_F(CLibraryTime, ClocksReadTheBoardsClock) {
    SKIP_WHERE_CLOCK_READS_STAY_REAL();
    const vboard::CallCosts costs = board.costs();
    timespec a{};
    timespec b{};
    clock_gettime(CLOCK_MONOTONIC, &a);
    delay(5);
    clock_gettime(CLOCK_MONOTONIC, &b);
    const std::int64_t ns = (b.tv_sec - a.tv_sec) * 1'000'000'000LL + (b.tv_nsec - a.tv_nsec);
    EXPECT_EQ(ns, static_cast<std::int64_t>(5 * kMs + costs.delay_call_ns + costs.clock_read_ns));

    const auto t0 = std::chrono::steady_clock::now();
    delay(7);
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count(),
              static_cast<std::int64_t>(7 * kMs + costs.delay_call_ns + costs.clock_read_ns));

    // The real-time clocks start from the real time at power-on and follow the board.
    timeval tv{};
    gettimeofday(&tv, nullptr);
    const time_t now = time(nullptr);
    EXPECT_LE(now - tv.tv_sec, 1);
    EXPECT_GT(tv.tv_sec, 1'700'000'000);
}

// A busy-wait with a clock_gettime time-out ends in virtual time, each read costing its read.
TEST_F(CLibraryTime, ABusyWaitWithATimeOutEnds) {
    SKIP_WHERE_CLOCK_READS_STAY_REAL();
    timespec start{};
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long reads = 0;
    do {
        clock_gettime(CLOCK_MONOTONIC, &now);
        ++reads;
    } while ((now.tv_sec - start.tv_sec) * 1'000'000'000L + (now.tv_nsec - start.tv_nsec) <
             2'000'000L);
    EXPECT_EQ(reads, static_cast<long>(2 * kMs / board.costs().clock_read_ns));
}

// A busy-wait on millis() or clock_gettime for a line nobody drives is a poll the time limit's
// report names, as one with delay is: reading the time is no other call.
TEST_F(CLibraryTime, AWaitTimedWithTheClockIsAPollTheTimeLimitNames) {
    for (const bool with_millis : {true, false}) {
        if (!with_millis && clock_reads_stay_real()) {
            continue;
        }
        std::optional<vboard::TimeLimitReport> seen;
        board.set_time_limit(board.now_ns() + 50 * kMs,
                             [&](const vboard::TimeLimitReport &report) { seen = report; });
        const auto elapsed_ms = [with_millis] {
            if (with_millis) {
                return static_cast<std::uint64_t>(millis());
            }
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                   static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
        };
        const std::uint64_t start = elapsed_ms();
        while (digitalRead(24) == LOW && elapsed_ms() - start < 80) {
        }
        ASSERT_TRUE(seen) << with_millis;
        EXPECT_TRUE(seen->polling) << with_millis;
        EXPECT_EQ(seen->poll_pin, 24);
        EXPECT_GT(seen->poll_reads, 1000U);
    }
}

// A device runs under the board's lock: a clock it reads is the C library's own, not a wait for
// the lock its own call holds.
TEST_F(CLibraryTime, ADeviceReadingTheClockReadsTheRealOne) {
    timespec seen{};
    board.attach_spi_device(0, [&seen](std::span<const std::uint8_t> sent) {
        clock_gettime(CLOCK_MONOTONIC, &seen);
        return std::vector<std::uint8_t>(sent.begin(), sent.end());
    });
    ASSERT_GE(wiringPiSPISetup(0, 1'000'000), 0);
    delay(100'000);  // the board's clock 100 s ahead of the real one
    unsigned char byte = 0x5a;
    EXPECT_EQ(wiringPiSPIDataRW(0, &byte, 1), 1);
    timespec real{};
    ::syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &real);
    EXPECT_LE(real.tv_sec - seen.tv_sec, 1);
}

// With the setting off, the C library's time is its own: the board's clock does not move.
TEST_F(CLibraryTime, TheSettingOffLeavesTheCLibrarysOwn) {
    board.set_c_library_time(false);
    const std::uint64_t before = board.now_ns();
    const std::size_t logged = board.call_count();
    const auto t0 = std::chrono::steady_clock::now();
    usleep(2'000);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2));
    EXPECT_EQ(board.now_ns(), before);
    EXPECT_EQ(board.call_count(), logged);
}

}  // namespace
