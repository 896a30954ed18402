// SPDX-License-Identifier: MIT
/* "ssd16xx": a black/white or black/white/red panel that keeps its image without power, as the
 * SSD16xx family of controllers drives it. Multi-byte parameters come low byte first; the RAM
 * holds 1-bit planes, X counted in bytes of 8 pixels (bit 7 the leftmost), Y in pixels. */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "builtin_models.h"
#include "display.h"

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
    kWindowX = 0x44,
    kWindowY = 0x45,
    kCounterX = 0x4E,
    kCounterY = 0x4F,
};

typedef struct ssd {
    vbd_panel panel;
    uint32_t width, height, xbytes;
    int red; /* colours = "bwr": RAM 0x26 is the red plane */
    uint64_t refresh_ns, partial_ns, reset_ns;
    uint8_t *bw, *second; /* xbytes * height each; `second` is red or the previous image */
    uint8_t *frame;       /* width * height * 3 */

    uint8_t command;
    int have_command;
    uint32_t count; /* parameter bytes of `command` so far */
    uint8_t params[4];

    uint8_t entry;
    int32_t xs, xe, ys, ye, xc, yc;
    uint8_t update1, update2;
    int refreshing;
    int written; /* RAM written since the last refresh */
    int outside_noted;
} ssd;

static const char *command_name(uint8_t command) {
    switch (command) {
        case kDriverOutput: return "driver output control";
        case kDeepSleep: return "deep sleep";
        case kEntryMode: return "data entry mode";
        case kSoftReset: return "software reset";
        case kActivate: return "master activation";
        case kUpdate1: return "display update control 1";
        case kUpdate2: return "display update control 2";
        case kWriteBw: return "write black/white RAM";
        case kWriteRed: return "write RAM 0x26";
        case kWindowX: return "RAM X window";
        case kWindowY: return "RAM Y window";
        case kCounterX: return "RAM X counter";
        case kCounterY: return "RAM Y counter";
        default: return "command";
    }
}

static void reset_registers(ssd *s) {
    s->entry = 0x03;
    s->xs = 0;
    s->xe = (int32_t)s->xbytes - 1;
    s->ys = 0;
    s->ye = (int32_t)s->height - 1;
    s->xc = 0;
    s->yc = 0;
    s->update1 = 0;
    s->update2 = 0;
    s->have_command = 0;
    s->refreshing = 0;
}

static void ssd_destroy(void *self) {
    ssd *s = self;
    free(s->bw);
    free(s->second);
    free(s->frame);
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
    if (vbd_panel_init(&s->panel, host, 1) != 0 ||
        vbd_param_int(host, "width", 8, 2048, &width) != 0 ||
        vbd_param_int(host, "height", 1, 2048, &height) != 0 ||
        vbd_param_colours(host, &s->red) != 0 ||
        vbd_param_duration(host, "refresh", &s->refresh_ns) != 0 ||
        vbd_param_duration(host, "partial_refresh", &s->partial_ns) != 0 ||
        vbd_param_duration(host, "reset_time", &s->reset_ns) != 0) {
        ssd_destroy(s);
        return NULL;
    }
    s->width = (uint32_t)width;
    s->height = (uint32_t)height;
    s->xbytes = (s->width + 7) / 8;
    const size_t plane = (size_t)s->xbytes * s->height;
    s->bw = malloc(plane);
    s->second = calloc(plane, 1);
    s->frame = malloc((size_t)s->width * s->height * 3);
    if (s->bw == NULL || s->second == NULL || s->frame == NULL) {
        vb_fail(host, NULL, "memory for the panel's RAM");
        ssd_destroy(s);
        return NULL;
    }
    memset(s->bw, 0xFF, plane);
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

static void show_frame(ssd *s) {
    const vbd_plane bw = {
        .bits = s->bw, .stride = s->xbytes, .read = option_read(s->update1 & 0x0Fu)};
    const vbd_plane red = {
        .bits = s->second, .stride = s->xbytes, .read = option_read(s->update1 >> 4)};
    vbd_show_planes(s->panel.host, &bw, s->red ? &red : NULL, s->width, s->height, s->frame);
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
                     command_name(s->command), s->command, at, (int)s->xc, (int)s->yc, (int)s->xs,
                     (int)s->xe, (int)s->ys, (int)s->ye,
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

static void refresh(ssd *s, uint64_t time_ns) {
    if (!s->written) {
        char at[32];
        vbd_time(time_ns, at, sizeof at);
        vbd_note(s->panel.host,
                 "master activation 0x20 at %s: a refresh with no RAM written since the last one",
                 at);
    }
    s->written = 0;
    s->refreshing = 1;
    vbd_panel_start_busy(&s->panel, (s->update2 & 0x08u) ? s->partial_ns : s->refresh_ns);
}

static void take_command(ssd *s, uint8_t command, uint64_t time_ns) {
    s->command = command;
    s->have_command = 1;
    s->count = 0;
    s->outside_noted = 0;
    switch (command) {
        case kSoftReset:
            reset_registers(s);
            vbd_panel_start_busy(&s->panel, s->reset_ns);
            break;
        case kActivate: refresh(s, time_ns); break;
        default: break;
    }
}

static void take_data(ssd *s, uint8_t value, uint64_t time_ns) {
    const uint32_t n = s->count++;
    if (n < sizeof s->params) {
        s->params[n] = value;
    }
    switch (s->command) {
        case kDeepSleep:
            if (n == 0 && (value == 0x01 || value == 0x03)) {
                vbd_panel_sleep(&s->panel, 1);
            }
            break;
        case kEntryMode:
            if (n == 0) {
                s->entry = value & 0x07u;
            }
            break;
        case kWindowX:
            if (n == 0) {
                s->xs = value;
            } else if (n == 1) {
                s->xe = value;
            }
            break;
        case kWindowY:
            if (n == 1) {
                s->ys = s->params[0] | (int32_t)s->params[1] << 8;
            } else if (n == 3) {
                s->ye = s->params[2] | (int32_t)s->params[3] << 8;
            }
            break;
        case kCounterX:
            if (n == 0) {
                s->xc = value;
            }
            break;
        case kCounterY:
            if (n == 1) {
                s->yc = s->params[0] | (int32_t)s->params[1] << 8;
            }
            break;
        case kUpdate1:
            if (n == 0) {
                s->update1 = value;
            }
            break;
        case kUpdate2:
            if (n == 0) {
                s->update2 = value;
            }
            break;
        case kWriteBw: write_ram(s, s->bw, value, time_ns); break;
        case kWriteRed: write_ram(s, s->second, value, time_ns); break;
        default: break;
    }
}

static int ssd_byte(void *self, const vb_byte *byte) {
    ssd *s = self;
    switch (vbd_panel_byte_kind(&s->panel, byte, s->command, command_name)) {
        case VBD_COMMAND: take_command(s, byte->out, byte->time_ns); break;
        case VBD_DATA:
            if (s->have_command) {
                take_data(s, byte->out, byte->time_ns);
            }
            break;
        default: break;
    }
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
