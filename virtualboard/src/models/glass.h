// SPDX-License-Identifier: MIT
/* What an e-paper panel's glass shows, apart from the controller's RAM: each pixel white, black or
 * red, kept without power. A full refresh sets each pixel of its region from the new image; a
 * partial refresh changes a pixel only where the new image and the previous-image RAM differ, so
 * a previous image that does not hold what the glass shows leaves stale pixels (ghosts), which it
 * notes. The panel's limits, off unless the board file sets them: `max_partials` (partial
 * refreshes in a row before a full one is needed) and `min_refresh_interval` (from the start of
 * one refresh to the next). The frame a panel shows is its glass. Private to the library. */
#ifndef VBOARD_GLASS_H
#define VBOARD_GLASS_H

#include <stdint.h>

#include "display.h"

#ifdef __cplusplus
extern "C" {
#endif

enum vbd_colour { VBD_WHITE = 0, VBD_BLACK = 1, VBD_RED = 2 };

/* A rectangle of pixels, both ends included. */
typedef struct vbd_region {
    uint32_t x0, y0, x1, y1;
} vbd_region;

typedef struct vbd_glass {
    vb_host *host;
    uint32_t width, height;
    uint8_t *pixels; /* enum vbd_colour, width * height */
    uint8_t *rgb;    /* the frame: width * height * 3 */
    int64_t max_partials;
    uint64_t min_interval;
    uint32_t partials_in_a_row;
    int refreshed; /* a refresh has started: last_start holds its time */
    uint64_t last_start;
} vbd_glass;

/* Reads max_partials and min_refresh_interval; the glass starts white. Returns 0, or -1 once it
 * has refused the device (vb_fail). */
int vbd_glass_init(vbd_glass *glass, vb_host *host, uint32_t width, uint32_t height);
void vbd_glass_free(vbd_glass *glass);
/* The whole panel. */
vbd_region vbd_glass_all(const vbd_glass *glass);
/* A refresh starts at `time_ns` (`what` names it, as "master activation 0x20"): notes one that
 * comes before min_refresh_interval has passed, and a partial one past max_partials in a row. */
void vbd_glass_refresh_starts(vbd_glass *glass, const char *what, int partial, uint64_t time_ns);
/* A full refresh of `region`: its pixels become `bw` white (bit 1) or black, and red where `red`
 * (NULL on a black/white panel) reads 1. */
void vbd_glass_full(vbd_glass *glass, const vbd_plane *bw, const vbd_plane *red, vbd_region region);
/* A partial refresh of `region` on a black/white panel: a pixel changes to what `image` says only
 * where `image` and `previous` differ. Notes the pixels left showing something else than the
 * image, naming `previous_ram` ("RAM 0x26") as the cause; `time_ns` is when the refresh started. */
void vbd_glass_partial(vbd_glass *glass, const vbd_plane *image, const vbd_plane *previous,
                       vbd_region region, const char *previous_ram, uint64_t time_ns);
/* Shows the glass as a frame. */
void vbd_glass_show(vbd_glass *glass);

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_GLASS_H */
