// SPDX-License-Identifier: MIT
// Ready-made SPI peripheral models, to attach with Board::attach_spi_device.
//
// Each model is a copyable SpiDevice; copies share the model's state, so a test keeps a handle to
// read what the code under test did to it. Like every SpiDevice they run under the board's lock,
// one transfer at a time. The handles' own accessors (RegisterFile::value and set_value) are safe
// to call from any thread.
#ifndef VBOARD_DEVICES_HPP
#define VBOARD_DEVICES_HPP

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"

namespace vboard {

// Answers each byte with the next byte of `replies`, across transfers, then with 0xff.
VBOARD_EXPORT SpiDevice reply_queue_device(std::span<const std::uint8_t> replies);

// A wire from MOSI to MISO: answers each transfer with the bytes it was sent.
VBOARD_EXPORT SpiDevice echo_device();

// A bank of 8-bit registers behind a command byte, the shape of most SPI sensors and controllers.
// The first byte of a transfer is the command: its `read_bit` says read (set) or write (clear),
// the other bits name the first register. Each later byte reads or writes one register and moves
// to the next (wrapping after the last). A read answers the register's value; a write stores the
// byte sent. The command byte itself is answered with 0x00.
class VBOARD_EXPORT RegisterFile {
  public:
    static constexpr std::size_t kRegisters = 256;

    explicit RegisterFile(std::uint8_t read_bit = 0x80);

    // The model as an SpiDevice; every copy works on this register file.
    SpiDevice device() const;

    std::uint8_t value(std::uint8_t reg) const;
    void set_value(std::uint8_t reg, std::uint8_t value);
    std::uint8_t read_bit() const;

  private:
    struct Bank;
    std::shared_ptr<Bank> bank_;
};

}  // namespace vboard

#endif  // VBOARD_DEVICES_HPP
