// SPDX-License-Identifier: MIT
// JSON text for the board's outputs. Private to the library.
#ifndef VBOARD_JSON_HPP
#define VBOARD_JSON_HPP

#include <string>
#include <string_view>

namespace vboard {

// `text` as a JSON string. <, > and & are escaped too, so the text can stand inside an HTML
// script element whatever it holds.
inline std::string json_string(std::string_view text) {
    constexpr const char *hex = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace vboard

#endif  // VBOARD_JSON_HPP
