// SPDX-License-Identifier: MIT
// The board's devices.

#include "device_set.hpp"

#include "recording_device.hpp"

#include <algorithm>

#include "function_device.hpp"
#include "model_device.hpp"

namespace vboard {
namespace {

bool on_channel(const DeviceSlot &slot, int channel) { return slot.bus() == spi_bus(channel); }

}  // namespace

DeviceSlot &DeviceSet::attach(const DeviceConfig &config) {
    const std::uint64_t id = next_id_++;
    // Made before the one it replaces goes, so that a refused device leaves the board as it was.
    std::unique_ptr<DeviceSlot> slot;
    if (config.model == kRecordingModel) {
        slot = std::make_unique<RecordingDevice>(engine_, id, config);
    } else {
        slot = std::make_unique<ModelDevice>(engine_, id, resolve_(config), config);
    }
    if (DeviceSlot *old = find(config.bus, config.select)) {
        detach(old->id());
    }
    return add(std::move(slot));
}

DeviceSlot &DeviceSet::attach_function(int channel, SpiDevice function) {
    if (DeviceSlot *old = find(spi_bus(channel), -1)) {
        detach(old->id());
    }
    return add(std::make_unique<FunctionDevice>(next_id_++, channel, std::move(function)));
}

DeviceSlot &DeviceSet::add(std::unique_ptr<DeviceSlot> slot) {
    DeviceSlot &added = *slot;
    devices_.push_back(std::move(slot));
    if (added.bus() == Bus::Link) {
        link_.attach(&added);
    }
    return added;
}

void DeviceSet::detach(std::uint64_t id) {
    const auto found = std::find_if(devices_.begin(), devices_.end(),
                                    [&](const auto &slot) { return slot->id() == id; });
    if (found == devices_.end()) {
        return;
    }
    if ((*found)->bus() == Bus::Link) {
        link_.detach(found->get());
    }
    engine_.leave(found->get());
    devices_.erase(found);
}

DeviceSlot *DeviceSet::find(Bus bus, int select) const {
    for (const auto &slot : devices_) {
        if (slot->bus() == bus && slot->select() == select) {
            return slot.get();
        }
    }
    return nullptr;
}

bool DeviceSet::on_bus(Bus bus) const {
    for (const auto &slot : devices_) {
        if (slot->bus() == bus) {
            return true;
        }
    }
    return false;
}

DeviceSlot *DeviceSet::find(std::uint64_t id) const {
    for (const auto &slot : devices_) {
        if (slot->id() == id) {
            return slot.get();
        }
    }
    return nullptr;
}

DeviceSlot *DeviceSet::find(const std::string &name) const {
    for (const auto &slot : devices_) {
        if (slot->name() == name) {
            return slot.get();
        }
    }
    return nullptr;
}

std::vector<DeviceSlot *> DeviceSet::selected(int channel, const LineView &lines) const {
    std::vector<DeviceSlot *> reached;
    for (const auto &slot : devices_) {
        if (on_channel(*slot, channel) && slot->selected(lines)) {
            reached.push_back(slot.get());
        }
    }
    return reached;
}

void DeviceSet::finish() {
    for (const auto &slot : devices_) {
        slot->finish();
    }
}

}  // namespace vboard
