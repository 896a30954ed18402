// SPDX-License-Identifier: MIT
// The Raspberry Pi models the board can be: what wiringPi's board-information calls answer for
// each, from its revision code.
#ifndef VBOARD_PI_MODEL_HPP
#define VBOARD_PI_MODEL_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vboard/export.h"

namespace vboard {

enum class PiModel : std::uint8_t { Pi3B, Pi4B, Pi400, Zero2W, Pi5, Cm4 };

// "pi3b", "pi4b", "pi400", "zero2w", "pi5", "cm4": the board file's names.
VBOARD_EXPORT const char *to_string(PiModel model);
VBOARD_EXPORT std::optional<PiModel> pi_model_named(std::string_view name);
// "\"pi3b\", \"pi4b\", ... or \"cm4\"", for messages.
VBOARD_EXPORT std::string pi_model_choices();
// "Raspberry Pi 4 Model B".
VBOARD_EXPORT const char *pi_model_title(PiModel model);

// The model's revision code (new style: memory, maker, processor, type and revision in bits), as
// a Pi of that model reports it: a 4 GB Pi 4B of revision 1.4 is 0xc03114.
VBOARD_EXPORT std::uint32_t revision_code(PiModel model);

}  // namespace vboard

#endif  // VBOARD_PI_MODEL_HPP
