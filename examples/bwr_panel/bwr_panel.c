// SPDX-License-Identifier: MIT
/* A driver for a 200x200 black/white/red panel that keeps its image without power, with an
 * SSD16xx-family controller on the three-wire link, written only against DEV_Config.h.
 *
 * Wiring: data/command on OUT_A (BCM 25: low for a command byte, high for data), reset on OUT_B
 * (BCM 17, active low), busy on IN (BCM 24, high while the panel works), select on CS_M (BCM 8).
 * It draws a frame, a diagonal line, a red title and a line of text (the first argument, "HELLO
 * PI" by default; letters, digits and " !-.:"), refreshes the panel, waits for it as a correct
 * driver does, and sends it to deep sleep. Exits 0, or 2 when the panel stays busy. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "DEV_Config.h"

#define DC_PIN DEV_OUT_A_PIN
#define RESET_PIN DEV_OUT_B_PIN
#define BUSY_PIN DEV_IN_PIN
#define SELECT_PIN DEV_CS_M_PIN

enum { WIDTH = 200, HEIGHT = 200, ROW_BYTES = WIDTH / 8, BUSY_TIMEOUT_MS = 5000 };

enum {
    CMD_DRIVER_OUTPUT = 0x01,
    CMD_DEEP_SLEEP = 0x10,
    CMD_ENTRY_MODE = 0x11,
    CMD_SOFT_RESET = 0x12,
    CMD_ACTIVATE = 0x20,
    CMD_UPDATE_2 = 0x22,
    CMD_WRITE_BW = 0x24,
    CMD_WRITE_RED = 0x26,
    CMD_BORDER = 0x3C,
    CMD_WINDOW_X = 0x44,
    CMD_WINDOW_Y = 0x45,
    CMD_COUNTER_X = 0x4E,
    CMD_COUNTER_Y = 0x4F,
};

/* The two planes as the controller takes them: black/white (a 1 bit white), red (a 1 bit red). */
static uint8_t g_black[ROW_BYTES * HEIGHT];
static uint8_t g_red[ROW_BYTES * HEIGHT];

static const char kGlyphChars[] = " !-.0123456789:ABCDEFGHIJKLMNOPQRSTUVWXYZ";
/* Each glyph: 7 rows from the top, bit 4 the leftmost of its 5 columns. */
static const uint8_t kGlyphs[][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, /*   */
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}, /* ! */
    {0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00}, /* - */
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c}, /* . */
    {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}, /* 0 */
    {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}, /* 1 */
    {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}, /* 2 */
    {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}, /* 3 */
    {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}, /* 4 */
    {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}, /* 5 */
    {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}, /* 6 */
    {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, /* 7 */
    {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}, /* 8 */
    {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}, /* 9 */
    {0x00, 0x0c, 0x0c, 0x00, 0x0c, 0x0c, 0x00}, /* : */
    {0x0e, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}, /* A */
    {0x1e, 0x11, 0x11, 0x1e, 0x11, 0x11, 0x1e}, /* B */
    {0x0e, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0e}, /* C */
    {0x1c, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1c}, /* D */
    {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f}, /* E */
    {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x10}, /* F */
    {0x0e, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0f}, /* G */
    {0x11, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}, /* H */
    {0x0e, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e}, /* I */
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0c}, /* J */
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, /* K */
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f}, /* L */
    {0x11, 0x1b, 0x15, 0x15, 0x11, 0x11, 0x11}, /* M */
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, /* N */
    {0x0e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e}, /* O */
    {0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10}, /* P */
    {0x0e, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0d}, /* Q */
    {0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11}, /* R */
    {0x0f, 0x10, 0x10, 0x0e, 0x01, 0x01, 0x1e}, /* S */
    {0x1f, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, /* T */
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e}, /* U */
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0a, 0x04}, /* V */
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0a}, /* W */
    {0x11, 0x11, 0x0a, 0x04, 0x0a, 0x11, 0x11}, /* X */
    {0x11, 0x11, 0x0a, 0x04, 0x04, 0x04, 0x04}, /* Y */
    {0x1f, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1f}, /* Z */
};

static void set_pixel(int x, int y, int red) {
    if (x < 0 || y < 0 || x >= WIDTH || y >= HEIGHT) {
        return;
    }
    const int at = y * ROW_BYTES + x / 8;
    const uint8_t bit = (uint8_t)(0x80u >> (x % 8));
    if (red) {
        g_red[at] |= bit;
    } else {
        g_black[at] &= (uint8_t)~bit;
    }
}

static void draw_rectangle(int x0, int y0, int x1, int y1) {
    for (int x = x0; x <= x1; ++x) {
        set_pixel(x, y0, 0);
        set_pixel(x, y1, 0);
    }
    for (int y = y0; y <= y1; ++y) {
        set_pixel(x0, y, 0);
        set_pixel(x1, y, 0);
    }
}

/* Bresenham's line from (x0, y0) to (x1, y1). */
static void draw_line(int x0, int y0, int x1, int y1, int red) {
    const int dx = x1 > x0 ? x1 - x0 : x0 - x1, sx = x0 < x1 ? 1 : -1;
    const int dy = y1 > y0 ? y0 - y1 : y1 - y0, sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        set_pixel(x0, y0, red);
        if (x0 == x1 && y0 == y1) {
            return;
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

/* Text in the 5x7 font, each dot `scale` pixels square; characters it lacks are left blank. */
static void draw_text(int x, int y, const char *text, int scale, int red) {
    for (; *text != '\0'; ++text, x += 6 * scale) {
        const char *found = strchr(kGlyphChars, *text >= 'a' && *text <= 'z' ? *text - 32 : *text);
        if (found == NULL || *text == '\0') {
            continue;
        }
        const uint8_t *glyph = kGlyphs[found - kGlyphChars];
        for (int row = 0; row < 7; ++row) {
            for (int column = 0; column < 5; ++column) {
                if (glyph[row] & (0x10u >> column)) {
                    for (int i = 0; i < scale * scale; ++i) {
                        set_pixel(x + column * scale + i % scale, y + row * scale + i / scale, red);
                    }
                }
            }
        }
    }
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
    if (wait_until_idle() != 0) {
        return -1;
    }
    send(CMD_SOFT_RESET, NULL, 0);
    if (wait_until_idle() != 0) {
        return -1;
    }
    const uint8_t gates[] = {(HEIGHT - 1) & 0xFF, (HEIGHT - 1) >> 8, 0x00};
    send(CMD_DRIVER_OUTPUT, gates, sizeof gates);
    send1(CMD_ENTRY_MODE, 0x03); /* X then Y, both increasing */
    const uint8_t window_x[] = {0, ROW_BYTES - 1};
    const uint8_t window_y[] = {0, 0, (HEIGHT - 1) & 0xFF, (HEIGHT - 1) >> 8};
    send(CMD_WINDOW_X, window_x, sizeof window_x);
    send(CMD_WINDOW_Y, window_y, sizeof window_y);
    send1(CMD_BORDER, 0x05);
    return wait_until_idle();
}

static void write_plane(uint8_t command, const uint8_t *plane) {
    const uint8_t origin[] = {0, 0};
    send1(CMD_COUNTER_X, 0);
    send(CMD_COUNTER_Y, origin, sizeof origin);
    send(command, plane, ROW_BYTES * HEIGHT);
}

int main(int argc, char **argv) {
    const char *text = argc > 1 ? argv[1] : "HELLO PI";
    if (DEV_ModuleInit() != 0) {
        fprintf(stderr, "bwr_panel: the GPIO could not be set up\n");
        return 1;
    }
    memset(g_black, 0xFF, sizeof g_black);
    memset(g_red, 0x00, sizeof g_red);
    draw_rectangle(4, 4, WIDTH - 5, HEIGHT - 5);
    draw_line(12, 150, 188, 190, 0);
    draw_text(20, 24, "DEVCONFIG", 3, 1);
    draw_text(20, 90, text, 2, 0);
    int status = 0;
    if (start_panel() != 0) {
        status = 2;
    } else {
        write_plane(CMD_WRITE_BW, g_black);
        write_plane(CMD_WRITE_RED, g_red);
        send1(CMD_UPDATE_2, 0xF7);
        send(CMD_ACTIVATE, NULL, 0);
        if (wait_until_idle() != 0) {
            status = 2;
        }
        send1(CMD_DEEP_SLEEP, 0x01);
    }
    if (status != 0) {
        fprintf(stderr, "bwr_panel: the panel stayed busy for %d ms\n", BUSY_TIMEOUT_MS);
    }
    DEV_ModuleExit();
    return status;
}
