// SPDX-License-Identifier: MIT
// One device on one of the board's buses, as the buses see it: where it sits, whether it is
// selected, and the bytes it exchanges. Two kinds: a model of the C device interface
// (model_device.hpp) and a C++ SpiDevice function (function_device.hpp). Private to the library.
#ifndef VBOARD_DEVICE_SLOT_HPP
#define VBOARD_DEVICE_SLOT_HPP

#include <cstdint>
#include <span>
#include <string>

#include "engine.hpp"
#include "vboard/device.h"
#include "vboard/transactions.hpp"

namespace vboard {

class DeviceSlot : public Listener {
  public:
    DeviceSlot(std::uint64_t id, std::string name, Bus bus, int select)
        : id_(id), name_(std::move(name)), bus_(bus), select_(select) {}
    ~DeviceSlot() override = default;
    DeviceSlot(const DeviceSlot &) = delete;
    DeviceSlot &operator=(const DeviceSlot &) = delete;

    std::uint64_t id() const { return id_; }
    const std::string &name() const { return name_; }
    Bus bus() const { return bus_; }
    int select() const { return select_; }  // -1: the chip enable (SPI) or none (link)

    // Whether the device takes part in the bytes moved now: its select line is low (on SPI, the
    // channel's chip enable unless it names a line of its own; on the link, always without one).
    bool selected(const LineView &lines) const {
        const int line = select_ >= 0 ? select_ : spi_chip_enable_of(bus_);
        return line < 0 || !lines.level(line);
    }

    // One byte while selected, at `time_ns` (its first bit): the answer (0-255) or VB_NO_ANSWER.
    virtual int byte(std::uint8_t direction, std::uint8_t out, std::uint64_t time_ns) = 0;
    // A hardware SPI transfer of `out` reaching the device: begin_transfer() once its chip enable
    // is low (a model's select(1) when it has no select line of its own), exchange() for each
    // byte as it goes out, transfer_done() once the chip enable is high again.
    virtual void begin_transfer(std::span<const std::uint8_t> /*out*/) {}
    virtual int exchange(std::size_t /*index*/, std::uint8_t out, std::uint64_t time_ns) {
        return byte(VB_EXCHANGE, out, time_ns);
    }
    virtual void transfer_done() {}
    // The end of the run: once, before the observers finish.
    virtual void finish() {}

    // The model's state and table, for the handles of the built-in models; none for a function.
    virtual const vb_device_model *model() const { return nullptr; }
    virtual void *model_state() const { return nullptr; }

  private:
    static int spi_chip_enable_of(Bus bus) {
        const int channel = spi_channel(bus);
        return channel < 0 ? -1 : spi_chip_enable(channel);
    }

    std::uint64_t id_;
    std::string name_;
    Bus bus_;
    int select_;
};

}  // namespace vboard

#endif  // VBOARD_DEVICE_SLOT_HPP
