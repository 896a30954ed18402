// SPDX-License-Identifier: MIT
/* "uc81xx": a black/white or black/white/red panel that keeps its image without power, as the
 * UC81xx family of controllers drives it. Multi-byte parameters come high byte first; each data
 * command fills its 1-bit plane from the start, row by row, bit 7 of a byte the leftmost pixel. */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "builtin_models.h"
#include "display.h"
#include "glass.h"

enum {
    kPanelSetting = 0x00,
    kPowerOff = 0x02,
    kPowerOn = 0x04,
    kDeepSleep = 0x07,
    kOldData = 0x10,
    kRefresh = 0x12,
    kNewData = 0x13,
    kResolution = 0x61,
    kPartialWindow = 0x90,
    kPartialIn = 0x91,
    kPartialOut = 0x92,
};

enum { kDeepSleepCheck = 0xA5 };

typedef struct uc {
    vbd_panel panel;
    uint32_t width, height, xbytes;
    int red;                /* black/white/red: 0x10 is black/white, 0x13 red */
    int white_bit, red_bit; /* the bit levels that mean white, and red */
    uint64_t refresh_ns, power_ns, reset_ns;
    uint8_t *old_data, *new_data; /* xbytes * height each */
    vbd_glass glass;

    int configured_red; /* the colours as the board file gives them, restored by a reset */
    vbd_controller controller;
    uint32_t address;     /* the next byte of the plane being written, counted within the window */
    int resolution_bytes; /* how long the last resolution 0x61 was (3 or 4), 0 before any */
    int partial;          /* partial in 0x91: data and refresh apply to the window */
    vbd_region window;    /* partial window 0x90, within the panel */
    int powered;
    int refreshing;
    int refresh_partial;
    vbd_region refresh_region;
    uint64_t refresh_started;
    int written;
    int outside_noted;
} uc;

static void use_commands(uc *u); /* the command table, below */

/* What a reset sets back, apart from the command in progress. */
static void reset_settings(uc *u) {
    u->powered = 0;
    u->refreshing = 0;
    u->red = u->configured_red;
    u->partial = 0;
    u->window = vbd_glass_all(&u->glass);
}

static void reset_registers(uc *u) {
    reset_settings(u);
    vbd_controller_forget(&u->controller);
}

static void uc_destroy(void *self) {
    uc *u = self;
    free(u->old_data);
    free(u->new_data);
    vbd_glass_free(&u->glass);
    free(u);
}

static void *uc_create(vb_host *host) {
    uc *u = calloc(1, sizeof *u);
    if (u == NULL) {
        vb_fail(host, NULL, "memory for the device");
        return NULL;
    }
    int64_t width = 200, height = 200, white_bit = 1, red_bit = 1;
    u->refresh_ns = 3000000000u;
    u->power_ns = 100000000u;
    u->reset_ns = 2000000u;
    if (vbd_panel_init(&u->panel, host, 0) != 0 ||
        vbd_param_int(host, "width", 8, 2048, &width) != 0 ||
        vbd_param_int(host, "height", 1, 2048, &height) != 0 ||
        vbd_param_colours(host, &u->configured_red) != 0 ||
        vbd_param_int(host, "white_bit", 0, 1, &white_bit) != 0 ||
        vbd_param_int(host, "red_bit", 0, 1, &red_bit) != 0 ||
        vbd_param_duration(host, "refresh", &u->refresh_ns) != 0 ||
        vbd_param_duration(host, "power_time", &u->power_ns) != 0 ||
        vbd_param_duration(host, "reset_time", &u->reset_ns) != 0 ||
        vbd_glass_init(&u->glass, host, (uint32_t)width, (uint32_t)height) != 0) {
        uc_destroy(u);
        return NULL;
    }
    u->width = (uint32_t)width;
    u->height = (uint32_t)height;
    u->xbytes = (u->width + 7) / 8;
    u->white_bit = (int)white_bit;
    u->red_bit = (int)red_bit;
    const size_t plane = (size_t)u->xbytes * u->height;
    u->old_data = malloc(plane);
    u->new_data = malloc(plane);
    if (u->old_data == NULL || u->new_data == NULL) {
        vb_fail(host, NULL, "memory for the panel's RAM");
        uc_destroy(u);
        return NULL;
    }
    memset(u->old_data, u->white_bit ? 0xFF : 0x00, plane);
    memset(u->new_data, u->red ? (u->red_bit ? 0x00 : 0xFF) : (u->white_bit ? 0xFF : 0x00), plane);
    use_commands(u);
    reset_registers(u);
    return u;
}

/* The glass after the refresh that has just ended, shown as a frame. On black/white/red, 0x10 is
 * the black/white plane and 0x13 the red; on black/white, 0x13 is the image and, in partial mode,
 * 0x10 the previous image. A bit reads 1 where it means white (or red) as white_bit (red_bit) says.
 */
static void show_frame(uc *u) {
    const int white = u->white_bit ? VBD_BITS_AS_THEY_ARE : VBD_BITS_INVERTED;
    const vbd_plane old_plane = {.bits = u->old_data, .stride = u->xbytes, .read = white};
    const vbd_plane new_plane = {.bits = u->new_data, .stride = u->xbytes, .read = white};
    const vbd_plane red = {.bits = u->new_data,
                           .stride = u->xbytes,
                           .read = u->red_bit ? VBD_BITS_AS_THEY_ARE : VBD_BITS_INVERTED};
    if (u->red) {
        vbd_glass_full(&u->glass, &old_plane, &red, u->refresh_region);
    } else if (u->refresh_partial) {
        vbd_glass_partial(&u->glass, &new_plane, &old_plane, u->refresh_region, "old data 0x10",
                          u->refresh_started);
    } else {
        vbd_glass_full(&u->glass, &new_plane, NULL, u->refresh_region);
    }
    vbd_glass_show(&u->glass);
}

static void note_at(uc *u, uint64_t time_ns, const char *format, const char *detail) {
    char at[32];
    vbd_time(time_ns, at, sizeof at);
    vbd_note(u->panel.host, format, at, detail);
}

static void refresh(uc *u, uint64_t time_ns) {
    if (!u->powered) {
        note_at(u, time_ns, "display refresh 0x12 at %s while powered off%s",
                " (ignored: power on with 0x04 first)");
        return;
    }
    if (!u->written) {
        note_at(u, time_ns, "display refresh 0x12 at %s: a refresh with no RAM written%s",
                " since the last one");
    }
    u->written = 0;
    u->refreshing = 1;
    u->refresh_partial = u->partial;
    u->refresh_region = u->partial ? u->window : vbd_glass_all(&u->glass);
    u->refresh_started = time_ns;
    vbd_glass_refresh_starts(&u->glass, "display refresh 0x12", u->partial && !u->red, time_ns);
    vbd_panel_start_busy(&u->panel, u->refresh_ns);
}

/* The resolution command's bytes, once they are all in: three (one byte of width, as the
 * smaller controllers take it) or four (two bytes each). */
static void resolution(void *self, const uint8_t *p, uint32_t count, uint64_t time_ns) {
    uc *u = self;
    u->resolution_bytes = (int)count;
    const uint32_t width = count == 3 ? (p[0] & 0xF8u) : ((uint32_t)p[0] << 8 | p[1]);
    const uint32_t height =
        count == 3 ? ((uint32_t)p[1] << 8 | p[2]) : ((uint32_t)p[2] << 8 | p[3]);
    if (width != u->width || height != u->height) {
        char at[32];
        vbd_time(time_ns, at, sizeof at);
        vbd_note(u->panel.host, "resolution 0x61 at %s sets %ux%u on a panel of %ux%u", at,
                 (unsigned)width, (unsigned)height, (unsigned)u->width, (unsigned)u->height);
    }
}

/* Partial window 0x90: horizontal start and end (multiples of 8: the low three bits are taken as
 * 000 and 111), one byte each on the smaller controllers and two on the larger, as their
 * resolution 0x61 is three or four bytes long (before any, one on panels up to 256 pixels wide);
 * then vertical start and end, two bytes each, and the scan flag. Kept within the panel. */
static void partial_window(void *self, const uint8_t *p, uint32_t count, uint64_t time_ns) {
    uc *u = self;
    const int narrow = u->resolution_bytes == 3 || (u->resolution_bytes == 0 && u->width <= 256);
    if (!narrow && count < 9) {
        char at[32];
        vbd_time(time_ns, at, sizeof at);
        vbd_note(u->panel.host,
                 "partial window 0x90 at %s with %u bytes, where this panel's takes 9 (ignored)",
                 at, (unsigned)count);
        return;
    }
    const uint8_t *v = narrow ? p + 2 : p + 4;
    const uint32_t hs = narrow ? p[0] : ((uint32_t)p[0] << 8 | p[1]);
    const uint32_t he = narrow ? p[1] : ((uint32_t)p[2] << 8 | p[3]);
    const uint32_t vs = (uint32_t)v[0] << 8 | v[1];
    const uint32_t ve = (uint32_t)v[2] << 8 | v[3];
    vbd_region window = {hs & ~7u, vs, he | 7u, ve};
    window.x1 = window.x1 < u->width ? window.x1 : u->width - 1;
    window.y1 = window.y1 < u->height ? window.y1 : u->height - 1;
    if (window.x0 > window.x1 || window.y0 > window.y1) {
        char at[32];
        vbd_time(time_ns, at, sizeof at);
        vbd_note(u->panel.host,
                 "partial window 0x90 at %s: (%u,%u)-(%u,%u) is not within the %ux%u panel "
                 "(ignored)",
                 at, (unsigned)hs, (unsigned)vs, (unsigned)he, (unsigned)ve, (unsigned)u->width,
                 (unsigned)u->height);
        return;
    }
    u->window = window;
}

static void partial_in(void *self, uint64_t time_ns) {
    (void)time_ns;
    ((uc *)self)->partial = 1;
}

static void partial_out(void *self, uint64_t time_ns) {
    (void)time_ns;
    ((uc *)self)->partial = 0;
}

static void power_on(void *self, uint64_t time_ns) {
    uc *u = self;
    (void)time_ns;
    u->powered = 1;
    vbd_panel_start_busy(&u->panel, u->power_ns);
}

static void power_off(void *self, uint64_t time_ns) {
    uc *u = self;
    (void)time_ns;
    u->powered = 0;
    vbd_panel_start_busy(&u->panel, u->power_ns);
}

static void display_refresh(void *self, uint64_t time_ns) { refresh(self, time_ns); }

static void panel_setting(void *self, const uint8_t *p, uint32_t count, uint64_t time_ns) {
    uc *u = self;
    (void)count, (void)time_ns;
    if ((p[0] & 0x01u) == 0) { /* RST_N low: a soft reset */
        reset_settings(u);
    }
    u->red = (p[0] & 0x10u) == 0; /* KW/R: set for black/white only */
}

static void deep_sleep(void *self, const uint8_t *p, uint32_t count, uint64_t time_ns) {
    uc *u = self;
    (void)count;
    if (p[0] == kDeepSleepCheck) {
        vbd_panel_sleep(&u->panel, 1);
    } else {
        char at[32];
        vbd_time(time_ns, at, sizeof at);
        vbd_note(u->panel.host, "deep sleep 0x07 at %s with check byte 0x%02x, not 0xa5 (ignored)",
                 at, p[0]);
    }
}

static void begin_plane(void *self, uint64_t time_ns) {
    uc *u = self;
    (void)time_ns;
    u->address = 0;
    u->outside_noted = 0;
}

/* Data fills the plane row by row from the start, or, in partial mode, the window. */
static void write_plane(uc *u, uint8_t *plane, uint8_t value, uint64_t time_ns) {
    const vbd_region area = u->partial ? u->window : vbd_glass_all(&u->glass);
    const uint32_t row_bytes = area.x1 / 8 - area.x0 / 8 + 1;
    const size_t size = (size_t)row_bytes * (area.y1 - area.y0 + 1);
    if (u->address >= size) {
        if (!u->outside_noted) {
            char at[32];
            vbd_time(time_ns, at, sizeof at);
            vbd_note(u->panel.host,
                     "%s 0x%02x at %s: RAM written outside the window (%ux%u pixels, %zu bytes; "
                     "the rest is dropped)",
                     vbd_command_name(&u->controller, u->controller.code), u->controller.code, at,
                     (unsigned)(area.x1 - area.x0 + 1), (unsigned)(area.y1 - area.y0 + 1), size);
            u->outside_noted = 1;
        }
        return;
    }
    const uint32_t y = area.y0 + u->address / row_bytes;
    const uint32_t x = area.x0 / 8 + u->address % row_bytes;
    plane[(size_t)y * u->xbytes + x] = value;
    ++u->address;
    u->written = 1;
}

static void old_data(void *self, uint8_t value, uint64_t time_ns) {
    uc *u = self;
    write_plane(u, u->old_data, value, time_ns);
}

static void new_data(void *self, uint8_t value, uint64_t time_ns) {
    uc *u = self;
    write_plane(u, u->new_data, value, time_ns);
}

/* Parameters high byte first. */
static const vbd_command kCommands[] = {
    {.code = kPanelSetting,
     .name = "panel setting",
     .min_params = 1,
     .max_params = 1,
     .params = panel_setting},
    {.code = kPowerOff, .name = "power off", .begin = power_off},
    {.code = kPowerOn, .name = "power on", .begin = power_on},
    {.code = kDeepSleep,
     .name = "deep sleep",
     .min_params = 1,
     .max_params = 1,
     .params = deep_sleep},
    {.code = kOldData,
     .name = "data 0x10",
     .max_params = VBD_STREAM,
     .begin = begin_plane,
     .stream = old_data},
    {.code = kRefresh, .name = "display refresh", .begin = display_refresh},
    {.code = kNewData,
     .name = "data 0x13",
     .max_params = VBD_STREAM,
     .begin = begin_plane,
     .stream = new_data},
    {.code = kResolution,
     .name = "resolution",
     .min_params = 3,
     .max_params = 4,
     .params = resolution},
    {.code = kPartialWindow,
     .name = "partial window",
     .min_params = 7,
     .max_params = 9,
     .params = partial_window},
    {.code = kPartialIn, .name = "partial in", .begin = partial_in},
    {.code = kPartialOut, .name = "partial out", .begin = partial_out},
};

static void use_commands(uc *u) {
    u->controller.commands = kCommands;
    u->controller.command_count = sizeof kCommands / sizeof kCommands[0];
}

static int uc_byte(void *self, const vb_byte *byte) {
    uc *u = self;
    vbd_controller_byte(&u->controller, &u->panel, u, byte);
    return VB_NO_ANSWER;
}

static void uc_edge(void *self, uint32_t line, int level, uint64_t time_ns) {
    uc *u = self;
    (void)time_ns;
    if (vbd_panel_edge(&u->panel, line, level)) {
        reset_registers(u);
        vbd_panel_start_busy(&u->panel, u->reset_ns);
    }
}

static void uc_timer(void *self, uint64_t id) {
    uc *u = self;
    if (vbd_panel_timer(&u->panel, id) && u->refreshing) {
        u->refreshing = 0;
        show_frame(u);
    }
}

static void uc_finish(void *self) { vbd_panel_finish(&((uc *)self)->panel); }

static const vb_device_model kUc81xx = {
    .size = sizeof(vb_device_model),
    .abi_version = VB_DEVICE_ABI_VERSION,
    .name = "uc81xx",
    .create = uc_create,
    .destroy = uc_destroy,
    .byte = uc_byte,
    .edge = uc_edge,
    .timer = uc_timer,
    .finish = uc_finish,
};

const vb_device_model *vb_uc81xx_model(void) { return &kUc81xx; }
