/* SPDX-License-Identifier: MIT */
/* Asks the device on the link for its identity (command 0x9f, one byte back) and checks it against
 * the one expected: 0x42, or the first argument. */

#include <stdio.h>
#include <stdlib.h>

#include "DEV_Config.h"

int main(int argc, char **argv) {
    const unsigned long expected = argc > 1 ? strtoul(argv[1], NULL, 0) : 0x42;
    if (DEV_ModuleInit() != 0) {
        return 2;
    }
    DEV_Digital_Write(DEV_CS_M_PIN, 1);
    DEV_Digital_Write(DEV_CS_M_PIN, 0);
    DEV_SPI_SendData(0x9f);
    const unsigned identity = DEV_SPI_ReadData();
    DEV_Digital_Write(DEV_CS_M_PIN, 1);
    DEV_ModuleExit();
    printf("identity 0x%02x\n", identity);
    return identity == expected ? 0 : 1;
}
