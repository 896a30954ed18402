// SPDX-License-Identifier: MIT
/*
 * The virtual board's wiringPi SPI interface: SPI0 with its two chip enables.
 *
 *   channel 0: CE0 on BCM 8      shared: SCLK BCM 11, MOSI BCM 10, MISO BCM 9
 *   channel 1: CE1 on BCM 7
 *
 * Results are those of the Linux spidev calls behind wiringPi: a non-negative value on success,
 * a negated errno otherwise:
 *   -22 (EINVAL)    channel other than 0 or 1, speed not above 0, mode outside 0 to 3,
 *                   negative length
 *   -9  (EBADF)     transfer on a channel that was never opened
 *   -14 (EFAULT)    null buffer
 *   -90 (EMSGSIZE)  transfer longer than 4096 bytes (the spidev buffer)
 * A failed call leaves the buffer untouched.
 *
 * Thread safety: every call is safe from any thread; each runs atomically on the board.
 */
#ifndef VBOARD_WIRINGPISPI_H
#define VBOARD_WIRINGPISPI_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opens `channel` at `speed` Hz in SPI mode 0. Returns a file descriptor (>= 0) or -22. */
int wiringPiSPISetup(int channel, int speed);

/* Opens `channel` at `speed` Hz in SPI `mode` (0 to 3). Returns a file descriptor or -22. */
int wiringPiSPISetupMode(int channel, int speed, int mode);

/*
 * Full-duplex transfer of `len` bytes in place: the bytes in `data` are sent and overwritten by
 * the bytes clocked in. Returns `len` on success, else one of the negated errno values above.
 *
 * If SCLK, MOSI or the channel's CE line is not in ALT0, nothing reaches the wire: the peripheral
 * sees no byte, `data` is filled with what the idle MISO line reads (0xFF high, 0x00 low), the
 * result is still `len` (the controller cannot tell), and the board records a diagnostic naming
 * each line that was not in ALT0. With those lines in ALT0 the transfer draws its edges on them
 * at the channel's speed and mode; if MISO (BCM 9) is not in ALT0, the bytes clocked in read 0x00
 * and a diagnostic says so.
 */
int wiringPiSPIDataRW(int channel, unsigned char *data, int len);

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_WIRINGPISPI_H */
