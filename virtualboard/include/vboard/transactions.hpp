// SPDX-License-Identifier: MIT
// What the driver said, in bytes: the board groups the bytes that cross its buses into
// transactions, checks the timing a device demands, and hands both to the run's observers that
// watch transactions (vboard/run_observer.hpp; vboard/transaction_writer.hpp writes them).
//
// Buses:
//   link   the three-wire link of BCM 11 (clock) and BCM 10 (data), as the host drives it with
//          plain line calls. A bit is taken at each rising edge of the clock while BCM 11 is an
//          output: sent while BCM 10 is an output, received while it is an input. A transaction is
//          the bytes moved while one of the framing select lines is low (an output the caller
//          drives, BCM 8 and 7 by default); a byte moved while none is low is a transaction of
//          its own, unframed (select -1). A select pulse that moves no byte is a transaction with
//          no bytes.
//   spi0, spi1   one transaction per hardware SPI transfer that reached the wire: each byte out on
//          MOSI with the byte in on MISO.
// A capture of the wires (vboard/capture.hpp) cannot see which way the link's data line was turned:
// its link bytes are Direction::Unknown, and compare with a byte of either direction by value, bit
// count and framing alone.
// A byte cut short (the frame ends, or the data line turns around, before its eighth bit) is kept
// with its bit count: `bits` below 8 and `value` holding the bits taken, the first in the highest
// place of those `bits`.
#ifndef VBOARD_TRANSACTIONS_HPP
#define VBOARD_TRANSACTIONS_HPP

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vboard/export.h"
#include "vboard/types.hpp"

namespace vboard {

enum class Direction : std::uint8_t {
    Out,       // from the host to the device (link: sent)
    In,        // from the device to the host (link: received)
    Exchange,  // hardware SPI: `value` out on MOSI, `reply` in on MISO
    Unknown,   // link, from a capture: seen on the data line, which way it went cannot be seen
};

// A line recorded with every byte, a data/command line say, under a short name of its own.
struct SideLine {
    std::string name;  // letters, digits, '_' and '-'
    int pin = -1;
};

// Which lines frame the link and which lines to record with each byte.
struct FramingOptions {
    std::vector<int> selects{8, 7};
    std::vector<SideLine> side_lines;  // at most kMaxSideLines
};
inline constexpr std::size_t kMaxSideLines = 16;

struct TransactionByte {
    std::uint64_t time_ns = 0;  // when its first bit was taken
    Direction direction = Direction::Out;
    std::uint8_t value = 0;
    std::uint8_t reply = 0;  // Exchange only
    std::uint8_t bits = 8;
    std::uint32_t side = 0;  // bit i: the level of side line i when the byte's first bit was taken
};

struct Transaction {
    std::uint64_t index = 0;  // 0, 1, 2... in the order they ended
    Bus bus = Bus::Link;
    int select = -1;  // the select line (link) or chip enable line (SPI); -1: unframed
    std::uint64_t start_ns = 0;
    std::uint64_t end_ns = 0;
    std::vector<TransactionByte> bytes;
};

// The timing a device demands, checked on the wires as the run goes.
enum class TimingCheckKind : std::uint8_t {
    ClockRate,        // the link clock's rate (1 / rising-to-rising time) at most `limit` Hz
    SelectToClock,    // `pin` (a select) falling to the next clock edge: at least `limit` ns
    ClockToDeselect,  // the last clock edge to `pin` rising: at least `limit` ns
    PulseWidth,       // a pulse of `pin` at `level`: at least `limit` ns
    Gap,              // `from` to the next `to`: at least `limit` ns
};

// An event a Gap check starts or ends at: an edge of a line, or the start of a transaction.
struct TimingEvent {
    enum class Kind : std::uint8_t { Rising, Falling, Transaction } kind = Kind::Rising;
    int pin = -1;            // Rising and Falling
    std::optional<Bus> bus;  // Transaction: on this bus only, or on any
};

struct TimingCheck {
    std::string name;  // as reports name it; empty: made from the kind
    TimingCheckKind kind = TimingCheckKind::ClockRate;
    std::uint64_t limit = 0;  // Hz for ClockRate, ns for the others
    int pin = -1;
    bool level = false;    // PulseWidth: the level of the pulse
    TimingEvent from, to;  // Gap
};

struct VBOARD_EXPORT TimingViolation {
    std::size_t check = 0;  // index of the check, in the order added
    std::string name;
    std::uint64_t time_ns = 0;   // when the measured stretch ended
    std::uint64_t measured = 0;  // Hz for ClockRate, ns for the others
    std::uint64_t limit = 0;
    bool rate = false;  // ClockRate: a maximum in Hz; else a minimum in ns
    // PulseWidth and Gap: no wait of the program's passed in the stretch, so it is only the calls'
    // own cost (a busy loop, as the layer's DEV_Delay_us, passes no time on the board's clock).
    bool no_wait = false;
    // "1.05212 ms: link clock rate: 16.666 MHz, above the maximum of 10 MHz", and for a stretch
    // with no wait "...; no wait passed between the calls that made it (a busy loop, as
    // DEV_Delay_us, passes no time on the board's clock)".
    std::string to_string() const;
};

// The first violations of each check reach observers and Board::violations(); the rest are
// counted only, so a long run that breaks a limit on every clock edge stays bounded.
inline constexpr std::size_t kViolationsKeptPerCheck = 100;

// The transaction table as text, one line per transaction, with the time columns in us or ms:
//   "   3     1.052ms     1.130ms  link  BCM8  dc=0 > 12 dc=1 a5 3c < 5a"
// after a header line "# index start end bus select bytes". The bytes: "name=level" sets a side
// line for the bytes after it, ">" and "<" set the direction (out, in), "?" no direction (a
// capture's link bytes), "xx" is a byte in hex,
// "xx/Nb" a partial byte of N bits; a hardware SPI transaction is "> out... < in...". Violations
// follow as "! TEXT" lines, and a count per check as "!! NAME: N violations" at the end.
VBOARD_EXPORT std::string format_transaction(const Transaction &transaction,
                                             const FramingOptions &framing);

// A transaction file that cannot be read: what() is "FILE:LINE: expected WHAT".
class VBOARD_EXPORT TransactionFileError : public std::runtime_error {
  public:
    TransactionFileError(const std::string &file, int line, const std::string &expected);
    int line() const { return line_; }

  private:
    int line_;
};

// A transaction file read back: the transactions, with the side-line names the bytes use.
struct TransactionTable {
    std::vector<std::string> side_names;
    std::vector<Transaction> transactions;
};

// Reads the text table (comments, violation lines and blank lines are skipped). `name` is the
// file's name in messages. Throws TransactionFileError.
VBOARD_EXPORT TransactionTable parse_transactions(std::string_view text, const std::string &name);
VBOARD_EXPORT TransactionTable load_transactions(const std::string &path);

struct CompareOptions {
    // Times are left out unless this is set: then start and end must agree within it.
    std::optional<std::uint64_t> time_tolerance_ns;
    std::size_t context = 2;  // transactions shown before the first difference
};

// Compares a run with what was expected. Empty when they agree; else a readable report of the
// first difference, the expected and the got transactions side by side with their index.
VBOARD_EXPORT std::string compare_transactions(const TransactionTable &expected,
                                               const TransactionTable &got,
                                               const CompareOptions &options = {});

}  // namespace vboard

#endif  // VBOARD_TRANSACTIONS_HPP
