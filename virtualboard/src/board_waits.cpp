// SPDX-License-Identifier: MIT
// The program's waits and wiringPi's interrupts. A wait moves the board's clock; while interrupts
// are registered it moves it one moment at a time, and at each moment the callbacks of the edges
// that came run, on their own threads, before the clock moves on. The call that made an edge
// returns after the callback has.

#include <string>
#include <system_error>

#include "board_state.hpp"

namespace vboard {
namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return b > Clock::kNever - a ? Clock::kNever - 1 : a + b;
}

// wiringPi's results for waitForInterrupt.
constexpr int kWaitTimedOut = 0;
constexpr int kWaitNotRegistered = -2;

}  // namespace

template <typename Done>
void Board::State::pass_time(std::uint64_t target, Done done) {
    if (!run->interrupts.any() && target != Clock::kNever) {
        run->clock.advance(target - run->clock.now());
        return;
    }
    const std::uint64_t power_on = power_ons;
    for (;;) {
        const bool reached = run->clock.step_towards(target);
        if (interrupts_due.load(std::memory_order_relaxed)) {
            deliver_interrupts();
            if (!same_run(power_on)) {
                return;
            }
        }
        if (done() || reached) {
            return;
        }
        if (target == Clock::kNever && !run->clock.anything_due()) {
            // Nothing on the board will ever come due: only another thread's call can end it.
            Interrupts &interrupts = run->interrupts;
            mutex.unlock();
            interrupts.block_until_wait_result();
            mutex.lock();
            if (!same_run(power_on)) {
                return;
            }
        }
    }
}

void Board::State::advance_to(std::uint64_t target) {
    if (target > run->clock.now()) {
        pass_time(target, [] { return false; });
    }
}

bool Board::State::wait(Call call, std::initializer_list<long long> args, std::uint64_t length_ns) {
    record(call, args);
    run->recorder.begin_wait();
    ++run->waits;
    const std::uint64_t power_on = power_ons;
    const std::uint64_t target =
        saturating_add(run->clock.now(), saturating_add(settings.costs.delay_call_ns, length_ns));
    if (nested_calls != nullptr) {
        make_nested_calls(target, power_on);
    }
    if (same_run(power_on)) {
        pass_time(target, [] { return false; });
    }
    if (same_run(power_on)) {
        run->recorder.wait_over();
    }
    return settings.real_sleep;
}

void Board::State::make_nested_calls(std::uint64_t target, std::uint64_t power_on) {
    for (auto next = nested_calls->next_time(); next && *next < target && same_run(power_on);
         next = nested_calls->next_time()) {
        pass_time(*next, [] { return false; });
        if (!same_run(power_on)) {
            return;
        }
        CallRecorder::Suspended suspended = run->recorder.suspend();
        mutex.unlock();
        nested_calls->make_next();
        mutex.lock();
        if (!same_run(power_on)) {
            return;
        }
        run->recorder.resume(std::move(suspended));
    }
}

void Board::State::deliver_interrupts() {
    const std::uint64_t power_on = power_ons;
    while (same_run(power_on)) {
        const std::shared_ptr<InterruptThread> thread = run->interrupts.next_delivery();
        if (!thread) {
            return;
        }
        CallRecorder::Suspended suspended = run->recorder.suspend();
        mutex.unlock();
        thread->run();
        mutex.lock();
        thread->busy = false;
        if (!same_run(power_on)) {
            return;
        }
        run->recorder.resume(std::move(suspended));
    }
}

void Board::State::deliver_interrupts_unlocked() {
    mutex.lock();
    deliver_interrupts();
    mutex.unlock();
}

int Board::State::isr_register(int pin, int mode, void (*callback)()) {
    CallRecord &rec = record(Call::WiringPiISR, {pin, mode});
    rec.has_result = true;
    rec.result = -1;
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    if (rec.flag == Flag::None && (mode < 1 || mode > 3)) {
        rec.flag = Flag::BadArgument;
        note(std::string("wiringPiISR(") + std::to_string(pin) + ", " + std::to_string(mode) +
             "): not an edge kind (INT_EDGE_FALLING 1, INT_EDGE_RISING 2, INT_EDGE_BOTH 3); "
             "nothing registered");
    }
    if (rec.flag != Flag::None) {
        if (settings.fidelity == Fidelity::WiringPi3) {
            end_process_as_wiringpi("wiringPi: wiringPiISR(" + std::to_string(pin) + ", " +
                                    std::to_string(mode) +
                                    ") failed: wiringPi 3.x ends the program here with status 1");
        }
        run->clock.advance(settings.costs.read_ns);
        return -1;
    }
    std::shared_ptr<InterruptThread> thread;
    try {
        thread = InterruptThread::start(callback);
    } catch (const std::system_error &error) {
        note(std::string("wiringPiISR(") + std::to_string(pin) + ", " + std::to_string(mode) +
             "): no thread for the callback: " + error.what());
        run->clock.advance(settings.costs.read_ns);
        return -1;
    }
    if (run->interrupts.add(line, static_cast<EdgeKind>(mode), std::move(thread))) {
        note("wiringPiISR(" + std::to_string(pin) + ", " + std::to_string(mode) + "): BCM " +
             std::to_string(line) + " had a callback already: the new one replaces it");
    }
    rec.result = 0;
    run->clock.advance(settings.costs.isr_setup_ns);
    return 0;
}

int Board::State::isr_stop(Call call, int pin) {
    CallRecord &rec = record(call, {pin});
    rec.has_result = true;
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    rec.result = rec.flag == Flag::None ? 0 : -1;
    if (rec.flag == Flag::None) {
        run->interrupts.remove(line);
    }
    run->clock.advance(settings.costs.read_ns);
    return static_cast<int>(rec.result);
}

int Board::State::wait_for_interrupt(int pin, int ms) {
    CallRecord &rec = record(Call::WaitForInterrupt, {pin, ms});
    rec.has_result = true;
    rec.result = kWaitNotRegistered;
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    if (rec.flag != Flag::None || !run->interrupts.registered(line)) {
        if (rec.flag == Flag::None) {
            note("waitForInterrupt(" + std::to_string(pin) + ", " + std::to_string(ms) + "): BCM " +
                 std::to_string(line) + " has no wiringPiISR registration to wait on (-2)");
        }
        run->clock.advance(settings.costs.read_ns);
        return kWaitNotRegistered;
    }
    const std::uint64_t power_on = power_ons;
    ++run->waits;
    Interrupts &interrupts = run->interrupts;
    interrupts.begin_wait(line);
    const std::uint64_t length = ms < 0
                                     ? Clock::kNever
                                     : saturating_add(settings.costs.delay_call_ns,
                                                      static_cast<std::uint64_t>(ms) * 1'000'000);
    const std::uint64_t target =
        length == Clock::kNever ? Clock::kNever : saturating_add(run->clock.now(), length);
    pass_time(target, [&] { return interrupts.wait_result() != 0; });
    if (!same_run(power_on)) {
        return kWaitTimedOut;
    }
    const int result = interrupts.wait_result();
    interrupts.end_wait();
    if (CallRecord *current = run->recorder.current()) {
        current->result = result;
    }
    return result;
}

}  // namespace vboard
