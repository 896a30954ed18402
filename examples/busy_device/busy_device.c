// SPDX-License-Identifier: MIT
/* A driver for an imaginary peripheral on the pin map, written only against DEV_Config.h.
 *
 * The device has an active-low reset on OUT_B (BCM 17), a data/command line on OUT_A (BCM 25: low
 * for a command byte, high for data), its select on CS_M (BCM 8) and a busy output on IN (BCM 24,
 * low while it works). It takes commands over the three-wire link:
 *   0x12 d0 d1   store two bytes; busy for a few milliseconds afterwards
 *   0x71         answer one status byte, 0x5a when all is well
 * The driver resets it, waits for it, stores two bytes, waits again, reads the status and prints
 * it. It exits 0 when the status is good, 2 if the device stays busy, 3 for a bad status. */
#include <stdint.h>
#include <stdio.h>

#include "DEV_Config.h"

#define RESET_PIN DEV_OUT_B_PIN
#define DC_PIN DEV_OUT_A_PIN
#define SELECT_PIN DEV_CS_M_PIN
#define BUSY_PIN DEV_IN_PIN

enum { CMD_STORE = 0x12, CMD_STATUS = 0x71, STATUS_OK = 0x5a, BUSY_TIMEOUT_MS = 100 };

/* Polls the busy line once a millisecond; 0 once the device is idle, -1 after timeout_ms. */
static int wait_until_idle(unsigned timeout_ms) {
    unsigned waited = 0;
    while (DEV_Digital_Read(BUSY_PIN) == 0) {
        if (waited++ == timeout_ms) {
            return -1;
        }
        DEV_Delay_ms(1);
    }
    return 0;
}

static void reset_device(void) {
    DEV_Digital_Write(RESET_PIN, 0);
    DEV_Delay_ms(1);
    DEV_Digital_Write(RESET_PIN, 1);
    DEV_Delay_ms(1);
}

/* One command byte, then its data, in one select frame. */
static void send_command(uint8_t command, uint8_t *data, uint32_t len) {
    DEV_Digital_Write(SELECT_PIN, 0);
    DEV_Digital_Write(DC_PIN, 0);
    DEV_SPI_SendData(command);
    if (len > 0) {
        DEV_Digital_Write(DC_PIN, 1);
        DEV_SPI_SendData_nByte(data, len);
    }
    DEV_Digital_Write(SELECT_PIN, 1);
}

static uint8_t read_status(void) {
    DEV_Digital_Write(SELECT_PIN, 0);
    DEV_Digital_Write(DC_PIN, 0);
    DEV_SPI_SendData(CMD_STATUS);
    DEV_Digital_Write(DC_PIN, 1);
    const uint8_t status = DEV_SPI_ReadData();
    DEV_Digital_Write(SELECT_PIN, 1);
    return status;
}

static int fail(const char *what) {
    fprintf(stderr, "busy_device: %s\n", what);
    DEV_ModuleExit();
    return 2;
}

int main(void) {
    if (DEV_ModuleInit() != 0) {
        return 1;
    }
    DEV_Digital_Write(SELECT_PIN, 1); /* deselected until a command */
    reset_device();
    if (wait_until_idle(BUSY_TIMEOUT_MS) != 0) {
        return fail("still busy after reset");
    }
    uint8_t data[2] = {0xa5, 0x3c};
    send_command(CMD_STORE, data, sizeof data);
    DEV_Delay_ms(1); /* the device raises busy within 100 us of the command */
    if (wait_until_idle(BUSY_TIMEOUT_MS) != 0) {
        return fail("still busy after the store command");
    }
    const uint8_t status = read_status();
    printf("status 0x%02x\n", status);
    DEV_ModuleExit();
    return status == STATUS_OK ? 0 : 3;
}
