// SPDX-License-Identifier: MIT
// The pin numberings of a 40-pin board.

#include "vboard/pin_numbering.hpp"

#include "vboard/types.hpp"

namespace vboard {
namespace {

// The header's pins from 1: odd on the left, even on the right.
constexpr HeaderPin kHeader[40] = {
    {-1, "3.3V"}, {-1, "5V"},  {2, ""},  {-1, "5V"},  {3, ""},  {-1, "GND"}, {4, ""},     {14, ""},
    {-1, "GND"},  {15, ""},    {17, ""}, {18, ""},    {27, ""}, {-1, "GND"}, {22, ""},    {23, ""},
    {-1, "3.3V"}, {24, ""},    {10, ""}, {-1, "GND"}, {9, ""},  {25, ""},    {11, ""},    {8, ""},
    {-1, "GND"},  {7, ""},     {0, ""},  {1, ""},     {5, ""},  {-1, "GND"}, {6, ""},     {12, ""},
    {13, ""},     {-1, "GND"}, {19, ""}, {16, ""},    {26, ""}, {20, ""},    {-1, "GND"}, {21, ""},
};

// wiringPi's pin numbers 0 to 31 on a 40-pin board; 17 to 20 are the old P5 header's, not there.
constexpr int kWiringPi[32] = {17, 18, 27, 22, 23, 24, 25, 4,  2,  3,  8,  7,  10, 9,  11, 14,
                               15, -1, -1, -1, -1, 5,  6,  13, 19, 26, 12, 16, 20, 21, 0,  1};

}  // namespace

const char *to_string(Numbering numbering) {
    switch (numbering) {
        case Numbering::Bcm: return "BCM";
        case Numbering::WiringPi: return "wiringPi";
        case Numbering::Physical: return "physical";
    }
    return "?";
}

HeaderPin header_pin(int physical) {
    if (physical < 1 || physical > 40) {
        return {-1, ""};
    }
    return kHeader[physical - 1];
}

int bcm_line(Numbering numbering, int pin) {
    switch (numbering) {
        case Numbering::Bcm: return pin >= 0 && pin < kLineCount ? pin : -1;
        case Numbering::WiringPi: return pin >= 0 && pin < 32 ? kWiringPi[pin] : -1;
        case Numbering::Physical: return header_pin(pin).bcm;
    }
    return -1;
}

}  // namespace vboard
