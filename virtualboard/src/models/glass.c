// SPDX-License-Identifier: MIT
/* What an e-paper panel's glass shows. */

#include "glass.h"

#include <stdlib.h>
#include <string.h>

static int read_bit(const vbd_plane *plane, uint32_t y, uint32_t x) {
    if (plane->read == VBD_BITS_ZERO) {
        return 0;
    }
    const int bit = vbd_bit(plane->bits + (size_t)y * plane->stride, x);
    return plane->read == VBD_BITS_INVERTED ? !bit : bit;
}

int vbd_glass_init(vbd_glass *glass, vb_host *host, uint32_t width, uint32_t height) {
    memset(glass, 0, sizeof *glass);
    glass->host = host;
    glass->width = width;
    glass->height = height;
    if (vbd_param_int(host, "max_partials", 0, 1000000, &glass->max_partials) != 0 ||
        vbd_param_duration(host, "min_refresh_interval", &glass->min_interval) != 0) {
        return -1;
    }
    glass->pixels = calloc((size_t)width * height, 1);
    glass->rgb = malloc((size_t)width * height * 3);
    if (glass->pixels == NULL || glass->rgb == NULL) {
        vb_fail(host, NULL, "memory for the panel's glass");
        return -1;
    }
    return 0;
}

void vbd_glass_free(vbd_glass *glass) {
    free(glass->pixels);
    free(glass->rgb);
    glass->pixels = glass->rgb = NULL;
}

vbd_region vbd_glass_all(const vbd_glass *glass) {
    const vbd_region all = {0, 0, glass->width - 1, glass->height - 1};
    return all;
}

void vbd_glass_refresh_starts(vbd_glass *glass, const char *what, int partial, uint64_t time_ns) {
    char at[32];
    vbd_time(time_ns, at, sizeof at);
    if (glass->min_interval > 0 && glass->refreshed &&
        time_ns - glass->last_start < glass->min_interval) {
        char since[32], needed[32];
        vbd_time(time_ns - glass->last_start, since, sizeof since);
        vbd_time(glass->min_interval, needed, sizeof needed);
        vbd_note(glass->host,
                 "%s at %s: a refresh %s after the previous one began, where the panel needs %s "
                 "(min_refresh_interval)",
                 what, at, since, needed);
    }
    glass->refreshed = 1;
    glass->last_start = time_ns;
    if (!partial) {
        glass->partials_in_a_row = 0;
        return;
    }
    ++glass->partials_in_a_row;
    if (glass->max_partials > 0 && glass->partials_in_a_row > (uint64_t)glass->max_partials) {
        vbd_note(glass->host,
                 "%s at %s: partial refresh %u in a row, where the panel needs a full refresh "
                 "after %u (max_partials)",
                 what, at, (unsigned)glass->partials_in_a_row, (unsigned)glass->max_partials);
    }
}

static uint8_t colour_of(const vbd_plane *bw, const vbd_plane *red, uint32_t x, uint32_t y) {
    if (red != NULL && read_bit(red, y, x)) {
        return VBD_RED;
    }
    return read_bit(bw, y, x) ? VBD_WHITE : VBD_BLACK;
}

void vbd_glass_full(vbd_glass *glass, const vbd_plane *bw, const vbd_plane *red,
                    vbd_region region) {
    for (uint32_t y = region.y0; y <= region.y1; ++y) {
        for (uint32_t x = region.x0; x <= region.x1; ++x) {
            glass->pixels[(size_t)y * glass->width + x] = colour_of(bw, red, x, y);
        }
    }
}

void vbd_glass_partial(vbd_glass *glass, const vbd_plane *image, const vbd_plane *previous,
                       vbd_region region, const char *previous_ram, uint64_t time_ns) {
    uint32_t stale = 0;
    vbd_region box = {region.x1, region.y1, region.x0, region.y0};
    for (uint32_t y = region.y0; y <= region.y1; ++y) {
        for (uint32_t x = region.x0; x <= region.x1; ++x) {
            uint8_t *pixel = &glass->pixels[(size_t)y * glass->width + x];
            const int white = read_bit(image, y, x);
            if (white != read_bit(previous, y, x)) {
                *pixel = white ? VBD_WHITE : VBD_BLACK;
            }
            if (*pixel != (white ? VBD_WHITE : VBD_BLACK)) {
                ++stale;
                box.x0 = x < box.x0 ? x : box.x0;
                box.y0 = y < box.y0 ? y : box.y0;
                box.x1 = x > box.x1 ? x : box.x1;
                box.y1 = y > box.y1 ? y : box.y1;
            }
        }
    }
    if (stale > 0) {
        char at[32];
        vbd_time(time_ns, at, sizeof at);
        vbd_note(glass->host,
                 "partial refresh at %s: %u pixels kept their old state in (%u,%u)-(%u,%u): %s "
                 "does not hold the image on the panel",
                 at, (unsigned)stale, (unsigned)box.x0, (unsigned)box.y0, (unsigned)box.x1,
                 (unsigned)box.y1, previous_ram);
    }
}

void vbd_glass_show(vbd_glass *glass) {
    static const uint8_t kRgb[3][3] = {{0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x00}, {0xFF, 0x00, 0x00}};
    const size_t count = (size_t)glass->width * glass->height;
    for (size_t i = 0; i < count; ++i) {
        memcpy(glass->rgb + i * 3, kRgb[glass->pixels[i]], 3);
    }
    vb_frame(glass->host, glass->width, glass->height, glass->rgb);
}
