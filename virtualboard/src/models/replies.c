// SPDX-License-Identifier: MIT
/* The reply-queue model: answers with queued bytes in order and keeps what it receives. On the
 * link it is the link device of old, with its enable gate. */

#include <stdlib.h>
#include <string.h>

#include "builtin_models.h"

typedef struct bytes {
    uint8_t *data;
    size_t head;  /* replies: the next to answer */
    size_t count; /* bytes held from head on */
    size_t capacity;
} bytes;

typedef struct replies {
    vb_host *host;
    bytes queue;
    bytes received;
    int enable; /* the gate's line, or -1 for none */
    int enable_level;
    uint64_t enable_for;
} replies;

/* Appends, compacting or growing the buffer as needed. */
static int bytes_append(bytes *b, const uint8_t *data, size_t count) {
    if (count == 0) {
        return 0;
    }
    if (b->head > 0 && b->head + b->count + count > b->capacity) {
        memmove(b->data, b->data + b->head, b->count);
        b->head = 0;
    }
    if (b->count + count > b->capacity) {
        size_t capacity = b->capacity > 0 ? b->capacity : 64;
        while (capacity < b->count + count) {
            capacity *= 2;
        }
        uint8_t *grown = realloc(b->data, capacity);
        if (grown == NULL) {
            return -1;
        }
        b->data = grown;
        b->capacity = capacity;
    }
    memcpy(b->data + b->head + b->count, data, count);
    b->count += count;
    return 0;
}

static void *replies_create(vb_host *host) {
    replies *self = calloc(1, sizeof *self);
    if (self == NULL) {
        vb_fail(host, NULL, "memory for the device");
        return NULL;
    }
    self->host = host;
    self->enable = vb_find_line(host, "enable");
    self->enable_level = 1;
    const uint8_t *initial = NULL;
    size_t count = 0;
    const char *level = NULL;
    int ok = vb_param_bytes(host, "replies", &initial, &count) != VB_PARAM_INVALID &&
             bytes_append(&self->queue, initial, count) == 0;
    const int level_status = vb_param_string(host, "enable_level", &level);
    const int for_status = vb_param_duration(host, "enable_for", &self->enable_for);
    if (level_status == VB_PARAM_OK) {
        if (strcmp(level, "high") == 0 || strcmp(level, "low") == 0) {
            self->enable_level = strcmp(level, "high") == 0;
        } else {
            vb_fail(host, "enable_level", "\"high\" or \"low\"");
            ok = 0;
        }
    }
    if (self->enable < 0 && (level_status == VB_PARAM_OK || for_status == VB_PARAM_OK)) {
        vb_fail(host, level_status == VB_PARAM_OK ? "enable_level" : "enable_for",
                "a line named enable in the device's lines first");
        ok = 0;
    }
    if (!ok || level_status == VB_PARAM_INVALID || for_status == VB_PARAM_INVALID) {
        free(self->queue.data);
        free(self);
        return NULL;
    }
    return self;
}

static void replies_destroy(void *self) {
    replies *r = self;
    free(r->queue.data);
    free(r->received.data);
    free(r);
}

static int gate_open(replies *r) {
    if (r->enable < 0) {
        return 1;
    }
    const uint32_t line = (uint32_t)r->enable;
    return vb_read(r->host, line) == r->enable_level &&
           vb_now(r->host) - vb_line_since(r->host, line) >= r->enable_for;
}

static int replies_byte(void *self, const vb_byte *byte) {
    replies *r = self;
    if (byte->direction != VB_FROM_DEVICE) {
        bytes_append(&r->received, &byte->out, 1);
        if (byte->direction == VB_TO_DEVICE) {
            return VB_NO_ANSWER;
        }
    }
    if (r->queue.count == 0 || !gate_open(r)) {
        /* On SPI a device with nothing left answers 0xff; on the link it lets the line go. */
        return byte->direction == VB_EXCHANGE ? 0xFF : VB_NO_ANSWER;
    }
    const uint8_t answer = r->queue.data[r->queue.head];
    ++r->queue.head;
    --r->queue.count;
    return answer;
}

static const vb_device_model kReplies = {
    .size = sizeof(vb_device_model),
    .abi_version = VB_DEVICE_ABI_VERSION,
    .name = "replies",
    .create = replies_create,
    .destroy = replies_destroy,
    .byte = replies_byte,
};

const vb_device_model *vb_replies_model(void) { return &kReplies; }

int vb_replies_queue(void *self, const uint8_t *data, size_t count) {
    return bytes_append(&((replies *)self)->queue, data, count);
}

size_t vb_replies_pending(const void *self) { return ((const replies *)self)->queue.count; }

const uint8_t *vb_replies_received(const void *self, size_t *count) {
    const replies *r = self;
    *count = r->received.count;
    return r->received.data;
}
