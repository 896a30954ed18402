// SPDX-License-Identifier: MIT
// A C++ SpiDevice function on an SPI chip enable (Board::attach_spi_device): it sees a whole
// transfer at once, as it begins, and its answer goes out byte by byte. Private to the library.
#ifndef VBOARD_FUNCTION_DEVICE_HPP
#define VBOARD_FUNCTION_DEVICE_HPP

#include <utility>
#include <vector>

#include "device_slot.hpp"

namespace vboard {

class FunctionDevice final : public DeviceSlot {
  public:
    FunctionDevice(std::uint64_t id, int channel, SpiDevice function)
        : DeviceSlot(id, "spi" + std::to_string(channel), spi_bus(channel), -1),
          function_(std::move(function)) {}

    int byte(std::uint8_t, std::uint8_t, std::uint64_t) override { return VB_NO_ANSWER; }
    void begin_transfer(std::span<const std::uint8_t> out) override { reply_ = function_(out); }
    int exchange(std::size_t index, std::uint8_t, std::uint64_t) override {
        return index < reply_.size() ? reply_[index] : VB_NO_ANSWER;
    }
    void transfer_done() override { reply_.clear(); }

  private:
    SpiDevice function_;
    std::vector<std::uint8_t> reply_;  // to the transfer in progress
};

}  // namespace vboard

#endif  // VBOARD_FUNCTION_DEVICE_HPP
