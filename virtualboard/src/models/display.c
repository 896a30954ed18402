// SPDX-License-Identifier: MIT
/* What the display models share. */

#include "display.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

void vbd_time(uint64_t ns, char *out, size_t size) {
    snprintf(out, size, "%llu.%03llums", (unsigned long long)(ns / 1000000u),
             (unsigned long long)(ns / 1000u % 1000u));
}

void vbd_note(vb_host *host, const char *format, ...) {
    char text[320];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    vb_diagnostic(host, text);
}

int vbd_param_int(vb_host *host, const char *key, int64_t low, int64_t high, int64_t *value) {
    int64_t read = *value;
    const int status = vb_param_int(host, key, &read);
    if (status == VB_PARAM_INVALID) {
        return -1;
    }
    if (status == VB_PARAM_OK && (read < low || read > high)) {
        char expected[96];
        snprintf(expected, sizeof expected, "an integer from %lld to %lld", (long long)low,
                 (long long)high);
        vb_fail(host, key, expected);
        return -1;
    }
    *value = read;
    return 0;
}

int vbd_param_duration(vb_host *host, const char *key, uint64_t *value) {
    return vb_param_duration(host, key, value) == VB_PARAM_INVALID ? -1 : 0;
}

int vbd_line(vb_host *host, const char *name, int required, int *line) {
    *line = vb_find_line(host, name);
    if (*line < 0 && required) {
        char expected[96];
        snprintf(expected, sizeof expected, "a line named \"%s\" in the device's lines", name);
        vb_fail(host, NULL, expected);
        return -1;
    }
    return 0;
}

int vbd_param_colours(vb_host *host, int *red) {
    const char *colours = NULL;
    const int status = vb_param_string(host, "colours", &colours);
    if (status == VB_PARAM_INVALID) {
        return -1;
    }
    if (status == VB_PARAM_OK) {
        if (strcmp(colours, "bw") != 0 && strcmp(colours, "bwr") != 0) {
            vb_fail(host, "colours", "\"bw\" or \"bwr\"");
            return -1;
        }
        *red = strcmp(colours, "bwr") == 0;
    }
    return 0;
}

static void drive_busy(vbd_panel *panel) {
    if (panel->busy >= 0) {
        vb_drive(panel->host, (uint32_t)panel->busy,
                 panel->is_busy ? panel->busy_level : !panel->busy_level);
    }
}

int vbd_panel_init(vbd_panel *panel, vb_host *host, int busy_level) {
    memset(panel, 0, sizeof *panel);
    panel->host = host;
    if (vbd_line(host, "dc", 1, &panel->dc) != 0 ||
        vbd_line(host, "reset", 0, &panel->reset) != 0 ||
        vbd_line(host, "busy", 0, &panel->busy) != 0) {
        return -1;
    }
    int64_t level = busy_level;
    if (vbd_param_int(host, "busy_level", 0, 1, &level) != 0) {
        return -1;
    }
    panel->busy_level = (int)level;
    drive_busy(panel);
    if (panel->reset >= 0) {
        vb_watch(host, (uint32_t)panel->reset, 1);
        panel->reset_held = vb_read(host, (uint32_t)panel->reset) == 0;
    }
    return 0;
}

void vbd_panel_start_busy(vbd_panel *panel, uint64_t ns) {
    if (panel->is_busy) {
        vb_timer_cancel(panel->host, panel->busy_timer);
    }
    panel->is_busy = 1;
    panel->busy_noted = 0;
    panel->busy_until = vb_now(panel->host) + ns;
    panel->busy_timer = vb_timer_start(panel->host, ns);
    drive_busy(panel);
}

int vbd_panel_timer(vbd_panel *panel, uint64_t id) {
    if (!panel->is_busy || id != panel->busy_timer) {
        return 0;
    }
    panel->is_busy = 0;
    drive_busy(panel);
    return 1;
}

int vbd_panel_accepts(vbd_panel *panel, const char *what, int is_command, uint64_t time_ns) {
    char at[32];
    vbd_time(time_ns, at, sizeof at);
    if (panel->reset_held) {
        if (is_command) {
            vbd_note(panel->host, "%s at %s while reset is held low (ignored)", what, at);
        }
        return 0;
    }
    if (panel->is_busy) {
        if (!panel->busy_noted) {
            char left[32];
            vbd_time(panel->busy_until - time_ns, left, sizeof left);
            vbd_note(panel->host, "%s at %s while busy, %s before busy ended (ignored)", what, at,
                     left);
            panel->busy_noted = 1;
        }
        return 0;
    }
    if (panel->asleep) {
        if (is_command && !panel->sleep_noted) {
            vbd_note(panel->host,
                     "%s at %s while asleep (ignored: only a hardware reset wakes the panel)", what,
                     at);
            panel->sleep_noted = 1;
        }
        return 0;
    }
    return 1;
}

const char *vbd_command_name(const vbd_controller *controller, uint8_t code) {
    for (size_t i = 0; i < controller->command_count; ++i) {
        if (controller->commands[i].code == code) {
            return controller->commands[i].name;
        }
    }
    return "command";
}

static const vbd_command *find_command(const vbd_controller *controller, uint8_t code) {
    for (size_t i = 0; i < controller->command_count; ++i) {
        if (controller->commands[i].code == code) {
            return &controller->commands[i];
        }
    }
    return NULL;
}

int vbd_command_known(const vbd_controller *controller, uint8_t code) {
    return find_command(controller, code) != NULL;
}

void vbd_controller_forget(vbd_controller *controller) {
    controller->have_command = 0;
    controller->current = NULL;
    controller->count = 0;
}

/* The command in progress ends: a short parameter list that is long enough still counts. */
static void end_command(vbd_controller *controller, void *self, uint64_t time_ns) {
    const vbd_command *command = controller->current;
    if (command != NULL && command->params != NULL && command->max_params != VBD_STREAM &&
        controller->count < (uint32_t)command->max_params &&
        controller->count >= (uint32_t)command->min_params && controller->count > 0) {
        command->params(self, controller->bytes, controller->count, time_ns);
    }
}

static void take_command(vbd_controller *controller, void *self, uint8_t code, uint64_t time_ns) {
    end_command(controller, self, time_ns);
    controller->code = code;
    controller->current = find_command(controller, code);
    controller->have_command = 1;
    controller->count = 0;
    if (controller->current != NULL && controller->current->begin != NULL) {
        controller->current->begin(self, time_ns);
    }
}

static void take_data(vbd_controller *controller, void *self, uint8_t value, uint64_t time_ns) {
    const vbd_command *command = controller->current;
    if (!controller->have_command || command == NULL) {
        return;
    }
    if (command->max_params == VBD_STREAM) {
        if (command->stream != NULL) {
            command->stream(self, value, time_ns);
        }
        return;
    }
    if (controller->count >= (uint32_t)command->max_params ||
        controller->count >= sizeof controller->bytes) {
        return;
    }
    controller->bytes[controller->count++] = value;
    if (controller->count == (uint32_t)command->max_params && command->params != NULL) {
        command->params(self, controller->bytes, controller->count, time_ns);
    }
}

void vbd_controller_byte(vbd_controller *controller, vbd_panel *panel, void *self,
                         const vb_byte *byte) {
    if (byte->direction == VB_FROM_DEVICE) {
        return;
    }
    const int is_command = ((byte->lines >> panel->dc) & 1u) == 0;
    char what[80];
    if (is_command) {
        snprintf(what, sizeof what, "command 0x%02x (%s)", byte->out,
                 vbd_command_name(controller, byte->out));
    } else {
        snprintf(what, sizeof what, "a data byte of command 0x%02x (%s)", controller->code,
                 vbd_command_name(controller, controller->code));
    }
    if (!vbd_panel_accepts(panel, what, is_command, byte->time_ns)) {
        return;
    }
    vbd_controller_take(controller, self, is_command, byte->out, byte->time_ns);
}

void vbd_controller_take(vbd_controller *controller, void *self, int is_command, uint8_t value,
                         uint64_t time_ns) {
    if (is_command) {
        take_command(controller, self, value, time_ns);
    } else {
        take_data(controller, self, value, time_ns);
    }
}

int vbd_panel_edge(vbd_panel *panel, uint32_t line, int level) {
    if ((int)line != panel->reset) {
        return 0;
    }
    const int was_held = panel->reset_held;
    panel->reset_held = level == 0;
    if (was_held && !panel->reset_held) {
        if (panel->is_busy) {
            vb_timer_cancel(panel->host, panel->busy_timer);
            panel->is_busy = 0;
            drive_busy(panel);
        }
        vbd_panel_sleep(panel, 0);
        return 1;
    }
    return 0;
}

void vbd_panel_sleep(vbd_panel *panel, int asleep) {
    panel->asleep = asleep;
    panel->sleep_noted = 0;
}

void vbd_panel_finish(vbd_panel *panel) {
    if (!panel->asleep) {
        char at[32];
        vbd_time(vb_now(panel->host), at, sizeof at);
        vbd_note(panel->host,
                 "the panel was left awake at the end of the run (%s): a panel kept "
                 "powered ages; send it to deep sleep when done",
                 at);
    }
}
