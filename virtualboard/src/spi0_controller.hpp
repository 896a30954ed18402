// SPDX-License-Identifier: MIT
// SPI0's controller: its two channels' set-up, and a transfer on the wire: the ALT0 checks of its
// lines, the chip enable (the controller's in ALT0, else the program's own line), the devices it
// selects, and each bit drawn on the lines at the channel's speed. Private to the library.
#ifndef VBOARD_SPI0_CONTROLLER_HPP
#define VBOARD_SPI0_CONTROLLER_HPP

#include <array>
#include <cstdint>
#include <span>

#include "board_clock.hpp"
#include "device_set.hpp"
#include "engine.hpp"
#include "gpio_bank.hpp"
#include "listener_list.hpp"

namespace vboard {

class Spi0Controller {
  public:
    Spi0Controller(Engine &engine, GpioBank &gpio, Clock &clock, ListenerList &listeners,
                   DeviceSet &devices)
        : engine_(engine), gpio_(gpio), clock_(clock), listeners_(listeners), devices_(devices) {}

    const SpiChannelState &channel(int channel) const { return channels_[channel]; }
    // Opens a channel (checked by the caller); the clock idles at the mode's polarity from now on.
    void open(int channel, int speed_hz, int mode);
    // Closes a channel: a transfer on it is then refused as on one never opened.
    void close(int channel) { channels_[channel] = SpiChannelState{}; }

    // Moves `sent` out on an open channel and leaves what came back in `data` (`sent.size()`
    // bytes), moving the clock by the bits' time. Returns Flag::NotAlt0, with a diagnostic, when
    // SCLK or MOSI is not in ALT0 (nothing reaches the wire then).
    Flag transfer(int channel, std::span<const std::uint8_t> sent, unsigned char *data);

    // The time `len` bytes take on the channel's wire.
    std::uint64_t bits_ns(int channel, int len) const;

  private:
    void draw(int channel, std::span<const std::uint8_t> mosi, std::span<std::uint8_t> answer,
              bool miso_connected);

    Engine &engine_;
    GpioBank &gpio_;
    Clock &clock_;
    ListenerList &listeners_;
    DeviceSet &devices_;
    std::array<SpiChannelState, kSpiChannelCount> channels_{};
};

}  // namespace vboard

#endif  // VBOARD_SPI0_CONTROLLER_HPP
