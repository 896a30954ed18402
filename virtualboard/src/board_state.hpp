// The board's implementation, shared by the control interface (board.cpp) and the wiringPi
// functions (wiringpi.cpp). Private to the library.
#ifndef VBOARD_BOARD_STATE_HPP
#define VBOARD_BOARD_STATE_HPP

#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vboard/board.hpp"

namespace vboard {

struct Line {
    Function function = Function::Input;
    Pull pull = Pull::Off;
    bool latch = false;
    std::optional<bool> test_drive;
    std::optional<bool> device_drive;
    bool level = false;  // cached result of State::compute_level, kept current by settle()
};

// The peripheral on the three-wire link (clock BCM 11, data BCM 10).
struct LinkDevice {
    std::deque<std::uint8_t> replies;
    std::vector<std::uint8_t> received;
    std::uint8_t rx_shift = 0;
    int rx_bits = 0;
    bool tx_active = false;  // a reply byte is being shifted out
    std::uint8_t tx_byte = 0;
    int tx_bits_taken = 0;  // rising edges seen since the reply byte was put out
};

struct Board::State {
    mutable std::mutex mutex;

    std::array<Line, kLineCount> lines{};
    int setup_result = 0;
    bool set_up = false;
    std::array<SpiChannelState, kSpiChannelCount> spi{};
    std::array<SpiDevice, kSpiChannelCount> spi_devices{};
    std::optional<LinkDevice> link;
    std::vector<std::string> diagnostics;

    // What SPI0 drives on SCLK, MOSI, CE0 and CE1 while they are in ALT0.
    std::array<bool, kLineCount> controller{};

    std::deque<CallRecord> log;
    std::size_t log_capacity = 100'000;
    std::uint64_t dropped = 0;
    CallRecord unlogged;  // where calls are recorded while the log is off

    std::uint64_t now = 0;
    CallCosts costs;
    bool real_sleep = true;
    std::vector<std::shared_ptr<LineObserver>> observers;

    // Everything below expects `mutex` to be held.
    void power_on();
    void finish_observers();

    bool compute_level(int pin) const;
    void settle(int pin);
    void set_function(int pin, Function function);
    void set_device_drive(int pin, std::optional<bool> level);

    // The link device's reactions to what the host does on its two lines.
    void link_clock_edge(bool rising);
    void link_data_function_changed(Function function);
    void link_put_next_reply();
    void link_stop_replying();

    CallRecord &record(Call call, std::initializer_list<long long> args);
    Flag check_line_call(int pin) const;

    // The wiringPi operations.
    int setup_gpio();
    void pin_mode(int pin, int mode);
    void pull_up_dn_control(int pin, int pud);
    void digital_write(int pin, int value);
    int digital_read(int pin);
    void pin_mode_alt(int pin, int code);
    int spi_setup(Call call, int channel, int speed, int mode);
    int spi_data_rw(int channel, unsigned char *data, int len);
    int spi_transfer_on_wire(int channel, unsigned char *data, int len, CallRecord &rec);
    void spi_draw_transfer(int channel, std::span<const std::uint8_t> mosi,
                           std::span<const std::uint8_t> miso, bool miso_driven);
    void spi_set_controller(int pin, bool level);
    std::uint64_t spi_bits_ns(int channel, int len) const;
    // delay and delayMicroseconds: log, move the clock; returns whether to really sleep.
    bool wait(Call call, unsigned int length, std::uint64_t length_ns);
};

}  // namespace vboard

#endif  // VBOARD_BOARD_STATE_HPP
