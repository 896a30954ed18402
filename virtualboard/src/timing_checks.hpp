// SPDX-License-Identifier: MIT
// The timing checks a device demands, stacked on the bus monitor's output: it passes on the line
// changes they look at and the moments transactions start, and they report each violation to the
// engine as it is measured. Private to the library.
#ifndef VBOARD_TIMING_CHECKS_HPP
#define VBOARD_TIMING_CHECKS_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine.hpp"
#include "vboard/transactions.hpp"

namespace vboard {

class TimingChecks {
  public:
    explicit TimingChecks(Engine &engine) : engine_(engine) {}

    // Returns the check's index; a check without a name gets its default one.
    std::size_t add_check(const TimingCheck &check);
    bool empty() const { return checks_.empty(); }
    const std::vector<TimingViolation> &violations() const { return kept_; }
    std::vector<std::uint64_t> violation_counts() const;

    // The edges the checks look at now (a select-to-clock check's clock edges always: see
    // follow_clock()).
    LineInterest lines() const;
    bool looks_at(int pin, bool level) const {
        return !edge_checks_[edge_index(pin, level)].empty();
    }
    // An edge they look at; `link_rise`: a rising edge of the link's clock driven as an output.
    void edge(std::uint64_t now, int pin, bool level, bool link_rise);
    // A transaction on `bus` starts at `now` (a gap's end or start).
    void transaction_started(std::uint64_t now, Bus bus);

  private:
    struct CheckState {
        TimingCheck check;
        std::uint64_t count = 0;
        std::optional<std::uint64_t> since;       // when the stretch being measured began
        std::uint64_t waits_since = 0;            // the program's waits then (Engine::waits)
        std::optional<std::uint64_t> last_clock;  // ClockToDeselect: the latest clock edge
    };

    void check_other(std::size_t index, std::uint64_t now, int pin, bool level);
    void follow_clock(std::size_t index);
    void measured(std::size_t index, std::uint64_t now, std::uint64_t value);

    Engine &engine_;
    std::vector<CheckState> checks_;
    // The checks each edge concerns, by edge_index().
    std::array<std::vector<std::size_t>, 2 * kLineCount> edge_checks_;
    std::vector<TimingViolation> kept_;
    std::optional<std::uint64_t> last_rise_;  // the link clock's latest rising edge
};

}  // namespace vboard

#endif  // VBOARD_TIMING_CHECKS_HPP
