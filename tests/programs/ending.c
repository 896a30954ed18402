// SPDX-License-Identifier: MIT
/* A program that ends in the way its argument names, after some link traffic, so that a test can
 * check the board's files are complete however a program ends:
 *   return | exit | segv | abort   send 0xa5, clock half of the next byte, then end so
 *   poll                           send 0xa5, then poll the input line until it goes low */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "DEV_Config.h"

/* The first four bits of a byte, 1010, as DEV_SPI_SendData would clock them. */
static void clock_half_a_byte(void) {
    DEV_GPIO_Mode(DEV_MOSI_PIN, 1);
    for (int bit = 0; bit < 4; ++bit) {
        DEV_Digital_Write(DEV_SCLK_PIN, 0);
        DEV_Digital_Write(DEV_MOSI_PIN, (bit & 1) == 0);
        DEV_Digital_Write(DEV_SCLK_PIN, 1);
    }
}

int main(int argc, char **argv) {
    const char *how = argc > 1 ? argv[1] : "return";
    if (DEV_ModuleInit() != 0) {
        return 1;
    }
    DEV_SPI_SendData(0xa5);
    if (strcmp(how, "poll") == 0) {
        while (DEV_Digital_Read(DEV_IN_PIN) != 0) {
            DEV_Delay_ms(1);
        }
        return 0;
    }
    clock_half_a_byte();
    fflush(stdout);
    if (strcmp(how, "exit") == 0) {
        exit(8);
    }
    if (strcmp(how, "segv") == 0) {
        volatile int *nowhere = NULL;
        *nowhere = 1;
    }
    if (strcmp(how, "abort") == 0) {
        abort();
    }
    return 7;
}
