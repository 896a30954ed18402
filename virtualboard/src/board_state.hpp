// The board's implementation, shared by the control interface (board.cpp) and the wiringPi
// functions (wiringpi.cpp). Private to the library.
#ifndef VBOARD_BOARD_STATE_HPP
#define VBOARD_BOARD_STATE_HPP

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bus_monitor.hpp"
#include "vboard/board.hpp"

namespace vboard {

struct Line {
    Function function = Function::Input;
    Pull pull = Pull::Off;
    bool latch = false;
    std::optional<bool> test_drive;
    std::optional<bool> device_drive;
    bool level = false;  // cached result of State::compute_level, kept current by settle()
    std::uint64_t changed_at = 0;  // when `level` last changed
};

// The peripheral on the three-wire link (clock BCM 11, data BCM 10).
struct LinkDevice {
    LinkDeviceOptions options;
    std::deque<std::uint8_t> replies;
    std::vector<std::uint8_t> received;
    std::uint8_t rx_shift = 0;
    int rx_bits = 0;
    bool tx_active = false;  // a reply byte is being shifted out
    std::uint8_t tx_byte = 0;
    int tx_bits_taken = 0;  // rising edges seen since the reply byte was put out
};

// The newest calls, oldest first, in a ring whose records are reused once it is full, so that a
// long session logs without allocating.
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

    std::vector<CallRecord> slots_;
    std::size_t head_ = 0;  // the oldest record
    std::size_t size_ = 0;
};

// One rule on the board, and what the scheduler knows of it.
struct RuleSlot {
    Rule rule;
    bool active = true;
    std::uint64_t fired = 0;
};

// Something the scheduler will do at a moment of virtual time.
struct TimedEvent {
    enum class Kind : std::uint8_t {
        Drive,      // drive `pin` to `level`
        FireRule,   // fire rule `rule` (an At trigger)
        HeldCheck,  // fire rule `rule` if `pin` has not changed since `stamp`
    };
    std::uint64_t time = 0;
    std::uint64_t sequence = 0;  // keeps events of one moment in the order they were scheduled
    Kind kind = Kind::Drive;
    int pin = -1;
    Drive level = Drive::Release;
    std::size_t rule = 0;
    std::uint64_t stamp = 0;

    bool operator>(const TimedEvent &other) const {
        return time != other.time ? time > other.time : sequence > other.sequence;
    }
};

// The latest run of digitalRead calls on one line that all read the same level.
struct PollWatch {
    int pin = -1;
    bool level = false;
    std::uint64_t since = 0;
    std::uint64_t reads = 0;
};

// The board's lock. Every wiringPi call takes it, so it is one atomic exchange to take and a plain
// release store to let go, cheaper than a mutex on that path; a thread that finds it taken yields
// until it is free. Held only for the length of one call (never across a real sleep).
class BoardLock {
  public:
    void lock() noexcept {
        while (locked_.exchange(true, std::memory_order_acquire)) {
            while (locked_.load(std::memory_order_relaxed)) {
                std::this_thread::yield();
            }
        }
    }
    bool try_lock() noexcept {
        return !locked_.load(std::memory_order_relaxed) &&
               !locked_.exchange(true, std::memory_order_acquire);
    }
    void unlock() noexcept { locked_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> locked_{false};
};

struct VBOARD_NO_EXPORT Board::State {
    mutable BoardLock mutex;

    std::array<Line, kLineCount> lines{};
    int setup_result = 0;
    bool set_up = false;
    std::array<SpiChannelState, kSpiChannelCount> spi{};
    std::array<SpiDevice, kSpiChannelCount> spi_devices{};
    std::optional<LinkDevice> link;
    std::vector<std::string> diagnostics;

    // What SPI0 drives on SCLK, MOSI, CE0 and CE1 while they are in ALT0.
    std::array<bool, kLineCount> controller{};

    CallRing log;
    std::size_t log_capacity = 100'000;
    std::uint64_t dropped = 0;
    CallRecord unlogged;  // where calls are recorded while the log is off

    std::uint64_t now = 0;
    CallCosts costs;
    bool real_sleep = true;
    std::vector<std::shared_ptr<LineObserver>> observers;
    std::vector<std::shared_ptr<CallObserver>> call_observers;
    BusMonitor monitor;  // transactions and timing checks (bus_monitor.cpp)
    Fidelity fidelity = Fidelity::Flag;

    // The rule scheduler (rules.cpp). Rules are indexed by what triggers them, so a line change
    // or a byte with no rule watching it costs one empty-vector test.
    std::vector<RuleSlot> rules;
    std::array<std::vector<std::size_t>, kLineCount> line_rules;  // Rising, Falling, Edge, Held
    std::vector<std::size_t> link_rules;
    std::vector<std::size_t> spi_rules;  // SpiByte, SpiEnd
    std::priority_queue<TimedEvent, std::vector<TimedEvent>, std::greater<>> timeline;
    std::uint64_t next_sequence = 0;

    std::optional<std::uint64_t> time_limit;
    TimeLimitHandler time_limit_handler;
    CallRecord *current = nullptr;  // the call being made, while a wiringPi function runs
    PollWatch poll;

    // Everything below expects `mutex` to be held.
    void power_on();
    void finish_observers();

    // Moves the clock on by `ns`, running what the scheduler has due on the way and stopping at
    // the time limit. Every cost and every wait goes through here.
    void advance(std::uint64_t ns) {
        const std::uint64_t target = now + ns;
        if (time_limit || (!timeline.empty() && timeline.top().time <= target)) {
            advance_through_events(target);
        }
        now = target > now ? target : now;
    }
    void advance_through_events(std::uint64_t target);
    void run_timeline_until(std::uint64_t time);
    void reach_time_limit();
    void note(std::string text);  // raise a diagnostic
    // After each wiringPi call: tell the call observers.
    void call_done() {
        if (current != nullptr && !call_observers.empty()) {
            tell_call_observers();
        }
        current = nullptr;
    }
    void tell_call_observers();
    // Fidelity::WiringPi3: says why on standard error, finishes the observers and exits with 1.
    [[noreturn]] void end_process_as_wiringpi(const std::string &message);

    // The rule scheduler (rules.cpp).
    RuleId add_rule(const Rule &rule);
    void remove_rule(RuleId id);
    void clear_rules();
    void schedule(TimedEvent event);
    void run_event(const TimedEvent &event);
    void fire_rule(std::size_t index);
    void apply_drive(int pin, Drive level);
    void on_line_change(int pin, bool level);
    void on_link_byte(std::uint8_t byte);
    void on_spi_byte(int channel, std::uint8_t byte);
    void on_spi_end(int channel);
    void watch_held(std::size_t index);

    bool compute_level(int pin) const {
        const Line &line = lines[pin];
        if (line.function == Function::Output) {
            return line.latch;
        }
        if (line.function == Function::Alt0 && pin >= kSpiCe1 && pin <= kSpiSclk &&
            pin != kSpiMiso) {
            return controller[pin];
        }
        if (line.test_drive) {
            return *line.test_drive;
        }
        if (line.device_drive) {
            return *line.device_drive;
        }
        return line.pull == Pull::Up;
    }
    // Brings a line's level up to date and tells whoever watches it when it changed.
    void settle(int pin) {
        if (compute_level(pin) != lines[pin].level) {
            level_changed(pin);
        }
    }
    void level_changed(int pin);
    void set_function(int pin, Function function);
    void set_device_drive(int pin, std::optional<bool> level);

    // The link device's reactions to what the host does on its two lines.
    void link_clock_edge(bool rising);
    void link_data_function_changed(Function function);
    void link_put_next_reply();
    void link_stop_replying();
    bool link_enabled() const;

    CallRecord &record(Call call, std::initializer_list<long long> args) {
        CallRecord *rec = log_capacity > 0 ? &log.push(log_capacity, dropped) : &unlogged;
        rec->sent.clear();
        rec->call = call;
        rec->time_ns = now;
        rec->arg_count = static_cast<std::uint8_t>(args.size());
        for (std::size_t i = 0; i < CallRecord::kMaxArgs; ++i) {  // fixed count: no memmove
            rec->args[i] = i < args.size() ? args.begin()[i] : 0;
        }
        rec->has_result = false;
        rec->result = 0;
        rec->flag = Flag::None;
        rec->buffer = nullptr;
        current = rec;
        if (call != Call::DigitalRead && call != Call::Delay && call != Call::DelayMicroseconds) {
            poll.reads = 0;
        }
        return *rec;
    }
    Flag check_line_call(int pin);
    Flag line_call_before_setup();

    // The wiringPi operations.
    int setup_gpio();
    void pin_mode(int pin, int mode);
    void pull_up_dn_control(int pin, int pud);
    void digital_write(int pin, int value);
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

}  // namespace vboard

#endif  // VBOARD_BOARD_STATE_HPP
