// SPDX-License-Identifier: MIT
/* A device model in plain C for the virtual board: an imaginary sensor on the three-wire link.
 *
 * Protocol, in frames the host makes by holding the sensor's select line low:
 *   0x01         start a conversion. The data-ready line ("ready", active low) goes high at once
 *                and falls when the conversion is done, `conversion` later.
 *   0x02         read the result: the next two bytes the host reads are the result, high byte
 *                first. Read before the conversion is done, it answers the previous result and the
 *                board notes it.
 * Parameters: conversion (a duration, "2ms" by default), result (the first result, an integer
 * from 0 to 65535, 0x1234 by default) and step (added to the result by each conversion, 1 by
 * default).
 *
 * Built as a shared object; the board loads it from a board file:
 *   [[device]]
 *   model = "plugin"
 *   path = "libsensor_model.so"
 *   bus = "link"
 *   select = 8
 *   lines = { ready = 24 }
 */

#include <stdio.h>
#include <stdlib.h>

#include "vboard/device.h"

enum { kStart = 0x01, kRead = 0x02 };

typedef struct sensor {
    vb_host *host;
    uint32_t ready;      /* the index of the data-ready line */
    uint64_t conversion; /* how long a conversion takes, in ns */
    uint16_t result;     /* the latest finished result */
    uint16_t next;       /* what the conversion in progress gives */
    uint16_t step;
    uint64_t timer; /* the conversion in progress, or 0 */
    int command;    /* this frame's command, or -1 before it */
    int out_index;  /* result bytes read in this frame */
} sensor;

static void *sensor_create(vb_host *host) {
    const int ready = vb_find_line(host, "ready");
    if (ready < 0) {
        vb_fail(host, NULL, "a line named ready in lines (the data-ready output)");
        return NULL;
    }
    uint64_t conversion = 2000000;
    int64_t result = 0x1234;
    int64_t step = 1;
    if (vb_param_duration(host, "conversion", &conversion) == VB_PARAM_INVALID ||
        vb_param_int(host, "result", &result) == VB_PARAM_INVALID ||
        vb_param_int(host, "step", &step) == VB_PARAM_INVALID) {
        return NULL;
    }
    if (result < 0 || result > 0xFFFF) {
        vb_fail(host, "result", "an integer from 0 to 65535");
        return NULL;
    }
    if (step < 0 || step > 0xFFFF) {
        vb_fail(host, "step", "an integer from 0 to 65535");
        return NULL;
    }
    sensor *self = calloc(1, sizeof *self);
    if (self == NULL) {
        vb_fail(host, NULL, "memory for the sensor");
        return NULL;
    }
    self->host = host;
    self->ready = (uint32_t)ready;
    self->conversion = conversion;
    self->result = (uint16_t)result;
    self->next = (uint16_t)result;
    self->step = (uint16_t)step;
    self->command = -1;
    vb_drive(host, self->ready, 1); /* no result yet */
    return self;
}

static void sensor_destroy(void *self) { free(self); }

static void sensor_select(void *self, int active) {
    sensor *s = self;
    if (active) {
        s->command = -1;
        s->out_index = 0;
    }
}

static void start_conversion(sensor *s) {
    if (s->timer != 0) {
        vb_diagnostic(s->host, "conversion started again before the last one finished");
        vb_timer_cancel(s->host, s->timer);
    }
    vb_drive(s->host, s->ready, 1);
    s->timer = vb_timer_start(s->host, s->conversion);
    vb_log(s->host, "conversion started");
}

static int sensor_byte(void *self, const vb_byte *byte) {
    sensor *s = self;
    if (byte->direction == VB_TO_DEVICE) {
        if (s->command < 0) {
            s->command = byte->out;
            if (s->command == kStart) {
                start_conversion(s);
            } else if (s->command != kRead) {
                char text[64];
                snprintf(text, sizeof text, "unknown command 0x%02x", byte->out);
                vb_diagnostic(s->host, text);
            }
        }
        return VB_NO_ANSWER;
    }
    if (s->command != kRead || s->out_index >= 2) {
        return VB_NO_ANSWER;
    }
    if (s->out_index == 0 && s->timer != 0) {
        vb_diagnostic(s->host, "result read before the conversion finished");
    }
    const int answer = s->out_index == 0 ? s->result >> 8 : s->result & 0xFF;
    ++s->out_index;
    return answer;
}

static void sensor_timer(void *self, uint64_t timer_id) {
    sensor *s = self;
    if (timer_id != s->timer) {
        return;
    }
    s->timer = 0;
    s->result = s->next;
    s->next = (uint16_t)(s->next + s->step);
    vb_drive(s->host, s->ready, 0); /* data ready */
    vb_log(s->host, "conversion done");
}

static const vb_device_model kSensor = {
    .size = sizeof(vb_device_model),
    .abi_version = VB_DEVICE_ABI_VERSION,
    .name = "sensor",
    .create = sensor_create,
    .destroy = sensor_destroy,
    .select = sensor_select,
    .byte = sensor_byte,
    .timer = sensor_timer,
};

#if defined(__GNUC__)
__attribute__((visibility("default")))
#endif
const vb_device_model *
vb_device_entry_v1(uint32_t host_abi) {
    return host_abi == VB_DEVICE_ABI_VERSION ? &kSensor : NULL;
}
