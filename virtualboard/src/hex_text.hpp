// SPDX-License-Identifier: MIT
// Bytes as the call log writes them: "[3c 00 5a]". Private to the library.
#ifndef VBOARD_HEX_TEXT_HPP
#define VBOARD_HEX_TEXT_HPP

#include <cstdint>
#include <span>
#include <string>

namespace vboard {

inline std::string bracketed_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xf];
    }
    return out + ']';
}

}  // namespace vboard

#endif  // VBOARD_HEX_TEXT_HPP
