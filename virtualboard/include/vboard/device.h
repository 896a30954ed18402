// SPDX-License-Identifier: MIT
/* Device models for the virtual board, in plain C.
 *
 * A device model is a shared object that exports one function, VB_DEVICE_ENTRY_NAME
 * ("vb_device_entry_v1"), returning a table of callbacks (vb_device_model). A board file attaches
 * it with
 *
 *   [[device]]
 *   model = "plugin"
 *   path = "libmysensor.so"          # relative to the board file
 *   bus = "spi0"                     # "link", "spi0" or "spi1"
 *   lines = { ready = 24 }           # the lines the model watches and drives, by its own names
 *   params = { conversion = "2ms" }  # the model's own settings
 *
 * and the board then makes one device from the model: create() with its parameters, a byte
 * callback for every byte the host exchanges with it, select(), edge() and timer() callbacks as
 * they happen, destroy() when the board is reset or destroyed.
 *
 * Built with: cc -std=c99 -shared -fPIC -I<include>/virtualboard mysensor.c -o libmysensor.so
 * The model links against nothing of the board: everything it may ask of the board comes through
 * the host table (vb_host_api) that every host handle carries.
 *
 * Threads and re-entry: every callback runs under the board's lock, on the thread of the wiringPi
 * call (or the control-interface call) that caused it. A callback must not call a wiringPi
 * function nor the board's C++ interface; it may call only the host functions below, on its own
 * host handle. Drives, timers and watches it asks for take effect at once, at the board's current
 * moment. A callback must return: a model that blocks stops the program.
 *
 * Compatibility: the board checks the model's abi_version (VB_DEVICE_ABI_VERSION, raised only for
 * a change that breaks built models) and reads no field past the model's `size`, so a model built
 * against an older header keeps working when fields are appended. Every struct passed across the
 * interface starts with its size and ends in reserved fields, which a model leaves zero.
 */
#ifndef VBOARD_DEVICE_H
#define VBOARD_DEVICE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VB_DEVICE_ABI_VERSION 1u
#define VB_DEVICE_ENTRY_NAME "vb_device_entry_v1"

/* Where a device sits. */
enum vb_bus { VB_BUS_LINK = 0, VB_BUS_SPI0 = 1, VB_BUS_SPI1 = 2 };

/* Which way a byte moves. */
enum vb_direction {
    VB_TO_DEVICE = 0,   /* link: the host sent `out`; the answer is ignored */
    VB_FROM_DEVICE = 1, /* link: the host turned the data line around to read; `out` is 0 */
    VB_EXCHANGE = 2     /* SPI: the host sends `out` and receives the answer at once */
};

/* A byte callback's answer when the device does not drive the data line (MISO, or the link's
 * data line): the host reads the line's idle level. */
#define VB_NO_ANSWER (-1)

/* Results of the host's parameter getters. */
enum vb_param_status {
    VB_PARAM_OK = 0,      /* found and of the type asked for: *out is set */
    VB_PARAM_ABSENT = 1,  /* not in the params table: *out is untouched, use a default */
    VB_PARAM_INVALID = -1 /* present but of another type: the board has recorded the error, and
                             create() should return NULL */
};

typedef struct vb_host vb_host;
typedef struct vb_host_api vb_host_api;

/* One byte on the device's bus. */
typedef struct vb_byte {
    uint32_t size;     /* sizeof(vb_byte) as the board built it */
    uint8_t direction; /* enum vb_direction */
    uint8_t out;       /* the byte the host sent */
    uint16_t reserved0;
    uint32_t lines; /* bit i: the level of the device's line i (see vb_line_count) at the byte */
    uint32_t reserved1;
    uint64_t time_ns; /* the board's clock at the byte's first bit (a byte the host reads on the
                       * link: when the host turned the data line around) */
    uint64_t reserved[4];
} vb_byte;

/* The table a model library returns. Callbacks left NULL are not called. */
typedef struct vb_device_model {
    uint32_t size;        /* sizeof(vb_device_model) as the model was built */
    uint32_t abi_version; /* VB_DEVICE_ABI_VERSION as the model was built */
    const char *name;     /* the model's name, for messages */

    /* Makes one device. Reads its parameters through the host and returns its state, which every
     * later callback receives as `self` (anything but NULL). To refuse, call vb_fail() naming the
     * parameter and return NULL. Unread parameters are refused by the board as unknown keys. The
     * host handle stays valid until destroy() returns; keep it in the state. */
    void *(*create)(vb_host *host);
    /* Frees the device's state. No host function may be called from here. */
    void (*destroy)(void *self);
    /* The device's select line went active (1) or inactive (0). On SPI with the chip enable as the
     * select line: at the start of each transfer it selects and at its end. */
    void (*select)(void *self, int active);
    /* One byte on the device's bus while it is selected: returns the byte it answers (0-255), or
     * VB_NO_ANSWER. On the link, a byte the host sends comes at its last rising clock edge, one it
     * reads when the host turns the data line around; on SPI, each byte as it goes out. */
    int (*byte)(void *self, const vb_byte *byte);
    /* A watched line (vb_watch) changed: `line` is its index among the device's lines. */
    void (*edge)(void *self, uint32_t line, int level, uint64_t time_ns);
    /* A timer started with vb_timer_start is due; the board's clock stands at its moment. */
    void (*timer)(void *self, uint64_t timer_id);
    /* The run ends (the program exits or the board is reset): a last chance to record a note. */
    void (*finish)(void *self);

    void *reserved[8];
} vb_device_model;

/* The entry point a model library exports under VB_DEVICE_ENTRY_NAME. `host_abi` is the board's
 * VB_DEVICE_ABI_VERSION; return NULL to refuse a board the model cannot work with. */
typedef const vb_device_model *(*vb_device_entry_fn)(uint32_t host_abi);

/* What a device may ask of the board. Reach it through the inline functions below. */
struct vb_host_api {
    uint32_t size; /* sizeof(vb_host_api) as the board was built: check it before using a field
                      added after version 1 */

    /* Parameters, by key, during create() (later calls return VB_PARAM_ABSENT). Strings and byte
     * arrays stay valid until destroy(). A duration is a string with its unit ("2ms"). */
    int (*param_int)(vb_host *host, const char *key, int64_t *out);
    int (*param_bool)(vb_host *host, const char *key, int *out);
    int (*param_string)(vb_host *host, const char *key, const char **out);
    int (*param_duration)(vb_host *host, const char *key, uint64_t *out_ns);
    int (*param_bytes)(vb_host *host, const char *key, const uint8_t **out, size_t *len);
    /* Refuses the device: `key` names the parameter (NULL for the device as a whole), `expected`
     * says what would have been right ("an integer from 1 to 8"). The board file is refused with
     * one line naming the file, the line and the key. Only during create(). */
    void (*fail)(vb_host *host, const char *key, const char *expected);

    /* The device's lines, as the board file's `lines` table names them, in that order. */
    uint32_t (*line_count)(vb_host *host);
    const char *(*line_name)(vb_host *host, uint32_t line);
    int (*find_line)(vb_host *host, const char *name);    /* its index, or -1 */
    int (*line_pin)(vb_host *host, uint32_t line);        /* its BCM number */
    int (*read_line)(vb_host *host, uint32_t line);       /* its level: 0 or 1 */
    uint64_t (*line_since)(vb_host *host, uint32_t line); /* when its level last changed */
    /* Drives the line from outside the SoC, as a board file's rule does (an output the SoC drives
     * keeps its latch); release lets it float back to its pull. */
    void (*drive_line)(vb_host *host, uint32_t line, int level);
    void (*release_line)(vb_host *host, uint32_t line);
    /* Calls edge() on each change of the line from now on (on = 1), or no longer (on = 0). */
    void (*watch_line)(vb_host *host, uint32_t line, int on);

    uint64_t (*now)(vb_host *host); /* the board's clock, in nanoseconds since power-on */
    /* Calls timer() `delay_ns` from now. Returns the timer's id, never 0. */
    uint64_t (*timer_start)(vb_host *host, uint64_t delay_ns);
    /* A timer that has not fired yet never will. Unknown or past ids are ignored. */
    void (*timer_cancel)(vb_host *host, uint64_t timer_id);

    /* A diagnostic: it appears with the board's own (vboard's standard error, the log, the
     * report), prefixed with the device's name. */
    void (*diagnostic)(vb_host *host, const char *text);
    /* A line in the call log, between the wiringPi calls, prefixed with the device's name. */
    void (*log)(vb_host *host, const char *text);

    /* Appended within version 1: a model that may run on an older board checks for them with
     * vb_host_has() (the inline functions below do, and do nothing where they are missing). */

    /* A list of durations (["20ms", "1s"]), during create(): *out_ns stays valid until destroy().
     * An empty list is VB_PARAM_OK with *count 0. */
    int (*param_durations)(vb_host *host, const char *key, const uint64_t **out_ns, size_t *count);
    /* What the device shows now: `width` x `height` pixels, 3 bytes each (red, green, blue), row
     * by row from the top left. The board copies them into a frame of the run, at the board's
     * clock: Board::frames() from C++, "NNN-DEVICE.png" under vboard run --frames. */
    void (*frame)(vb_host *host, uint32_t width, uint32_t height, const uint8_t *rgb);

    void *reserved[14];
};

/* The board's side of one device. Its first member is the host table; the rest is the board's. */
struct vb_host {
    const vb_host_api *api;
};

static inline int vb_param_int(vb_host *h, const char *key, int64_t *out) {
    return h->api->param_int(h, key, out);
}
static inline int vb_param_bool(vb_host *h, const char *key, int *out) {
    return h->api->param_bool(h, key, out);
}
static inline int vb_param_string(vb_host *h, const char *key, const char **out) {
    return h->api->param_string(h, key, out);
}
static inline int vb_param_duration(vb_host *h, const char *key, uint64_t *out_ns) {
    return h->api->param_duration(h, key, out_ns);
}
static inline int vb_param_bytes(vb_host *h, const char *key, const uint8_t **out, size_t *len) {
    return h->api->param_bytes(h, key, out, len);
}
static inline void vb_fail(vb_host *h, const char *key, const char *expected) {
    h->api->fail(h, key, expected);
}
static inline uint32_t vb_line_count(vb_host *h) { return h->api->line_count(h); }
static inline const char *vb_line_name(vb_host *h, uint32_t line) {
    return h->api->line_name(h, line);
}
static inline int vb_find_line(vb_host *h, const char *name) { return h->api->find_line(h, name); }
static inline int vb_line_pin(vb_host *h, uint32_t line) { return h->api->line_pin(h, line); }
static inline int vb_read(vb_host *h, uint32_t line) { return h->api->read_line(h, line); }
static inline uint64_t vb_line_since(vb_host *h, uint32_t line) {
    return h->api->line_since(h, line);
}
static inline void vb_drive(vb_host *h, uint32_t line, int level) {
    h->api->drive_line(h, line, level);
}
static inline void vb_release(vb_host *h, uint32_t line) { h->api->release_line(h, line); }
static inline void vb_watch(vb_host *h, uint32_t line, int on) { h->api->watch_line(h, line, on); }
static inline uint64_t vb_now(vb_host *h) { return h->api->now(h); }
static inline uint64_t vb_timer_start(vb_host *h, uint64_t delay_ns) {
    return h->api->timer_start(h, delay_ns);
}
static inline void vb_timer_cancel(vb_host *h, uint64_t timer_id) {
    h->api->timer_cancel(h, timer_id);
}
static inline void vb_diagnostic(vb_host *h, const char *text) { h->api->diagnostic(h, text); }
static inline void vb_log(vb_host *h, const char *text) { h->api->log(h, text); }

/* Whether the board's host table has `field`, one of the fields appended within version 1. */
#define vb_host_has(h, field)                                                    \
    ((h)->api->size >= offsetof(vb_host_api, field) + sizeof((h)->api->field) && \
     (h)->api->field != NULL)

static inline int vb_param_durations(vb_host *h, const char *key, const uint64_t **out_ns,
                                     size_t *count) {
    return vb_host_has(h, param_durations) ? h->api->param_durations(h, key, out_ns, count)
                                           : VB_PARAM_ABSENT;
}
static inline void vb_frame(vb_host *h, uint32_t width, uint32_t height, const uint8_t *rgb) {
    if (vb_host_has(h, frame)) {
        h->api->frame(h, width, height, rgb);
    }
}

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_DEVICE_H */
