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
