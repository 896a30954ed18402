// SPDX-License-Identifier: MIT
/* A plain-C driver for the runner's benchmark: sends 2 MiB (or the bytes its argument says) over
 * the three-wire link in 4 KiB frames, each behind CS_M, written only against DEV_Config.h. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "DEV_Config.h"

enum { FRAME_BYTES = 4096, TOTAL_BYTES = 2 * 1024 * 1024 };

int main(int argc, char **argv) {
    const uint32_t total = argc > 1 ? (uint32_t)strtoul(argv[1], NULL, 0) : TOTAL_BYTES;
    static uint8_t frame[FRAME_BYTES];
    if (DEV_ModuleInit() != 0) {
        return 1;
    }
    for (uint32_t i = 0; i < FRAME_BYTES; ++i) {
        frame[i] = (uint8_t)(i * 37u);
    }
    for (uint32_t sent = 0; sent < total; sent += FRAME_BYTES) {
        DEV_Digital_Write(DEV_CS_M_PIN, 0);
        DEV_SPI_SendData_nByte(frame, FRAME_BYTES);
        DEV_Digital_Write(DEV_CS_M_PIN, 1);
    }
    DEV_ModuleExit();
    return 0;
}
