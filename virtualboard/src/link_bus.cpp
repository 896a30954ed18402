// SPDX-License-Identifier: MIT
// The link's bit shifting between the host and the devices on it.

#include "link_bus.hpp"

#include <algorithm>
#include <bit>

namespace vboard {
void LinkBus::attach(DeviceSlot *device) {
    devices_.push_back(device);
    engine_.subscribe(this, kLineChanges | kFunctionChanges);
}

void LinkBus::detach(DeviceSlot *device) {
    if (tx_owner_ == device) {
        tx_owner_ = nullptr;
        if (engine_.lines()[kLinkData].device_drive) {
            engine_.set_device_drive(kLinkData, std::nullopt);
        }
    }
    if (owed_owner_ == device) {
        owed_owner_ = nullptr;
    }
    std::erase(devices_, device);
    if (devices_.empty()) {
        rx_bits_ = 0;
        rx_shift_ = 0;
        engine_.subscribe(this, 0);
    }
}

bool LinkBus::holds_byte_of(const DeviceSlot *device) const {
    return tx_owner_ == device || owed_owner_ == device;
}

void LinkBus::watch_capture(std::uint64_t sync_lines, std::uint64_t spi_selects) {
    capture_ = true;
    sync_lines_ = sync_lines;
    spi_selects_ = spi_selects;
    rx_bits_ = 0;
    rx_shift_ = 0;
}

void LinkBus::line_changed(const LineView &lines, int pin, bool level) {
    if (pin == kLinkClock) {
        clock_edge(lines, level);
    } else if (capture_ && ((sync_lines_ >> pin) & 1) != 0) {
        sync_lines_ = 0;
    }
}

void LinkBus::clock_edge(const LineView &lines, bool rising) {
    if (rising) {
        if (capture_ ? takes_captured_bit(lines) : lines.function(kLinkData) == Function::Output) {
            if (rx_bits_ == 0) {
                rx_first_ns_ = lines.now();
            }
            rx_shift_ =
                static_cast<std::uint8_t>((rx_shift_ << 1U) | (lines.level(kLinkData) ? 1U : 0U));
            if (++rx_bits_ == 8) {
                const std::uint8_t byte = rx_shift_;
                rx_bits_ = 0;
                rx_shift_ = 0;
                for (DeviceSlot *device : devices_) {
                    if (device->selected(lines)) {
                        device->byte(VB_TO_DEVICE, byte, rx_first_ns_);
                    }
                }
                engine_.link_byte_received(byte);
            }
        } else if (tx_owner_ != nullptr) {
            ++tx_bits_taken_;
        }
        return;
    }
    if (tx_owner_ == nullptr || tx_bits_taken_ == 0) {
        return;
    }
    if (tx_bits_taken_ == 8) {
        tx_owner_ = nullptr;
        engine_.set_device_drive(kLinkData, std::nullopt);
        return;
    }
    engine_.set_device_drive(kLinkData, ((tx_byte_ >> (7 - tx_bits_taken_)) & 1U) != 0);
}

bool LinkBus::takes_captured_bit(const LineView &lines) const {
    if (sync_lines_ != 0) {
        return false;
    }
    for (std::uint64_t ces = spi_selects_; ces != 0; ces &= ces - 1) {
        if (!lines.level(std::countr_zero(ces))) {
            return false;
        }
    }
    return true;
}

void LinkBus::function_changed(const LineView &lines, int pin) {
    if (pin != kLinkData || capture_) {
        return;
    }
    rx_bits_ = 0;  // a direction change ends any partly clocked byte from the host
    rx_shift_ = 0;
    if (lines.function(kLinkData) == Function::Input) {
        if (tx_owner_ == nullptr) {
            put_next_reply(lines);
        }
    } else {
        stop_replying(lines);
    }
}

void LinkBus::put_next_reply(const LineView &lines) {
    DeviceSlot *owner = nullptr;
    int answer = VB_NO_ANSWER;
    if (owed_owner_ != nullptr) {
        owner = std::exchange(owed_owner_, nullptr);
        answer = owed_byte_;
    } else {
        for (DeviceSlot *device : devices_) {
            if (device->selected(lines)) {
                answer = device->byte(VB_FROM_DEVICE, 0, lines.now());
                if (answer >= 0) {
                    owner = device;
                    break;
                }
            }
        }
    }
    if (owner == nullptr) {
        return;
    }
    tx_owner_ = owner;
    tx_byte_ = static_cast<std::uint8_t>(answer);
    tx_bits_taken_ = 0;
    engine_.set_device_drive(kLinkData, (tx_byte_ & 0x80U) != 0);
}

void LinkBus::stop_replying(const LineView &lines) {
    if (tx_owner_ != nullptr && tx_bits_taken_ == 0) {
        owed_owner_ = tx_owner_;  // never clocked out: still owed to the host
        owed_byte_ = tx_byte_;
    }
    tx_owner_ = nullptr;
    if (lines[kLinkData].device_drive) {
        engine_.set_device_drive(kLinkData, std::nullopt);
    }
}

}  // namespace vboard
