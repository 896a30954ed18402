// SPDX-License-Identifier: MIT
// Durations of virtual time as people write them: "50ms", "2s", "100us", "1.5ms", "20ns".
#ifndef VBOARD_DURATION_HPP
#define VBOARD_DURATION_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vboard/export.h"

namespace vboard {

// A whole or decimal number followed at once by its unit, ns, us (or µs), ms or s; the unit is
// required. Returns the length in nanoseconds, or nothing for any other text, for a length that
// is not a whole number of nanoseconds and for one past about 584 years.
VBOARD_EXPORT std::optional<std::uint64_t> parse_duration(std::string_view text);

// The shortest exact form in the largest fitting unit: "50 ms", "1.05 ms", "2 s", "0 s", "20 ns".
VBOARD_EXPORT std::string format_duration(std::uint64_t ns);

}  // namespace vboard

#endif  // VBOARD_DURATION_HPP
