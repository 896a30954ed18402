// The peripheral on the three-wire link: it samples the host's bits on rising clock edges and
// shifts its queued replies out when the host turns the data line around.

#include "board_state.hpp"

namespace vboard {

void Board::State::link_clock_edge(bool rising) {
    LinkDevice &dev = *link;
    if (rising) {
        if (lines[kSpiMosi].function == Function::Output) {
            dev.rx_shift =
                static_cast<std::uint8_t>((dev.rx_shift << 1U) | (lines[kSpiMosi].level ? 1U : 0U));
            if (++dev.rx_bits == 8) {
                const std::uint8_t byte = dev.rx_shift;
                dev.received.push_back(byte);
                dev.rx_bits = 0;
                dev.rx_shift = 0;
                if (!link_rules.empty()) {
                    on_link_byte(byte);
                }
            }
        } else if (dev.tx_active) {
            ++dev.tx_bits_taken;
        }
        return;
    }
    if (!dev.tx_active || dev.tx_bits_taken == 0) {
        return;
    }
    if (dev.tx_bits_taken == 8) {
        dev.tx_active = false;
        set_device_drive(kSpiMosi, std::nullopt);
        return;
    }
    set_device_drive(kSpiMosi, ((dev.tx_byte >> (7 - dev.tx_bits_taken)) & 1U) != 0);
}

void Board::State::link_data_function_changed(Function function) {
    LinkDevice &dev = *link;
    dev.rx_bits = 0;  // a direction change ends any partly clocked byte from the host
    dev.rx_shift = 0;
    if (function == Function::Input) {
        if (!dev.tx_active) {
            link_put_next_reply();
        }
    } else {
        link_stop_replying();
    }
}

bool Board::State::link_enabled() const {
    const LinkDeviceOptions &options = link->options;
    if (options.enable_pin < 0) {
        return true;
    }
    const Line &line = lines[options.enable_pin];
    return line.level == options.enable_level && now - line.changed_at >= options.enable_hold_ns;
}

void Board::State::link_put_next_reply() {
    LinkDevice &dev = *link;
    if (dev.replies.empty() || !link_enabled()) {
        return;
    }
    dev.tx_byte = dev.replies.front();
    dev.replies.pop_front();
    dev.tx_active = true;
    dev.tx_bits_taken = 0;
    set_device_drive(kSpiMosi, (dev.tx_byte & 0x80U) != 0);
}

void Board::State::link_stop_replying() {
    LinkDevice &dev = *link;
    if (dev.tx_active && dev.tx_bits_taken == 0) {
        dev.replies.push_front(dev.tx_byte);  // never clocked out: still owed to the host
    }
    dev.tx_active = false;
    if (lines[kSpiMosi].device_drive) {
        set_device_drive(kSpiMosi, std::nullopt);
    }
}

}  // namespace vboard
