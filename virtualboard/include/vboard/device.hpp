// SPDX-License-Identifier: MIT
// Devices on the virtual board's buses, from C++: what attaches one (DeviceConfig), what a refused
// one says (DeviceError), and the handle a test keeps to a device (Device).
//
// Every device is an instance of a model written against the C interface of vboard/device.h: the
// board's own models ("echo", "replies", "registers") and a user's, loaded from a shared object
// ("plugin"). Attach one with Board::attach_device; a board file's [[device]] sections do the same.
//
// The built-in models and their parameters:
//   echo       answers each byte with the byte it was sent (on the link: a read answers the
//              last byte received). No parameters.
//   replies    answers each byte with the next of its queued replies, across transfers, then
//              VB_NO_ANSWER (the idle line: 0xff on the link's pull-up, MISO's idle level on SPI).
//              Keeps every byte it receives. Parameters: replies (bytes). On the link it has an
//              enable gate: with a line named "enable", it answers only while that line has been at
//              enable_level ("high", the default, or "low") for enable_for (a duration, "0ms").
//   registers  a bank of 256 8-bit registers behind a command byte. The first byte of a
//              selection is the command: its read_bit (0x80 by default) says read (set) or write
//              (clear), the other bits name the first register. Each later byte reads or writes one
//              register and moves to the next (wrapping after 0xff). The command byte is answered
//              with 0x00. Parameters: read_bit (an integer with one bit set), values (bytes: the
//              registers' starting values from register 0).
#ifndef VBOARD_DEVICE_HPP
#define VBOARD_DEVICE_HPP

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "vboard/config_error.hpp"
#include "vboard/export.h"
#include "vboard/types.hpp"

namespace vboard {

class Board;

// One of a device's parameters. Durations are strings with their unit ("2ms"); a list of them is
// a list of strings.
struct DeviceParam {
    std::string key;
    std::variant<std::int64_t, bool, std::string, std::vector<std::uint8_t>,
                 std::vector<std::string>>
        value;
    int line = 0;  // where a board file gives it, for messages; 0 when it comes from elsewhere
};

// What to attach, and where.
struct DeviceConfig {
    std::string model;  // "echo", "replies", "registers" or "plugin"
    std::string path;   // plugin: the shared object (dlopen's rules for a name without a slash)
    std::string name;   // for messages and Board::device; the model's name when empty
    Bus bus = Bus::Spi0;
    // The select line, active low. -1: on SPI the channel's chip enable (the device takes part in
    // every transfer on its channel); on the link, none (the device is always selected).
    int select = -1;
    std::vector<std::pair<std::string, int>> lines;  // the model's named lines: name, BCM line
    std::vector<DeviceParam> params;

    // Where the config comes from, for messages: "FILE:LINE: KEY: expected ...".
    std::string file = "device";
    int line = 0;
    std::string key = "device";  // the dotted path of the device's section, "device[0]"
    int path_line = 0;           // where the file gives `path`; 0: at `line`
};

// A device that cannot be attached is refused with a DeviceError (vboard/config_error.hpp): what()
// is one line, "FILE:LINE: KEY: expected WHAT", the key naming the parameter
// ("device[0].params.conversion") or the setting at fault.

class Replies;
class Registers;

// A test's handle to one device on a board. Cheap to copy; it names the device, it does not own
// it. Every member locks the board, so it is safe from any thread. Once the device is detached or
// its board reset, the members throw std::logic_error.
class VBOARD_EXPORT Device {
  public:
    Device() = default;  // names no device

    bool attached() const;
    std::string name() const;
    std::string model() const;

    // The device as the built-in model it is, with that model's own state: replies() for a
    // "replies" device, registers() for a "registers" one. Each throws std::logic_error naming the
    // device and its model when it is another model, and, like every member, once it is detached.
    Replies replies() const;
    Registers registers() const;

  private:
    friend class Board;
    Device(Board *board, std::uint64_t id) : board_(board), id_(id) {}

    Board *board_ = nullptr;
    std::uint64_t id_ = 0;
};

// A "replies" device: the replies it still owes and every byte it has received from the host.
class VBOARD_EXPORT Replies {
  public:
    void queue(std::span<const std::uint8_t> bytes);
    std::size_t pending() const;  // a reply the link is putting out counts
    std::vector<std::uint8_t> received() const;

  private:
    friend class Device;
    Replies(Board *board, std::uint64_t id) : board_(board), id_(id) {}

    Board *board_;
    std::uint64_t id_;
};

// A "registers" device: its 256 registers.
class VBOARD_EXPORT Registers {
  public:
    std::uint8_t value(std::uint8_t reg) const;
    void set(std::uint8_t reg, std::uint8_t value);

  private:
    friend class Device;
    Registers(Board *board, std::uint64_t id) : board_(board), id_(id) {}

    Board *board_;
    std::uint64_t id_;
};

}  // namespace vboard

#endif  // VBOARD_DEVICE_HPP
