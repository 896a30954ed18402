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

    // Whether the device takes part in the bytes moved now.
    bool selected(const LineView &lines) const { return select_ < 0 || !lines.level(select_); }

    // One byte while selected: the answer (0-255) or VB_NO_ANSWER.
    virtual int byte(std::uint8_t direction, std::uint8_t out) = 0;
    // A hardware SPI transfer: `answer` (as long as `out`) comes filled with the idle level; the
    // device overwrites the bytes it answers. Runs select(1), the bytes, and leaves select(0) to
    // transfer_done().
    virtual void exchange(std::span<const std::uint8_t> out, std::span<std::uint8_t> answer);
    virtual void transfer_done() {}
    // The end of the run: once, before the observers finish.
    virtual void finish() {}

    // The model's state and table, for the handles of the built-in models; none for a function.
    virtual const vb_device_model *model() const { return nullptr; }
    virtual void *model_state() const { return nullptr; }

  private:
    std::uint64_t id_;
    std::string name_;
    Bus bus_;
    int select_;
};

inline void DeviceSlot::exchange(std::span<const std::uint8_t> out,
                                 std::span<std::uint8_t> answer) {
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int reply = byte(VB_EXCHANGE, out[i]);
        if (reply >= 0) {
            answer[i] = static_cast<std::uint8_t>(reply);
        }
    }
}

}  // namespace vboard

#endif  // VBOARD_DEVICE_SLOT_HPP
