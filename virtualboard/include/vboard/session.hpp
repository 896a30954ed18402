// SPDX-License-Identifier: MIT
// The process's own board (default_board()), set up from the environment when it first starts, so
// that a program that only calls wiringPi (directly, or through the layer) runs on a described
// board and leaves its files behind however it ends. `vboard run` sets these variables; a user can
// set them by hand and run the program with the board's drop-in libwiringPi.so on the library path.
// vboard/run_config.hpp writes them from a RunConfig and reads them back.
//
//   VBOARD_BOARD=FILE      apply this board file (see vboard/board_file.hpp)
//   VBOARD_VCD=FILE        stream the pin map's lines and MISO to this VCD file
//   VBOARD_LOG=FILE        stream the call log and the diagnostics to this text file
//   VBOARD_TIMEOUT=LENGTH  end the process when the board's clock reaches LENGTH ("50ms", "2s")
//   VBOARD_NO_SLEEP=1      waits move the clock without sleeping
//   VBOARD_TRANSACTIONS=FILE         stream the transactions and timing violations to this file
//   VBOARD_TRANSACTIONS_FORMAT=FMT   its format: text (the default) or jsonl
//   VBOARD_TRANSACTIONS_TEXT=FILE    a second copy, always text (the runner compares it)
//   VBOARD_HTML=FILE       write the run's HTML report (vboard/report.hpp) to this file at the end
//   VBOARD_HTML_TITLE=TEXT the report's title, the program's name say
//   VBOARD_FRAMES=DIR      write each frame a display showed as a PNG file in DIR
//   VBOARD_LINE_NAMES=LIST name lines for the report, as 24=BUSY,17=RST (Board::set_line_name),
//                          before the board file's [names]
//   VBOARD_REPORT=FILE     where the board writes, for the runner, its diagnostics ("note" lines),
//                          timing violations ("violation" lines, then "violations N CHECK" per
//                          check at the end) and the time-limit line; without it the time-limit
//                          line goes to standard error
//
// The files are complete up to the last wiringPi call whether the program returns from main,
// calls exit(), is ended by a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTERM,
// SIGINT, SIGHUP) or reaches the time limit. A program that ends with _exit() or SIGKILL, or that
// dies while another of its threads is inside a wiringPi call, may leave them short.
#ifndef VBOARD_SESSION_HPP
#define VBOARD_SESSION_HPP

namespace vboard {

// Exit statuses of a program ended by its board (and of `vboard run`).
inline constexpr int kExitBoardSetup = 3;  // a board file or an output file could not be used
inline constexpr int kExitTimeout = 124;   // the board's clock reached VBOARD_TIMEOUT

}  // namespace vboard

#endif  // VBOARD_SESSION_HPP
