// SPDX-License-Identifier: MIT
// vboard::Device, a test's handle to a device on a board.

#include <mutex>
#include <stdexcept>

#include "board_access.hpp"
#include "device_slot.hpp"
#include "models/builtin_models.h"
#include "vboard/device.hpp"

namespace vboard {
namespace {

[[noreturn]] void not_attached() {
    throw std::logic_error("vboard: the device is not attached to a board");
}

BoardLock &lock_of(Board *board) {
    if (board == nullptr) {
        not_attached();
    }
    return BoardAccess::lock(*board);
}

DeviceSlot &slot_of(Board *board, std::uint64_t id) {
    DeviceSlot *slot = board != nullptr ? BoardAccess::device(*board, id) : nullptr;
    if (slot == nullptr) {
        not_attached();
    }
    return *slot;
}

void *state_of(DeviceSlot &slot, const vb_device_model *model, const char *what) {
    if (slot.model() != model) {
        throw std::logic_error("vboard: " + std::string(what) + " needs a \"" + model->name +
                               "\" device; '" + slot.name() + "' is not one");
    }
    return slot.model_state();
}

}  // namespace

bool Device::attached() const {
    if (board_ == nullptr) {
        return false;
    }
    std::lock_guard lock(BoardAccess::lock(*board_));
    return BoardAccess::device(*board_, id_) != nullptr;
}

std::string Device::name() const {
    std::lock_guard lock(lock_of(board_));
    return slot_of(board_, id_).name();
}

std::string Device::model() const {
    std::lock_guard lock(lock_of(board_));
    const DeviceSlot &slot = slot_of(board_, id_);
    return slot.model() != nullptr && slot.model()->name != nullptr ? slot.model()->name
                                                                    : "function";
}

void Device::queue_replies(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(lock_of(board_));
    void *self = state_of(slot_of(board_, id_), vb_replies_model(), "queue_replies");
    if (vb_replies_queue(self, bytes.data(), bytes.size()) != 0) {
        throw std::bad_alloc();
    }
}

std::size_t Device::replies_pending() const {
    std::lock_guard lock(lock_of(board_));
    DeviceSlot &slot = slot_of(board_, id_);
    const void *self = state_of(slot, vb_replies_model(), "replies_pending");
    return vb_replies_pending(self) + (BoardAccess::link_holds_byte_of(*board_, &slot) ? 1 : 0);
}

std::vector<std::uint8_t> Device::received() const {
    std::lock_guard lock(lock_of(board_));
    const void *self = state_of(slot_of(board_, id_), vb_replies_model(), "received");
    std::size_t count = 0;
    const std::uint8_t *data = vb_replies_received(self, &count);
    return data != nullptr ? std::vector<std::uint8_t>(data, data + count)
                           : std::vector<std::uint8_t>{};
}

std::uint8_t Device::register_value(std::uint8_t reg) const {
    std::lock_guard lock(lock_of(board_));
    return vb_registers_get(state_of(slot_of(board_, id_), vb_registers_model(), "register_value"),
                            reg);
}

void Device::set_register(std::uint8_t reg, std::uint8_t value) {
    std::lock_guard lock(lock_of(board_));
    vb_registers_set(state_of(slot_of(board_, id_), vb_registers_model(), "set_register"), reg,
                     value);
}

}  // namespace vboard
