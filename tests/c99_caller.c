// SPDX-License-Identifier: MIT
/* A plain C99 caller of the layer, built with -std=c99 -Wall -Wextra -Wpedantic -Werror: the
 * public header must serve C callers as they are. Runs on the virtual board and exits non-zero if
 * the layer did not do what its header says. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "DEV_Config.h"

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "c99_caller: %s\n", what);
        ++failures;
    }
}

int main(void) {
    uint8_t buffer[2] = {0x12, 0x34};
    const uint16_t pins[8] = {DEV_SCLK_PIN,  DEV_MOSI_PIN,  DEV_CS_M_PIN, DEV_CS_S_PIN,
                              DEV_OUT_A_PIN, DEV_OUT_B_PIN, DEV_IN_PIN,   DEV_EN_PIN};
    size_t i;

    check(DEV_ModuleInit() == 0, "DEV_ModuleInit did not return 0");
    check(DEV_Digital_Read(DEV_EN_PIN) == 1, "the enable line is not high after open");
    check(DEV_Digital_Read(DEV_IN_PIN) == 1, "the input does not read its pull-up");
    for (i = 0; i < 8; ++i) {
        check(pins[i] < 28, "a pin-map constant is not a header line");
    }
    DEV_GPIO_Mode(DEV_OUT_A_PIN, 1);
    DEV_Digital_Write(DEV_OUT_A_PIN, 1);
    check(DEV_Digital_Read(DEV_OUT_A_PIN) == 1, "a written output does not read back high");
    DEV_SPI_SendData(0xA5);
    DEV_SPI_SendData_nByte(buffer, 2);
    check(DEV_SPI_ReadData() == 0xFF, "a receive with nothing driving is not 0xFF");
    DEV_SPI_WriteByte_M(0x01);
    DEV_SPI_Write_nByte_M(buffer, 2);
    DEV_SPI_WriteByte_S(0x02);
    DEV_SPI_Write_nByte_S(buffer, 2);
    DEV_Delay_ms(0);
    DEV_Delay_us(1);
    DEV_ModuleExit();
    check(DEV_Digital_Read(DEV_EN_PIN) == 0, "the enable line is not low after close");
    return failures == 0 ? 0 : 1;
}
