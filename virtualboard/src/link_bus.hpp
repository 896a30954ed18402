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

    void line_changed(const LineView &lines, int pin, bool level) override;
    void function_changed(const LineView &lines, int pin) override;

  private:
    void clock_edge(const LineView &lines, bool rising);
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
};

}  // namespace vboard

#endif  // VBOARD_LINK_BUS_HPP
