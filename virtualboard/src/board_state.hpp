// SPDX-License-Identifier: MIT
// The board's core, shared by the control interface (board.cpp) and the wiringPi functions
// (wiringpi.cpp): the lines, the clock, the one list of listeners, the settings apart from the run
// state, and the wiringPi operations. The parts it is made of (the link bus, the bus monitor, the
// rule scheduler, the devices) each own their state in their own files and reach the core only
// through the Engine interface. Private to the library.
#ifndef VBOARD_BOARD_STATE_HPP
#define VBOARD_BOARD_STATE_HPP

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "board_lock.hpp"
#include "bus_monitor.hpp"
#include "call_ring.hpp"
#include "device_set.hpp"
#include "engine.hpp"
#include "frame_store.hpp"
#include "link_bus.hpp"
#include "listener_list.hpp"
#include "observers.hpp"
#include "rule_scheduler.hpp"
#include "timeline.hpp"
#include "vboard/board.hpp"

// The few steps every line operation takes, kept inline in the wiringPi functions whatever the
// compiler would decide for functions of their size.
#if defined(__GNUC__)
#define VBOARD_ALWAYS_INLINE [[gnu::always_inline]]
#else
#define VBOARD_ALWAYS_INLINE
#endif

namespace vboard {

// What the board is set to do, as opposed to what it has done: kept by reset().
struct BoardSettings {
    CallCosts costs;
    bool real_sleep = true;
    Fidelity fidelity = Fidelity::Flag;
    std::size_t log_capacity = 100'000;
    std::size_t frames_kept = 64;
    std::vector<std::pair<int, std::string>> line_names;  // in the order they were given
    FramingOptions framing;
    std::uint64_t select_lines =
        lines_mask(FramingOptions{}.selects);  // framing.selects, a bit each

    void set_framing(const FramingOptions &options) {
        framing = options;
        select_lines = lines_mask(options.selects);
    }
    static std::uint64_t lines_mask(const std::vector<int> &pins) {
        std::uint64_t mask = 0;
        for (const int pin : pins) {
            mask |= std::uint64_t{1} << pin;
        }
        return mask;
    }
};

// The latest run of digitalRead calls on one line that all read the same level.
struct PollWatch {
    int pin = -1;
    bool level = false;
    std::uint64_t since = 0;
    std::uint64_t reads = 0;
};

// Everything a run makes and a reset throws away: made afresh at power-on.
struct RunState {
    RunState(Engine &engine, const BoardSettings &settings);

    std::array<Line, kLineCount> lines{};
    std::array<bool, kLineCount> controller{};  // what SPI0 drives on its lines while in ALT0
    int setup_result = 0;
    bool set_up = false;
    std::array<SpiChannelState, kSpiChannelCount> spi{};
    std::vector<std::string> diagnostics;
    FrameStore frames;

    CallRing log;
    std::uint64_t dropped = 0;
    CallRecord unlogged;            // where calls are recorded while the log is off
    CallRecord *current = nullptr;  // the call being made, while a wiringPi function runs
    struct PendingLog {
        std::uint64_t time;
        Call kind;
        std::string text;
    };
    std::vector<PendingLog> device_logs;  // to log after `current`

    std::uint64_t now = 0;
    Timeline timeline;
    std::optional<std::uint64_t> time_limit;
    TimeLimitHandler time_limit_handler;
    PollWatch poll;

    // The listeners, told in this order: the line observers, the link bus, the bus monitor, the
    // rules, then the devices in the order they first asked for something.
    ListenerList listeners;
    Observers observers;
    LinkBus link;
    BusMonitor monitor;
    RuleScheduler rules;
    DeviceSet devices;
};

struct VBOARD_NO_EXPORT Board::State final : Engine {
    mutable BoardLock mutex;
    BoardSettings settings;
    std::optional<RunState> run;

    // Everything below expects `mutex` to be held.
    void power_on();
    // Ends the devices (unless `devices` is false), the observers and the bus monitor.
    void finish_observers(bool devices = true);

    // Engine: what the board's parts may do.
    std::uint64_t now() const override { return run->now; }
    LineView lines() const override { return LineView(run->lines, run->now); }
    void subscribe(Listener *listener, unsigned interests, LineInterest lines) override {
        run->listeners.subscribe(listener, interests, lines);
    }
    void leave(Listener *listener) override;
    void set_external_drive(int pin, std::optional<bool> level) override {
        run->lines[pin].external_drive = level;
        settle(pin);
    }
    void set_device_drive(int pin, std::optional<bool> level) override {
        run->lines[pin].device_drive = level;
        settle(pin);
    }
    void schedule(std::uint64_t time, Listener *listener, std::uint64_t what,
                  std::uint64_t detail) override {
        run->timeline.schedule(time, listener, what, detail);
    }
    void note(std::string text) override;
    bool logging() const override {
        return settings.log_capacity > 0 || run->observers.any_call_observer();
    }
    void log_text(std::string text, Call kind = Call::DeviceLog) override;
    void frame(const std::string &device, std::uint32_t width, std::uint32_t height,
               std::span<const std::uint8_t> rgb) override;
    void link_byte_received(std::uint8_t byte) override {
        run->listeners.each(kLinkBytes, [&](Listener &l) { l.link_byte(byte); });
    }

    // Moves the clock on by `ns`, running what the timeline has due on the way and stopping at
    // the time limit. Every cost and every wait goes through here.
    VBOARD_ALWAYS_INLINE void advance(std::uint64_t ns) {
        RunState &r = *run;
        const std::uint64_t target = r.now + ns;
        if (r.time_limit || (!r.timeline.empty() && r.timeline.next_time() <= target)) {
            advance_through_events(target);
        }
        r.now = target > r.now ? target : r.now;
    }
    void advance_through_events(std::uint64_t target);
    // Runs what came due at the current moment after the clock reached it (a rule a transfer's
    // end fired with no delay, say), so that a read at a moment sees everything due at it.
    void apply_due() {
        RunState &r = *run;
        if (!r.timeline.empty() && r.timeline.next_time() <= r.now) {
            run_timeline_until(r.now);
        }
    }
    void run_timeline_until(std::uint64_t time);
    void reach_time_limit();
    // After each wiringPi call: tell the call observers, then log what devices wrote meanwhile.
    void call_done() {
        RunState &r = *run;
        if (r.current != nullptr && r.observers.any_call_observer()) {
            r.observers.call(*r.current);
        }
        r.current = nullptr;
        if (!r.device_logs.empty()) {
            flush_device_logs();
        }
    }
    void flush_device_logs();
    void push_log_text(std::uint64_t time, Call kind, std::string text);
    // Fidelity::WiringPi3: says why on standard error, finishes the observers and exits with 1.
    [[noreturn]] void end_process_as_wiringpi(const std::string &message);

    VBOARD_ALWAYS_INLINE bool compute_level(int pin) const {
        const Line &line = run->lines[pin];
        if (line.function == Function::Output) {
            return line.latch;
        }
        if (line.function == Function::Alt0 && pin >= kSpiCe1 && pin <= kSpiSclk &&
            pin != kSpiMiso) {
            return run->controller[pin];
        }
        if (line.external_drive) {
            return *line.external_drive;
        }
        if (line.device_drive) {
            return *line.device_drive;
        }
        return line.pull == Pull::Up;
    }
    // Brings a line's level up to date and tells whoever listens when it changed.
    VBOARD_ALWAYS_INLINE void settle(int pin) {
        if (compute_level(pin) != run->lines[pin].level) {
            level_changed(pin);
        }
    }
    VBOARD_ALWAYS_INLINE void level_changed(int pin) {
        RunState &r = *run;
        Line &line = r.lines[pin];
        const bool level = !line.level;
        line.level = level;
        line.changed_at = r.now;
        const LineView view(r.lines, r.now);
        r.listeners.line_changed(view, pin, level);
    }
    void set_function(int pin, Function function);

    VBOARD_ALWAYS_INLINE CallRecord &record(Call call, std::initializer_list<long long> args) {
        RunState &r = *run;
        CallRecord *rec =
            settings.log_capacity > 0 ? &r.log.push(settings.log_capacity, r.dropped) : &r.unlogged;
        rec->sent.clear();
        if (!rec->text.empty()) {
            rec->text.clear();
        }
        rec->call = call;
        rec->time_ns = r.now;
        rec->arg_count = static_cast<std::uint8_t>(args.size());
        for (std::size_t i = 0; i < CallRecord::kMaxArgs; ++i) {  // fixed count: no memmove
            rec->args[i] = i < args.size() ? args.begin()[i] : 0;
        }
        rec->has_result = false;
        rec->result = 0;
        rec->flag = Flag::None;
        rec->buffer = nullptr;
        r.current = rec;
        if (call != Call::DigitalRead && call != Call::Delay && call != Call::DelayMicroseconds) {
            r.poll.reads = 0;
        }
        return *rec;
    }
    // record() for a line call on a good line, set up, that is neither logged nor seen by a call
    // observer: the record holds only what the time-limit line says of the call.
    VBOARD_ALWAYS_INLINE CallRecord &brief_record(Call call, int pin, int value) {
        RunState &r = *run;
        CallRecord &rec = r.unlogged;
        rec.call = call;
        rec.time_ns = r.now;
        rec.args = {pin, value, 0};
        rec.arg_count = 2;
        r.current = &rec;
        r.poll.reads = 0;
        return rec;
    }
    VBOARD_ALWAYS_INLINE Flag check_line_call(int pin) {
        if (!run->set_up) {
            return line_call_before_setup();
        }
        return pin >= 0 && pin < kLineCount ? Flag::None : Flag::BadPin;
    }
    Flag line_call_before_setup();

    // The wiringPi operations.
    int setup_gpio();
    void pin_mode(int pin, int mode);
    void pull_up_dn_control(int pin, int pud);
    // Inlined into the wiringPi function: the call the layer makes most.
    VBOARD_ALWAYS_INLINE void digital_write(int pin, int value) {
        RunState &r = *run;
        if (settings.log_capacity == 0 && !r.observers.any_call_observer() && r.set_up &&
            pin >= 0 && pin < kLineCount) {
            brief_record(Call::DigitalWrite, pin, value).flag = Flag::None;
        } else {
            CallRecord &rec = record(Call::DigitalWrite, {pin, value});
            rec.flag = check_line_call(pin);
            if (rec.flag != Flag::None) {
                advance(settings.costs.write_ns);
                return;
            }
        }
        r.lines[pin].latch = value != 0;
        settle(pin);
        advance(settings.costs.write_ns);
    }
    int digital_read(int pin);
    int get_alt(int pin);
    void pin_mode_alt(int pin, int code);
    int spi_setup(Call call, int channel, int speed, int mode);
    int spi_data_rw(int channel, unsigned char *data, int len);
    int spi_transfer_on_wire(int channel, unsigned char *data, int len, CallRecord &rec);
    void spi_draw_transfer(int channel, std::span<const std::uint8_t> mosi,
                           std::span<const std::uint8_t> miso, bool miso_driven);
    void spi_set_controller(int pin, bool level);
    std::uint64_t spi_bits_ns(int channel, int len) const;
    // delay and delayMicroseconds: log, move the clock; returns whether to really sleep.
    bool wait(Call call, unsigned int length, std::uint64_t length_ns);
};

// The state of current_board(), reached without going through the exported functions: what every
// wiringPi call starts with. The scoped board's state while a ScopedBoard is active, else the
// process's board's once it is made.
VBOARD_NO_EXPORT extern std::atomic<Board::State *> g_scoped_state;
VBOARD_NO_EXPORT extern std::atomic<Board::State *> g_process_state;
VBOARD_NO_EXPORT Board::State &current_state_slow();
inline Board::State &current_state() {
    if (Board::State *state = g_scoped_state.load(std::memory_order_acquire)) {
        return *state;
    }
    if (Board::State *state = g_process_state.load(std::memory_order_acquire)) {
        return *state;
    }
    return current_state_slow();
}

}  // namespace vboard

#endif  // VBOARD_BOARD_STATE_HPP
