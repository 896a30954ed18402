// SPDX-License-Identifier: MIT
// The names of the board's basic types, and the function-select codes.

#include "vboard/types.hpp"

namespace vboard {

const char *to_string(Function function) {
    switch (function) {
        case Function::Input: return "INPUT";
        case Function::Output: return "OUTPUT";
        case Function::Alt0: return "ALT0";
        case Function::Alt1: return "ALT1";
        case Function::Alt2: return "ALT2";
        case Function::Alt3: return "ALT3";
        case Function::Alt4: return "ALT4";
        case Function::Alt5: return "ALT5";
    }
    return "?";
}

const char *to_string(Pull pull) {
    switch (pull) {
        case Pull::Off: return "off";
        case Pull::Down: return "down";
        case Pull::Up: return "up";
    }
    return "?";
}

const char *to_string(Bus bus) {
    switch (bus) {
        case Bus::Link: return "link";
        case Bus::Spi0: return "spi0";
        case Bus::Spi1: return "spi1";
    }
    return "?";
}

int alt_code(Function function) {
    static constexpr int kCodes[] = {0, 1, 4, 5, 6, 7, 3, 2};  // in the order of Function
    return kCodes[static_cast<int>(function)];
}

std::optional<Function> function_from_alt_code(int code) {
    switch (code) {
        case 0: return Function::Input;
        case 1: return Function::Output;
        case 4: return Function::Alt0;
        case 5: return Function::Alt1;
        case 6: return Function::Alt2;
        case 7: return Function::Alt3;
        case 3: return Function::Alt4;
        case 2: return Function::Alt5;
        default: return std::nullopt;
    }
}

}  // namespace vboard
