// SPDX-License-Identifier: MIT
// The pin map's constants by name, for the demos' tables.
#ifndef DEMO_PIN_MAP_HPP
#define DEMO_PIN_MAP_HPP

#include <cstdint>

#include "DEV_Config.h"

struct PinMapEntry {
    const char *name;
    uint16_t pin;
};

inline constexpr PinMapEntry kPinMap[] = {
    {"DEV_SCLK_PIN", DEV_SCLK_PIN},   {"DEV_MOSI_PIN", DEV_MOSI_PIN},
    {"DEV_CS_M_PIN", DEV_CS_M_PIN},   {"DEV_CS_S_PIN", DEV_CS_S_PIN},
    {"DEV_OUT_A_PIN", DEV_OUT_A_PIN}, {"DEV_OUT_B_PIN", DEV_OUT_B_PIN},
    {"DEV_IN_PIN", DEV_IN_PIN},       {"DEV_EN_PIN", DEV_EN_PIN},
};

#endif  // DEMO_PIN_MAP_HPP
