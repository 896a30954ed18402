// SPDX-License-Identifier: MIT
// Sends or receives N bytes over the three-wire link, either through the layer or by making the
// same wiringPi calls in the same order directly. Run under callgrind against a wiringPi that does
// nothing, the difference per byte is the layer's own cost.
//   layer_calls layer|direct send|recv N

#include <wiringPi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "DEV_Config.h"

namespace {

constexpr int kClock = 11;
constexpr int kData = 10;

void direct_send(const std::vector<uint8_t> &bytes) {
    for (const uint8_t byte : bytes) {
        pinMode(kData, OUTPUT);
        uint8_t bits = byte;
        for (int i = 0; i < 8; ++i) {
            digitalWrite(kClock, 0);
            digitalWrite(kData, (bits & 0x80U) != 0 ? 1 : 0);
            digitalWrite(kClock, 1);
            bits = static_cast<uint8_t>(bits << 1U);
        }
        digitalWrite(kClock, 0);
    }
}

uint8_t direct_receive() {
    pinMode(kData, INPUT);
    pullUpDnControl(kData, PUD_UP);
    uint8_t result = 0;
    for (int i = 0; i < 8; ++i) {
        digitalWrite(kClock, 0);
        result = static_cast<uint8_t>(result << 1U);
        if (digitalRead(kData) != 0) {
            result |= 0x01U;
        } else {
            result &= 0xFEU;
        }
        digitalWrite(kClock, 1);
    }
    digitalWrite(kClock, 0);
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s layer|direct send|recv N\n", argv[0]);
        return 2;
    }
    const std::string_view how = argv[1];
    const std::string_view what = argv[2];
    const auto count = static_cast<std::size_t>(std::strtoul(argv[3], nullptr, 10));
    const bool layer = how == "layer";
    std::vector<uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 37U);
    }
    unsigned sum = 0;
    if (what == "send") {
        if (layer) {
            DEV_SPI_SendData_nByte(bytes.data(), static_cast<uint32_t>(count));
        } else {
            direct_send(bytes);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            sum += layer ? DEV_SPI_ReadData() : direct_receive();
        }
    }
    return sum == 1U ? 1 : 0;  // keeps the received bytes alive
}
