// SPDX-License-Identifier: MIT
// The one error for a configuration the board cannot use: a board file (vboard/board_file.hpp,
// where it is BoardFileError) or a device's parameters and lines (vboard/device.hpp, where it is
// DeviceError), whether they come from a file or from C++.
#ifndef VBOARD_CONFIG_ERROR_HPP
#define VBOARD_CONFIG_ERROR_HPP

#include <stdexcept>
#include <string>

#include "vboard/export.h"

namespace vboard {

// what() is one line: "FILE:LINE: KEY: expected WHAT", or without a line (0) "FILE: KEY: expected
// WHAT", or with no key either "FILE: expected WHAT". KEY is the dotted path of the value
// ("device[0].params.conversion").
class VBOARD_EXPORT ConfigError : public std::runtime_error {
  public:
    ConfigError(std::string file, int line, std::string key, std::string expected);

    const std::string &file() const { return file_; }
    int line() const { return line_; }
    const std::string &key() const { return key_; }
    const std::string &expected() const { return expected_; }

  private:
    std::string file_;
    int line_;
    std::string key_;
    std::string expected_;
};

using BoardFileError = ConfigError;
using DeviceError = ConfigError;

// What a value of each kind must look like, for the messages that refuse one: the board file's
// and the devices' parameters say it in the same words.
inline constexpr const char *kExpectedBoolean = "true or false";
inline constexpr const char *kExpectedString = "a string";
inline constexpr const char *kExpectedBytes = "an array of bytes, as [0x5a, 0xc3]";
inline constexpr const char *kExpectedDuration =
    "a duration with its unit, as \"100us\", \"5ms\" or \"2s\"";

}  // namespace vboard

#endif  // VBOARD_CONFIG_ERROR_HPP
