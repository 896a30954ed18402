// SPDX-License-Identifier: MIT
// The bus monitor: bytes on the link and SPI0 grouped into transactions, passed on to the
// observers and to the timing checks.

#include "bus_monitor.hpp"

#include <bit>

namespace vboard {

void BusMonitor::update_active() {
    active_ = decoding_ || !checks_.empty();
    // The edges it reads: the link clock's rising ones (the data line is read there), the
    // selects', and those the checks look at.
    const std::uint64_t clock = std::uint64_t{1} << kLinkClock;
    const LineInterest checked = checks_.lines();
    const std::uint64_t selects = select_lines_ | spi_selects_;
    const LineInterest lines{clock | selects | checked.rising, selects | checked.falling};
    engine_.subscribe(this, active_ ? kLineChanges | kFunctionChanges | kSpiTransfers : 0U, lines);
}

void BusMonitor::watch_capture(std::uint64_t spi_selects) {
    capture_ = true;
    spi_selects_ = spi_selects;
    update_active();
}

std::size_t BusMonitor::add_check(const TimingCheck &check) {
    const std::size_t index = checks_.add_check(check);
    update_active();
    return index;
}

std::uint32_t BusMonitor::side_levels(const LineView &lines) const {
    std::uint32_t side = 0;
    for (std::size_t i = 0; i < framing_.side_lines.size(); ++i) {
        if (lines.level(framing_.side_lines[i].pin)) {
            side |= 1U << i;
        }
    }
    return side;
}

// A rising edge of the link's clock that takes a bit: while the program drives the clock, or in
// a capture once it is framed and outside SPI0's transfers.
bool BusMonitor::link_clock_rise(const LineView &lines, int pin) const {
    if (pin != kLinkClock || !lines.level(pin)) {
        return false;
    }
    if (!capture_) {
        return lines.function(pin) == Function::Output;
    }
    for (std::uint64_t ces = spi_selects_; ces != 0; ces &= ces - 1) {
        if (!lines.level(std::countr_zero(ces))) {
            return false;
        }
    }
    return synced_;
}

// Whether `pin` frames the link: a select the program drives, or any in a capture but SPI0's.
bool BusMonitor::frames_link(const LineView &lines, int pin) const {
    if (capture_) {
        return ((select_lines_ & ~spi_selects_) >> pin & 1) != 0;
    }
    return lines.function(pin) == Function::Output && ((select_lines_ >> pin) & 1) != 0;
}

// The way the data line's bit goes: by its function, unknown in a capture, none while the line
// is neither an input nor an output.
std::optional<Direction> BusMonitor::bit_direction(const LineView &lines) const {
    if (capture_) {
        return Direction::Unknown;
    }
    switch (lines.function(kLinkData)) {
        case Function::Output: return Direction::Out;
        case Function::Input: return Direction::In;
        default: return std::nullopt;
    }
}

void BusMonitor::line_changed(const LineView &lines, int pin, bool) {
    const std::uint64_t now = lines.now();
    const Line &line = lines[pin];
    if (capture_ && (((select_lines_ | spi_selects_) >> pin) & 1) != 0) {
        synced_ = true;
    }
    const bool link_rise = link_clock_rise(lines, pin);
    if (link_rise || checks_.looks_at(pin, line.level)) {
        checks_.edge(now, pin, line.level, link_rise);
    }
    if (link_rise) {
        if (const std::optional<Direction> direction = bit_direction(lines)) {
            take_bit(now, *direction, lines[kLinkData].level, lines);
        }
    }
    if (frames_link(lines, pin)) {
        if (!line.level && !frame_) {
            open_frame(now, pin);
        } else if (line.level && frame_ && frame_->select == pin) {
            close_frame(now);
        }
    }
}

void BusMonitor::function_changed(const LineView &lines, int pin) {
    if (capture_) {
        return;  // a captured line leaving SPI0 for the capture's drive says nothing of the wires
    }
    if (frame_ && pin == frame_->select && lines[pin].function != Function::Output) {
        close_frame(lines.now());  // a select no longer driven by hand ends the frame
        return;
    }
    if (pin != kLinkData || pending_.bits == 0) {
        return;
    }
    const Function data = lines[kLinkData].function;
    const bool same = (data == Function::Output && pending_.direction == Direction::Out) ||
                      (data == Function::Input && pending_.direction == Direction::In);
    if (!same) {
        end_pending_byte();  // the line turned around in the middle of a byte
    }
}

void BusMonitor::take_bit(std::uint64_t now, Direction direction, bool bit, const LineView &lines) {
    if (pending_.bits > 0 && pending_.direction != direction) {
        end_pending_byte();
    }
    if (pending_.bits == 0) {
        pending_ = PendingByte{direction, 0, 0, now, now, side_levels(lines)};
        if (!frame_) {
            checks_.transaction_started(now, Bus::Link);
        }
    }
    pending_.value = static_cast<std::uint8_t>((pending_.value << 1) | (bit ? 1U : 0U));
    pending_.last = now;
    if (++pending_.bits == 8) {
        end_pending_byte();
    }
}

void BusMonitor::end_pending_byte() {
    if (pending_.bits == 0) {
        return;
    }
    const TransactionByte byte{pending_.time, pending_.direction, pending_.value, 0,
                               pending_.bits, pending_.side};
    const std::uint64_t last = pending_.last;
    pending_ = PendingByte{};
    if (frame_) {
        frame_->bytes.push_back(byte);
        return;
    }
    Transaction unframed;
    unframed.start_ns = byte.time_ns;
    unframed.end_ns = last;
    unframed.bytes.push_back(byte);
    emit(unframed);
}

void BusMonitor::open_frame(std::uint64_t now, int select) {
    end_pending_byte();  // bits clocked before the frame are not part of it
    frame_.emplace();
    frame_->select = select;
    frame_->start_ns = now;
    checks_.transaction_started(now, Bus::Link);
}

void BusMonitor::close_frame(std::uint64_t now) {
    end_pending_byte();
    frame_->end_ns = now;
    // A frame with no byte of the link's is no link transaction when its select was a chip enable
    // driven around hardware SPI transfers, or went to SPI0 (ALT0) while low.
    const bool not_the_links =
        frame_->bytes.empty() && !capture_ &&
        (frame_spi_ || engine_.lines()[frame_->select].function != Function::Output);
    if (!not_the_links) {
        emit(*frame_);
    }
    frame_.reset();
    frame_spi_ = false;
}

void BusMonitor::spi_transfer(const LineView &lines, const SpiTransferView &transfer) {
    const int channel = transfer.channel;
    const std::uint64_t start = transfer.start_ns;
    const std::uint64_t byte_ns = transfer.byte_ns;
    const std::span<const std::uint8_t> out = transfer.out;
    // What the host receives: nothing, with MISO disconnected.
    const std::vector<std::uint8_t> nothing(transfer.in.empty() ? out.size() : 0, 0);
    const std::span<const std::uint8_t> in = transfer.in.empty() ? nothing : transfer.in;
    checks_.transaction_started(start, spi_bus(channel));
    if (frame_ && frame_->select == spi_chip_enable(channel)) {
        frame_spi_ = true;
    }
    if (!decoding_) {
        return;
    }
    spi_.emplace();
    spi_->bus = spi_bus(channel);
    spi_->select = spi_chip_enable(channel);
    spi_->start_ns = start;
    const std::uint32_t side = side_levels(lines);
    spi_->bytes.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        spi_->bytes.push_back(
            TransactionByte{start + i * byte_ns, Direction::Exchange, out[i], in[i], 8, side});
    }
}

void BusMonitor::spi_end(int) {
    if (spi_) {
        spi_->end_ns = engine_.now();
        emit(*spi_);
        spi_.reset();
    }
}

void BusMonitor::emit(Transaction &transaction) {
    transaction.index = next_index_++;
    engine_.transaction(transaction);
}

void BusMonitor::close(std::uint64_t now) {
    if (frame_) {
        close_frame(now);
    }
    end_pending_byte();
}

}  // namespace vboard
