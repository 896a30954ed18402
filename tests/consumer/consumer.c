// SPDX-License-Identifier: MIT
/* A C caller of the installed layer: opens it, checks the enable line and the input's pull-up,
 * sends a byte and closes. */
#include <stdio.h>

#include <DEV_Config.h>

int main(void) {
    if (DEV_ModuleInit() != 0) {
        fputs("consumer_c: DEV_ModuleInit failed\n", stderr);
        return 1;
    }
    if (DEV_Digital_Read(DEV_EN_PIN) != 1 || DEV_Digital_Read(DEV_IN_PIN) != 1) {
        fputs("consumer_c: the pin map is not as documented\n", stderr);
        return 1;
    }
    DEV_SPI_SendData(0xA5);
    DEV_ModuleExit();
    if (DEV_Digital_Read(DEV_EN_PIN) != 0) {
        fputs("consumer_c: the enable line is still high after close\n", stderr);
        return 1;
    }
    puts("consumer_c: ok");
    return 0;
}
