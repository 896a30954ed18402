// SPDX-License-Identifier: MIT
// The board's bus monitor: frames the bytes on the link and on SPI0 into transactions from the
// line changes the board makes, and passes them on to the run's observers and, with the edges
// they look at, to the timing checks stacked on it (timing_checks.hpp). A listener of the board,
// subscribed only while someone wants transactions or a check is set. Private to the library.
#ifndef VBOARD_BUS_MONITOR_HPP
#define VBOARD_BUS_MONITOR_HPP

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine.hpp"
#include "timing_checks.hpp"
#include "vboard/transactions.hpp"

namespace vboard {

class BusMonitor final : public Listener {
  public:
    // `framing` is the board's setting, read as each byte and frame begins; `select_lines` its
    // selects, a bit per line.
    BusMonitor(Engine &engine, const FramingOptions &framing, const std::uint64_t &select_lines)
        : engine_(engine), framing_(framing), select_lines_(select_lines), checks_(engine) {}

    // Whether anyone wants transactions or a check is set.
    bool active() const { return active_; }
    // Whether the run's observers want transactions: it frames them only then.
    void set_decoding(bool decoding) {
        decoding_ = decoding;
        update_active();
    }
    // Subscribes for what it needs now: after a check comes, decoding changes, and after the
    // framing's selects change.
    void update_active();

    // From now on the lines are a capture's (vboard/capture.hpp), whose functions say nothing: a
    // bit is taken at each rising clock edge with no direction, and every select frames the link
    // but the chip enables in `spi_selects` (a bit per line), behind which SPI0 transfers are
    // decoded from the edges. Nothing is taken before the first edge of a select, so a capture
    // that starts in the middle of a byte is framed from there.
    void watch_capture(std::uint64_t spi_selects);

    std::size_t add_check(const TimingCheck &check);
    const std::vector<TimingViolation> &violations() const { return checks_.violations(); }
    std::vector<std::uint64_t> violation_counts() const { return checks_.violation_counts(); }

    void line_changed(const LineView &lines, int pin, bool level) override;
    void function_changed(const LineView &lines, int pin) override;
    void spi_transfer(const LineView &lines, const SpiTransferView &transfer) override;
    void spi_end(int channel) override;

    // Ends the transaction in progress, passing it on; the checks stay.
    void close(std::uint64_t now);

  private:
    struct PendingByte {
        Direction direction = Direction::Out;
        std::uint8_t value = 0;
        std::uint8_t bits = 0;
        std::uint64_t time = 0;  // its first bit
        std::uint64_t last = 0;  // its latest bit
        std::uint32_t side = 0;
    };

    std::uint32_t side_levels(const LineView &lines) const;
    bool link_clock_rise(const LineView &lines, int pin) const;
    bool frames_link(const LineView &lines, int pin) const;
    std::optional<Direction> bit_direction(const LineView &lines) const;
    void take_bit(std::uint64_t now, Direction direction, bool bit, const LineView &lines);
    void end_pending_byte();
    void open_frame(std::uint64_t now, int select);
    void close_frame(std::uint64_t now);
    void emit(Transaction &transaction);

    Engine &engine_;
    const FramingOptions &framing_;
    const std::uint64_t &select_lines_;
    TimingChecks checks_;

    std::optional<Transaction> frame_;  // the link transaction in progress
    bool frame_spi_ = false;            // an SPI transfer ran behind its select, a chip enable
    std::optional<Transaction> spi_;    // the SPI transfer being drawn
    PendingByte pending_;
    std::uint64_t next_index_ = 0;
    bool decoding_ = false;
    bool capture_ = false;           // the lines are a capture's
    bool synced_ = false;            // capture: a select has changed
    std::uint64_t spi_selects_ = 0;  // capture: the chip enables of SPI0's decoded transfers
    bool active_ = false;            // kept as decoding_ || !checks_.empty()
};

}  // namespace vboard

#endif  // VBOARD_BUS_MONITOR_HPP
