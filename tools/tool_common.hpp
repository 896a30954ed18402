// SPDX-License-Identifier: MIT
// What devcfg and vboard share: not a stable interface, only to avoid writing a fact twice. The
// functions need the virtual board (tool_common.cpp is built only with it); the constants do not.
#ifndef TOOLS_TOOL_COMMON_HPP
#define TOOLS_TOOL_COMMON_HPP

#include <cstdint>
#include <string>

namespace vboard {
enum class RunSetting : std::uint8_t;
}

namespace tool {

inline constexpr int kExitUsage = 2;  // a bad command line; nothing was run

// The option that asks for a run's setting: an output's from the board's table of outputs,
// "--board" for the board file, else the variable that carries it.
std::string option_name(vboard::RunSetting setting);

// `help` wrapped into a usage text's option row: "  --vcd FILE           stream the ...",
// its lines at most 99 columns, the help from column 24.
std::string usage_row(const std::string &option, const std::string &help);

}  // namespace tool

#endif  // TOOLS_TOOL_COMMON_HPP
