// SPDX-License-Identifier: MIT
/* The board's own device models, written against vboard/device.h like any user's, and what the
 * board's C++ handles (vboard::Device) read and set in them. Private to the library. */
#ifndef VBOARD_BUILTIN_MODELS_H
#define VBOARD_BUILTIN_MODELS_H

#include <stddef.h>
#include <stdint.h>

#include "vboard/device.h"

#ifdef __cplusplus
extern "C" {
#endif

const vb_device_model *vb_echo_model(void);
const vb_device_model *vb_replies_model(void);
const vb_device_model *vb_registers_model(void);
const vb_device_model *vb_tft_model(void);
const vb_device_model *vb_ssd16xx_model(void);
const vb_device_model *vb_uc81xx_model(void);

/* "replies": `self` is what its create() returned. queue returns 0, or -1 when out of memory. */
int vb_replies_queue(void *self, const uint8_t *bytes, size_t count);
size_t vb_replies_pending(const void *self);
const uint8_t *vb_replies_received(const void *self, size_t *count);

/* "registers" */
uint8_t vb_registers_get(const void *self, uint8_t reg);
void vb_registers_set(void *self, uint8_t reg, uint8_t value);

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_BUILTIN_MODELS_H */
