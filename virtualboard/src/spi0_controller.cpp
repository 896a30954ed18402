// SPDX-License-Identifier: MIT
// SPI0's controller.

#include "spi0_controller.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace vboard {
namespace {

const char *spi_line_name(int pin) {
    switch (pin) {
        case kSpiSclk: return "SCLK";
        case kSpiMosi: return "MOSI";
        case kSpiMiso: return "MISO";
        case kSpiCe0: return "CE0";
        default: return "CE1";
    }
}

}  // namespace

void Spi0Controller::open(int channel, int speed_hz, int mode) {
    channels_[channel] = SpiChannelState{true, speed_hz, mode};
    gpio_.set_controller(kSpiSclk, (mode & 2) != 0);
}

std::uint64_t Spi0Controller::bits_ns(int channel, int len) const {
    const auto speed = static_cast<std::uint64_t>(channels_[channel].speed_hz);
    const std::uint64_t bit_ns = (kNsPerSecond + speed - 1) / speed;
    return bit_ns * 8 * static_cast<std::uint64_t>(len);
}

Flag Spi0Controller::transfer(int channel, std::span<const std::uint8_t> sent,
                              unsigned char *data) {
    // The chip enable may be the controller's (ALT0) or a line the program drives itself.
    std::string missing;
    for (const int pin : {kSpiSclk, kSpiMosi}) {
        if (gpio_.line(pin).function != Function::Alt0) {
            missing += missing.empty() ? "" : ", ";
            missing += "BCM " + std::to_string(pin) + " (" + spi_line_name(pin) + ") is " +
                       to_string(gpio_.line(pin).function);
        }
    }
    const bool miso_connected = gpio_.line(kSpiMiso).function == Function::Alt0;
    const std::uint8_t idle = miso_connected && gpio_.level(kSpiMiso) ? 0xFF : 0x00;
    if (!missing.empty()) {
        engine_.note("wiringPiSPIDataRW on channel " + std::to_string(channel) + ": " + missing +
                     ", not ALT0; nothing reached the wire");
        std::fill(data, data + sent.size(), idle);
        clock_.advance(bits_ns(channel, static_cast<int>(sent.size())));
        return Flag::NotAlt0;
    }
    std::vector<std::uint8_t> answer(sent.size(), idle);
    draw(channel, sent, answer, miso_connected);
    if (!miso_connected) {
        engine_.note("wiringPiSPIDataRW on channel " + std::to_string(channel) +
                     ": BCM 9 (MISO) is " + to_string(gpio_.line(kSpiMiso).function) +
                     ", not ALT0; the bytes received read 0x00");
        std::fill(answer.begin(), answer.end(), 0);
    }
    std::copy(answer.begin(), answer.end(), data);
    return Flag::None;
}

// Draws one transfer on the wires at the channel's speed: the chip enable falls (when the
// controller drives it), the devices it selects take each byte as it goes out, each bit puts MOSI
// (and the devices' MISO) out and clocks it, and the chip enable rises again. `answer` comes
// filled with the idle level and leaves with what came back.
void Spi0Controller::draw(int channel, std::span<const std::uint8_t> mosi,
                          std::span<std::uint8_t> answer, bool miso_connected) {
    const int ce = spi_chip_enable(channel);
    const bool drives_ce = gpio_.line(ce).function == Function::Alt0;
    const bool idle_clock = (channels_[channel].mode & 2) != 0;
    const bool data_on_leading_edge = (channels_[channel].mode & 1) != 0;
    const std::uint64_t byte_ns = bits_ns(channel, 1);
    const std::uint64_t bit_ns = byte_ns / 8;
    const std::uint64_t first_half = bit_ns / 2;
    const std::uint64_t second_half = bit_ns - first_half;
    const std::uint64_t start = clock_.now();

    gpio_.set_controller(kSpiSclk, idle_clock);
    if (drives_ce) {
        gpio_.set_controller(ce, false);
    }
    const std::vector<DeviceSlot *> reached = devices_.selected(channel, gpio_.view());
    for (DeviceSlot *device : reached) {
        device->begin_transfer(mosi);
    }
    const bool miso_driven = !reached.empty();
    for (std::size_t i = 0; i < mosi.size(); ++i) {
        for (DeviceSlot *device : reached) {
            const int reply = device->exchange(i, mosi[i], clock_.now());
            if (reply >= 0) {
                answer[i] = static_cast<std::uint8_t>(reply);
            }
        }
        for (int bit = 7; bit >= 0; --bit) {
            const auto put_data = [&] {
                gpio_.set_controller(kSpiMosi, ((mosi[i] >> bit) & 1U) != 0);
                if (miso_driven) {
                    gpio_.set_device_drive(kSpiMiso, ((answer[i] >> bit) & 1U) != 0);
                }
            };
            if (data_on_leading_edge) {
                clock_.advance(first_half);
                gpio_.set_controller(kSpiSclk, !idle_clock);
                put_data();
            } else {
                put_data();
                clock_.advance(first_half);
                gpio_.set_controller(kSpiSclk, !idle_clock);
            }
            clock_.advance(second_half);
            gpio_.set_controller(kSpiSclk, idle_clock);
        }
        listeners_.each(kSpiTransfers, [&](Listener &l) { l.spi_byte(channel, mosi[i]); });
    }
    clock_.advance(first_half);
    if (drives_ce) {
        gpio_.set_controller(ce, true);
    }
    for (DeviceSlot *device : reached) {
        device->transfer_done();
    }
    gpio_.set_controller(kSpiMosi, false);
    if (miso_driven) {
        gpio_.set_device_drive(kSpiMiso, std::nullopt);
    }
    if (listeners_.anyone(kSpiTransfers)) {
        const LineView view = gpio_.view();
        const SpiTransferView transfer{channel, start, byte_ns, mosi,
                                       miso_connected ? std::span<const std::uint8_t>(answer)
                                                      : std::span<const std::uint8_t>()};
        listeners_.each(kSpiTransfers, [&](Listener &l) { l.spi_transfer(view, transfer); });
    }
    listeners_.each(kSpiTransfers, [&](Listener &l) { l.spi_end(channel); });
}

}  // namespace vboard
