// SPDX-License-Identifier: MIT
// What the parts of the board share: a line's state, the read-only view of the lines that
// listeners get, the listener interface, and the narrow interface through which listeners act on
// the board. Private to the library. Every part below the board's core depends on this file only,
// so dependencies run one way: core -> parts -> engine.hpp.
#ifndef VBOARD_ENGINE_HPP
#define VBOARD_ENGINE_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "vboard/board.hpp"

namespace vboard {

struct Line {
    Function function = Function::Input;
    Pull pull = Pull::Off;
    bool latch = false;
    std::optional<bool> external_drive;  // a test, a rule or a device's named line
    std::optional<bool> device_drive;    // a bus device on its data line (MISO, link data)
    bool level = false;                  // kept current by the core as the inputs change
    std::uint64_t changed_at = 0;        // when `level` last changed
};

// The lines as they stand, and the board's clock, for reading only.
class LineView {
  public:
    LineView(const std::array<Line, kLineCount> &lines, std::uint64_t now)
        : lines_(&lines), now_(now) {}
    std::uint64_t now() const { return now_; }
    const Line &operator[](int pin) const { return (*lines_)[static_cast<std::size_t>(pin)]; }
    bool level(int pin) const { return (*this)[pin].level; }
    Function function(int pin) const { return (*this)[pin].function; }
    std::uint64_t changed_at(int pin) const { return (*this)[pin].changed_at; }

  private:
    const std::array<Line, kLineCount> *lines_;
    std::uint64_t now_;
};

// A hardware SPI transfer about to be drawn on the wire.
struct SpiTransferView {
    int channel = 0;
    std::uint64_t start_ns = 0;
    std::uint64_t byte_ns = 0;          // the time one byte takes on the wire
    std::span<const std::uint8_t> out;  // MOSI
    std::span<const std::uint8_t> in;   // what the host receives (empty: MISO disconnected)
};

// What a listener is told of. A listener says which of these it wants (Engine::subscribe), and
// the core calls it only for those, so a part that is idle costs the line operations nothing.
enum Interest : unsigned {
    kLineChanges = 1U << 0,      // line_changed
    kFunctionChanges = 1U << 1,  // function_changed
    kLinkBytes = 1U << 2,        // link_byte
    kSpiTransfers = 1U << 3,     // spi_transfer, spi_byte, spi_end
    kWaveChanges = 1U << 4,      // wave_changed
    kLineReads = 1U << 5,        // line_read
};
// The lines whose changes a listener is told of, a bit per line for the rising edges and one for
// the falling: all of them unless it says.
inline constexpr std::uint64_t kEveryLine = (std::uint64_t{1} << kLineCount) - 1;
struct LineInterest {
    std::uint64_t rising = kEveryLine;
    std::uint64_t falling = kEveryLine;
    bool operator==(const LineInterest &) const = default;
};
// An edge as an index, for tables by edge: the line's level after it, low or high.
inline std::size_t edge_index(int pin, bool level) {
    return 2 * static_cast<std::size_t>(pin) + (level ? 1 : 0);
}

class Listener {
  public:
    virtual ~Listener() = default;
    virtual void line_changed(const LineView &, int /*pin*/, bool /*level*/) {}
    virtual void function_changed(const LineView &, int /*pin*/) {}
    // A byte a device on the link received from the host.
    virtual void link_byte(std::uint8_t /*byte*/) {}
    virtual void spi_transfer(const LineView &, const SpiTransferView &) {}
    virtual void spi_byte(int /*channel*/, std::uint8_t /*byte*/) {}
    virtual void spi_end(int /*channel*/) {}
    // The wave a PWM or clock line carries changed.
    virtual void wave_changed(const LineWave &) {}
    // The program's digitalRead is about to read a line: what drives it may change it first.
    virtual void line_read(int /*pin*/) {}
    // Something this listener put on the timeline is due; the clock stands at its moment.
    virtual void timed(std::uint64_t /*what*/, std::uint64_t /*detail*/) {}
};

// What a part may do to the board it belongs to. Called only under the board's lock.
class Engine {
  public:
    virtual std::uint64_t now() const = 0;
    virtual LineView lines() const = 0;
    // How many waits the program has made (delay, the C library's sleeps, waitForInterrupt).
    virtual std::uint64_t waits() const = 0;
    // Says which events `listener` wants from now on (0: none), and of which lines' edges. A
    // listener joins the board's list when it first subscribes, and is told in the order of
    // joining. A change of the lines alone takes effect from the next line change on, so a
    // listener may make it while it is being told of one.
    virtual void subscribe(Listener *listener, unsigned interests, LineInterest lines = {}) = 0;
    // Takes `listener` off the list, and its events off the timeline.
    virtual void leave(Listener *listener) = 0;
    // Drives a line from outside the SoC (nullopt releases it), as Board::drive does.
    virtual void set_external_drive(int pin, std::optional<bool> level) = 0;
    // A bus device's drive of its data line (MISO or the link's data line).
    virtual void set_device_drive(int pin, std::optional<bool> level) = 0;
    // Calls listener->timed(what, detail) when the clock reaches `time` (at once if it has).
    virtual void schedule(std::uint64_t time, Listener *listener, std::uint64_t what,
                          std::uint64_t detail) = 0;
    virtual void note(std::string text) = 0;  // a diagnostic
    // Whether a line in the call log is kept or seen by anyone: when not, a part need not make it.
    virtual bool logging() const = 0;
    // A line in the call log: what a device wrote (Call::DeviceLog), or a rule firing.
    virtual void log_text(std::string text, Call kind = Call::DeviceLog) = 0;
    virtual void link_byte_received(std::uint8_t byte) = 0;  // tells the kLinkBytes listeners
    // A frame of what `device` shows: RGB pixels, row by row, copied.
    virtual void frame(const std::string &device, std::uint32_t width, std::uint32_t height,
                       std::span<const std::uint8_t> rgb) = 0;
    // What the bus monitor made of the wires, for the run's observers.
    virtual void transaction(const Transaction &transaction) = 0;
    virtual void violation(const TimingViolation &violation) = 0;
    // A PWM or clock line's wave changed: for the observers and the kWaveChanges listeners.
    virtual void wave(const LineWave &wave) = 0;

  protected:
    ~Engine() = default;
};

}  // namespace vboard

#endif  // VBOARD_ENGINE_HPP
