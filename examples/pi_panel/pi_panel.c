/* SPDX-License-Identifier: MIT */
/*
 * A panel driver written the way a Raspberry Pi programmer writes one, straight on wiringPi and
 * the C library, with no layer between: pins in wiringPi's own numbering, the model asked for to
 * choose the backlight's pin, a reset held with usleep, a busy line waited on with a millis()
 * time-out, a button on an interrupt and a PWM backlight. It builds unchanged against the real
 * wiringPi on a Pi (cc pi_panel.c -lwiringPi) and against the virtual board here.
 *
 * The panel: commands and data over SPI0 (channel 0) with a data/command line; it is busy (its
 * busy line high) after a reset and while it refreshes.
 */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <wiringPi.h>
#include <wiringPiSPI.h>

/* wiringPi's own pin numbers. */
#define PIN_RESET 0       /* BCM 17 */
#define PIN_BUSY 5        /* BCM 24 */
#define PIN_DC 6          /* BCM 25 */
#define PIN_BUTTON 21     /* BCM 5 */
#define BACKLIGHT_PWM0 1  /* BCM 18: channel 0 */
#define BACKLIGHT_PWM1 23 /* BCM 13: channel 1, where a Zero's carrier boards put it */

#define SPI_CHANNEL 0
#define SPI_SPEED 8000000
#define BUSY_TIMEOUT_MS 30000
#define BUTTON_TIMEOUT_MS 10000

#define CMD_INIT 0x01
#define CMD_WINDOW 0x24
#define CMD_REFRESH 0x12
#define CMD_SLEEP 0x10

static volatile int pressed;

/* Runs on wiringPi's interrupt thread at each falling edge of the button. */
static void on_button(void) {
    if (digitalRead(PIN_BUTTON) == LOW) {
        pressed = 1;
    }
}

/* Sends a command, then its data, with the data/command line low for the command. */
static int command(unsigned char cmd, const unsigned char *data, int len) {
    unsigned char buffer[64];
    digitalWrite(PIN_DC, LOW);
    buffer[0] = cmd;
    if (wiringPiSPIDataRW(SPI_CHANNEL, buffer, 1) < 0) {
        return -1;
    }
    if (len > 0) {
        digitalWrite(PIN_DC, HIGH);
        memcpy(buffer, data, (size_t)len);
        if (wiringPiSPIDataRW(SPI_CHANNEL, buffer, len) < 0) {
            return -1;
        }
    }
    return 0;
}

/* Waits until the panel is idle; -1 when it stays busy past the time-out. */
static int wait_idle(unsigned int timeout_ms) {
    const unsigned int start = millis();
    while (digitalRead(PIN_BUSY) == HIGH) {
        if (millis() - start > timeout_ms) {
            return -1;
        }
        delay(1);
    }
    return 0;
}

int main(void) {
    static const unsigned char init[] = {0x3c, 0x01};
    static const unsigned char window[] = {0x00, 0x0f, 0x00, 0x0f};
    unsigned char picture[32];
    int model = 0, rev = 0, mem = 0, maker = 0, overvolted = 0;
    int backlight;
    unsigned int start;
    int i;

    if (wiringPiSetup() < 0) {
        fprintf(stderr, "pi_panel: no GPIO\n");
        return 1;
    }
    piBoardId(&model, &rev, &mem, &maker, &overvolted);
    backlight = model == PI_MODEL_ZERO_2W ? BACKLIGHT_PWM1 : BACKLIGHT_PWM0;
    printf("pi_panel: board model %d, backlight on wiringPi pin %d\n", model, backlight);

    pinMode(PIN_RESET, OUTPUT);
    pinMode(PIN_DC, OUTPUT);
    pinMode(PIN_BUSY, INPUT);
    pullUpDnControl(PIN_BUSY, PUD_DOWN);
    pinMode(PIN_BUTTON, INPUT);
    pullUpDnControl(PIN_BUTTON, PUD_UP);
    if (wiringPiISR(PIN_BUTTON, INT_EDGE_FALLING, on_button) < 0) {
        fprintf(stderr, "pi_panel: no interrupt for the button\n");
        return 1;
    }
    if (wiringPiSPISetup(SPI_CHANNEL, SPI_SPEED) < 0) {
        fprintf(stderr, "pi_panel: no SPI\n");
        return 1;
    }

    /* Reset: low for 11 ms, then give the panel 5 ms before it reports busy. */
    digitalWrite(PIN_RESET, HIGH);
    usleep(1000);
    digitalWrite(PIN_RESET, LOW);
    usleep(11000);
    digitalWrite(PIN_RESET, HIGH);
    usleep(5000);
    if (wait_idle(BUSY_TIMEOUT_MS) != 0) {
        fprintf(stderr, "pi_panel: busy after reset\n");
        return 1;
    }

    pinMode(backlight, PWM_OUTPUT);
    pwmWrite(backlight, 256); /* a quarter until the first picture is up */

    for (i = 0; i < (int)sizeof picture; ++i) {
        picture[i] = (unsigned char)(i % 2 == 0 ? 0xf0 : 0x0f);
    }
    if (command(CMD_INIT, init, sizeof init) != 0 ||
        command(CMD_WINDOW, window, sizeof window) != 0 ||
        command(0x26, picture, sizeof picture) != 0 || command(CMD_REFRESH, NULL, 0) != 0) {
        fprintf(stderr, "pi_panel: SPI failed\n");
        return 1;
    }
    if (wait_idle(BUSY_TIMEOUT_MS) != 0) {
        fprintf(stderr, "pi_panel: still busy after %d ms\n", BUSY_TIMEOUT_MS);
        return 1;
    }
    pwmWrite(backlight, 1024); /* full */

    /* The button sleeps the panel. */
    start = millis();
    while (!pressed) {
        if (millis() - start > BUTTON_TIMEOUT_MS) {
            fprintf(stderr, "pi_panel: no button press\n");
            return 1;
        }
        delay(10);
    }
    pwmWrite(backlight, 0);
    command(CMD_SLEEP, NULL, 0);
    wiringPiISRStop(PIN_BUTTON);
    wiringPiSPIClose(SPI_CHANNEL);
    printf("pi_panel: done\n");
    return 0;
}
