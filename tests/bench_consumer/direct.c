/* SPDX-License-Identifier: MIT */
/* Calls wiringPi directly: a line the board drives high reads high. */

#include <wiringPi.h>

int main(void) {
    if (wiringPiSetupGpio() < 0) {
        return 2;
    }
    pinMode(4, INPUT);
    pullUpDnControl(4, PUD_UP);
    return digitalRead(4) == HIGH ? 0 : 1;
}
