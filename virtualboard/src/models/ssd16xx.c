// SPDX-License-Identifier: MIT
/* "ssd16xx": a black/white or black/white/red panel that keeps its image without power, as the
 * SSD16xx family of controllers drives it. Multi-byte parameters come low byte first; the RAM
 * holds 1-bit planes, X counted in bytes of 8 pixels (bit 7 the leftmost), Y in pixels. */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "builtin_models.h"
#include "display.h"
#include "glass.h"

enum {
    kDriverOutput = 0x01,
    kDeepSleep = 0x10,
    kEntryMode = 0x11,
    kSoftReset = 0x12,
    kActivate = 0x20,
    kUpdate1 = 0x21,
    kUpdate2 = 0x22,
    kWriteBw = 0x24,
    kWriteRed = 0x26,
    kDisplayOption = 0x37,
    kWindowX = 0x44,
    kWindowY = 0x45,
    kCounterX = 0x4E,
    kCounterY = 0x4F,
};

/* Display update control 2 (0x22): the steps a master activation runs, in this order. A display is
 * mode 2 (partial) when bits 3 and 2 are both set. */
enum {
    kStepClockOn = 0x80,
    kStepAnalogOn = 0x40,
    kStepLoadTemperature = 0x20,
    kStepLoadLut = 0x10,
    kStepMode2 = 0x08,
    kStepDisplay = 0x04,
    kStepAnalogOff = 0x02,
    kStepClockOff = 0x01,
    kStepsPowerOn = kStepClockOn | kStepAnalogOn,
    kStepsPowerOff = kStepAnalogOff | kStepClockOff,
    kStepsShort = kStepsPowerOn | kStepLoadTemperature | kStepLoadLut | kStepsPowerOff,
    /* Before any 0x22 (and after a reset), an activation is a full refresh with power on and off,
     * as drivers that never set 0x22 expect. */
    kStepsAtReset = 0xF7,
};

typedef struct ssd {
    vbd_panel panel;
    uint32_t width, height, xbytes;
    int red; /* colours = "bwr": RAM 0x26 is the red plane */
    uint64_t refresh_ns, partial_ns, reset_ns, power_ns;
    uint8_t *bw, *second; /* xbytes * height each; `second` is red or the previous image */
    vbd_glass glass;

    vbd_controller controller;

    uint8_t entry;
    int32_t xs, xe, ys, ye, xc, yc;
    uint8_t update1, update2;
    int powered;  /* the analog (and clock) enabled by an activation's steps */
    int pingpong; /* display option 0x37: RAM 0x26 takes each mode-2 image */
    int refreshing;
    int refresh_mode2;
    uint64_t refresh_started;
    int written; /* RAM written since the last refresh */
    int outside_noted;
} ssd;

static void use_commands(ssd *s); /* the command table, below */

static void reset_registers(ssd *s) {
    s->entry = 0x03;
    s->xs = 0;
    s->xe = (int32_t)s->xbytes - 1;
    s->ys = 0;
    s->ye = (int32_t)s->height - 1;
    s->xc = 0;
    s->yc = 0;
    s->update1 = 0;
    s->update2 = kStepsAtReset;
    s->powered = 0;
    s->pingpong = 0;
    vbd_controller_forget(&s->controller);
    s->refreshing = 0;
}

static void ssd_destroy(void *self) {
    ssd *s = self;
    free(s->bw);
    free(s->second);
    vbd_glass_free(&s->glass);
    free(s);
}

static void *ssd_create(vb_host *host) {
    ssd *s = calloc(1, sizeof *s);
    if (s == NULL) {
        vb_fail(host, NULL, "memory for the device");
        return NULL;
    }
    int64_t width = 200, height = 200;
    s->refresh_ns = 2000000000u;
    s->partial_ns = 300000000u;
    s->reset_ns = 2000000u;
    s->power_ns = 2000000u;
    if (vbd_panel_init(&s->panel, host, 1) != 0 ||
        vbd_param_int(host, "width", 8, 2048, &width) != 0 ||
        vbd_param_int(host, "height", 1, 2048, &height) != 0 ||
        vbd_param_colours(host, &s->red) != 0 ||
        vbd_param_duration(host, "refresh", &s->refresh_ns) != 0 ||
        vbd_param_duration(host, "partial_refresh", &s->partial_ns) != 0 ||
        vbd_param_duration(host, "reset_time", &s->reset_ns) != 0 ||
        vbd_param_duration(host, "power_time", &s->power_ns) != 0 ||
        vbd_glass_init(&s->glass, host, (uint32_t)width, (uint32_t)height) != 0) {
        ssd_destroy(s);
        return NULL;
    }
    s->width = (uint32_t)width;
    s->height = (uint32_t)height;
    s->xbytes = (s->width + 7) / 8;
    const size_t plane = (size_t)s->xbytes * s->height;
    s->bw = malloc(plane);
    s->second = calloc(plane, 1);
    if (s->bw == NULL || s->second == NULL) {
        vb_fail(host, NULL, "memory for the panel's RAM");
        ssd_destroy(s);
        return NULL;
    }
    memset(s->bw, 0xFF, plane);
    use_commands(s);
    reset_registers(s);
    return s;
}

/* How a RAM option of display update control 1 reads a plane: 0 normal, 4 bypassed as 0,
 * 8 inverted. */
static int option_read(unsigned option) {
    if (option & 0x4u) {
        return VBD_BITS_ZERO;
    }
    return (option & 0x8u) ? VBD_BITS_INVERTED : VBD_BITS_AS_THEY_ARE;
}

/* The glass after the refresh that has just ended, shown as a frame. On a black/white panel a
 * mode-2 display is partial: RAM 0x26 is the previous image, which ping-pong then sets to the
 * image just displayed. */
static void show_frame(ssd *s) {
    const vbd_plane bw = {
        .bits = s->bw, .stride = s->xbytes, .read = option_read(s->update1 & 0x0Fu)};
    const vbd_plane second = {
        .bits = s->second, .stride = s->xbytes, .read = option_read(s->update1 >> 4)};
    if (s->refresh_mode2 && !s->red) {
        vbd_glass_partial(&s->glass, &bw, &second, vbd_glass_all(&s->glass), "RAM 0x26",
                          s->refresh_started);
        if (s->pingpong) {
            memcpy(s->second, s->bw, (size_t)s->xbytes * s->height);
        }
    } else {
        vbd_glass_full(&s->glass, &bw, s->red ? &second : NULL, vbd_glass_all(&s->glass));
    }
    vbd_glass_show(&s->glass);
}

static int passed(int32_t value, int32_t end, int increments) {
    return increments ? value > end : value < end;
}

static void advance(ssd *s) {
    const int x_up = s->entry & 1, y_up = (s->entry >> 1) & 1;
    const int32_t dx = x_up ? 1 : -1, dy = y_up ? 1 : -1;
    if ((s->entry & 4) == 0) {
        s->xc += dx;
        if (passed(s->xc, s->xe, x_up)) {
            s->xc = s->xs;
            s->yc += dy;
            if (passed(s->yc, s->ye, y_up)) {
                s->yc = s->ys;
            }
        }
    } else {
        s->yc += dy;
        if (passed(s->yc, s->ye, y_up)) {
            s->yc = s->ys;
            s->xc += dx;
            if (passed(s->xc, s->xe, x_up)) {
                s->xc = s->xs;
            }
        }
    }
}

static int within(int32_t value, int32_t a, int32_t b) {
    return a <= b ? value >= a && value <= b : value >= b && value <= a;
}

static void write_ram(ssd *s, uint8_t *plane, uint8_t value, uint64_t time_ns) {
    const int in_ram =
        s->xc >= 0 && s->yc >= 0 && (uint32_t)s->xc < s->xbytes && (uint32_t)s->yc < s->height;
    if (!in_ram || !within(s->xc, s->xs, s->xe) || !within(s->yc, s->ys, s->ye)) {
        if (!s->outside_noted) {
            char at[32];
            vbd_time(time_ns, at, sizeof at);
            vbd_note(s->panel.host,
                     "%s 0x%02x at %s: RAM written at X byte %d, Y %d, outside the window "
                     "X %d-%d, Y %d-%d%s",
                     vbd_command_name(&s->controller, s->controller.code), s->controller.code, at,
                     (int)s->xc, (int)s->yc, (int)s->xs, (int)s->xe, (int)s->ys, (int)s->ye,
                     in_ram ? "" : " and outside the RAM (dropped)");
            s->outside_noted = 1;
        }
    }
    if (in_ram) {
        plane[(size_t)s->yc * s->xbytes + (uint32_t)s->xc] = value;
    }
    s->written = 1;
    advance(s);
}

/* A master activation runs the steps display update control 2 holds: power on and loads are short,
 * a display takes `refresh` (`partial_refresh` in mode 2) and makes a frame once busy ends. */
static void activate(void *self, uint64_t time_ns) {
    ssd *s = self;
    const uint8_t steps = s->update2;
    uint64_t busy = (steps & kStepsShort) ? s->power_ns : 0;
    if (steps & kStepsPowerOn) {
        s->powered = 1;
    }
    if (steps & kStepDisplay) {
        char at[32];
        vbd_time(time_ns, at, sizeof at);
        if (!s->powered) {
            vbd_note(s->panel.host,
                     "master activation 0x20 at %s: a display while powered off (ignored: "
                     "display update control 2 0x22 powers on with bits 7 and 6)",
                     at);
        } else {
            if (!s->written) {
                vbd_note(s->panel.host,
                         "master activation 0x20 at %s: a refresh with no RAM written since the "
                         "last one",
                         at);
            }
            s->written = 0;
            s->refresh_mode2 = (steps & (kStepMode2 | kStepDisplay)) == (kStepMode2 | kStepDisplay);
            s->refresh_started = time_ns;
            s->refreshing = 1;
            vbd_glass_refresh_starts(&s->glass, "master activation 0x20",
                                     s->refresh_mode2 && !s->red, time_ns);
            busy = s->refresh_mode2 ? s->partial_ns : s->refresh_ns;
        }
    }
    if (steps & kStepsPowerOff) {
        s->powered = 0;
    }
    if (busy > 0) {
        vbd_panel_start_busy(&s->panel, busy);
    }
}

/* The commands, each as the family's datasheets give it. */
static void soft_reset(void *self, uint64_t time_ns) {
    ssd *s = self;
    (void)time_ns;
    reset_registers(s);
    vbd_panel_start_busy(&s->panel, s->reset_ns);
}
static void deep_sleep(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    if (p[0] == 0x01 || p[0] == 0x03) {
        vbd_panel_sleep(&((ssd *)self)->panel, 1);
    }
}
static void entry_mode(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    ((ssd *)self)->entry = p[0] & 0x07u;
}
static void window_x(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    ssd *s = self;
    (void)n, (void)time_ns;
    s->xs = p[0];
    s->xe = p[1];
}
static void window_y(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    ssd *s = self;
    (void)n, (void)time_ns;
    s->ys = p[0] | (int32_t)p[1] << 8;
    s->ye = p[2] | (int32_t)p[3] << 8;
}
static void counter_x(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    ((ssd *)self)->xc = p[0];
}
static void counter_y(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    ((ssd *)self)->yc = p[0] | (int32_t)p[1] << 8;
}
static void update1(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    ((ssd *)self)->update1 = p[0];
}
static void display_option(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    ((ssd *)self)->pingpong = (p[5] & 0x40u) != 0; /* F: bit 6 of the sixth byte */
}
static void update2(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    ((ssd *)self)->update2 = p[0];
}
static void begin_ram(void *self, uint64_t time_ns) {
    (void)time_ns;
    ((ssd *)self)->outside_noted = 0;
}
static void write_bw(void *self, uint8_t value, uint64_t time_ns) {
    ssd *s = self;
    write_ram(s, s->bw, value, time_ns);
}
static void write_red(void *self, uint8_t value, uint64_t time_ns) {
    ssd *s = self;
    write_ram(s, s->second, value, time_ns);
}

static const vbd_command kCommands[] = {
    {.code = kDriverOutput, .name = "driver output control"},
    {.code = kDeepSleep,
     .name = "deep sleep",
     .min_params = 1,
     .max_params = 1,
     .params = deep_sleep},
    {.code = kEntryMode,
     .name = "data entry mode",
     .min_params = 1,
     .max_params = 1,
     .params = entry_mode},
    {.code = kSoftReset, .name = "software reset", .begin = soft_reset},
    {.code = kActivate, .name = "master activation", .begin = activate},
    {.code = kUpdate1,
     .name = "display update control 1",
     .min_params = 1,
     .max_params = 1,
     .params = update1},
    {.code = kUpdate2,
     .name = "display update control 2",
     .min_params = 1,
     .max_params = 1,
     .params = update2},
    {.code = kWriteBw,
     .name = "write black/white RAM",
     .max_params = VBD_STREAM,
     .begin = begin_ram,
     .stream = write_bw},
    {.code = kWriteRed,
     .name = "write RAM 0x26",
     .max_params = VBD_STREAM,
     .begin = begin_ram,
     .stream = write_red},
    {.code = kDisplayOption,
     .name = "display option",
     .min_params = 6,
     .max_params = 10,
     .params = display_option},
    {.code = kWindowX,
     .name = "RAM X window",
     .min_params = 2,
     .max_params = 2,
     .params = window_x},
    {.code = kWindowY,
     .name = "RAM Y window",
     .min_params = 4,
     .max_params = 4,
     .params = window_y},
    {.code = kCounterX,
     .name = "RAM X counter",
     .min_params = 1,
     .max_params = 1,
     .params = counter_x},
    {.code = kCounterY,
     .name = "RAM Y counter",
     .min_params = 2,
     .max_params = 2,
     .params = counter_y},
};

static void use_commands(ssd *s) {
    s->controller.commands = kCommands;
    s->controller.command_count = sizeof kCommands / sizeof kCommands[0];
}

static int ssd_byte(void *self, const vb_byte *byte) {
    ssd *s = self;
    vbd_controller_byte(&s->controller, &s->panel, s, byte);
    return VB_NO_ANSWER;
}

static void ssd_edge(void *self, uint32_t line, int level, uint64_t time_ns) {
    ssd *s = self;
    (void)time_ns;
    if (vbd_panel_edge(&s->panel, line, level)) {
        reset_registers(s);
        vbd_panel_start_busy(&s->panel, s->reset_ns);
    }
}

static void ssd_timer(void *self, uint64_t id) {
    ssd *s = self;
    if (vbd_panel_timer(&s->panel, id) && s->refreshing) {
        s->refreshing = 0;
        show_frame(s);
    }
}

static void ssd_finish(void *self) { vbd_panel_finish(&((ssd *)self)->panel); }

static const vb_device_model kSsd16xx = {
    .size = sizeof(vb_device_model),
    .abi_version = VB_DEVICE_ABI_VERSION,
    .name = "ssd16xx",
    .create = ssd_create,
    .destroy = ssd_destroy,
    .byte = ssd_byte,
    .edge = ssd_edge,
    .timer = ssd_timer,
    .finish = ssd_finish,
};

const vb_device_model *vb_ssd16xx_model(void) { return &kSsd16xx; }
