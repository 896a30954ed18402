// SPDX-License-Identifier: MIT
// SPI0's transfers read back from its wires.

#include "spi_wires.hpp"

#include <string>

#include "vboard/duration.hpp"

namespace vboard {

void SpiWires::watch(std::uint64_t chip_enables) {
    chip_enables_ = chip_enables;
    const std::uint64_t clock = std::uint64_t{1} << kSpiSclk;
    engine_.subscribe(this, chip_enables == 0 ? 0U : kLineChanges,
                      LineInterest{clock | chip_enables, chip_enables});
}

void SpiWires::line_changed(const LineView &lines, int pin, bool level) {
    if (pin == kSpiSclk) {
        if (level && transfer_) {
            sample(lines);
        }
        return;
    }
    if (((chip_enables_ >> pin) & 1) == 0) {
        return;
    }
    if (!level && !transfer_) {
        const int channel = pin == kSpiCe0 ? 0 : 1;
        transfer_.emplace();
        transfer_->channel = channel;
        transfer_->start_ns = lines.now();
        transfer_->reached = devices_.selected(channel, lines);
    } else if (level && transfer_ && pin == spi_chip_enable(transfer_->channel)) {
        end(lines);
    }
}

void SpiWires::sample(const LineView &lines) {
    SpiWireTransfer &t = *transfer_;
    if (t.bits == 0) {
        first_bit_ns_ = lines.now();
    }
    t.mosi = static_cast<std::uint8_t>((t.mosi << 1U) | (lines.level(kSpiMosi) ? 1U : 0U));
    t.miso = static_cast<std::uint8_t>((t.miso << 1U) | (lines.level(kSpiMiso) ? 1U : 0U));
    if (++t.bits < 8) {
        return;
    }
    t.out.push_back(t.mosi);
    t.in.push_back(t.miso);
    t.byte_ns.push_back(first_bit_ns_);
    t.bits = 0;
    const std::uint8_t byte = t.mosi;
    listeners_.each(kSpiTransfers, [&](Listener &l) { l.spi_byte(t.channel, byte); });
}

void SpiWires::end(const LineView &lines) {
    const SpiWireTransfer t = std::move(*transfer_);
    transfer_.reset();
    if (t.bits != 0) {
        engine_.note("capture: the transfer on CE" + std::to_string(t.channel) + " ended " +
                     std::to_string(t.bits) + " bits into a byte at " +
                     format_duration(lines.now()) + "; those bits are left out");
    }
    if (t.out.empty()) {
        return;
    }
    for (DeviceSlot *device : t.reached) {
        device->begin_transfer(t.out);
        for (std::size_t i = 0; i < t.out.size(); ++i) {
            device->exchange(i, t.out[i], t.byte_ns[i]);
        }
        device->transfer_done();
    }
    const std::size_t n = t.out.size();
    const std::uint64_t byte_ns =
        n > 1 ? (t.byte_ns[n - 1] - t.byte_ns[0]) / (n - 1) : lines.now() - t.start_ns;
    const SpiTransferView transfer{t.channel, t.start_ns, byte_ns, t.out, t.in};
    listeners_.each(kSpiTransfers, [&](Listener &l) { l.spi_transfer(lines, transfer); });
    listeners_.each(kSpiTransfers, [&](Listener &l) { l.spi_end(t.channel); });
}

}  // namespace vboard
