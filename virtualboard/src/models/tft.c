// SPDX-License-Identifier: MIT
/* "tft": a colour TFT controller with the public MIPI DCS command set that SPI TFT controllers
 * share. The RAM is ram_width x ram_height pixels; the panel shows width x height of them from
 * (x_offset, y_offset). Memory access control: MV exchanges the column and row counters, then MX
 * mirrors columns across the whole RAM's width and MY rows across its height. Manufacturer
 * commands (0xb0-0xff) are taken and ignored. */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "builtin_models.h"
#include "display.h"

enum {
    kNop = 0x00,
    kSoftReset = 0x01,
    kSleepIn = 0x10,
    kSleepOut = 0x11,
    kInversionOff = 0x20,
    kInversionOn = 0x21,
    kDisplayOff = 0x28,
    kDisplayOn = 0x29,
    kColumnSet = 0x2A,
    kRowSet = 0x2B,
    kMemoryWrite = 0x2C,
    kAccessControl = 0x36,
    kPixelFormat = 0x3A,
    kMemoryContinue = 0x3C,
    kManufacturerFirst = 0xB0,
};

enum { kMadctlMy = 0x80, kMadctlMx = 0x40, kMadctlMv = 0x20, kMadctlBgr = 0x08 };

#define MS(n) ((uint64_t)(n)*1000000u)
#define US(n) ((uint64_t)(n)*1000u)

typedef struct tft {
    vb_host *host;
    int dc, reset;
    uint32_t ram_width, ram_height, width, height, x_offset, y_offset;
    uint8_t *ram;   /* ram_width * ram_height * 3, RGB */
    uint8_t *frame; /* width * height * 3 */
    uint8_t unknown_noted[32];
    /* The module's glass: its subpixels blue first, normally black (IPS), mounted mirrored. */
    int glass_bgr, glass_inverted, glass_mirror_x, glass_mirror_y;

    vbd_controller controller;

    int asleep, display_on, inverted;
    uint8_t madctl, colmod;
    uint32_t xs, xe, ys, ye;
    int window_set, unset_noted;
    uint32_t col, row;
    uint8_t pixel[3];
    uint32_t pixel_bytes;
    int writing;

    int reset_held;
    uint64_t reset_low_at;
    uint64_t reset_at, sleep_out_at, sleep_in_at;
    int slept_out, slept_in;
} tft;

static void use_commands(tft *t); /* the command table, below */

/* A command's name for diagnostics: from the table, else a manufacturer command or a command. */
static const char *command_name(const tft *t, uint8_t command) {
    return command >= kManufacturerFirst && !vbd_command_known(&t->controller, command)
               ? "manufacturer command"
               : vbd_command_name(&t->controller, command);
}

/* The DCS commands the model takes without modelling them. */
static int known_unmodelled(uint8_t command) {
    static const uint8_t kKnown[] = {0x04, 0x05, 0x06, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
                                     0x0F, 0x12, 0x13, 0x26, 0x2D, 0x2E, 0x30, 0x33, 0x34,
                                     0x35, 0x37, 0x38, 0x39, 0x3E, 0x44, 0x45, 0x51, 0x52,
                                     0x53, 0x54, 0x55, 0x56, 0x5E, 0x5F, 0xA1, 0xA8};
    for (size_t i = 0; i < sizeof kKnown; ++i) {
        if (kKnown[i] == command) {
            return 1;
        }
    }
    return command >= kManufacturerFirst;
}

static uint32_t column_limit(const tft *t) {
    return (t->madctl & kMadctlMv) ? t->ram_height : t->ram_width;
}
static uint32_t row_limit(const tft *t) {
    return (t->madctl & kMadctlMv) ? t->ram_width : t->ram_height;
}

static void reset_registers(tft *t, uint64_t time_ns) {
    t->asleep = 1;
    t->display_on = 0;
    t->inverted = 0;
    t->madctl = 0;
    t->colmod = 0x66;
    t->xs = 0;
    t->xe = t->ram_width - 1;
    t->ys = 0;
    t->ye = t->ram_height - 1;
    t->window_set = 0;
    t->unset_noted = 0;
    t->writing = 0;
    t->pixel_bytes = 0;
    vbd_controller_forget(&t->controller);
    t->reset_at = time_ns;
    t->slept_out = 0;
    t->slept_in = 0;
}

static void tft_destroy(void *self) {
    tft *t = self;
    free(t->ram);
    free(t->frame);
    free(t);
}

static int read_geometry(tft *t, vb_host *host) {
    int64_t ram_width = 240, ram_height = 320;
    if (vbd_param_int(host, "ram_width", 1, 4096, &ram_width) != 0 ||
        vbd_param_int(host, "ram_height", 1, 4096, &ram_height) != 0) {
        return -1;
    }
    int64_t width = ram_width, height = ram_height, x_offset = 0, y_offset = 0;
    if (vbd_param_int(host, "x_offset", 0, ram_width - 1, &x_offset) != 0 ||
        vbd_param_int(host, "y_offset", 0, ram_height - 1, &y_offset) != 0 ||
        vbd_param_int(host, "width", 1, ram_width - x_offset, &width) != 0 ||
        vbd_param_int(host, "height", 1, ram_height - y_offset, &height) != 0) {
        return -1;
    }
    t->ram_width = (uint32_t)ram_width;
    t->ram_height = (uint32_t)ram_height;
    t->width = (uint32_t)width;
    t->height = (uint32_t)height;
    t->x_offset = (uint32_t)x_offset;
    t->y_offset = (uint32_t)y_offset;
    return 0;
}

/* The glass's parameters: glass_order ("rgb" or "bgr"), glass_inverted, glass_mirror_x and
 * glass_mirror_y (booleans); the defaults are an RGB glass, normally white, mounted as the
 * controller's columns and rows run. */
static int read_glass(tft *t, vb_host *host) {
    const char *order = NULL;
    const int status = vb_param_string(host, "glass_order", &order);
    if (status == VB_PARAM_INVALID) {
        return -1;
    }
    if (status == VB_PARAM_OK) {
        if (strcmp(order, "rgb") != 0 && strcmp(order, "bgr") != 0) {
            vb_fail(host, "glass_order", "\"rgb\" or \"bgr\"");
            return -1;
        }
        t->glass_bgr = strcmp(order, "bgr") == 0;
    }
    if (vb_param_bool(host, "glass_inverted", &t->glass_inverted) == VB_PARAM_INVALID ||
        vb_param_bool(host, "glass_mirror_x", &t->glass_mirror_x) == VB_PARAM_INVALID ||
        vb_param_bool(host, "glass_mirror_y", &t->glass_mirror_y) == VB_PARAM_INVALID) {
        return -1;
    }
    return 0;
}

static void *tft_create(vb_host *host) {
    tft *t = calloc(1, sizeof *t);
    if (t == NULL) {
        vb_fail(host, NULL, "memory for the device");
        return NULL;
    }
    t->host = host;
    const uint64_t *snapshots = NULL;
    size_t snapshot_count = 0;
    if (vbd_line(host, "dc", 1, &t->dc) != 0 || vbd_line(host, "reset", 0, &t->reset) != 0 ||
        read_geometry(t, host) != 0 || read_glass(t, host) != 0 ||
        vb_param_durations(host, "snapshot", &snapshots, &snapshot_count) == VB_PARAM_INVALID) {
        tft_destroy(t);
        return NULL;
    }
    t->ram = calloc((size_t)t->ram_width * t->ram_height, 3);
    t->frame = malloc((size_t)t->width * t->height * 3);
    if (t->ram == NULL || t->frame == NULL) {
        vb_fail(host, NULL, "memory for the controller's RAM");
        tft_destroy(t);
        return NULL;
    }
    const uint64_t now = vb_now(host);
    use_commands(t);
    reset_registers(t, now); /* power-on is a reset */
    for (size_t i = 0; i < snapshot_count; ++i) {
        vb_timer_start(host, snapshots[i] > now ? snapshots[i] - now : 0);
    }
    if (t->reset >= 0) {
        vb_watch(host, (uint32_t)t->reset, 1);
        t->reset_held = vb_read(host, (uint32_t)t->reset) == 0;
    }
    return t;
}

/* What the module shows: the panel's part of the RAM as the glass shows it. Dark while the display
 * is off or the controller asleep; each colour inverted while inversion is on, or, on a normally
 * black glass, while it is off. */
static void show_frame(tft *t) {
    const int lit = t->display_on && !t->asleep;
    const int invert = t->inverted != t->glass_inverted;
    for (uint32_t y = 0; y < t->height; ++y) {
        const uint32_t ram_y = (t->glass_mirror_y ? t->height - 1 - y : y) + t->y_offset;
        uint8_t *to = t->frame + (size_t)y * t->width * 3;
        for (uint32_t x = 0; x < t->width; ++x, to += 3) {
            const uint32_t ram_x = (t->glass_mirror_x ? t->width - 1 - x : x) + t->x_offset;
            const uint8_t *from = t->ram + ((size_t)ram_y * t->ram_width + ram_x) * 3;
            for (int c = 0; c < 3; ++c) {
                const uint8_t value = from[t->glass_bgr ? 2 - c : c];
                to[c] = !lit ? 0 : invert ? (uint8_t)~value : value;
            }
        }
    }
    vb_frame(t->host, t->width, t->height, t->frame);
}

static void note(tft *t, uint8_t command, uint64_t time_ns, const char *problem) {
    char at[32];
    vbd_time(time_ns, at, sizeof at);
    vbd_note(t->host, "%s 0x%02x at %s: %s", command_name(t, command), command, at, problem);
}

/* A wait the datasheets ask for: `since` is when the wait began. */
static void check_wait(tft *t, uint8_t command, uint64_t time_ns, uint64_t since, uint64_t need,
                       const char *after) {
    if (time_ns - since >= need) {
        return;
    }
    char waited[32], needed[32], problem[160];
    vbd_time(time_ns - since, waited, sizeof waited);
    vbd_time(need, needed, sizeof needed);
    snprintf(problem, sizeof problem, "%s after %s, where %s is needed", waited, after, needed);
    note(t, command, time_ns, problem);
}

static void check_timing(tft *t, uint8_t command, uint64_t time_ns) {
    check_wait(t, command, time_ns, t->reset_at, MS(5), "a reset");
    if (command == kSleepOut) {
        check_wait(t, command, time_ns, t->reset_at, MS(120), "a reset");
        if (t->slept_in) {
            check_wait(t, command, time_ns, t->sleep_in_at, MS(120), "sleep in");
        }
    }
    if (t->slept_out) {
        check_wait(t, command, time_ns, t->sleep_out_at, MS(5), "sleep out");
        if (command == kSleepIn) {
            check_wait(t, command, time_ns, t->sleep_out_at, MS(120), "sleep out");
        }
    }
}

static void check_window(tft *t, uint8_t command, uint64_t time_ns, uint32_t start, uint32_t end,
                         uint32_t limit) {
    char problem[128];
    if (start > end) {
        snprintf(problem, sizeof problem, "the window's start %u is past its end %u",
                 (unsigned)start, (unsigned)end);
        note(t, command, time_ns, problem);
    } else if (end >= limit) {
        snprintf(problem, sizeof problem, "the window %u-%u is outside the RAM (0-%u)",
                 (unsigned)start, (unsigned)end, (unsigned)limit - 1);
        note(t, command, time_ns, problem);
    }
}

/* The commands. */
static void soft_reset(void *self, uint64_t time_ns) { reset_registers(self, time_ns); }
static void sleep_in(void *self, uint64_t time_ns) {
    tft *t = self;
    t->asleep = 1;
    t->slept_in = 1;
    t->sleep_in_at = time_ns;
}
static void sleep_out(void *self, uint64_t time_ns) {
    tft *t = self;
    t->asleep = 0;
    t->slept_out = 1;
    t->sleep_out_at = time_ns;
}
static void inversion_off(void *self, uint64_t time_ns) {
    (void)time_ns;
    ((tft *)self)->inverted = 0;
}
static void inversion_on(void *self, uint64_t time_ns) {
    (void)time_ns;
    ((tft *)self)->inverted = 1;
}
static void display_off(void *self, uint64_t time_ns) {
    (void)time_ns;
    ((tft *)self)->display_on = 0;
}
static void display_on(void *self, uint64_t time_ns) {
    tft *t = self;
    (void)time_ns;
    t->display_on = 1;
    show_frame(t);
}
static void memory_write(void *self, uint64_t time_ns) {
    tft *t = self;
    (void)time_ns;
    t->col = t->xs;
    t->row = t->ys;
    t->writing = 1;
}
static void memory_continue(void *self, uint64_t time_ns) {
    (void)time_ns;
    ((tft *)self)->writing = 1;
}
static void window(tft *t, const uint8_t *p, uint64_t time_ns, int columns) {
    const uint32_t start = (uint32_t)p[0] << 8 | p[1];
    const uint32_t end = (uint32_t)p[2] << 8 | p[3];
    check_window(t, columns ? kColumnSet : kRowSet, time_ns, start, end,
                 columns ? column_limit(t) : row_limit(t));
    *(columns ? &t->xs : &t->ys) = start;
    *(columns ? &t->xe : &t->ye) = end;
    t->window_set = 1;
}
static void column_set(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n;
    window(self, p, time_ns, 1);
}
static void row_set(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n;
    window(self, p, time_ns, 0);
}
static void access_control(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    (void)n, (void)time_ns;
    ((tft *)self)->madctl = p[0];
}
static void pixel_format(void *self, const uint8_t *p, uint32_t n, uint64_t time_ns) {
    tft *t = self;
    (void)n;
    t->colmod = p[0];
    if ((p[0] & 0x07u) != 0x05u && (p[0] & 0x07u) != 0x06u) {
        note(t, kPixelFormat, time_ns,
             "a pixel format the model does not know (0x55 or 0x66; taken as 0x66)");
    }
}

static uint8_t six_bits(uint8_t value) { return (uint8_t)((value & 0xFCu) | (value >> 6)); }

static void store_pixel(tft *t, uint64_t time_ns) {
    uint8_t rgb[3];
    if ((t->colmod & 0x07u) == 0x05u) {
        const unsigned value = (unsigned)t->pixel[0] << 8 | t->pixel[1];
        const unsigned r = value >> 11, g = (value >> 5) & 0x3Fu, b = value & 0x1Fu;
        rgb[0] = (uint8_t)(r << 3 | r >> 2);
        rgb[1] = (uint8_t)(g << 2 | g >> 4);
        rgb[2] = (uint8_t)(b << 3 | b >> 2);
    } else {
        rgb[0] = six_bits(t->pixel[0]);
        rgb[1] = six_bits(t->pixel[1]);
        rgb[2] = six_bits(t->pixel[2]);
    }
    if (t->madctl & kMadctlBgr) {
        const uint8_t first = rgb[0];
        rgb[0] = rgb[2];
        rgb[2] = first;
    }
    if (!t->window_set && !t->unset_noted) {
        note(t, t->controller.code, time_ns, "memory written before any window was set");
        t->unset_noted = 1;
    }
    uint32_t x = (t->madctl & kMadctlMv) ? t->row : t->col;
    uint32_t y = (t->madctl & kMadctlMv) ? t->col : t->row;
    if (x < t->ram_width && y < t->ram_height) {
        if (t->madctl & kMadctlMx) {
            x = t->ram_width - 1 - x;
        }
        if (t->madctl & kMadctlMy) {
            y = t->ram_height - 1 - y;
        }
        memcpy(t->ram + ((size_t)y * t->ram_width + x) * 3, rgb, 3);
    }
    if (t->col >= t->xe || t->col + 1 >= column_limit(t)) {
        t->col = t->xs;
        t->row = (t->row >= t->ye || t->row + 1 >= row_limit(t)) ? t->ys : t->row + 1;
    } else {
        ++t->col;
    }
}

/* Memory write's data: pixels, two bytes each in RGB565, three in 18-bit colour. */
static void pixel_byte(void *self, uint8_t value, uint64_t time_ns) {
    tft *t = self;
    if (!t->writing) {
        return;
    }
    t->pixel[t->pixel_bytes++] = value;
    if (t->pixel_bytes == ((t->colmod & 0x07u) == 0x05u ? 2u : 3u)) {
        t->pixel_bytes = 0;
        store_pixel(t, time_ns);
    }
}

static const vbd_command kCommands[] = {
    {.code = kNop, .name = "no operation"},
    {.code = kSoftReset, .name = "software reset", .begin = soft_reset},
    {.code = kSleepIn, .name = "sleep in", .begin = sleep_in},
    {.code = kSleepOut, .name = "sleep out", .begin = sleep_out},
    {.code = kInversionOff, .name = "inversion off", .begin = inversion_off},
    {.code = kInversionOn, .name = "inversion on", .begin = inversion_on},
    {.code = kDisplayOff, .name = "display off", .begin = display_off},
    {.code = kDisplayOn, .name = "display on", .begin = display_on},
    {.code = kColumnSet,
     .name = "column address set",
     .min_params = 4,
     .max_params = 4,
     .params = column_set},
    {.code = kRowSet,
     .name = "row address set",
     .min_params = 4,
     .max_params = 4,
     .params = row_set},
    {.code = kMemoryWrite,
     .name = "memory write",
     .max_params = VBD_STREAM,
     .begin = memory_write,
     .stream = pixel_byte},
    {.code = kAccessControl,
     .name = "memory access control",
     .min_params = 1,
     .max_params = 1,
     .params = access_control},
    {.code = kPixelFormat,
     .name = "pixel format",
     .min_params = 1,
     .max_params = 1,
     .params = pixel_format},
    {.code = kMemoryContinue,
     .name = "memory write continue",
     .max_params = VBD_STREAM,
     .begin = memory_continue,
     .stream = pixel_byte},
};

static void use_commands(tft *t) {
    t->controller.commands = kCommands;
    t->controller.command_count = sizeof kCommands / sizeof kCommands[0];
}

static void take_command(tft *t, uint8_t command, uint64_t time_ns) {
    if (t->reset_held) {
        note(t, command, time_ns, "a command while reset is held low (ignored)");
        return;
    }
    check_timing(t, command, time_ns);
    t->pixel_bytes = 0; /* a pixel broken off by a command is dropped */
    t->writing = 0;
    vbd_controller_take(&t->controller, t, 1, command, time_ns);
    if (!vbd_command_known(&t->controller, command) && !known_unmodelled(command) &&
        !(t->unknown_noted[command / 8] & (1u << (command % 8)))) {
        t->unknown_noted[command / 8] |= (uint8_t)(1u << (command % 8));
        note(t, command, time_ns, "an unknown command (taken and ignored)");
    }
}

static int tft_byte(void *self, const vb_byte *byte) {
    tft *t = self;
    if (byte->direction == VB_FROM_DEVICE) {
        return VB_NO_ANSWER;
    }
    if (((byte->lines >> t->dc) & 1u) == 0) {
        take_command(t, byte->out, byte->time_ns);
    } else if (!t->reset_held) {
        vbd_controller_take(&t->controller, t, 0, byte->out, byte->time_ns);
    }
    return VB_NO_ANSWER;
}

static void tft_edge(void *self, uint32_t line, int level, uint64_t time_ns) {
    tft *t = self;
    if ((int)line != t->reset) {
        return;
    }
    if (!level) {
        t->reset_held = 1;
        t->reset_low_at = time_ns;
        return;
    }
    if (!t->reset_held) {
        return;
    }
    t->reset_held = 0;
    /* The controllers ignore a pulse under 5 us (a glitch, as a pinMode to output with the latch
     * low makes) and need 10 us for a sure reset. */
    if (time_ns - t->reset_low_at < US(5)) {
        return;
    }
    if (time_ns - t->reset_low_at < US(10)) {
        char at[32], pulse[32], problem[128];
        vbd_time(t->reset_low_at, at, sizeof at);
        vbd_time(time_ns - t->reset_low_at, pulse, sizeof pulse);
        snprintf(problem, sizeof problem, "a reset pulse at %s of %s, shorter than 0.010ms", at,
                 pulse);
        vb_diagnostic(t->host, problem);
    }
    reset_registers(t, time_ns);
}

static void tft_timer(void *self, uint64_t id) {
    (void)id; /* every timer is a snapshot */
    show_frame(self);
}

static void tft_finish(void *self) { show_frame(self); }

static const vb_device_model kTft = {
    .size = sizeof(vb_device_model),
    .abi_version = VB_DEVICE_ABI_VERSION,
    .name = "tft",
    .create = tft_create,
    .destroy = tft_destroy,
    .byte = tft_byte,
    .edge = tft_edge,
    .timer = tft_timer,
    .finish = tft_finish,
};

const vb_device_model *vb_tft_model(void) { return &kTft; }
