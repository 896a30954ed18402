// SPDX-License-Identifier: MIT
/* A driver for a 64x16 black/white panel with an SSD16xx-family controller on the three-wire link,
 * written only against DEV_Config.h: a full refresh, then a partial refresh each minute, as a clock
 * would, done the way that leaves no ghost: before each partial refresh RAM 0x24 holds the new
 * image and RAM 0x26 the image the panel shows, which the driver writes again after each refresh.
 *
 * Wiring: data/command on OUT_A (BCM 25: low for a command byte, high for data), reset on OUT_B
 * (BCM 17, active low), busy on IN (BCM 24, high while the panel works), select on CS_M (BCM 8).
 * It draws a frame, then fills a bar a quarter further each minute for three minutes. Exits 0, or
 * 2 when the panel stays busy. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "DEV_Config.h"

#define DC_PIN DEV_OUT_A_PIN
#define RESET_PIN DEV_OUT_B_PIN
#define BUSY_PIN DEV_IN_PIN
#define SELECT_PIN DEV_CS_M_PIN

enum { WIDTH = 64, HEIGHT = 16, ROW_BYTES = WIDTH / 8, BUSY_TIMEOUT_MS = 5000, MINUTES = 3 };

enum {
    CMD_DRIVER_OUTPUT = 0x01,
    CMD_DEEP_SLEEP = 0x10,
    CMD_ENTRY_MODE = 0x11,
    CMD_SOFT_RESET = 0x12,
    CMD_ACTIVATE = 0x20,
    CMD_UPDATE_2 = 0x22,
    CMD_WRITE_BW = 0x24,
    CMD_WRITE_PREVIOUS = 0x26,
    CMD_WINDOW_X = 0x44,
    CMD_WINDOW_Y = 0x45,
    CMD_COUNTER_X = 0x4E,
    CMD_COUNTER_Y = 0x4F,
};

/* Display update control 2: power on, load, display and power off; mode 2 is the partial one. */
enum { FULL_REFRESH = 0xF7, PARTIAL_REFRESH = 0xFF };

static uint8_t g_image[ROW_BYTES * HEIGHT]; /* a 1 bit white */

static void set_black(int x, int y) {
    g_image[y * ROW_BYTES + x / 8] &= (uint8_t) ~(0x80u >> (x % 8));
}

/* Polls busy every 10 ms until the panel is idle: 0, or -1 after BUSY_TIMEOUT_MS. */
static int wait_until_idle(void) {
    for (unsigned waited = 0; DEV_Digital_Read(BUSY_PIN) == 1; waited += 10) {
        if (waited >= BUSY_TIMEOUT_MS) {
            return -1;
        }
        DEV_Delay_ms(10);
    }
    return 0;
}

/* One command byte, then its data, in one select frame. */
static void send(uint8_t command, const uint8_t *data, uint32_t len) {
    DEV_Digital_Write(SELECT_PIN, 0);
    DEV_Digital_Write(DC_PIN, 0);
    DEV_SPI_SendData(command);
    if (len > 0) {
        DEV_Digital_Write(DC_PIN, 1);
        DEV_SPI_SendData_nByte((uint8_t *)data, len);
    }
    DEV_Digital_Write(SELECT_PIN, 1);
}

static void send1(uint8_t command, uint8_t value) { send(command, &value, 1); }

static int start_panel(void) {
    DEV_Digital_Write(RESET_PIN, 0);
    DEV_Delay_ms(10);
    DEV_Digital_Write(RESET_PIN, 1);
    DEV_Delay_ms(10);
    send(CMD_SOFT_RESET, NULL, 0);
    if (wait_until_idle() != 0) {
        return -1;
    }
    const uint8_t gates[] = {HEIGHT - 1, 0x00, 0x00};
    const uint8_t window_x[] = {0, ROW_BYTES - 1};
    const uint8_t window_y[] = {0, 0, HEIGHT - 1, 0};
    send(CMD_DRIVER_OUTPUT, gates, sizeof gates);
    send1(CMD_ENTRY_MODE, 0x03); /* X then Y, both increasing */
    send(CMD_WINDOW_X, window_x, sizeof window_x);
    send(CMD_WINDOW_Y, window_y, sizeof window_y);
    return 0;
}

static void write_ram(uint8_t command) {
    const uint8_t origin[] = {0, 0};
    send1(CMD_COUNTER_X, 0);
    send(CMD_COUNTER_Y, origin, sizeof origin);
    send(command, g_image, sizeof g_image);
}

/* Shows g_image and keeps RAM 0x26 holding it: the previous image of the next partial refresh. */
static int show(uint8_t steps) {
    write_ram(CMD_WRITE_BW);
    send1(CMD_UPDATE_2, steps);
    send(CMD_ACTIVATE, NULL, 0);
    if (wait_until_idle() != 0) {
        return -1;
    }
    write_ram(CMD_WRITE_PREVIOUS);
    return 0;
}

int main(void) {
    if (DEV_ModuleInit() != 0) {
        fprintf(stderr, "bw_clock: the GPIO could not be set up\n");
        return 1;
    }
    memset(g_image, 0xFF, sizeof g_image);
    for (int x = 0; x < WIDTH; ++x) {
        set_black(x, 0);
        set_black(x, HEIGHT - 1);
    }
    for (int y = 0; y < HEIGHT; ++y) {
        set_black(0, y);
        set_black(WIDTH - 1, y);
    }
    int status = start_panel() != 0 || show(FULL_REFRESH) != 0 ? 2 : 0;
    for (int minute = 1; minute <= MINUTES && status == 0; ++minute) {
        DEV_Delay_ms(60000);
        for (int x = 4; x < 4 + minute * (WIDTH - 8) / (MINUTES + 1); ++x) {
            for (int y = 4; y < HEIGHT - 4; ++y) {
                set_black(x, y);
            }
        }
        status = show(PARTIAL_REFRESH) != 0 ? 2 : 0;
    }
    if (status != 0) {
        fprintf(stderr, "bw_clock: the panel stayed busy for %d ms\n", BUSY_TIMEOUT_MS);
    } else {
        send1(CMD_DEEP_SLEEP, 0x01);
    }
    DEV_ModuleExit();
    return status;
}
