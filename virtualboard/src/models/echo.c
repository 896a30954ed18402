// SPDX-License-Identifier: MIT
/* The echo model: a wire from the host's data out to its data in. */

#include <stdlib.h>

#include "builtin_models.h"

typedef struct echo {
    int last; /* the last byte received on the link, or VB_NO_ANSWER */
} echo;

static void *echo_create(vb_host *host) {
    echo *self = malloc(sizeof *self);
    if (self == NULL) {
        vb_fail(host, NULL, "memory for the device");
        return NULL;
    }
    self->last = VB_NO_ANSWER;
    return self;
}

static void echo_destroy(void *self) { free(self); }

static int echo_byte(void *self, const vb_byte *byte) {
    echo *e = self;
    switch (byte->direction) {
        case VB_TO_DEVICE: e->last = byte->out; return VB_NO_ANSWER;
        case VB_FROM_DEVICE: return e->last;
        default: return byte->out;
    }
}

static const vb_device_model kEcho = {
    .size = sizeof(vb_device_model),
    .abi_version = VB_DEVICE_ABI_VERSION,
    .name = "echo",
    .create = echo_create,
    .destroy = echo_destroy,
    .byte = echo_byte,
};

const vb_device_model *vb_echo_model(void) { return &kEcho; }
