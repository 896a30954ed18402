// SPDX-License-Identifier: MIT
// The rule triggers' named constructors.

#include "vboard/rules.hpp"

namespace vboard {

Trigger Trigger::at(std::uint64_t time_ns) {
    Trigger t;
    t.kind = Kind::At;
    t.time_ns = time_ns;
    return t;
}

Trigger Trigger::rising(int pin) {
    Trigger t;
    t.kind = Kind::Rising;
    t.pin = pin;
    return t;
}

Trigger Trigger::falling(int pin) {
    Trigger t = rising(pin);
    t.kind = Kind::Falling;
    return t;
}

Trigger Trigger::edge(int pin) {
    Trigger t = rising(pin);
    t.kind = Kind::Edge;
    return t;
}

Trigger Trigger::link_byte(std::optional<std::uint8_t> byte) {
    Trigger t;
    t.kind = Kind::LinkByte;
    t.byte = byte;
    return t;
}

Trigger Trigger::spi_byte(int channel, std::optional<std::uint8_t> byte) {
    Trigger t;
    t.kind = Kind::SpiByte;
    t.channel = channel;
    t.byte = byte;
    return t;
}

Trigger Trigger::spi_end(int channel) {
    Trigger t;
    t.kind = Kind::SpiEnd;
    t.channel = channel;
    return t;
}

Trigger Trigger::held(int pin, bool level, std::uint64_t time_ns) {
    Trigger t;
    t.kind = Kind::Held;
    t.pin = pin;
    t.level = level;
    t.time_ns = time_ns;
    return t;
}

namespace {

Trigger duty_trigger(Trigger::Kind kind, int pin, double duty) {
    Trigger t;
    t.kind = kind;
    t.pin = pin;
    t.duty = duty;
    return t;
}

}  // namespace

Trigger Trigger::duty_above(int pin, double duty) {
    return duty_trigger(Kind::DutyAbove, pin, duty);
}

Trigger Trigger::duty_below(int pin, double duty) {
    return duty_trigger(Kind::DutyBelow, pin, duty);
}

}  // namespace vboard
