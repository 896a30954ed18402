// SPDX-License-Identifier: MIT
/* The register-file model: 256 registers behind a command byte. */

#include <stdlib.h>
#include <string.h>

#include "builtin_models.h"

typedef struct registers {
    uint8_t values[256];
    uint8_t read_bit;
    int have_command; /* the selection's command byte has been seen */
    int reading;
    uint8_t next; /* the register the next byte reads or writes */
} registers;

static void *registers_create(vb_host *host) {
    registers *self = calloc(1, sizeof *self);
    if (self == NULL) {
        vb_fail(host, NULL, "memory for the device");
        return NULL;
    }
    int64_t read_bit = 0x80;
    const uint8_t *values = NULL;
    size_t count = 0;
    const int bit_status = vb_param_int(host, "read_bit", &read_bit);
    const int values_status = vb_param_bytes(host, "values", &values, &count);
    int ok = bit_status != VB_PARAM_INVALID && values_status != VB_PARAM_INVALID;
    if (bit_status == VB_PARAM_OK &&
        (read_bit <= 0 || read_bit > 0x80 || (read_bit & (read_bit - 1)) != 0)) {
        vb_fail(host, "read_bit", "a single bit, as 0x80 or 0x01");
        ok = 0;
    }
    if (values_status == VB_PARAM_OK && count > sizeof self->values) {
        vb_fail(host, "values", "at most 256 bytes, from register 0");
        ok = 0;
    }
    if (!ok) {
        free(self);
        return NULL;
    }
    self->read_bit = (uint8_t)read_bit;
    if (count > 0) {
        memcpy(self->values, values, count);
    }
    return self;
}

static void registers_destroy(void *self) { free(self); }

static void registers_select(void *self, int active) {
    if (active) {
        ((registers *)self)->have_command = 0;
    }
}

static int registers_byte(void *self, const vb_byte *byte) {
    registers *r = self;
    if (!r->have_command) {
        if (byte->direction == VB_FROM_DEVICE) {
            return VB_NO_ANSWER; /* nothing asked for yet */
        }
        r->have_command = 1;
        r->reading = (byte->out & r->read_bit) != 0;
        r->next = (uint8_t)(byte->out & ~r->read_bit);
        return byte->direction == VB_EXCHANGE ? 0x00 : VB_NO_ANSWER;
    }
    const uint8_t reg = r->next++;
    if (r->reading) {
        return r->values[reg];
    }
    if (byte->direction == VB_FROM_DEVICE) {
        --r->next; /* a read in a write selection takes no register */
        return VB_NO_ANSWER;
    }
    r->values[reg] = byte->out;
    return byte->direction == VB_EXCHANGE ? 0x00 : VB_NO_ANSWER;
}

static const vb_device_model kRegisters = {
    .size = sizeof(vb_device_model),
    .abi_version = VB_DEVICE_ABI_VERSION,
    .name = "registers",
    .create = registers_create,
    .destroy = registers_destroy,
    .select = registers_select,
    .byte = registers_byte,
};

const vb_device_model *vb_registers_model(void) { return &kRegisters; }

uint8_t vb_registers_get(const void *self, uint8_t reg) {
    return ((const registers *)self)->values[reg];
}

void vb_registers_set(void *self, uint8_t reg, uint8_t value) {
    ((registers *)self)->values[reg] = value;
}
