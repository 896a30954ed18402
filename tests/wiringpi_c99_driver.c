/* SPDX-License-Identifier: MIT */
/* A C99 driver that calls every function the board's wiringPi.h and wiringPiSPI.h declare, built
 * with -std=c99 -Wall -Wextra -pedantic -Werror: the headers must serve a Pi programmer's C as it
 * is. Runs on the board and exits non-zero when a call does not answer as the headers say. */
#include <stdio.h>

#include <wiringPi.h>
#include <wiringPiSPI.h>

static int failures = 0;
static volatile int edges = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "wiringpi_c99_driver: %s\n", what);
        ++failures;
    }
}

static void on_edge(void) { ++edges; }

static PI_THREAD(worker) {
    (void)dummy;
    piLock(1);
    piUnlock(1);
    return NULL;
}

int main(void) {
    unsigned char data[2] = {0x12, 0x34};
    int model = -1, rev = -1, mem = -1, maker = -1, overvolted = -1, major = 0, minor = 0;
    unsigned long long started;

    check(wiringPiSetupSys() == 0, "wiringPiSetupSys");
    check(wiringPiSetupPhys() == 0, "wiringPiSetupPhys");
    check(wiringPiSetupPinType(WPI_PIN_WPI) == 0, "wiringPiSetupPinType");
    check(wiringPiSetupGpioDevice(WPI_PIN_PHYS) == 0, "wiringPiSetupGpioDevice");
    check(wiringPiSetup() == 0, "wiringPiSetup");
    check(wpiPinToGpio(0) == 17 && physPinToGpio(11) == 17, "the pin tables");
    piBoardId(&model, &rev, &mem, &maker, &overvolted);
    check(model == PI_MODEL_4B, "piBoardId");
    check(piGpioLayout() == 2 && piBoardRev() == 2 && piBoard40Pin() == 1 && piRP1Model() == 0,
          "the board's layout");
    wiringPiVersion(&major, &minor);
    check(major == 3 && wiringPiGlobalMemoryAccess() == 1 && wiringPiUserLevelAccess() == 1,
          "wiringPiVersion");
    check(piThreadCreate(worker) == 0 && piHiPri(50) == 0, "piThreadCreate");

    started = piMicros64();
    pinMode(0, OUTPUT);
    pullUpDnControl(2, PUD_DOWN);
    digitalWrite(0, HIGH);
    check(digitalRead(0) == HIGH, "digitalRead");
    pinModeAlt(3, 4);
    check(getAlt(3) == 4 && getPinModeAlt(3) == 4, "getAlt");
    digitalWriteByte(0x01);
    check((digitalReadByte() & 0x80) != 0, "digitalReadByte");
    setPadDrive(0, 7);
    setPadDrivePin(0, 7);
    delay(1);
    delayMicroseconds(10);
    check(millis() >= 1 && micros() >= 1000 && piMicros64() > started, "the time");

    pinMode(1, PWM_OUTPUT);
    pwmSetMode(PWM_MODE_MS);
    pwmSetRange(2000);
    pwmSetClock(192);
    pwmWrite(1, 150);
    pwmToneWrite(1, 440);
    pinMode(7, GPIO_CLOCK);
    gpioClockSet(7, 1200000);

    pinMode(4, OUTPUT); /* BCM 23, wired by nothing: the driver's own edge */
    check(wiringPiISR(4, INT_EDGE_RISING, on_edge) == 0, "wiringPiISR");
    digitalWrite(4, HIGH);
    check(edges == 1, "the callback of the driver's own edge");
    check(waitForInterrupt(4, 1) == 0, "waitForInterrupt's time-out");
    check(waitForInterruptClose(4) == 0 && wiringPiISRStop(4) == 0, "wiringPiISRStop");
    check(waitForInterrupt(4, 1) == -2, "waitForInterrupt on a pin never registered");

    check(wiringPiSPISetup(0, 1000000) >= 0 && wiringPiSPISetupMode(1, 1000000, 0) >= 0,
          "wiringPiSPISetup");
    check(wiringPiSPIDataRW(0, data, 2) == 2 && wiringPiSPIGetFd(0) >= 0, "wiringPiSPIDataRW");
    check(wiringPiSPIClose(0) == 0 && wiringPiSPIClose(1) == 0, "wiringPiSPIClose");
    check(wiringPiSPIxSetup(0, 0, 1000000) >= 0 && wiringPiSPIxSetupMode(0, 1, 1000000, 3) >= 0,
          "wiringPiSPIxSetup");
    check(wiringPiSPIxDataRW(0, 0, data, 2) == 2 && wiringPiSPIxGetFd(0, 0) >= 0,
          "wiringPiSPIxDataRW");
    check(wiringPiSPIxClose(0, 0) == 0 && wiringPiSPIxClose(0, 1) == 0, "wiringPiSPIxClose");
    check(wiringPiSPIxSetup(1, 0, 1000000) < 0, "another SPI bus is refused");
    return failures == 0 ? 0 : 1;
}
