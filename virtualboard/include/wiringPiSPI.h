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
 *   -9  (EBADF)     transfer on a channel that was never opened, or has been closed
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
 * If SCLK or MOSI is not in ALT0, nothing reaches the wire: the peripheral sees no byte, `data`
 * is filled with what the idle MISO line reads (0xFF high, 0x00 low), the result is still `len`
 * (the controller cannot tell), and the board records a diagnostic naming each line that was not
 * in ALT0. With those lines in ALT0 the transfer draws its edges on them at the channel's speed
 * and mode. The channel's chip enable in ALT0 is the controller's, low for the transfer; as a
 * plain output it is the program's, and a device behind it takes part while the program holds it
 * low. If MISO (BCM 9) is not in ALT0, the bytes clocked in read 0x00 and a diagnostic says so.
 */
int wiringPiSPIDataRW(int channel, unsigned char *data, int len);

/* The descriptor wiringPiSPISetup returned for `channel`, or -1 when it is not open. The board
 * has no spidev behind it: an ioctl a driver makes on it itself reaches nothing (the board
 * reserves the number where the process had it free, so such a call fails). */
int wiringPiSPIGetFd(int channel);

/* Closes `channel`: a transfer on it is then refused with -9, as on a channel never opened.
 * Returns 0, -9 for a channel not open, -22 for a channel other than 0 or 1. */
int wiringPiSPIClose(const int channel);

/* The same calls with an SPI bus number first. Bus 0 is SPI0, as in the calls above; the board has
 * no other bus: another is refused with -22 and a diagnostic naming it. */
int wiringPiSPIxSetup(const int number, const int channel, const int speed);
int wiringPiSPIxSetupMode(const int number, const int channel, const int speed, const int mode);
int wiringPiSPIxDataRW(const int number, const int channel, unsigned char *data, const int len);
int wiringPiSPIxGetFd(const int number, int channel);
int wiringPiSPIxClose(const int number, const int channel);

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_WIRINGPISPI_H */
