// SPDX-License-Identifier: MIT
/* What the display models share: reading their parameters and lines, diagnostics with the
 * board's time in them, and the busy line, reset line and deep sleep of the slow-refresh panels.
 * Private to the library. */
#ifndef VBOARD_DISPLAY_H
#define VBOARD_DISPLAY_H

#include <stddef.h>
#include <stdint.h>

#include "vboard/device.h"

#ifdef __cplusplus
extern "C" {
#endif

/* "12.345ms": a time for diagnostics. */
void vbd_time(uint64_t ns, char *out, size_t size);
/* A diagnostic, formatted as printf would. */
void vbd_note(vb_host *host, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* Parameters: each returns 0, or -1 once it has refused the device (vb_fail). */
int vbd_param_int(vb_host *host, const char *key, int64_t low, int64_t high, int64_t *value);
int vbd_param_duration(vb_host *host, const char *key, uint64_t *value);
/* The device's line `name`: its index, or -1 when it has none (refused when `required`). */
int vbd_line(vb_host *host, const char *name, int required, int *line);
/* `colours`: "bw" (0) or "bwr" (1). */
int vbd_param_colours(vb_host *host, int *red);

/* A slow-refresh panel's busy line, reset line and sleep, with the diagnostics the families
 * share. `busy_level` is the level the busy line has while the panel is busy. */
typedef struct vbd_panel {
    vb_host *host;
    int dc, reset, busy; /* line indexes; reset and busy may be -1 */
    int busy_level;
    int is_busy;
    uint64_t busy_until;
    uint64_t busy_timer;
    int busy_noted; /* a byte while busy was noted in this busy stretch */
    int asleep;
    int sleep_noted; /* a command while asleep was noted in this sleep */
    int reset_held;  /* the reset line is low */
} vbd_panel;

/* Reads dc, reset, busy and busy_level (default `busy_level`), drives busy idle, watches reset. */
int vbd_panel_init(vbd_panel *panel, vb_host *host, int busy_level);
/* Busy for `ns` from now; the owner's timer callback calls vbd_panel_timer. */
void vbd_panel_start_busy(vbd_panel *panel, uint64_t ns);
/* The timer `id` ended the busy stretch: returns 1 if so (the owner then finishes its work). */
int vbd_panel_timer(vbd_panel *panel, uint64_t id);
/* Whether a byte on the bus may be taken: notes it (once per stretch) and returns 0 while busy,
 * while reset is held, or while asleep (the owner's wake-up command aside). `what` names the byte,
 * as "command 0x24 (write black/white RAM)". */
int vbd_panel_accepts(vbd_panel *panel, const char *what, int is_command, uint64_t time_ns);
/* The controller skeleton the display families share: a family is its command table and its RAM
 * addressing. A command declares how many parameter bytes it takes; the skeleton collects them
 * and calls the command's handler once they are in, so that adding a command is one row. */
enum { VBD_STREAM = -1 }; /* a command whose data bytes run until the next command: RAM writes */
typedef struct vbd_command {
    uint8_t code;
    const char *name; /* for diagnostics: "write black/white RAM" */
    /* Parameter bytes it takes: from min_params to max_params, or max_params VBD_STREAM. The
     * handler runs at the last of max_params, or, with fewer but at least min_params, at the next
     * command byte. Extra bytes are ignored. */
    int8_t min_params, max_params;
    void (*begin)(void *self, uint64_t time_ns); /* at the command byte */
    void (*params)(void *self, const uint8_t *bytes, uint32_t count, uint64_t time_ns);
    void (*stream)(void *self, uint8_t value, uint64_t time_ns); /* each byte of a stream */
} vbd_command;

typedef struct vbd_controller {
    const vbd_command *commands;
    size_t command_count;
    const vbd_command *current; /* the command the data bytes belong to; NULL for none */
    uint8_t code;               /* its code, known to the table or not */
    int have_command;           /* a command byte came since the last reset */
    uint32_t count;             /* parameter bytes taken */
    uint8_t bytes[16];          /* the most any command of the families takes */
} vbd_controller;

/* The name of `code` in the table, or "command" for one outside it. */
const char *vbd_command_name(const vbd_controller *controller, uint8_t code);
/* Whether `code` is in the table. */
int vbd_command_known(const vbd_controller *controller, uint8_t code);
/* A reset: data bytes are ignored until the next command byte. */
void vbd_controller_forget(vbd_controller *controller);
/* A command byte (`is_command`) or a data byte the controller takes: a command ends the one in
 * progress and begins its own; data goes to the command in progress, if it is in the table. */
void vbd_controller_take(vbd_controller *controller, void *self, int is_command, uint8_t value,
                         uint64_t time_ns);
/* One byte on the bus: a command or data as the data/command line says, unless the panel refuses
 * it (busy, reset held, asleep: noted once per stretch) or it is a read. `self` is what the
 * handlers receive. */
void vbd_controller_byte(vbd_controller *controller, vbd_panel *panel, void *self,
                         const vb_byte *byte);
/* The reset line changed: returns 1 when a reset pulse has just ended (the owner resets itself). */
int vbd_panel_edge(vbd_panel *panel, uint32_t line, int level);
void vbd_panel_sleep(vbd_panel *panel, int asleep);
/* At the end of the run: notes a panel left awake. */
void vbd_panel_finish(vbd_panel *panel);

/* How a 1-bit plane's bits read: as they are, inverted, or all 0 (a plane bypassed). */
enum vbd_bits { VBD_BITS_AS_THEY_ARE = 0, VBD_BITS_INVERTED = 1, VBD_BITS_ZERO = 2 };

/* A 1-bit plane of an e-paper panel's RAM: `height` rows of `stride` bytes, bit 7 the leftmost. */
typedef struct vbd_plane {
    const uint8_t *bits;
    uint32_t stride;
    int read; /* enum vbd_bits */
} vbd_plane;

/* Bit `x` of a row of 1-bit pixels, bit 7 of each byte the leftmost. */
static inline int vbd_bit(const uint8_t *row, uint32_t x) {
    return (row[x / 8] >> (7 - x % 8)) & 1;
}

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_DISPLAY_H */
