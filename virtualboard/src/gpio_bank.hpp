// SPDX-License-Identifier: MIT
// The GPIO bank: each line's function, pull, output latch and the drives from outside, the level
// they settle to, what the SoC's peripherals (SPI0, the PWM, the clocks) drive on their lines while
// the lines are in the peripheral's function, and the power-on state. A
// change of level is told to the listeners at the clock's time. Private to the library.
#ifndef VBOARD_GPIO_BANK_HPP
#define VBOARD_GPIO_BANK_HPP

#include <array>
#include <optional>

#include "board_clock.hpp"
#include "engine.hpp"
#include "listener_list.hpp"

namespace vboard {

class GpioBank {
  public:
    GpioBank(const Clock &clock, ListenerList &listeners) : clock_(clock), listeners_(listeners) {}

    // Every line as a Pi with SPI0 enabled comes up (see vboard/board.hpp).
    void power_on();

    const Line &line(int pin) const { return lines_[pin]; }
    bool level(int pin) const { return lines_[pin].level; }
    LineView view() const { return LineView(lines_, clock_.now()); }

    VBOARD_ALWAYS_INLINE void set_latch(int pin, bool level) {
        lines_[pin].latch = level;
        settle(pin);
    }
    bool is_output(int pin) const { return lines_[pin].function == Function::Output; }
    // set_latch() for an output line while no listener but the observers hears line changes
    // (ListenerList::hears_lines() is false). Returns whether the level changed with observers
    // to tell: tell_observers() then tells them.
    VBOARD_ALWAYS_INLINE bool set_output_latch(int pin, bool level) {
        Line &line = lines_[pin];
        line.latch = level;
        if (line.level == level) {
            return false;
        }
        line.level = level;
        line.changed_at = clock_.now();
        return listeners_.observed();
    }
    // Tells the observers the line's last change, at the moment it changed.
    void tell_observers(int pin) const {
        listeners_.tell_observers(lines_[pin].changed_at, pin, lines_[pin].level);
    }
    void set_pull(int pin, Pull pull) {
        lines_[pin].pull = pull;
        settle(pin);
    }
    // Tells the kFunctionChanges listeners after the level has settled.
    void set_function(int pin, Function function);
    // A test's, a rule's or a device's named line (nullopt releases it); nothing on a line a
    // capture drives.
    void set_external_drive(int pin, std::optional<bool> level) {
        if (((captured_ >> pin) & 1U) != 0) {
            return;
        }
        lines_[pin].external_drive = level;
        settle(pin);
    }
    // A bus device on its data line (MISO, the link's data line).
    void set_device_drive(int pin, std::optional<bool> level) {
        lines_[pin].device_drive = level;
        settle(pin);
    }
    // The level a capture of the wires shows on a line, from now on above the drives of the
    // rules and devices: the line is taken from its peripheral, if it was in one, and its external
    // drive is the capture's alone.
    void set_captured(int pin, bool level);
    // What a peripheral drives on one of its lines; seen while the line is in the peripheral's
    // function (peripheral_function()).
    VBOARD_ALWAYS_INLINE void set_controller(int pin, bool level) {
        controller_[pin] = level;
        settle(pin);
    }

  private:
    VBOARD_ALWAYS_INLINE bool compute_level(int pin) const {
        const Line &line = lines_[pin];
        if (line.function == Function::Output) {
            return line.latch;
        }
        if (line.function != Function::Input && line.function == kPeripheral[pin]) {
            return controller_[pin];
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
        if (compute_level(pin) != lines_[pin].level) {
            level_changed(pin);
        }
    }
    VBOARD_ALWAYS_INLINE void level_changed(int pin) {
        Line &line = lines_[pin];
        const bool level = !line.level;
        line.level = level;
        line.changed_at = clock_.now();
        listeners_.line_changed(view(), pin, level);
    }

    static constexpr std::array<Function, kLineCount> kPeripheral = [] {
        std::array<Function, kLineCount> functions{};
        for (int pin = 0; pin < kLineCount; ++pin) {
            functions[pin] = peripheral_function(pin);
        }
        return functions;
    }();

    const Clock &clock_;
    ListenerList &listeners_;
    std::array<Line, kLineCount> lines_{};
    std::array<bool, kLineCount> controller_{};
    std::uint64_t captured_ = 0;  // the lines a capture drives, a bit each
};

}  // namespace vboard

#endif  // VBOARD_GPIO_BANK_HPP
