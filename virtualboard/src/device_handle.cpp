// SPDX-License-Identifier: MIT
// vboard::Device, a test's handle to a device on a board, and its views of the built-in models.

#include <mutex>
#include <new>
#include <stdexcept>

#include "board_access.hpp"
#include "device_slot.hpp"
#include "model_registry.hpp"
#include "models/builtin_models.h"
#include "vboard/device.hpp"

namespace vboard {
namespace {

[[noreturn]] void not_attached() {
    throw std::logic_error("vboard: the device is not attached to a board");
}

BoardLock &lock_of(const Board *board) {
    if (board == nullptr) {
        not_attached();
    }
    return BoardAccess::lock(*board);
}

DeviceSlot &slot_of(const Board *board, std::uint64_t id) {
    DeviceSlot *slot = board != nullptr ? BoardAccess::device(*board, id) : nullptr;
    if (slot == nullptr) {
        not_attached();
    }
    return *slot;
}

std::string model_name(const DeviceSlot &slot) {
    return slot.model() != nullptr && slot.model()->name != nullptr ? slot.model()->name
                                                                    : "function";
}

// The state of the device `id` as the built-in model `model` made it; the board's lock is held.
void *state_as(const Board *board, std::uint64_t id, std::string_view model) {
    DeviceSlot &slot = slot_of(board, id);
    if (slot.model() == nullptr || slot.model() != find_builtin_model(model)) {
        throw std::logic_error("vboard: '" + slot.name() + "' is a \"" + model_name(slot) +
                               "\" device, not a \"" + std::string(model) + "\" one");
    }
    return slot.model_state();
}

constexpr std::string_view kReplies = "replies";
constexpr std::string_view kRegisters = "registers";

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
    return model_name(slot_of(board_, id_));
}

Replies Device::replies() const {
    std::lock_guard lock(lock_of(board_));
    state_as(board_, id_, kReplies);
    return Replies(board_, id_);
}

Registers Device::registers() const {
    std::lock_guard lock(lock_of(board_));
    state_as(board_, id_, kRegisters);
    return Registers(board_, id_);
}

void Replies::queue(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(lock_of(board_));
    if (vb_replies_queue(state_as(board_, id_, kReplies), bytes.data(), bytes.size()) != 0) {
        throw std::bad_alloc();
    }
}

std::size_t Replies::pending() const {
    std::lock_guard lock(lock_of(board_));
    const void *self = state_as(board_, id_, kReplies);
    const bool on_the_line = BoardAccess::link_holds_byte_of(*board_, &slot_of(board_, id_));
    return vb_replies_pending(self) + (on_the_line ? 1 : 0);
}

std::vector<std::uint8_t> Replies::received() const {
    std::lock_guard lock(lock_of(board_));
    std::size_t count = 0;
    const std::uint8_t *data = vb_replies_received(state_as(board_, id_, kReplies), &count);
    return data != nullptr ? std::vector<std::uint8_t>(data, data + count)
                           : std::vector<std::uint8_t>{};
}

std::uint8_t Registers::value(std::uint8_t reg) const {
    std::lock_guard lock(lock_of(board_));
    return vb_registers_get(state_as(board_, id_, kRegisters), reg);
}

void Registers::set(std::uint8_t reg, std::uint8_t value) {
    std::lock_guard lock(lock_of(board_));
    vb_registers_set(state_as(board_, id_, kRegisters), reg, value);
}

}  // namespace vboard
