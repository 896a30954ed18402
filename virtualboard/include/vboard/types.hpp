// SPDX-License-Identifier: MIT
// The board's basic facts, each written once: its lines, SPI0's lines and channels, the line
// functions and pulls, the buses, and their names.
#ifndef VBOARD_TYPES_HPP
#define VBOARD_TYPES_HPP

#include <cstdint>
#include <optional>

#include "vboard/export.h"

namespace vboard {

inline constexpr int kLineCount = 54;  // BCM lines 0 to 53
inline constexpr std::uint64_t kNsPerSecond = 1'000'000'000;

// SPI0's lines.
inline constexpr int kSpiCe1 = 7;
inline constexpr int kSpiCe0 = 8;
inline constexpr int kSpiMiso = 9;
inline constexpr int kSpiMosi = 10;
inline constexpr int kSpiSclk = 11;
inline constexpr int kSpiChannelCount = 2;  // channel 0 behind CE0, channel 1 behind CE1
inline constexpr int kSpiMaxTransfer = 4096;

// The three-wire link the layer bit-bangs on SPI0's clock and data lines.
inline constexpr int kLinkClock = kSpiSclk;
inline constexpr int kLinkData = kSpiMosi;

constexpr bool is_spi0_line(int pin) { return pin >= kSpiCe1 && pin <= kSpiSclk; }

enum class Function : std::uint8_t { Input, Output, Alt0, Alt1, Alt2, Alt3, Alt4, Alt5 };
enum class Pull : std::uint8_t { Off, Down, Up };

// Where a device sits and where a transaction was seen.
enum class Bus : std::uint8_t { Link, Spi0, Spi1 };

// An SPI0 channel's bus and chip-enable line.
constexpr Bus spi_bus(int channel) { return channel == 0 ? Bus::Spi0 : Bus::Spi1; }
constexpr int spi_chip_enable(int channel) { return channel == 0 ? kSpiCe0 : kSpiCe1; }
// The channel of an SPI bus; -1 for the link.
constexpr int spi_channel(Bus bus) { return bus == Bus::Spi0 ? 0 : bus == Bus::Spi1 ? 1 : -1; }

// The PWM's lines: channel 0 on BCM 12 and 40 (ALT0) and 18 (ALT5), channel 1 on 13, 41 and 45
// (ALT0) and 19 (ALT5).
constexpr bool is_pwm_line(int pin) {
    return pin == 12 || pin == 13 || pin == 18 || pin == 19 || pin == 40 || pin == 41 || pin == 45;
}
constexpr int pwm_channel(int pin) { return pin == 12 || pin == 18 || pin == 40 ? 0 : 1; }
// The general-purpose clock that drives `pin` in its clock function: GPCLK0 on BCM 4, 32, 34
// (ALT0) and 20 (ALT5), GPCLK1 on 5, 42, 44 (ALT0) and 21 (ALT5), GPCLK2 on 6 and 43 (ALT0); -1
// for a line with none.
constexpr int clock_generator(int pin) {
    switch (pin) {
        case 4:
        case 20:
        case 32:
        case 34: return 0;
        case 5:
        case 21:
        case 42:
        case 44: return 1;
        case 6:
        case 43: return 2;
        default: return -1;
    }
}
// The function in which one of the SoC's peripherals drives `pin`: SPI0 in ALT0 on its CE1, CE0,
// MOSI and SCLK (MISO is its input), the PWM and the clocks as above; Function::Input for a line
// that no modelled peripheral drives.
constexpr Function peripheral_function(int pin) {
    if ((is_spi0_line(pin) && pin != kSpiMiso) || pin == 12 || pin == 13 || pin == 40 ||
        pin == 41 || pin == 45 || (clock_generator(pin) >= 0 && pin != 20 && pin != 21)) {
        return Function::Alt0;
    }
    if (pin == 18 || pin == 19 || pin == 20 || pin == 21) {
        return Function::Alt5;
    }
    return Function::Input;
}

VBOARD_EXPORT const char *to_string(Function function);  // "INPUT", "OUTPUT", "ALT0" ...
VBOARD_EXPORT const char *to_string(Pull pull);          // "off", "down", "up"
VBOARD_EXPORT const char *to_string(Bus bus);            // "link", "spi0", "spi1"

// The function that pinModeAlt's code selects (the BCM2835's function-select bits: 0 input,
// 1 output, 4 ALT0 ... 7 ALT3, 3 ALT4, 2 ALT5), or nothing for another code.
VBOARD_EXPORT std::optional<Function> function_from_alt_code(int code);
// The code that selects `function`, as wiringPi's getAlt returns it.
VBOARD_EXPORT int alt_code(Function function);

}  // namespace vboard

#endif  // VBOARD_TYPES_HPP
