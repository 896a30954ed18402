// SPDX-License-Identifier: MIT
/*
 * The virtual board's wiringPi interface: the subset of wiringPi's GPIO calls that the
 * hardware-access layer uses, with wiringPi's own signatures and values, acting on a simulated
 * Raspberry Pi (see vboard/board.hpp for the model and for the control interface).
 *
 * Behaviour worth knowing on the virtual board:
 *  - Pins are numbered as the set-up call chose: BCM lines 0 to 53 (wiringPiSetupGpio,
 *    wiringPiSetupSys), wiringPi's own numbers (wiringPiSetup) or the 40-pin header's
 *    (wiringPiSetupPhys), as a 40-pin Pi has them. A later set-up chooses again. A pin with no
 *    line in the numbering touches nothing, is flagged in the call log (BadPin) with a
 *    diagnostic, and digitalRead returns LOW. The call log shows the pin as passed and, in the
 *    wiringPi and physical numberings, the BCM line it reached ("digitalWrite(0, 1) -> BCM 17").
 *  - Line calls made before a successful set-up touch nothing and are flagged (NotSetUp);
 *    digitalRead then returns LOW.
 *  - A pinMode mode wiringPi does not define, a pud other than PUD_OFF/DOWN/UP, or a pinModeAlt
 *    code outside 0 to 7 touches nothing and is flagged (BadArgument).
 *  - digitalWrite treats any non-zero value as HIGH. It sets the output latch whatever the line's
 *    function; the latch shows on the line once the line is an output.
 *  - digitalRead of an output reads its latch; of an input, the external drive if something
 *    drives it, else its pull (PUD_UP reads HIGH, PUD_DOWN reads LOW, a floating line reads LOW).
 *
 * Thread safety: every call is safe from any thread; each runs atomically on the board.
 */
#ifndef VBOARD_WIRINGPI_H
#define VBOARD_WIRINGPI_H

#ifdef __cplusplus
extern "C" {
#endif

#define LOW 0
#define HIGH 1

/* pinMode's modes. PWM_OUTPUT (balanced), PWM_MS_OUTPUT, PWM_BAL_OUTPUT and PWM_TONE_OUTPUT
 * (mark-space) put a PWM line (BCM 12, 13, 18, 19) in its PWM function and set, as wiringPi does,
 * the mode, a range of 1024 and a clock divisor of 32; GPIO_CLOCK puts a clock line (BCM 4, 5, 6,
 * 20, 21) in its clock function; PM_OFF makes the line an input. Another line is refused (NotPwm)
 * with a diagnostic. The soft PWM and soft tone modes are not provided. */
#define INPUT 0
#define OUTPUT 1
#define PWM_OUTPUT 2
#define GPIO_CLOCK 3
#define PWM_TONE_OUTPUT 6
#define PM_OFF 7
#define PWM_MS_OUTPUT 8
#define PWM_BAL_OUTPUT 9

#define PWM_MODE_MS 0
#define PWM_MODE_BAL 1

#define PUD_OFF 0
#define PUD_DOWN 1
#define PUD_UP 2

/* piBoardId's models, makers and revisions, as wiringPi numbers them. */
#define PI_MODEL_A 0
#define PI_MODEL_B 1
#define PI_MODEL_AP 2
#define PI_MODEL_BP 3
#define PI_MODEL_2 4
#define PI_ALPHA 5
#define PI_MODEL_CM 6
#define PI_MODEL_07 7
#define PI_MODEL_3B 8
#define PI_MODEL_ZERO 9
#define PI_MODEL_CM3 10
#define PI_MODEL_ZERO_W 12
#define PI_MODEL_3BP 13
#define PI_MODEL_3AP 14
#define PI_MODEL_CM3P 16
#define PI_MODEL_4B 17
#define PI_MODEL_ZERO_2W 18
#define PI_MODEL_400 19
#define PI_MODEL_CM4 20
#define PI_MODEL_CM4S 21
#define PI_MODEL_5 23

#define PI_VERSION_1 0
#define PI_VERSION_1_1 1
#define PI_VERSION_1_2 2
#define PI_VERSION_2 3

#define PI_MAKER_SONY 0
#define PI_MAKER_EGOMAN 1
#define PI_MAKER_EMBEST 2
#define PI_MAKER_UNKNOWN 3

/* The numberings wiringPiSetupPinType and wiringPiSetupGpioDevice take. */
enum WPIPinType { WPI_PIN_BCM = 1, WPI_PIN_WPI, WPI_PIN_PHYS };

/*
 * Starts the board in BCM numbering. Returns the board's set-up result: 0 by default, or what
 * the control interface set (any negative value is a failure and leaves the board not set up).
 */
int wiringPiSetupGpio(void);

/* Starts the board in wiringPi's own numbering (wiringPi pin 0 is BCM 17, ...). Returns as
 * wiringPiSetupGpio does. */
int wiringPiSetup(void);

/* Starts the board in the 40-pin header's numbering (pin 11 is BCM 17, ...). */
int wiringPiSetupPhys(void);

/* Starts the board in BCM numbering, as wiringPiSetupGpio (the /sys interface on a Pi). */
int wiringPiSetupSys(void);

/* Starts the board in the numbering `pinType` names; -1, with a diagnostic, for another value. */
int wiringPiSetupPinType(enum WPIPinType pinType);

/* wiringPiSetupPinType through the GPIO character device on a Pi: the same here. */
int wiringPiSetupGpioDevice(enum WPIPinType pinType);

/* The BCM line of wiringPi pin `wpiPin`, or of header pin `physPin`; -1 for none. Any time, in
 * any numbering. */
int wpiPinToGpio(int wpiPin);
int physPinToGpio(int physPin);

/*
 * The Pi the board is (its board file's [board] model: a Pi 4 Model B unless it says), as a Pi of
 * that model answers: piBoardId gives the model (PI_MODEL_...), revision, memory (0 256 MB, 1
 * 512 MB, 2 1 GB, 3 2 GB, 4 4 GB, 5 8 GB), maker and over-volted bit of its revision code (a null
 * pointer is skipped); piGpioLayout and piBoardRev give 2, piBoard40Pin 1, piRP1Model 1 on a Pi
 * 5, else 0; wiringPiVersion 3.14, the version whose calls the board implements;
 * wiringPiGlobalMemoryAccess and wiringPiUserLevelAccess 1. Recorded in the call log.
 */
void piBoardId(int *model, int *rev, int *mem, int *maker, int *overVolted);
int piGpioLayout(void);
int piBoardRev(void);
int piBoard40Pin(void);
int piRP1Model(void);
void wiringPiVersion(int *major, int *minor);
int wiringPiGlobalMemoryAccess(void);
int wiringPiUserLevelAccess(void);

/*
 * Threads as wiringPi gives them: piThreadCreate runs fn(NULL) on a detached thread of the
 * process's own (0, or an error number); piLock and piUnlock take and give back one of four locks
 * (key 0 to 3); piHiPri changes nothing on the board and returns 0. The board keeps one clock for
 * every thread: each wait moves it by its length, so two threads that wait at once take the sum
 * of their waits in virtual time. Not in the call log: they touch nothing of the board.
 */
#define PI_THREAD(X) void *X(void *dummy)
int piThreadCreate(void *(*fn)(void *));
void piLock(int key);
void piUnlock(int key);
int piHiPri(const int pri);

/* The board's clock since the first set-up call, in milliseconds and microseconds: 32-bit values
 * that wrap as they do on a Pi; piMicros64 does not wrap. Before any set-up, since power-on. */
unsigned int millis(void);
unsigned int micros(void);
unsigned long long piMicros64(void);

/* Sets `pin` to INPUT, OUTPUT or one of the modes above. */
void pinMode(int pin, int mode);

/* Sets the pull resistor of `pin`: PUD_OFF, PUD_DOWN or PUD_UP. */
void pullUpDnControl(int pin, int pud);

/* Sets the output latch of `pin`: LOW for 0, HIGH for any other value. */
void digitalWrite(int pin, int value);

/* Returns the level of `pin`, LOW or HIGH. */
int digitalRead(int pin);

/*
 * Sets the raw function-select code of `pin`: 0 input, 1 output, 4 ALT0, 5 ALT1, 6 ALT2,
 * 7 ALT3, 3 ALT4, 2 ALT5.
 */
void pinModeAlt(int pin, int mode);

/* Returns the function-select code of `pin`, as pinModeAlt takes it (0 input, 1 output, ...). */
int getAlt(int pin);

/* getAlt, as wiringPi 3.x also names it. */
int getPinModeAlt(int pin);

/* wiringPi pins 0 to 7 (BCM 17, 18, 27, 22, 23, 24, 25, 4) at once, in wiringPi's own bit orders:
 * a write puts bit 0 on wPi pin 0, the lines to clear first, then those to set; a read returns wPi
 * pin 0 in bit 7. In any numbering, after set-up. A Pi 5 has neither: refused with a diagnostic
 * (a read returns 0). */
void digitalWriteByte(const int value);
unsigned int digitalReadByte(void);

/*
 * The PWM and the general-purpose clocks, on the lines where a Pi has them. The board keeps each
 * PWM line's period and duty as the board's Pi model makes them: ticks of the PWM clock divided
 * by the divisor (on a Pi 4, 400 and CM4 wiringPi scales the divisor by 540/192 for their 54 MHz
 * clock; on a Pi 5 by 500/192 for 50 MHz), a period of `range` ticks, high for `value` of them
 * in mark-space mode and spread over them in balanced mode (its duty, value/range). pwmSetMode
 * (PWM_MODE_MS, PWM_MODE_BAL) starts both channels and pwmSetRange sets both ranges; pwmWrite
 * sets the value of the line's channel (BCM 12 and 18 share channel 0, 13 and 19 channel 1).
 * pwmToneWrite sets, as wiringPi does, a range of 600000/freq and a value of freq/2. gpioClockSet
 * sets a clock line's frequency as wiringPi computes it: 19.2 MHz divided by a whole divisor,
 * which on a 54 MHz Pi runs the clock faster, with a diagnostic when the frequency is more than
 * 1 % off (refused on a Pi 5). Each wave is in the call log, the report and Board::wave(), rules
 * can fire on a PWM line's duty, and the board file's pwm_waveform draws the edges on the lines.
 * A call on a line without the function is refused (NotPwm), with a diagnostic.
 */
void pwmWrite(int pin, int value);
void pwmSetMode(int mode);
void pwmSetRange(unsigned int range);
void pwmSetClock(int divisor);
void pwmToneWrite(int pin, int freq);
void gpioClockSet(int pin, int freq);

/* Pad drive strengths: recorded in the call log; the board has none to set. */
void setPadDrive(int group, int value);
void setPadDrivePin(int pin, int value);

/*
 * Interrupts, in the board's virtual time. wiringPiISR registers `function` (may be NULL, for
 * waitForInterrupt alone) for INT_EDGE_FALLING, INT_EDGE_RISING or INT_EDGE_BOTH edges of `pin`
 * and returns 0, replacing an earlier registration of the pin (with a diagnostic); -1, with a
 * diagnostic, for a pin with no line, an edge kind outside 1 to 3 or before set-up. It costs what
 * wiringPi 3.14 takes on a Pi, one second of virtual time (CallCosts::isr_setup_ns). Each
 * matching edge (a rule's, a device's, the time line's or one the program's own call caused)
 * runs `function` on the registration's own thread, at the edge's moment: the board's clock moves
 * meanwhile only by the callback's own calls, and the call during which the edge came returns
 * after the callback has (an edge during a call's own cost, an SPI transfer say, runs it when the
 * call ends; during a wait, at its moment). Edges that come while the pin's callback runs are
 * delivered one by one after it. Same program, same board file: the same order of calls.
 *
 * waitForInterrupt waits, in virtual time as delay does, for the next matching edge of a pin
 * registered with wiringPiISR: 1 at a rising edge, 2 at a falling one, 0 when `mS` milliseconds
 * pass first (-1 waits with no time-out), -2 for a pin never registered. An edge also runs the
 * pin's callback, if it has one. Logged when it returns, with its result. A wait with no time-out
 * and nothing on the board's time line waits in real time for another thread's call.
 *
 * wiringPiISRStop and waitForInterruptClose end a pin's registration (its thread ends after the
 * callback it runs, if any) and return 0; -1 for a pin with no line.
 */
#define INT_EDGE_SETUP 0
#define INT_EDGE_FALLING 1
#define INT_EDGE_RISING 2
#define INT_EDGE_BOTH 3
int wiringPiISR(int pin, int mode, void (*function)(void));
int wiringPiISRStop(int pin);
int waitForInterrupt(int pin, int mS);
int waitForInterruptClose(int pin);

/* Sleeps the calling thread for `howLong` milliseconds. */
void delay(unsigned int howLong);

/* Waits `howLong` microseconds. */
void delayMicroseconds(unsigned int howLong);

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_WIRINGPI_H */
