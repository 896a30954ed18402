// SPDX-License-Identifier: MIT
// The numberings a wiringPi program may choose at set-up, and the 40-pin header: each maps a
// program's pin to a BCM line, or to none.
#ifndef VBOARD_PIN_NUMBERING_HPP
#define VBOARD_PIN_NUMBERING_HPP

#include <cstdint>

#include "vboard/export.h"

namespace vboard {

enum class Numbering : std::uint8_t {
    Bcm,       // wiringPiSetupGpio, wiringPiSetupSys: BCM lines 0 to 53
    WiringPi,  // wiringPiSetup: wiringPi's own pin numbers
    Physical,  // wiringPiSetupPhys: the header's pins 1 to 40
};

VBOARD_EXPORT const char *to_string(Numbering numbering);  // "BCM", "wiringPi", "physical"

// The BCM line of `pin` in `numbering` on a 40-pin board, or -1 when it has none.
VBOARD_EXPORT int bcm_line(Numbering numbering, int pin);

// The 40-pin header's pin `physical` (1 to 40): a BCM line, or -1 with the supply it carries
// ("3.3V", "5V", "GND"); {-1, ""} off the header.
struct HeaderPin {
    int bcm;
    const char *supply;
};
VBOARD_EXPORT HeaderPin header_pin(int physical);

}  // namespace vboard

#endif  // VBOARD_PIN_NUMBERING_HPP
