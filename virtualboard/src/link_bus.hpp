// SPDX-License-Identifier: MIT
// The three-wire link (clock BCM 11, data BCM 10) as its devices see it: the bus samples the
// host's bits on rising clock edges and hands whole bytes to the selected devices, and when the
// host turns the data line around it asks them for the byte to shift out. A listener of the
// board; private to the library.
#ifndef VBOARD_LINK_BUS_HPP
#define VBOARD_LINK_BUS_HPP

#include <cstdint>
#include <optional>
#include <vector>

#include "device_slot.hpp"
#include "engine.hpp"

namespace vboard {

class LinkBus final : public Listener {
  public:
    explicit LinkBus(Engine &engine) : engine_(engine) {}

    void attach(DeviceSlot *device);
    void detach(DeviceSlot *device);
    bool empty() const { return devices_.empty(); }
    // Whether `device` has a byte on the line or one owed to the host (put out, never clocked).
    bool holds_byte_of(const DeviceSlot *device) const;

    // From now on the lines are a capture's: each byte clocked on the link is handed to the
    // selected devices as one the host sent (a capture cannot see which way the data line was
    // turned) and the devices put nothing on the line, from the first edge of a line in
    // `sync_lines` on and outside SPI0's transfers behind the chip enables in `spi_selects` (a bit
    // per line each).
    void watch_capture(std::uint64_t sync_lines, std::uint64_t spi_selects);

    void line_changed(const LineView &lines, int pin, bool level) override;
    void function_changed(const LineView &lines, int pin) override;

  private:
    void clock_edge(const LineView &lines, bool rising);
    // A capture's rising clock edge takes a bit once framed, outside SPI0's transfers.
    bool takes_captured_bit(const LineView &lines) const;
    void put_next_reply(const LineView &lines);
    void stop_replying(const LineView &lines);

    Engine &engine_;
    std::vector<DeviceSlot *> devices_;  // in the order attached
    std::uint8_t rx_shift_ = 0;
    int rx_bits_ = 0;
    std::uint64_t rx_first_ns_ = 0;   // the time of the first bit of the byte being shifted in
    DeviceSlot *tx_owner_ = nullptr;  // a reply byte is being shifted out
    std::uint8_t tx_byte_ = 0;
    int tx_bits_taken_ = 0;             // rising edges seen since the reply byte was put out
    DeviceSlot *owed_owner_ = nullptr;  // a byte put out and taken back before any clock
    std::uint8_t owed_byte_ = 0;
    bool capture_ = false;
    std::uint64_t sync_lines_ = 0;  // capture: until one changes, no bit is taken
    std::uint64_t spi_selects_ = 0;
};

}  // namespace vboard

#endif  // VBOARD_LINK_BUS_HPP
