// SPDX-License-Identifier: MIT
// Reactive lines: rules that drive a line from outside the SoC, in the board's virtual time, when
// something happens on the board. Add them with Board::add_rule.
//
// A rule is "when TRIGGER, after DELAY, drive PIN to LEVEL (for DURATION, then THEN)". The drive is
// an external one, like Board::drive: it never overrides what the SoC itself drives on an output,
// and "release" lets the line float back to its pull.
//
// Timing: a rule fires at the trigger's moment in virtual time; its drive lands `after_ns` later,
// on the board's clock, even in the middle of a wiringPi call's cost or of a delay, so a caller
// polling the line sees the change at the first read after that moment.
#ifndef VBOARD_RULES_HPP
#define VBOARD_RULES_HPP

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "vboard/export.h"

namespace vboard {

// What a rule does to its line.
enum class Drive : std::uint8_t { Low, High, Release };

// When a rule fires. Build one with the named constructors.
struct VBOARD_EXPORT Trigger {
    enum class Kind : std::uint8_t {
        At,         // once, when the clock reaches `time_ns`
        Rising,     // each rising edge of `pin`
        Falling,    // each falling edge of `pin`
        Edge,       // each change of `pin`
        LinkByte,   // each byte the three-wire link device receives (`byte`, or any)
        SpiByte,    // each byte a transfer on `channel` moves to its device (`byte`, or any)
        SpiEnd,     // each transfer on `channel` that reached the wire, when it ends
        Held,       // each time `pin` has stayed at `level` for `time_ns` (once per stretch)
        DutyAbove,  // each time the PWM wave on `pin` comes to a duty above `duty` from one not
        DutyBelow,  // each time it comes to a duty below `duty` from one not
    };

    Kind kind = Kind::At;
    std::uint64_t time_ns = 0;         // At: the moment; Held: how long the level must last
    int pin = -1;                      // Rising, Falling, Edge, Held
    bool level = true;                 // Held
    std::optional<std::uint8_t> byte;  // LinkByte, SpiByte: the byte to match; none for any
    int channel = -1;                  // SpiByte, SpiEnd: 0 or 1; -1 for either
    double duty = 0;                   // DutyAbove, DutyBelow: a share of the period, 0 to 1

    static Trigger at(std::uint64_t time_ns);
    static Trigger rising(int pin);
    static Trigger falling(int pin);
    static Trigger edge(int pin);
    static Trigger link_byte(std::optional<std::uint8_t> byte = std::nullopt);
    static Trigger spi_byte(int channel, std::optional<std::uint8_t> byte = std::nullopt);
    static Trigger spi_end(int channel);
    static Trigger held(int pin, bool level, std::uint64_t time_ns);
    static Trigger duty_above(int pin, double duty);
    static Trigger duty_below(int pin, double duty);
};

// What a rule does when it fires.
struct Action {
    int pin = -1;
    Drive level = Drive::Release;
    std::uint64_t after_ns = 0;           // from the trigger to the drive
    std::optional<std::uint64_t> for_ns;  // if set, `then` is applied this long after the drive
    Drive then = Drive::Release;
};

struct Rule {
    std::string name;  // for messages; may be empty
    Trigger when;
    Action action;
};

// Names a rule on its board, for remove_rule and rule_fired. Never reused on that board.
using RuleId = std::size_t;

}  // namespace vboard

#endif  // VBOARD_RULES_HPP
