// SPDX-License-Identifier: MIT
// A C++ SpiDevice function on an SPI chip enable (Board::attach_spi_device): it sees a whole
// transfer at once. Private to the library.
#ifndef VBOARD_FUNCTION_DEVICE_HPP
#define VBOARD_FUNCTION_DEVICE_HPP

#include <algorithm>
#include <utility>

#include "device_slot.hpp"

namespace vboard {

class FunctionDevice final : public DeviceSlot {
  public:
    FunctionDevice(std::uint64_t id, int channel, SpiDevice function)
        : DeviceSlot(id, "spi" + std::to_string(channel), spi_bus(channel), -1),
          function_(std::move(function)) {}

    int byte(std::uint8_t, std::uint8_t) override { return VB_NO_ANSWER; }
    void exchange(std::span<const std::uint8_t> out, std::span<std::uint8_t> answer) override {
        const std::vector<std::uint8_t> reply = function_(out);
        std::copy_n(reply.begin(), std::min(reply.size(), answer.size()), answer.begin());
    }

  private:
    SpiDevice function_;
};

}  // namespace vboard

#endif  // VBOARD_FUNCTION_DEVICE_HPP
