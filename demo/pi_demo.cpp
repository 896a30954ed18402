// SPDX-License-Identifier: MIT
// The demo for a build on the real wiringPi, where the lines cannot be inspected from inside:
// it runs each job of the layer once and prints what the layer itself reports.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "DEV_Config.h"
#include "pin_map.hpp"

namespace {

constexpr int kSpiSpeedHz = 1000000;
constexpr int kAlt0 = 4;

void print_levels() {
    for (const PinMapEntry &entry : kPinMap) {
        std::printf("   %-14s BCM %2u reads %u\n", entry.name, entry.pin,
                    DEV_Digital_Read(entry.pin));
    }
}

}  // namespace

int main() {
    std::puts("The hardware-access layer on wiringPi");
    std::fflush(stdout);
    if (DEV_ModuleInit() != 0) {
        return 1;
    }
    std::puts("1. The pin map after open:");
    print_levels();

    uint8_t command[] = {0xA5, 0x3C};
    DEV_SPI_SendData_nByte(command, sizeof command);
    std::puts("2. Sent a5 3c over the three-wire link (clock BCM 11, data BCM 10)");
    std::printf("3. Received %02x over the link (ff: nothing drives the data line)\n",
                DEV_SPI_ReadData());

    if (wiringPiSPISetup(0, kSpiSpeedHz) < 0) {
        std::puts("4. SPI0 channel 0 could not be opened; hardware SPI skipped");
    } else {
        for (const int pin : {DEV_SCLK_PIN, DEV_MOSI_PIN, DEV_CS_M_PIN, DEV_CS_S_PIN}) {
            pinModeAlt(pin, kAlt0);
        }
        uint8_t data[] = {0xDE, 0xAD, 0xBE, 0xEF};
        DEV_SPI_Write_nByte_M(data, sizeof data);
        std::printf("4. SPI0 channel 0 wrote de ad be ef and clocked in %02x %02x %02x %02x\n",
                    data[0], data[1], data[2], data[3]);
    }

    DEV_ModuleExit();
    std::puts("5. The pin map after close:");
    print_levels();
    return 0;
}
