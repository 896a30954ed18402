// SPDX-License-Identifier: MIT
// The GPIO bank.

#include "gpio_bank.hpp"

namespace vboard {
namespace {

// The pulls as the BCM2835 resets them.
Pull power_on_pull(int pin) {
    if (pin <= 8 || (pin >= 34 && pin <= 36) || pin >= 46) {
        return Pull::Up;
    }
    if (pin == 28 || pin == 29 || pin == 44 || pin == 45) {
        return Pull::Off;
    }
    return Pull::Down;
}

// The level SPI0 drives on its output lines while it is idle (mode 0): chip enables high.
bool spi_idle_level(int pin) { return pin == kSpiCe0 || pin == kSpiCe1; }

}  // namespace

void GpioBank::power_on() {
    captured_ = 0;
    for (int pin = 0; pin < kLineCount; ++pin) {
        controller_[pin] = spi_idle_level(pin);
        Line &line = lines_[pin];
        line = Line{};
        line.function = is_spi0_line(pin) ? Function::Alt0 : Function::Input;
        line.pull = power_on_pull(pin);
        line.level = compute_level(pin);
    }
}

void GpioBank::set_captured(int pin, bool level) {
    captured_ |= std::uint64_t{1} << pin;
    if (lines_[pin].function != Function::Input && lines_[pin].function != Function::Output) {
        set_function(pin, Function::Input);
    }
    lines_[pin].external_drive = level;
    settle(pin);
}

void GpioBank::set_function(int pin, Function function) {
    lines_[pin].function = function;
    settle(pin);
    const LineView lines = view();
    listeners_.each(kFunctionChanges, [&](Listener &l) { l.function_changed(lines, pin); });
}

}  // namespace vboard
