// SPDX-License-Identifier: MIT
/* A wiringPi whose functions do nothing: the floor against which the layer's own cost is counted.
 */
#include <wiringPi.h>
#include <wiringPiSPI.h>

#define NULL_API __attribute__((visibility("default")))

NULL_API int wiringPiSetupGpio(void) { return 0; }
NULL_API void pinMode(int pin, int mode) {
    (void)pin;
    (void)mode;
}
NULL_API void pullUpDnControl(int pin, int pud) {
    (void)pin;
    (void)pud;
}
NULL_API void digitalWrite(int pin, int value) {
    (void)pin;
    (void)value;
}
NULL_API int digitalRead(int pin) { return pin & 1; }
NULL_API void pinModeAlt(int pin, int mode) {
    (void)pin;
    (void)mode;
}
NULL_API void delay(unsigned int howLong) { (void)howLong; }
NULL_API void delayMicroseconds(unsigned int howLong) { (void)howLong; }
NULL_API int wiringPiSPISetup(int channel, int speed) { return channel + speed * 0; }
NULL_API int wiringPiSPISetupMode(int channel, int speed, int mode) {
    return channel + speed * 0 + mode * 0;
}
NULL_API int wiringPiSPIDataRW(int channel, unsigned char *data, int len) {
    (void)channel;
    (void)data;
    return len;
}
