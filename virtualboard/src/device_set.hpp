// SPDX-License-Identifier: MIT
// The devices attached to a board: made, found by id, detached, and asked for their answers to a
// hardware SPI transfer. Link devices are also handed to the link bus. Private to the library.
#ifndef VBOARD_DEVICE_SET_HPP
#define VBOARD_DEVICE_SET_HPP

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "device_slot.hpp"
#include "link_bus.hpp"
#include "vboard/device.hpp"

namespace vboard {

// Finds the model a device's configuration names, or throws DeviceError.
using ModelResolver = const vb_device_model &(*)(const DeviceConfig &config);

class DeviceSet {
  public:
    DeviceSet(Engine &engine, LinkBus &link, ModelResolver resolve)
        : engine_(engine), link_(link), resolve_(resolve) {}

    // Attaches a device made from its model, replacing one on the same bus behind the same select
    // line. Throws DeviceError when it cannot be made; the board is as it was then.
    DeviceSlot &attach(const DeviceConfig &config);
    // A C++ function on a chip enable, replacing the chip enable's device.
    DeviceSlot &attach_function(int channel, SpiDevice function);
    void detach(std::uint64_t id);
    // The device on `bus` behind `select`, if any.
    DeviceSlot *find(Bus bus, int select) const;
    bool on_bus(Bus bus) const;  // whether any device is on `bus`
    DeviceSlot *find(std::uint64_t id) const;
    DeviceSlot *find(const std::string &name) const;
    const LinkBus &link() const { return link_; }

    // The devices a transfer on `channel` reaches now: those on its bus that are selected.
    std::vector<DeviceSlot *> selected(int channel, const LineView &lines) const;

    void finish();

  private:
    DeviceSlot &add(std::unique_ptr<DeviceSlot> slot);

    Engine &engine_;
    LinkBus &link_;
    ModelResolver resolve_;
    std::vector<std::unique_ptr<DeviceSlot>> devices_;  // in the order attached
    std::uint64_t next_id_ = 1;
};

}  // namespace vboard

#endif  // VBOARD_DEVICE_SET_HPP
