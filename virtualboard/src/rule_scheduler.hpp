// SPDX-License-Identifier: MIT
// The rule scheduler: the board's rules, indexed by what triggers them, and the drives they put on
// the timeline. A listener of the board; private to the library.
#ifndef VBOARD_RULE_SCHEDULER_HPP
#define VBOARD_RULE_SCHEDULER_HPP

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine.hpp"
#include "vboard/rules.hpp"

namespace vboard {

class RuleScheduler final : public Listener {
  public:
    explicit RuleScheduler(Engine &engine) : engine_(engine) {}

    // Throws std::out_of_range for a line off 0-53 or a channel other than -1, 0 and 1.
    RuleId add(const Rule &rule);
    void remove(RuleId id);
    // Stops every rule; their ids stay unused.
    void stop_all();
    // Stops the rules that fired `min_fires` times or more at the board's current moment (rules
    // that keep waking each other with no time passing), their drives still on the timeline
    // included. Returns how messages name them: "rule 2 \"busy\"", "rule 3".
    std::vector<std::string> stop_looping(std::uint64_t min_fires);
    // "rule 2 \"busy\"" (its index from 0, and its name when it has one).
    std::string label(std::size_t index) const;
    std::uint64_t fired(RuleId id) const { return id < rules_.size() ? rules_[id].fired : 0; }
    // Whether an active rule drives `pin`.
    bool drives(int pin) const {
        for (const Slot &slot : rules_) {
            if (slot.active && slot.rule.action.pin == pin) {
                return true;
            }
        }
        return false;
    }

    void line_changed(const LineView &lines, int pin, bool level) override;
    void link_byte(std::uint8_t byte) override;
    void spi_byte(int channel, std::uint8_t byte) override;
    void spi_end(int channel) override;
    void wave_changed(const LineWave &wave) override;
    void timed(std::uint64_t what, std::uint64_t detail) override;

  private:
    struct Slot {
        Rule rule;
        bool active = true;
        bool stopped = false;  // by stop_looping: its drives are dropped too
        std::uint64_t fired = 0;
        std::uint64_t fired_at_moment = 0;  // at `moment_`
    };

    void fire(std::size_t index);
    void watch_held(std::size_t index);
    void update_interests();

    Engine &engine_;
    std::vector<Slot> rules_;
    std::array<std::vector<std::size_t>, kLineCount> line_rules_;  // Rising, Falling, Edge, Held
    std::vector<std::size_t> link_rules_;
    std::vector<std::size_t> spi_rules_;  // SpiByte, SpiEnd
    std::vector<std::size_t> duty_rules_;
    std::array<double, kLineCount> duty_{};  // each line's duty as last told
    std::uint64_t line_rule_count_ = 0;
    std::uint64_t moment_ = UINT64_MAX;   // when fired_now_ was last begun
    std::vector<std::size_t> fired_now_;  // the rules that fired at moment_
};

}  // namespace vboard

#endif  // VBOARD_RULE_SCHEDULER_HPP
