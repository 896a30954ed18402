// Board files: a TOML description of a virtual board (its set-up result, call costs, external
// drives, peripherals, rules, the lines that frame transactions and the timing checks), read and
// checked whole, then applied through Board's public
// interface. The format is described in the README and in vboard-board(5).
#ifndef VBOARD_BOARD_FILE_HPP
#define VBOARD_BOARD_FILE_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"
#include "vboard/rules.hpp"

namespace vboard {

// A board file that cannot be used. what() is one line, "FILE:LINE: KEY: expected WHAT" (the key
// as a dotted path, "rule[2].after"; "syntax" for a file that is not TOML).
class VBOARD_EXPORT BoardFileError : public std::runtime_error {
  public:
    BoardFileError(std::string file, int line, std::string key, std::string expected);

    const std::string &file() const { return file_; }
    int line() const { return line_; }
    const std::string &key() const { return key_; }
    const std::string &expected() const { return expected_; }

  private:
    std::string file_;
    int line_;
    std::string key_;
    std::string expected_;
};

// A parsed, checked board file. Plain data: copy it, apply it to as many boards as needed.
class VBOARD_EXPORT BoardFile {
  public:
    // Reads and checks the file at `path`; throws BoardFileError (for a file that cannot be read
    // too, with line 0).
    static BoardFile load(const std::string &path);
    // Checks `text` as a board file named `name` in messages; throws BoardFileError.
    static BoardFile parse(std::string_view text, const std::string &name);

    // Sets `board` up as the file says. Only what the file names is changed; peripherals it names
    // replace those attached. Throws only what Board's own functions throw, which a checked file
    // never makes them do.
    void apply(Board &board) const;

    enum class SpiModel : std::uint8_t { Replies, Echo, Registers };
    struct Spi {
        SpiModel model = SpiModel::Replies;
        std::vector<std::uint8_t> replies;                             // Replies
        std::uint8_t read_bit = 0x80;                                  // Registers
        std::vector<std::pair<std::uint8_t, std::uint8_t>> registers;  // Registers: initial values
    };
    struct Link {
        LinkDeviceOptions options;
        std::vector<std::uint8_t> replies;
    };

    std::optional<int> setup_result;
    std::optional<bool> real_sleep;
    std::optional<std::size_t> log_capacity;
    std::optional<Fidelity> fidelity;
    std::optional<CallCosts> costs;  // the defaults, with what the file sets
    std::vector<std::pair<int, bool>> drives;
    std::optional<Link> link;
    std::array<std::optional<Spi>, kSpiChannelCount> spi;
    std::vector<Rule> rules;
    std::optional<FramingOptions> framing;  // [transactions]
    std::vector<TimingCheck> timing;        // [[timing]]
};

}  // namespace vboard

#endif  // VBOARD_BOARD_FILE_HPP
