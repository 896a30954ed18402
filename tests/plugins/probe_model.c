// SPDX-License-Identifier: MIT
/* A device model for the board's tests of the device interface.
 *
 * Lines: "in" (watched) and "out" (driven). On a rising edge of "in" it starts a timer that drives
 * "out" high `delay` later; on a falling edge it drives "out" low at once and, with cancel = true,
 * cancels a timer still pending. Every edge is logged. On SPI it answers each byte with the levels
 * of its lines at that byte (bit 0 "in", bit 1 "out"), and byte 0xde crashes it.
 * Parameters: delay (a duration, at most 1s; required), cancel (a boolean), note (a string raised
 * as a diagnostic when made), log_bytes (a boolean: log each byte with its direction and time),
 * crash (a boolean: crash while being made).
 *
 * Built three ways: as it is; with PROBE_ABI set to another version; with PROBE_NO_ENTRY, which
 * leaves the entry point out. */

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include "vboard/device.h"

#ifndef PROBE_ABI
#define PROBE_ABI VB_DEVICE_ABI_VERSION
#endif

typedef struct probe {
    vb_host *host;
    uint32_t in;
    uint32_t out;
    uint64_t delay;
    int cancel;
    int log_bytes;
    uint64_t pending;
} probe;

static void *probe_create(vb_host *host) {
    const int in = vb_find_line(host, "in");
    const int out = vb_find_line(host, "out");
    if (in < 0 || out < 0) {
        vb_fail(host, NULL, "lines named in and out");
        return NULL;
    }
    uint64_t delay = 0;
    int cancel = 0;
    int log_bytes = 0;
    int crash = 0;
    const char *note = NULL;
    const int delay_status = vb_param_duration(host, "delay", &delay);
    if (delay_status == VB_PARAM_ABSENT) {
        vb_fail(host, "delay", "a delay (probe needs one)");
        return NULL;
    }
    if (delay_status != VB_PARAM_OK || vb_param_bool(host, "cancel", &cancel) == VB_PARAM_INVALID ||
        vb_param_string(host, "note", &note) == VB_PARAM_INVALID ||
        vb_param_bool(host, "log_bytes", &log_bytes) == VB_PARAM_INVALID ||
        vb_param_bool(host, "crash", &crash) == VB_PARAM_INVALID) {
        return NULL;
    }
    if (crash) {
        raise(SIGSEGV);
    }
    if (delay > 1000000000u) {
        vb_fail(host, "delay", "a delay of at most 1s");
        return NULL;
    }
    probe *self = calloc(1, sizeof *self);
    if (self == NULL) {
        return NULL;
    }
    self->host = host;
    self->in = (uint32_t)in;
    self->out = (uint32_t)out;
    self->delay = delay;
    self->cancel = cancel;
    self->log_bytes = log_bytes;
    vb_watch(host, self->in, 1);
    if (note != NULL) {
        vb_diagnostic(host, note);
    }
    return self;
}

static void probe_destroy(void *self) { free(self); }

static void probe_edge(void *self, uint32_t line, int level, uint64_t time_ns) {
    probe *p = self;
    char text[64];
    snprintf(text, sizeof text, "edge %s %d at %llu", vb_line_name(p->host, line), level,
             (unsigned long long)time_ns);
    vb_log(p->host, text);
    if (level) {
        p->pending = vb_timer_start(p->host, p->delay);
        return;
    }
    if (p->cancel && p->pending != 0) {
        vb_timer_cancel(p->host, p->pending);
        p->pending = 0;
    }
    vb_drive(p->host, p->out, 0);
}

static void probe_timer(void *self, uint64_t timer_id) {
    probe *p = self;
    if (timer_id == p->pending) {
        p->pending = 0;
    }
    vb_drive(p->host, p->out, 1);
}

static int probe_byte(void *self, const vb_byte *byte) {
    const probe *p = self;
    if (byte->out == 0xde) {
        raise(SIGSEGV);
    }
    if (p->log_bytes) {
        static const char *const kDirections[] = {"to", "from", "exchange"};
        char text[80];
        snprintf(text, sizeof text, "byte %s 0x%02x at %llu",
                 byte->direction <= 2 ? kDirections[byte->direction] : "?", byte->out,
                 (unsigned long long)byte->time_ns);
        vb_log(p->host, text);
    }
    return (int)(byte->lines & 0xffu);
}

static const vb_device_model kProbe = {
    .size = sizeof(vb_device_model),
    .abi_version = PROBE_ABI,
    .name = "probe",
    .create = probe_create,
    .destroy = probe_destroy,
    .byte = probe_byte,
    .edge = probe_edge,
    .timer = probe_timer,
};

#ifndef PROBE_NO_ENTRY
__attribute__((visibility("default"))) const vb_device_model *vb_device_entry_v1(uint32_t abi) {
    (void)abi;
    return &kProbe;
}
#else
__attribute__((visibility("default"))) const vb_device_model *probe_model(void) { return &kProbe; }
#endif
