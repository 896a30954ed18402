// SPDX-License-Identifier: MIT
/* A driver for the imaginary sensor of sensor_model.c, in C99 against the layer: it starts three
 * conversions, waits for the data-ready line (DEV_IN_PIN) to fall after each, and reads the result.
 * On the virtual board: vboard run --board sensor.toml -- sensor_driver */

#include <stdint.h>
#include <stdio.h>

#include "DEV_Config.h"

enum { kStart = 0x01, kRead = 0x02, kTimeoutMs = 100 };

static void command(uint8_t code) {
    DEV_Digital_Write(DEV_CS_M_PIN, 0);
    DEV_SPI_SendData(code);
    DEV_Digital_Write(DEV_CS_M_PIN, 1);
}

/* Waits for the data-ready line to go low; returns 0, or -1 after kTimeoutMs. */
static int wait_ready(void) {
    for (int ms = 0; ms < kTimeoutMs; ++ms) {
        if (DEV_Digital_Read(DEV_IN_PIN) == 0) {
            return 0;
        }
        DEV_Delay_ms(1);
    }
    return -1;
}

static uint16_t read_result(void) {
    DEV_Digital_Write(DEV_CS_M_PIN, 0);
    DEV_SPI_SendData(kRead);
    const uint8_t high = DEV_SPI_ReadData();
    const uint8_t low = DEV_SPI_ReadData();
    DEV_Digital_Write(DEV_CS_M_PIN, 1);
    return (uint16_t)((high << 8) | low);
}

int main(void) {
    if (DEV_ModuleInit() != 0) {
        return 1;
    }
    DEV_Digital_Write(DEV_CS_M_PIN, 1); /* the sensor's select line idles high */
    int status = 0;
    for (int i = 0; i < 3 && status == 0; ++i) {
        command(kStart);
        if (wait_ready() != 0) {
            fprintf(stderr, "sensor_driver: no result within %d ms\n", kTimeoutMs);
            status = 1;
        } else {
            printf("result %u: 0x%04x\n", (unsigned)i, (unsigned)read_result());
        }
    }
    DEV_ModuleExit();
    return status;
}
