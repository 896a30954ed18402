// SPDX-License-Identifier: MIT
// The hardware-access layer: thin wrappers over wiringPi, plus the pin map and the bit-banged link.
//
// Only the functions marked DEVCONFIG_EXPORT leave the shared library; everything else has hidden
// visibility. The source builds unchanged against any wiringPi that provides <wiringPi.h> and
// <wiringPiSPI.h>.

#include "DEV_Config.h"

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cstdio>

#include "devconfig_export.h"

namespace {

constexpr uint16_t kModeInput = 0;
constexpr uint16_t kModeOutput = 1;
constexpr int kSpiChannelM = 0;
constexpr int kSpiChannelS = 1;

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusFailed = 1;

// Applies the pin map: every direction first, then the levels, so no output is driven before all
// eight lines have their function.
void DEV_GPIOConfig() {
    DEV_GPIO_Mode(DEV_SCLK_PIN, kModeOutput);
    DEV_GPIO_Mode(DEV_MOSI_PIN, kModeOutput);
    DEV_GPIO_Mode(DEV_CS_M_PIN, kModeOutput);
    DEV_GPIO_Mode(DEV_CS_S_PIN, kModeOutput);
    DEV_GPIO_Mode(DEV_OUT_A_PIN, kModeOutput);
    DEV_GPIO_Mode(DEV_OUT_B_PIN, kModeOutput);
    DEV_GPIO_Mode(DEV_IN_PIN, kModeInput);
    DEV_GPIO_Mode(DEV_EN_PIN, kModeOutput);

    DEV_Digital_Write(DEV_SCLK_PIN, 0);
    DEV_Digital_Write(DEV_MOSI_PIN, 0);
    DEV_Digital_Write(DEV_CS_M_PIN, 0);
    DEV_Digital_Write(DEV_CS_S_PIN, 0);
    DEV_Digital_Write(DEV_OUT_A_PIN, 0);
    DEV_Digital_Write(DEV_OUT_B_PIN, 0);
    DEV_Digital_Write(DEV_EN_PIN, 1);
}

}  // namespace

extern "C" {

DEVCONFIG_EXPORT void DEV_Digital_Write(uint16_t pin, uint8_t value) { digitalWrite(pin, value); }

DEVCONFIG_EXPORT uint8_t DEV_Digital_Read(uint16_t pin) {
    return static_cast<uint8_t>(digitalRead(pin));
}

DEVCONFIG_EXPORT void DEV_GPIO_Mode(uint16_t pin, uint16_t mode) {
    if (mode == kModeInput) {
        pinMode(pin, INPUT);
        pullUpDnControl(pin, PUD_UP);
    } else {
        pinMode(pin, OUTPUT);
    }
}

DEVCONFIG_EXPORT uint8_t DEV_ModuleInit(void) {
    if (wiringPiSetupGpio() < 0) {
        std::puts("set wiringPi lib failed\t!!! \r");
        return kStatusFailed;
    }
    std::puts("set wiringPi lib success !!! \r");
    DEV_GPIOConfig();
    return kStatusOk;
}

DEVCONFIG_EXPORT void DEV_ModuleExit(void) {
    DEV_Digital_Write(DEV_CS_M_PIN, 0);
    DEV_Digital_Write(DEV_CS_S_PIN, 0);
    DEV_Digital_Write(DEV_OUT_A_PIN, 0);
    DEV_Digital_Write(DEV_OUT_B_PIN, 0);
    DEV_Digital_Write(DEV_EN_PIN, 0);
}

DEVCONFIG_EXPORT void DEV_SPI_SendData(uint8_t value) {
    DEV_GPIO_Mode(DEV_MOSI_PIN, kModeOutput);
    uint8_t bits = value;
    for (int i = 0; i < 8; ++i) {
        DEV_Digital_Write(DEV_SCLK_PIN, 0);
        DEV_Digital_Write(DEV_MOSI_PIN, (bits & 0x80U) != 0 ? 1 : 0);
        DEV_Digital_Write(DEV_SCLK_PIN, 1);
        bits = static_cast<uint8_t>(bits << 1U);
    }
    DEV_Digital_Write(DEV_SCLK_PIN, 0);
}

DEVCONFIG_EXPORT void DEV_SPI_SendData_nByte(uint8_t *data, uint32_t len) {
    if (data == nullptr) {
        return;  // nothing to read; never dereference a null buffer
    }
    for (uint32_t i = 0; i < len; ++i) {
        DEV_SPI_SendData(data[i]);
    }
}

DEVCONFIG_EXPORT uint8_t DEV_SPI_ReadData(void) {
    DEV_GPIO_Mode(DEV_MOSI_PIN, kModeInput);
    uint8_t result = 0;
    for (int i = 0; i < 8; ++i) {
        DEV_Digital_Write(DEV_SCLK_PIN, 0);
        result = static_cast<uint8_t>(result << 1U);
        if (DEV_Digital_Read(DEV_MOSI_PIN) != 0) {
            result |= 0x01U;
        } else {
            result &= 0xFEU;
        }
        DEV_Digital_Write(DEV_SCLK_PIN, 1);
    }
    DEV_Digital_Write(DEV_SCLK_PIN, 0);
    return result;
}

DEVCONFIG_EXPORT void DEV_SPI_WriteByte_M(uint8_t value) {
    unsigned char copy = value;
    wiringPiSPIDataRW(kSpiChannelM, &copy, 1);
}

DEVCONFIG_EXPORT void DEV_SPI_Write_nByte_M(uint8_t *data, uint32_t len) {
    wiringPiSPIDataRW(kSpiChannelM, data, static_cast<int>(len));
}

DEVCONFIG_EXPORT void DEV_SPI_WriteByte_S(uint8_t value) {
    unsigned char copy = value;
    wiringPiSPIDataRW(kSpiChannelS, &copy, 1);
}

DEVCONFIG_EXPORT void DEV_SPI_Write_nByte_S(uint8_t *data, uint32_t len) {
    wiringPiSPIDataRW(kSpiChannelS, data, static_cast<int>(len));
}

DEVCONFIG_EXPORT void DEV_Delay_ms(uint32_t ms) { delay(ms); }

DEVCONFIG_EXPORT void DEV_Delay_us(uint16_t count) {
    while (count != 0) {
        // volatile keeps the optimiser from folding the empty passes away
        volatile uint16_t pass = 0;
        while (pass <= 9) {
            pass = static_cast<uint16_t>(pass + 1);
        }
        count = static_cast<uint16_t>(count - 1);
    }
}

}  // extern "C"
