// SPDX-License-Identifier: MIT
// The header table of the readall step and of vboard readall.

#include "header_table.hpp"

#include "DEV_Config.h"

#include <cstdio>
#include <string_view>

namespace devcfg {

std::vector<std::pair<int, std::string>> layer_line_names() {
#define DEVCFG_NAMED(pin) \
    { pin, #pin }
    return {DEVCFG_NAMED(DEV_SCLK_PIN), DEVCFG_NAMED(DEV_MOSI_PIN),  DEVCFG_NAMED(DEV_CS_M_PIN),
            DEVCFG_NAMED(DEV_CS_S_PIN), DEVCFG_NAMED(DEV_OUT_A_PIN), DEVCFG_NAMED(DEV_OUT_B_PIN),
            DEVCFG_NAMED(DEV_IN_PIN),   DEVCFG_NAMED(DEV_EN_PIN)};
#undef DEVCFG_NAMED
}

namespace {

// Physical pin 1 first: a BCM line, or -1 with a supply's name.
struct Position {
    int bcm;
    const char *supply;
};
constexpr Position kHeader[40] = {
    {-1, "3.3V"}, {-1, "5V"},  {2, ""},  {-1, "5V"},  {3, ""},  {-1, "GND"}, {4, ""},     {14, ""},
    {-1, "GND"},  {15, ""},    {17, ""}, {18, ""},    {27, ""}, {-1, "GND"}, {22, ""},    {23, ""},
    {-1, "3.3V"}, {24, ""},    {10, ""}, {-1, "GND"}, {9, ""},  {25, ""},    {11, ""},    {8, ""},
    {-1, "GND"},  {7, ""},     {0, ""},  {1, ""},     {5, ""},  {-1, "GND"}, {6, ""},     {12, ""},
    {13, ""},     {-1, "GND"}, {19, ""}, {16, ""},    {26, ""}, {20, ""},    {-1, "GND"}, {21, ""},
};

std::string name_of(int bcm) {
    switch (bcm) {
        case 11: return "DEV_SCLK";
        case 10: return "DEV_MOSI";
        case 9: return "MISO";
        case 8: return "DEV_CS_M";
        case 7: return "DEV_CS_S";
        case 25: return "DEV_OUT_A";
        case 17: return "DEV_OUT_B";
        case 24: return "DEV_IN";
        case 18: return "DEV_EN";
        default: return "GPIO " + std::to_string(bcm);
    }
}

const char *mode_of(int code) {
    static constexpr const char *kModes[] = {"IN",   "OUT",  "ALT5", "ALT4",
                                             "ALT0", "ALT1", "ALT2", "ALT3"};
    return code >= 0 && code < 8 ? kModes[code] : "?";
}

struct Cells {
    std::string bcm, name, mode, level;
};

Cells cells_of(const Position &position, const std::array<HeaderLine, kHeaderLines> &lines) {
    if (position.bcm < 0) {
        return {"", position.supply, "", ""};
    }
    const HeaderLine &line = lines[position.bcm];
    return {std::to_string(position.bcm), name_of(position.bcm), mode_of(line.alt_code),
            line.level != 0 ? "1" : "0"};
}

}  // namespace

std::string header_table(const std::array<HeaderLine, kHeaderLines> &lines) {
    constexpr std::string_view rule =
        " +-----+-----------+------+---+----++----+---+------+-----------+-----+\n";
    std::string out(rule);
    out += " | BCM | Name      | Mode | V | Physical | V | Mode | Name      | BCM |\n";
    out += rule;
    for (int row = 0; row < 20; ++row) {
        const Cells left = cells_of(kHeader[2 * row], lines);
        const Cells right = cells_of(kHeader[2 * row + 1], lines);
        char text[128];
        std::snprintf(text, sizeof text,
                      " | %3s | %-9s | %4s | %1s | %2d || %-2d | %1s | %-4s | %-9s | %3s |\n",
                      left.bcm.c_str(), left.name.c_str(), left.mode.c_str(), left.level.c_str(),
                      2 * row + 1, 2 * row + 2, right.level.c_str(), right.mode.c_str(),
                      right.name.c_str(), right.bcm.c_str());
        out += text;
    }
    out += rule;
    out += " | BCM | Name      | Mode | V | Physical | V | Mode | Name      | BCM |\n";
    out += rule;
    return out;
}

}  // namespace devcfg
