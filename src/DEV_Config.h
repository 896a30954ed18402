// SPDX-License-Identifier: MIT
/*
 * DEV_Config: the hardware-access layer for a peripheral on the Raspberry Pi's GPIO header.
 *
 * A flat C interface over wiringPi, in BCM pin numbering. It opens wiringPi and puts the eight
 * lines of the pin map into known states, drives and reads single lines, bit-bangs a three-wire
 * serial link on BCM 11 (clock) and BCM 10 (data), writes over the two SPI0 channels and offers
 * two waits.
 *
 * State and ownership: the library keeps no state of its own (no globals, no handles, no
 * allocations). Every effect lands on the lines or the SPI controller through wiringPi.
 *
 * Thread safety: no function takes a lock. Calls that overlap from several threads interleave
 * their line operations; the caller serialises them. DEV_ModuleInit and DEV_ModuleExit must not
 * run while another thread uses the lines.
 *
 * Errors: only DEV_ModuleInit reports one. No other function checks its arguments or looks at
 * the results of the wiringPi calls it makes.
 *
 * The header is valid C99 and C++.
 */
#ifndef DEV_CONFIG_H
#define DEV_CONFIG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The pin map (BCM numbers). Directions and levels that DEV_ModuleInit applies:
 *
 *   constant        BCM  SPI0 role  at open             at close
 *   DEV_SCLK_PIN     11  SCLK       output, low         not touched
 *   DEV_MOSI_PIN     10  MOSI       output, low         not touched
 *   DEV_CS_M_PIN      8  CE0        output, low         low
 *   DEV_CS_S_PIN      7  CE1        output, low         low
 *   DEV_OUT_A_PIN    25  -          output, low         low
 *   DEV_OUT_B_PIN    17  -          output, low         low
 *   DEV_IN_PIN       24  -          input, pull-up      not touched
 *   DEV_EN_PIN       18  -          output, high        low
 *
 * Opening turns the four SPI0 lines (BCM 11, 10, 8, 7) into plain GPIO lines, and nothing in
 * the library turns them back: see DEV_SPI_WriteByte_M.
 */
#define DEV_SCLK_PIN ((uint16_t)11)
#define DEV_MOSI_PIN ((uint16_t)10)
#define DEV_CS_M_PIN ((uint16_t)8)
#define DEV_CS_S_PIN ((uint16_t)7)
#define DEV_OUT_A_PIN ((uint16_t)25)
#define DEV_OUT_B_PIN ((uint16_t)17)
#define DEV_IN_PIN ((uint16_t)24)
#define DEV_EN_PIN ((uint16_t)18)

/* ---- Open and close ------------------------------------------------------------------------ */

/*
 * Starts wiringPi in BCM numbering (wiringPiSetupGpio) and reports the outcome on standard output.
 *
 * On success prints "set wiringPi lib success !!! \r" and a newline, then applies the pin map
 * above (eight directions first, then seven levels; BCM 24 is not written) and returns 0.
 * On failure (a negative set-up result) prints "set wiringPi lib failed", a tab, "!!! \r" and a
 * newline, touches no line and returns 1.
 *
 * May be called again: each call repeats the set-up, the report and the pin map.
 */
uint8_t DEV_ModuleInit(void);

/*
 * Drives BCM 8, 7, 25, 17 and 18 low, in that order. Changes no direction, leaves BCM 11, 10 and
 * 24 alone and releases nothing. Runs its five writes whatever came before, even without a
 * successful DEV_ModuleInit.
 */
void DEV_ModuleExit(void);

/* ---- Single lines -------------------------------------------------------------------------- */

/* Drives `pin` to `value` through digitalWrite. The value is passed on unchanged (2 stays 2). */
void DEV_Digital_Write(uint16_t pin, uint8_t value);

/* Reads `pin` through digitalRead and returns the low 8 bits of the result (0 low, 1 high). */
uint8_t DEV_Digital_Read(uint16_t pin);

/*
 * Sets the direction of `pin`. Mode 0: input (pinMode INPUT), then pull-up on (pullUpDnControl
 * PUD_UP). Any other mode: output (pinMode OUTPUT) and nothing else, so a pull-up turned on by an
 * earlier input call stays on.
 */
void DEV_GPIO_Mode(uint16_t pin, uint16_t mode);

/* ---- Software serial link on BCM 11 (clock) and BCM 10 (data) ------------------------------ */

/*
 * Link timing (SPI mode 0, most significant bit first): the clock rests low. Sending sets each
 * bit while the clock is low and then raises the clock, so the device takes it on the rising
 * edge. Receiving lowers the clock, samples the data line while the clock is low, then raises
 * the clock. Every call leaves the clock low. No select line is driven: framing is the caller's,
 * through DEV_Digital_Write. The link relies on DEV_ModuleInit having made BCM 11 an output.
 */

/*
 * Sends one byte: turns BCM 10 to output, then for each bit clock low, data, clock high; then
 * clock low. The data line keeps the level of the last bit (bit 0).
 */
void DEV_SPI_SendData(uint8_t value);

/*
 * Sends `len` bytes from `data`, in order, each as DEV_SPI_SendData does. `data` must hold `len`
 * readable bytes; it is only read. With `len` 0, or with `data` NULL, nothing is sent and no
 * wiringPi call is made.
 */
void DEV_SPI_SendData_nByte(uint8_t *data, uint32_t len);

/*
 * Receives one byte: turns BCM 10 to input with its pull-up on, then eight times clock low,
 * sample, clock high; then clock low. The first sample is bit 7. With nothing driving the data
 * line the pull-up is read and the result is 0xFF. BCM 10 stays an input afterwards.
 */
uint8_t DEV_SPI_ReadData(void);

/* ---- Hardware SPI0: channel 0 (CE0, the _M functions) and channel 1 (CE1, the _S functions) - */

/*
 * The library never opens an SPI channel, and DEV_ModuleInit turns BCM 11, 10, 8 and 7 into
 * plain GPIO outputs. A caller that wants hardware SPI opens the channel itself
 * (wiringPiSPISetup) and hands the four lines back to the controller (pinModeAlt(pin, 4), ALT0)
 * after DEV_ModuleInit. Each function is a single wiringPiSPIDataRW call whose result is dropped.
 * The caller serialises use of each channel.
 */

/* Writes one byte on channel 0 from a private copy; the byte clocked in is dropped. */
void DEV_SPI_WriteByte_M(uint8_t value);

/*
 * Transfers `len` bytes of `data` on channel 0, full duplex and in place: on return the buffer
 * holds the bytes clocked in, not those sent. Pointer and length go to wiringPi unchanged and
 * unchecked, so `data` must hold `len` bytes that can be read and written.
 */
void DEV_SPI_Write_nByte_M(uint8_t *data, uint32_t len);

/* As DEV_SPI_WriteByte_M, on channel 1. */
void DEV_SPI_WriteByte_S(uint8_t value);

/* As DEV_SPI_Write_nByte_M, on channel 1. */
void DEV_SPI_Write_nByte_S(uint8_t *data, uint32_t len);

/* ---- Waits --------------------------------------------------------------------------------- */

/* Sleeps the calling thread for `ms` milliseconds through wiringPi's delay (0 is passed on). */
void DEV_Delay_ms(uint32_t ms);

/*
 * Busy-waits `count` x 10 empty loop passes, without any call and without yielding. Not
 * calibrated: the microsecond is nominal and the real length depends on the processor.
 */
void DEV_Delay_us(uint16_t count);

#ifdef __cplusplus
}
#endif

#endif /* DEV_CONFIG_H */
