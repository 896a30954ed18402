// SPDX-License-Identifier: MIT
// The virtual board's control interface: a simulated Raspberry Pi GPIO bank and SPI0 controller
// that the wiringPi functions of <wiringPi.h> and <wiringPiSPI.h> act on.
//
// Tests and tools use this interface to set a board up, drive inputs, read what the code under
// test drove, attach simulated peripherals and read the call log. The code under test uses only
// the wiringPi functions, unchanged.
//
// Electrical model, per BCM line 0 to 53:
//   function   input, output or one of ALT0 to ALT5
//   pull       off, up or down
//   latch      the output latch, set by digitalWrite whatever the function
//   drive      an external level, set by a test (drive/release) or a simulated peripheral
// The level of a line is, in order of precedence:
//   output                         its latch
//   SPI0 line in ALT0 (BCM 7-11)   what the controller drives: idle, CE0/CE1 high, SCLK at the
//                                  opened mode's clock polarity, MOSI low; during a transfer its
//                                  chip enable, clock and data bits. MISO (BCM 9) reads like an
//                                  input: a transfer's device drives it
//   anything else (input, other    the external drive if any (a test's drive wins over a
//   alternate functions)           peripheral's), else the pull: up 1, down 0, off (floating) 0
//
// Power-on state (also what reset() restores), that of a Pi with SPI0 enabled: BCM 7 to 11 in
// ALT0, every other line an input; latches low; pulls as the BCM2835 resets them: up for 0-8 and
// 34-36 and 46-53, down for 9-27, 30-33 and 37-43, off for 28-29 and 44-45. Not set up (the set-up
// result is 0, so the first wiringPiSetupGpio succeeds), no SPI channel open, no peripheral, an
// empty log.
//
// Virtual time: every wiringPi call moves the board's clock by its cost (CallCosts), and line
// changes are reported with that time to the run's observers (vboard/run_observer.hpp; see
// vboard/trace.hpp for a VCD writer and a text timing view). A transfer on SPI0 with SCLK, MOSI and
// its chip enable in ALT0 draws its edges on those lines at the channel's speed, so hardware and
// bit-banged traffic share one time line.
//
// Which board the wiringPi functions act on: the process-wide default_board(), unless a
// ScopedBoard has put another one in its place.
//
// Peripherals: devices on the link and on SPI0's chip enables, each an instance of a device model
// (vboard/device.h in C, vboard/device.hpp from C++), attached with attach_device and reached
// through a Device handle.
//
// Settings and run state: the costs, the sleep mode, the fidelity, the log's capacity and the
// framing are settings, which reset() keeps; everything else (lines, clock, log, devices, rules,
// checks, observers, time limit) belongs to the run, which reset() ends and starts afresh.
//
// Order at one moment: a line change is told to the run's observers, then the link's devices, then
// the transaction monitor and the timing checks, then the rules, then the devices that watch the
// line, in the order they asked to.
//
// Thread safety: every member function of Board, and every wiringPi function, is safe to call from
// any thread; each runs atomically under the board's lock. Peripheral callbacks run under that lock
// and must not call back into the board.
#ifndef VBOARD_BOARD_HPP
#define VBOARD_BOARD_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vboard/device.hpp"
#include "vboard/export.h"
#include "vboard/frames.hpp"
#include "vboard/pi_model.hpp"
#include "vboard/rules.hpp"
#include "vboard/run_observer.hpp"
#include "vboard/transactions.hpp"
#include "vboard/types.hpp"

namespace vboard {

// The wiringPi function a log entry records.
enum class Call : std::uint8_t {
    WiringPiSetupGpio,
    PinMode,
    PullUpDnControl,
    DigitalWrite,
    DigitalRead,
    PinModeAlt,
    Delay,
    DelayMicroseconds,
    SpiSetup,
    SpiSetupMode,
    SpiDataRW,
    GetAlt,
    DeviceLog,  // not a call: a line a device model wrote to the log (`text`)
    RuleFired,  // not a call: a rule fired (`text`: "rule 0 \"busy\" fires: drives BCM24 ...")
    WiringPiSetup,
    WiringPiSetupPhys,
    WiringPiSetupSys,
    WiringPiSetupPinType,
    WiringPiSetupGpioDevice,
    Millis,
    Micros,
    PiMicros64,
    SpiGetFd,
    SpiClose,
    SpiXSetup,
    SpiXSetupMode,
    SpiXDataRW,
    SpiXGetFd,
    SpiXClose,
    PiBoardId,
    PiGpioLayout,
    PiBoardRev,
    PiBoard40Pin,
    PiRP1Model,
    WiringPiVersion,
    WiringPiGlobalMemoryAccess,
    WiringPiUserLevelAccess,
    GetPinModeAlt,
    DigitalWriteByte,
    DigitalReadByte,
    SetPadDrive,
    SetPadDrivePin,
    WiringPiISR,
    WiringPiISRStop,
    WaitForInterrupt,
    WaitForInterruptClose,
    PwmWrite,
    PwmSetMode,
    PwmSetRange,
    PwmSetClock,
    PwmToneWrite,
    GpioClockSet,
    Usleep,  // the C library's waits and clocks, taken by the board (Board::set_c_library_time)
    Nanosleep,
    ClockNanosleep,
    Sleep,
};

// Why a call did not do what it asked. Codes are never reused.
enum class Flag : std::uint8_t {
    None,         // done as asked
    NotSetUp,     // a line call before a successful wiringPiSetupGpio: nothing touched
    BadPin,       // pin outside 0-53: nothing touched
    BadArgument,  // mode, pull, function code, speed or length out of range: nothing touched
    BadChannel,   // SPI channel other than 0 or 1: -22
    NotOpen,      // transfer on a channel never opened: -9
    NullBuffer,   // transfer with a null buffer: -14
    TooLong,      // transfer over 4096 bytes: -90
    NotAlt0,      // transfer with an SPI0 line not in ALT0: nothing reached the wire
    BadBus,       // an SPIx call on a bus other than 0 (SPI0): -22
    NotOnModel,   // a call the board's Pi model does not have (digitalWriteByte on a Pi 5)
    NotPwm,       // a PWM or clock call on a line that has no such function: nothing touched
};

VBOARD_EXPORT const char *to_string(Call call);
VBOARD_EXPORT const char *to_string(Flag flag);

// One wiringPi call as the board saw it.
struct VBOARD_EXPORT CallRecord {
    static constexpr std::size_t kMaxArgs = 4;

    Call call{};
    std::uint64_t time_ns = 0;               // the board's clock when the call started
    std::array<long long, kMaxArgs> args{};  // the arguments as passed, buffers left out
    std::uint8_t arg_count = 0;
    bool has_result = false;  // void functions have no result
    long long result = 0;
    Flag flag = Flag::None;
    std::vector<std::uint8_t> sent;  // wiringPiSPI(x)DataRW: the bytes in the buffer before it ran
    const void *buffer = nullptr;    // wiringPiSPI(x)DataRW: the buffer address passed
    std::string text;  // Call::DeviceLog: "DEVICE: what it wrote"; Call::RuleFired: the rule
    int line = -1;     // the BCM line a pin in wiringPi or physical numbering reached; -1: none
    // wiringPiSPI(x)DataRW: the bytes the buffer held after it ran, what the controller received
    std::vector<std::uint8_t> received;

    // "digitalWrite(11, 1)", "digitalRead(10) = 1", "wiringPiSPIDataRW(0, [3c], 1) = 1",
    // "digitalWrite(0, 1) -> BCM 17" for a pin in another numbering than BCM, with " [BadPin]"
    // appended when flagged; a device's log line as it wrote it.
    std::string to_string() const;
};

// A snapshot of one line.
struct LineState {
    Function function = Function::Input;
    Pull pull = Pull::Off;
    bool latch = false;
    bool driven = false;       // something outside the SoC drives the line (test or peripheral)
    bool drive_level = false;  // the level it drives, when driven
    bool level = false;        // what digitalRead would return (see the model above)
};

// A square wave the SoC makes on a line: the PWM's (pwmWrite) or a general-purpose clock's
// (gpioClockSet), as the board's Pi model makes it from its clock, divisor, range and value.
struct VBOARD_EXPORT LineWave {
    enum class Source : std::uint8_t { Pwm, Clock };
    int pin = -1;
    Source source = Source::Pwm;
    int unit = 0;           // the PWM channel (0 or 1), the clock generator (0 to 2)
    bool balanced = false;  // the PWM in balanced mode: its high ticks spread over the range
    // The PWM's range of ticks (a mark-space period), a clock's cycle; 0 when the line carries
    // no wave (not in its function, the PWM not started, a value of 0 or the whole range).
    double period_ns = 0;
    double duty = 0;  // the share of the time the line is high, 0 to 1
    bool operator==(const LineWave &) const = default;
    // "BCM18 PWM0 mark-space: 585.94 Hz (1.7067 ms), duty 50.0 %", "BCM4 GPCLK0: 1 MHz
    // (1 us), duty 50.0 %", "BCM18 PWM0 balanced: none, duty 100.0 %".
    std::string to_string() const;
};

// A simulated device on one SPI0 chip enable. It sees the bytes sent in one transfer and returns
// the bytes it answers; a short answer is padded with what the idle MISO line reads, extra bytes
// are ignored. Runs under the board's lock; it must not call into the board, and it must not throw
// (an exception would leave wiringPiSPIDataRW with the transfer half done).
using SpiDevice = std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t> sent)>;

// How far each wiringPi call moves the board's clock, in nanoseconds. The defaults are near a
// Raspberry Pi 4 running wiringPi. delay and delayMicroseconds add their own length on top, and an
// SPI transfer adds 8 bits per byte at the channel's speed (rounded up to whole nanoseconds per
// bit) after its `spi_transfer` overhead.
struct CallCosts {
    std::uint64_t setup_ns = 1'000'000;     // wiringPiSetupGpio: maps the GPIO registers
    std::uint64_t pin_mode_ns = 50;         // pinMode, pinModeAlt
    std::uint64_t pull_ns = 150;            // pullUpDnControl
    std::uint64_t write_ns = 20;            // digitalWrite
    std::uint64_t read_ns = 40;             // digitalRead
    std::uint64_t delay_call_ns = 100;      // delay, delayMicroseconds, before their length
    std::uint64_t spi_setup_ns = 50'000;    // wiringPiSPISetup(Mode): open and configure spidev
    std::uint64_t spi_transfer_ns = 5'000;  // wiringPiSPIDataRW: the ioctl, before the bits
    // wiringPiISR: wiringPi 3.14 sleeps a second while it opens the line for edges.
    std::uint64_t isr_setup_ns = 1'000'000'000;
    // A read of the C library's clocks (clock_gettime, gettimeofday, time) under the board.
    std::uint64_t clock_read_ns = 50;
};

// The wiringPi version the board's functions follow, as wiringPiVersion answers it.
inline constexpr int kWiringPiMajor = 3;
inline constexpr int kWiringPiMinor = 14;

// What the board does where wiringPi 3.x on a Pi ends the program.
enum class Fidelity : std::uint8_t {
    // Flag the call in the log and go on (the default), so a caller's failure path can be tested.
    Flag,
    // As wiringPi 3.x: a failed wiringPiSetupGpio, and pinMode, pinModeAlt or pullUpDnControl
    // before any set-up, print a line naming the call on standard error, finish the observers and
    // end the process with status 1; digitalWrite and digitalRead before set-up print a line and
    // do nothing (digitalRead returns LOW); wiringPiSPIDataRW on a channel never opened prints a
    // line and returns -9 (-EBADF).
    WiringPi3,
};

// The link device's answering condition: it puts reply bytes on the data line only while
// `enable_pin` has been at `enable_level` for at least `enable_hold_ns` (-1: it always answers).
// A reply it holds back stays queued.
struct LinkDeviceOptions {
    int enable_pin = -1;
    bool enable_level = true;
    std::uint64_t enable_hold_ns = 0;
};

// What the program was doing when the board's clock reached its time limit.
struct VBOARD_EXPORT TimeLimitReport {
    std::uint64_t limit_ns = 0;
    std::string call;  // the call in progress, as CallRecord::to_string() gives it, result left out
    // Set when the latest calls were digitalRead of one line, with only waits between them, all
    // reading the same level: that line, its level and since when it read so.
    bool polling = false;
    int poll_pin = -1;
    bool poll_level = false;
    std::uint64_t poll_since_ns = 0;
    std::uint64_t poll_reads = 0;

    // "simulated time limit of 50 ms reached in delay(1); the program was polling BCM 24 with
    // digitalRead, low since 1.05 ms (49 reads)"
    std::string to_string() const;
};

// Called once, under the board's lock, when the clock reaches the time limit. The board's clock
// stands at the limit; if the handler returns, the call goes on and the clock moves past it.
using TimeLimitHandler = std::function<void(const TimeLimitReport &)>;

// The state of one SPI channel.
struct SpiChannelState {
    bool open = false;
    int speed_hz = 0;
    int mode = 0;
};

class VBOARD_EXPORT Board {
  public:
    Board();  // a board in its power-on state
    ~Board();
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    // Back to the power-on state: lines, set-up state and result, SPI channels, peripherals, log
    // and diagnostics.
    void reset();

    // The result the next wiringPiSetupGpio calls return. Negative means failure.
    void set_setup_result(int result);
    bool is_set_up() const;

    // Drive a line from outside, as a jumper or a signal generator would; release lets it float
    // back to its pull. A line that the SoC drives (an output) keeps its latch level.
    // Pins outside 0-53 throw std::out_of_range, as do all the per-line functions below.
    void drive(int pin, bool level);
    void release(int pin);

    LineState line(int pin) const;
    Function function(int pin) const;
    Pull pull(int pin) const;
    bool level(int pin) const;

    SpiChannelState spi_channel(int channel) const;  // throws std::out_of_range off 0-1

    // Devices (see vboard/device.hpp). attach_device makes one from its model and replaces the
    // device on the same bus behind the same select line; it throws DeviceError when the model
    // cannot be found or loaded or refuses the parameters (the board is as it was then), and
    // std::out_of_range for a line off 0-53. reset() detaches every device. device() finds one by
    // name (std::out_of_range when there is none).
    Device attach_device(const DeviceConfig &config);
    void detach_device(const Device &device);
    Device device(const std::string &name);

    // A C++ function on an SPI0 chip enable: the channel's device, replaced by attaching another.
    // A null function detaches the chip enable's device.
    void attach_spi_device(int channel, SpiDevice device);
    void detach_spi_device(int channel);

    // The device on the three-wire link of BCM 11 (clock) and BCM 10 (data). While the host
    // drives the data line, it samples it on each rising clock edge, most significant bit first,
    // and collects whole bytes. When the host turns the data line to input it puts the top bit of
    // its next queued reply byte on the line, and each later bit after a falling clock edge; with
    // nothing queued it does not drive. Attaching gives a fresh device. The link device is the
    // device named "link": a "replies" device (see vboard/device.hpp) that a board file's [link]
    // section makes too. link_device() is its handle (std::out_of_range without one), and the
    // functions below forward to it.
    void attach_link_device(const LinkDeviceOptions &options = {});
    Device link_device();
    void detach_link_device();
    bool has_link_device() const;
    void queue_link_reply(std::span<const std::uint8_t> bytes);
    std::size_t link_replies_pending() const;
    std::vector<std::uint8_t> link_bytes_received() const;

    // The wiringPi calls in order, oldest first. The log keeps the newest `capacity` calls
    // (100000 by default; 0 turns it off) and counts the ones it let go.
    std::vector<CallRecord> calls() const;
    std::size_t call_count() const;
    std::uint64_t calls_dropped() const;
    void clear_calls();  // also zeroes the dropped count
    void set_log_capacity(std::size_t capacity);
    std::size_t log_capacity() const;

    // The names a run gives its lines ("DEV_SCLK_PIN", "BUSY"), shown beside the BCM number in the
    // HTML report's waveform and header view; a setting, kept by reset(). None by default: the
    // board knows lines by number only. An empty name takes a line's name away. Throws
    // std::out_of_range for a line off 0-53.
    void set_line_name(int pin, std::string name);
    std::string line_name(int pin) const;
    std::vector<std::pair<int, std::string>> line_names() const;  // in the order they were given

    // Virtual time. The clock starts at 0 at power-on and moves only as calls are made; reset()
    // leaves the costs and the sleep mode as they are and sets the clock back to 0.
    std::uint64_t now_ns() const;
    CallCosts costs() const;
    void set_costs(const CallCosts &costs);
    // Whether the PWM's and the clocks' waves are drawn on their lines, edge by edge, in virtual
    // time (so the VCD, the rules and the devices see them): off by default, when such a line
    // holds high at a duty of 1 and low otherwise. A setting, kept by reset().
    void set_pwm_waveform(bool draw);
    bool pwm_waveform() const;
    // The wave `pin` carries now; none for a line with neither PWM nor clock. Throws
    // std::out_of_range for a line off 0-53.
    std::optional<LineWave> wave(int pin) const;

    // true (the default): delay and delayMicroseconds also sleep the calling thread for their
    // length. false: they only move the clock, so long simulated sessions run fast.
    void set_real_sleep(bool real_sleep);
    bool real_sleep() const;
    // true: the program's C library waits (usleep, nanosleep, clock_nanosleep, sleep, and
    // std::this_thread::sleep_for through them) move the board's clock as delay does, and its
    // clocks (clock_gettime's monotonic, boot-time and real-time clocks, gettimeofday, time, and
    // std::chrono's clocks through them) read it: the real-time clocks from the real time at
    // power-on, the others from their reading then. Each wait is a call in the log; a read is
    // not, and costs CallCosts::clock_read_ns. Takes effect where the board's library comes before
    // the C library in the process (a program linked with it as its wiringPi; `vboard run` preloads
    // it). false (the default for a board made here; the start-up from the environment turns it
    // on unless the board file says otherwise): the C library's own. A setting, kept by reset().
    void set_c_library_time(bool on);
    bool c_library_time() const;

    // Observers of the run (see vboard/run_observer.hpp): the one way to watch it. An observer
    // added is told Start at once; removing it, reset(), flush_outputs() and the board's
    // destruction tell it End. The board shares ownership; removing one it does not hold does
    // nothing.
    void add_observer(std::shared_ptr<RunObserver> observer);
    void remove_observer(const std::shared_ptr<RunObserver> &observer);

    // Frames (see vboard/frames.hpp): what display devices showed, the latest frames_kept() of
    // them (64 by default; kept by reset(), which clears the frames) in the order shown.
    std::vector<Frame> frames() const;
    void set_frames_kept(std::size_t count);
    std::size_t frames_kept() const;

    // Ends every observer with End and removes them, so that their files are complete; for the end
    // of a run, however the program ends.
    void flush_outputs();

    // Rules (see vboard/rules.hpp). add_rule throws std::out_of_range for a pin off 0-53 or a
    // channel other than -1, 0 and 1. A rule added with a Held trigger whose line is already at its
    // level counts the stretch from the line's last change. reset() removes every rule.
    RuleId add_rule(const Rule &rule);
    void remove_rule(RuleId id);
    std::uint64_t rule_fired(RuleId id) const;  // times the rule has fired; 0 for an unknown id

    // Transactions (see vboard/transactions.hpp). set_framing throws std::out_of_range for a line
    // off 0-53 and std::invalid_argument for more than kMaxSideLines side lines or a side line
    // without a name; it applies from the next byte. Framing is kept by reset().
    void set_framing(const FramingOptions &framing);
    FramingOptions framing() const;
    // The board decodes the buses only while an observer watches transactions
    // (kWatchTransactions) or a timing check is set.

    // Timing checks: add_timing_check returns the check's index and throws std::out_of_range for a
    // line off 0-53 (a ClockRate check needs a limit above 0: std::invalid_argument). reset()
    // removes every check. violations() holds the first kViolationsKeptPerCheck of each check, in
    // time order; violation_counts() all of them, per check.
    std::size_t add_timing_check(const TimingCheck &check);
    std::vector<TimingViolation> violations() const;
    std::vector<std::uint64_t> violation_counts() const;

    // Where wiringPi 3.x would end the program (see Fidelity). Kept by reset().
    void set_fidelity(Fidelity fidelity);
    Fidelity fidelity() const;
    // The Pi the board is, as wiringPi's board-information calls answer (piBoardId, ...): a Pi
    // 4 Model B unless set. reset() keeps it.
    void set_model(PiModel model);
    PiModel model() const;

    // Calls `handler` once when the clock reaches `limit_ns` (on the way through a call's cost or a
    // delay, the clock stops at the limit first). Replaces any earlier limit; reset() clears it.
    void set_time_limit(std::uint64_t limit_ns, TimeLimitHandler handler);
    void clear_time_limit();

    // Readable notes about misuse the board noticed, oldest first (a transfer with an SPI0 line
    // not in ALT0, for one). Each distinct text is told once, where it first happens; the
    // repeats are counted, and the end of the run (flush_outputs(), reset(), the board's end)
    // adds "TEXT … and N more like it" for each text that came again. clear_diagnostics()
    // forgets them all: the next of each is a first again.
    std::vector<std::string> diagnostics() const;
    void clear_diagnostics();

    struct State;  // the implementation, private to the library

  private:
    friend class BoardAccess;  // the library's own handles and start-up, by named functions
    std::unique_ptr<State> state_;
};

// The board the wiringPi functions act on when no ScopedBoard is active. Lives for the process.
VBOARD_EXPORT Board &default_board();

// The board the wiringPi functions act on now.
VBOARD_EXPORT Board &current_board();

// Makes `board` the one the wiringPi functions act on, for this object's lifetime, and restores
// the previous one after. Not for use while another thread is inside a wiringPi call.
class VBOARD_EXPORT ScopedBoard {
  public:
    explicit ScopedBoard(Board &board);
    ~ScopedBoard();
    ScopedBoard(const ScopedBoard &) = delete;
    ScopedBoard &operator=(const ScopedBoard &) = delete;

  private:
    Board *previous_;
};

}  // namespace vboard

#endif  // VBOARD_BOARD_HPP
