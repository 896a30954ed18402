// SPDX-License-Identifier: MIT
// The outputs a run can write, each defined in a file of its own (output_*.cpp) and listed once,
// in output_modules() (run_outputs.cpp). Private to the library.
#ifndef VBOARD_OUTPUT_MODULES_HPP
#define VBOARD_OUTPUT_MODULES_HPP

#include <memory>
#include <optional>
#include <string>

#include "vboard/run_outputs.hpp"

namespace vboard {

extern const OutputModule kVcdOutput;               // output_vcd.cpp
extern const OutputModule kCallLogOutput;           // output_call_log.cpp
extern const OutputModule kTransactionsOutput;      // output_transactions.cpp
extern const OutputModule kTransactionsTextOutput;  // output_transactions.cpp
extern const OutputModule kHtmlOutput;              // output_html.cpp
extern const OutputModule kFramesOutput;            // output_frames.cpp

// "writing 'PATH' failed", for a file that could not be written to the end.
std::string write_failed(const std::string &path);

}  // namespace vboard

#endif  // VBOARD_OUTPUT_MODULES_HPP
