// SPDX-License-Identifier: MIT
// The board's core, shared by the control interface (board.cpp) and the wiringPi functions
// (wiringpi.cpp): it checks each wiringPi call, records it and hands the work to the parts that own
// the state, the GPIO bank, SPI0's controller, the clock and the call recorder, beside the link
// bus, the bus monitor, the rules and the devices. The parts reach the core only through the
// Engine interface. Private to the library.
#ifndef VBOARD_BOARD_STATE_HPP
#define VBOARD_BOARD_STATE_HPP

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "board_clock.hpp"
#include "board_lock.hpp"
#include "board_settings.hpp"
#include "bus_monitor.hpp"
#include "c_library_time.hpp"
#include "call_recorder.hpp"
#include "device_set.hpp"
#include "diagnostic_log.hpp"
#include "engine.hpp"
#include "frame_store.hpp"
#include "gpio_bank.hpp"
#include "interrupts.hpp"
#include "link_bus.hpp"
#include "listener_list.hpp"
#include "observers.hpp"
#include "pwm_clocks.hpp"
#include "rule_scheduler.hpp"
#include "spi0_controller.hpp"
#include "spi_wires.hpp"
#include "vboard/board.hpp"
#include "vboard/pin_numbering.hpp"

namespace vboard {

// Everything a run makes and a reset throws away: made afresh at power-on. The listeners are told
// in this order: the line observers, the link bus, the bus monitor, the rules, then the devices in
// the order they first asked for something.
struct RunState {
    RunState(Engine &engine, ClockOwner &owner, const BoardSettings &settings,
             ModelResolver resolve, std::atomic<bool> &interrupts_due);

    RealStart real_start = RealStart::now();  // the C library's clocks at power-on
    std::uint64_t waits = 0;                  // the program's waits so far
    int setup_result = 0;
    bool set_up = false;
    Numbering numbering = Numbering::Bcm;  // the pins' numbering, from the last set-up
    bool bcm_set_up = false;               // set_up, in BCM numbering: pins are lines
    std::optional<std::uint64_t>
        setup_ns;  // when the first set-up was called: millis() counts from it
    DiagnosticLog diagnostics;
    FrameStore frames;

    ListenerList listeners;
    Clock clock;
    GpioBank gpio;
    Observers observers;
    CallRecorder recorder;
    LinkBus link;
    BusMonitor monitor;
    RuleScheduler rules;
    DeviceSet devices;
    Spi0Controller spi;
    SpiWires spi_wires;  // a capture's SPI0 transfers
    Interrupts interrupts;
    PwmClocks pwm;
};

struct VBOARD_NO_EXPORT Board::State final : Engine, ClockOwner {
    explicit State(ModelResolver resolve) : resolve_model(resolve) {}

    mutable BoardLock mutex;
    const ModelResolver resolve_model;  // the devices' models, by name
    BoardSettings settings;
    std::optional<RunState> run;
    std::uint64_t power_ons = 0;  // tells a run from the one before, across a lock let go
    // An interrupt's edge waits for delivery: read without the lock after each call.
    std::atomic<bool> interrupts_due{false};
    // The program's C library waits and clocks follow the board's clock: a setting, read without
    // the lock by every clock read of the process.
    std::atomic<bool> c_library_time{false};

    // Everything below expects `mutex` to be held.
    void power_on();
    // Ends the devices (unless `devices` is false) and the transaction in progress, then tells
    // every observer End and takes them off.
    void finish_observers(bool devices = true);
    void add_observer(std::shared_ptr<RunObserver> observer);
    void remove_observer(const std::shared_ptr<RunObserver> &observer);

    // Engine: what the board's parts may do.
    std::uint64_t now() const override { return run->clock.now(); }
    std::uint64_t waits() const override { return run->waits; }
    LineView lines() const override { return run->gpio.view(); }
    void subscribe(Listener *listener, unsigned interests, LineInterest lines) override {
        run->listeners.subscribe(listener, interests, lines);
    }
    void leave(Listener *listener) override;
    void set_external_drive(int pin, std::optional<bool> level) override {
        run->gpio.set_external_drive(pin, level);
    }
    void set_device_drive(int pin, std::optional<bool> level) override {
        run->gpio.set_device_drive(pin, level);
    }
    void schedule(std::uint64_t time, Listener *listener, std::uint64_t what,
                  std::uint64_t detail) override {
        run->clock.schedule(time, listener, what, detail);
    }
    void note(std::string text) override;
    bool logging() const override { return run->recorder.logging(); }
    void log_text(std::string text, Call kind = Call::DeviceLog) override {
        run->recorder.log_text(kind, std::move(text));
    }
    void frame(const std::string &device, std::uint32_t width, std::uint32_t height,
               std::span<const std::uint8_t> rgb) override;
    void transaction(const Transaction &transaction) override {
        run->observers.transaction(run->clock.now(), transaction);
    }
    void violation(const TimingViolation &violation) override {
        run->observers.violation(violation);
    }
    void link_byte_received(std::uint8_t byte) override {
        run->listeners.each(kLinkBytes, [&](Listener &l) { l.link_byte(byte); });
    }
    void wave(const LineWave &wave) override;

    // ClockOwner
    bool break_loop(std::uint64_t now) override;
    std::string call_in_progress() const override;

    // After each wiringPi call: tell the call observers, then log what devices wrote meanwhile.
    VBOARD_ALWAYS_INLINE void call_done() {
        run->recorder.done(run->observers.any_call_observer());
    }
    // Fidelity::WiringPi3: says why on standard error, finishes the observers and exits with 1.
    [[noreturn]] void end_process_as_wiringpi(const std::string &message);

    // Whether a call ends a run of polling reads: any but the reads of a line or of the time and
    // the waits.
    static constexpr bool ends_polling(Call call) {
        switch (call) {
            case Call::DigitalRead:
            case Call::Delay:
            case Call::DelayMicroseconds:
            case Call::Millis:
            case Call::Micros:
            case Call::PiMicros64:
            case Call::WaitForInterrupt:
            case Call::Usleep:
            case Call::Nanosleep:
            case Call::ClockNanosleep:
            case Call::Sleep: return false;
            default: return true;
        }
    }
    VBOARD_ALWAYS_INLINE CallRecord &record(Call call, std::initializer_list<long long> args) {
        if (ends_polling(call)) {
            run->clock.note_other_call();
        }
        return run->recorder.record(call, args, run->clock.now());
    }
    // Checks a line call's pin: `line` is its BCM line when it returns Flag::None (recorded in
    // `rec` when the numbering is not BCM's).
    VBOARD_ALWAYS_INLINE Flag check_line_call(CallRecord &rec, int pin, int &line) {
        if (!run->set_up) {
            return line_call_before_setup();
        }
        if (run->numbering == Numbering::Bcm) {
            line = pin;
            return pin >= 0 && pin < kLineCount ? Flag::None : no_such_pin(pin);
        }
        line = bcm_line(run->numbering, pin);
        if (line < 0) {
            return no_such_pin(pin);
        }
        rec.line = line;
        return Flag::None;
    }
    Flag no_such_pin(int pin);
    bool spi_bus_is_spi0(CallRecord &rec, std::optional<int> bus);
    Flag line_call_before_setup();

    // The wiringPi operations.
    int setup(Call call, Numbering numbering, std::initializer_list<long long> args = {});
    int setup_gpio() { return setup(Call::WiringPiSetupGpio, Numbering::Bcm); }
    // wiringPiSetupPinType and wiringPiSetupGpioDevice: WPI_PIN_BCM (1), WPI_PIN_WPI (2) or
    // WPI_PIN_PHYS (3); another type is refused with -1.
    int setup_pin_type(Call call, int type);
    // The board-information calls: the answer, recorded as the call's result.
    int board_info(Call call, int answer);
    // millis, micros, piMicros64: the board's clock since the first set-up, in `unit_ns`.
    std::uint64_t time_since_setup(Call call, std::uint64_t unit_ns);
    void pin_mode(int pin, int mode);
    // Sets a line's function and tells the observers that watch functions; a PWM or clock line's
    // wave follows.
    VBOARD_ALWAYS_INLINE void set_line_function(int line, Function function) {
        RunState &r = *run;
        r.gpio.set_function(line, function);
        if (r.observers.watch_functions()) [[unlikely]] {
            r.observers.function_changed(r.clock.now(), line, function);
        }
        if (is_pwm_line(line) || clock_generator(line) >= 0) [[unlikely]] {
            r.pwm.refresh();
        }
    }
    void pull_up_dn_control(int pin, int pud);
    // digitalWrite, the call the layer makes most, in two steps, so that the wiringPi function
    // makes the common cases without a frame of its own. begin_write() makes the write when nobody
    // records it or sees it as a call, the board is set up, the pin is an output line, only the
    // observers hear line changes and nothing falls due before the write ends; else it says which
    // of the other functions makes it, having done nothing.
    enum class Write {
        Done,
        ToTell,    // done; the line changed: tell_line_change() tells the observers
        Brief,     // brief_write(): a call nobody records, on a line listened to or at a due time,
                   // while no interrupt is registered
        Recorded,  // recorded_write()
    };
    VBOARD_ALWAYS_INLINE Write begin_write(int pin, int value) {
        RunState &r = *run;
        if (settings.log_capacity != 0 || r.observers.any_call_observer() || !r.bcm_set_up ||
            static_cast<unsigned>(pin) >= static_cast<unsigned>(kLineCount)) {
            return Write::Recorded;
        }
        const std::uint64_t end = r.clock.now() + settings.costs.write_ns;
        if (r.listeners.hears_lines() || !r.gpio.is_output(pin) || !r.clock.nothing_due_by(end)) {
            // An edge may raise an interrupt, which a recorded write delivers after it.
            return r.interrupts.any() ? Write::Recorded : Write::Brief;
        }
        r.clock.note_other_call();
        const bool to_tell = r.gpio.set_output_latch(pin, value != 0);
        r.clock.pass_to(end);
        return to_tell ? Write::ToTell : Write::Done;
    }
    void tell_line_change(int pin) const { run->gpio.tell_observers(pin); }
    // The record holds only what the time-limit report says of the call.
    VBOARD_ALWAYS_INLINE void brief_write(int pin, int value) {
        RunState &r = *run;
        r.clock.note_other_call();
        r.recorder.brief_record(Call::DigitalWrite, pin, value, r.clock.now()).flag = Flag::None;
        r.gpio.set_latch(pin, value != 0);
        r.clock.advance(settings.costs.write_ns);
    }
    VBOARD_ALWAYS_INLINE void recorded_write(int pin, int value) {
        RunState &r = *run;
        CallRecord &rec = record(Call::DigitalWrite, {pin, value});
        int line = -1;
        rec.flag = check_line_call(rec, pin, line);
        if (rec.flag == Flag::None) {
            r.gpio.set_latch(line, value != 0);
        }
        r.clock.advance(settings.costs.write_ns);
    }
    int digital_read(int pin);
    int get_alt(int pin, Call call = Call::GetAlt);
    // digitalWriteByte and digitalReadByte: wiringPi pins 0 to 7 at once (bit 0 is wPi 0 in a
    // write, bit 7 in a read, as wiringPi orders them); refused on a Pi 5.
    void digital_write_byte(int value);
    int digital_read_byte();
    // setPadDrive and setPadDrivePin: recorded; the board has no pad strengths.
    void set_pad_drive(Call call, int first, int value);
    void pin_mode_alt(int pin, int code);
    // The SPI calls; `bus` is an SPIx call's bus number, none for the others.
    int spi_setup(Call call, std::optional<int> bus, int channel, int speed, int mode);
    int spi_data_rw(Call call, std::optional<int> bus, int channel, unsigned char *data, int len);
    int spi_get_fd(Call call, std::optional<int> bus, int channel);
    int spi_close(Call call, std::optional<int> bus, int channel);

    // ---- The PWM and the clocks (board_pwm.cpp), with wiringPi's checks.

    // pinMode's modes beyond INPUT and OUTPUT, `line` checked; a mode the line or the board does
    // not have is flagged in `rec`, with a diagnostic.
    void pin_mode_peripheral(CallRecord &rec, int line, int mode);
    void pwm_set_mode(int mode);
    void pwm_set_range(unsigned int range);
    void pwm_set_clock(int divisor);
    void pwm_write(int pin, int value);
    void pwm_tone_write(int pin, int freq);
    void gpio_clock_set(int pin, int freq);

    // ---- Waits and interrupts (board_waits.cpp). These run with the lock taken by lock() and
    // let go by unlock(), never a Guard: delivering an interrupt lets the lock go and takes it
    // again, the way another thread left it.

    // A wait of the program's (delay, delayMicroseconds, the C library's sleeps): logs the call,
    // moves the clock on by the wait's cost and `length_ns`, delivering interrupts at the moments
    // their edges come. Returns whether to really sleep as well.
    bool wait(Call call, std::initializer_list<long long> args, std::uint64_t length_ns);
    // wiringPiISR, wiringPiISRStop, waitForInterrupt, waitForInterruptClose, with wiringPi's
    // results. `callback` may be null.
    int isr_register(int pin, int mode, void (*callback)());
    int isr_stop(Call call, int pin);
    int wait_for_interrupt(int pin, int ms);
    // Runs the callbacks of the edges waiting for delivery, in the order of their edges, each on
    // its registration's thread, the lock let go meanwhile; the call in progress is set aside.
    void deliver_interrupts();
    // deliver_interrupts() for a caller without the lock: after a call.
    void deliver_interrupts_unlocked();

    // Moves the clock on to `target` as a wait does, outside any call (a replay's next call).
    void advance_to(std::uint64_t target);
    // A replay's calls that the recording has inside a wait (an interrupt's callback's): a wait
    // made while it is set lets the lock go at each of their times and makes them, as it runs a
    // callback. Set by the replaying thread for the replay; only that thread waits meanwhile.
    struct NestedCalls {
        virtual ~NestedCalls() = default;
        virtual std::optional<std::uint64_t> next_time() = 0;  // the next call's; none: no more
        virtual void make_next() = 0;
    };
    NestedCalls *nested_calls = nullptr;

    // A capture of the wires (vboard/capture.hpp) drives the lines from now on: the link and the
    // bus monitor read them as wires, and SPI0's transfers behind a chip enable with a device on
    // its bus are decoded from the edges.
    void watch_capture();
    // What the capture shows on a line from now on.
    void set_captured(int pin, bool level) { run->gpio.set_captured(pin, level); }

  private:
    // Moves the clock on to `target`, one moment at a time while interrupts are registered;
    // returns early once `done` is, or the run was reset meanwhile.
    template <typename Done>
    void pass_time(std::uint64_t target, Done done);
    void make_nested_calls(std::uint64_t target, std::uint64_t power_on);
    // Whether the run is the one that was `power_ons` and still has one.
    bool same_run(std::uint64_t power_on) const { return run && power_ons == power_on; }
};

// The state of current_board(), reached without going through the exported functions: what every
// wiringPi call starts with. The scoped board's state while a ScopedBoard is active, else the
// process's board's once it is made (null until then).
VBOARD_NO_EXPORT extern std::atomic<Board::State *> g_current_state;
VBOARD_NO_EXPORT Board::State &current_state_slow();
inline Board::State &current_state() {
    if (Board::State *state = g_current_state.load(std::memory_order_acquire)) {
        return *state;
    }
    return current_state_slow();
}

}  // namespace vboard

#endif  // VBOARD_BOARD_STATE_HPP
