// SPDX-License-Identifier: MIT
// The PWM and the general-purpose clocks: their registers as wiringPi sets them (the PWM's mode,
// range, clock divisor and each channel's value; each clock's divisor), the wave each of their
// lines carries as the board's Pi model makes it, told to the board when it changes, and, when the
// board draws waves, each edge put on the line at its moment. A part of the board; private to the
// library.
#ifndef VBOARD_PWM_CLOCKS_HPP
#define VBOARD_PWM_CLOCKS_HPP

#include <array>
#include <cstdint>
#include <optional>

#include "engine.hpp"
#include "gpio_bank.hpp"
#include "vboard/pi_model.hpp"

namespace vboard {

class PwmClocks final : public Listener {
  public:
    // `model` and `draw` (whether waves are drawn) are the board's settings.
    PwmClocks(Engine &engine, GpioBank &gpio, const PiModel &model, const bool &draw);

    // The PWM's registers, as pwmSetMode, pwmSetRange, pwmSetClock and pwmWrite set them. A mode
    // starts both channels. set_clock returns false, changing nothing, for a divisor that leaves
    // the model's PWM clock no divisor (the board's caller says why).
    void set_mode(bool balanced);
    void set_range(std::uint32_t range);
    bool set_clock(int divisor);
    void write(int line, std::uint32_t value);
    // gpioClockSet: the clock's divisor from `hz`, as wiringPi computes it. Returns the frequency
    // the clock runs at then, in Hz; 0, changing nothing, for a frequency it cannot make.
    double set_frequency(int line, int hz);
    // The oscillator the model's general-purpose clocks divide, in Hz (0: none to set).
    std::uint64_t oscillator_hz() const;

    // The wave `line` carries (a PWM or clock line), or none.
    std::optional<LineWave> wave(int line) const;
    // Tells the board of every line whose wave changed, and draws it afresh: after a register
    // changed, a PWM or clock line's function changed or the board started or stopped drawing
    // waves.
    void refresh();

    void timed(std::uint64_t what, std::uint64_t detail) override;

  private:
    // What drawing a line's wave has reached: the next edge, in the wave's ticks from its start.
    struct Drawing {
        std::uint64_t generation = 0;  // a timed edge of another generation is stale
        bool moving = false;           // the wave is drawn edge by edge
        std::uint64_t start_ns = 0;
        std::uint64_t tick = 0;     // the next edge's tick
        bool level = false;         // the line's level from it
        std::uint64_t context = 0;  // the balanced mode's accumulator before that tick
    };
    // A wave's ticks, as the time they take: ticks * num / den nanoseconds.
    struct TickLength {
        std::uint64_t num = 0;
        std::uint64_t den = 1;
    };

    LineWave compute(int line) const;
    bool moves(const LineWave &wave) const;  // drawn edge by edge
    std::optional<TickLength> pwm_tick() const;
    void draw(int line, const LineWave &wave);
    void schedule_next(int line);
    // The PWM line's next run of one level from `drawing`: its length in ticks.
    std::uint64_t run_length(int line, Drawing &drawing) const;

    Engine &engine_;
    GpioBank &gpio_;
    const PiModel &model_;
    const bool &draw_;

    bool pwm_started_ = false;
    bool balanced_ = true;        // the PWM's algorithm until a mode is set, as the SoC resets
    std::uint32_t range_ = 32;    // both channels' range, the SoC's reset value
    std::optional<int> divisor_;  // the PWM clock's divisor as passed; none: clock stopped
    std::array<std::uint32_t, 2> value_{};
    std::array<std::uint32_t, 3> clock_divisor_{};  // per generator; 0: not set

    std::array<LineWave, kLineCount> told_{};
    std::array<Drawing, kLineCount> drawing_{};
};

}  // namespace vboard

#endif  // VBOARD_PWM_CLOCKS_HPP
