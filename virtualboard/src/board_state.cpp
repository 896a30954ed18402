// The electrical model, the peripherals and the wiringPi operations of the virtual board.

#include "board_state.hpp"

#include <algorithm>
#include <cstdio>

namespace vboard {
namespace {

// Negated errno values, as the spidev calls behind wiringPi return them.
constexpr int kEbadf = -9;
constexpr int kEfault = -14;
constexpr int kEinval = -22;
constexpr int kEmsgsize = -90;

constexpr int kSpiFdBase = 40;  // descriptors handed out by wiringPiSPISetup: 40 and 41

Pull power_on_pull(int pin) {
    if (pin <= 8 || (pin >= 34 && pin <= 36) || pin >= 46) {
        return Pull::Up;
    }
    if (pin == 28 || pin == 29 || pin == 44 || pin == 45) {
        return Pull::Off;
    }
    return Pull::Down;
}

bool is_spi0_line(int pin) { return pin >= kSpiCe1 && pin <= kSpiSclk; }

// The level SPI0 drives on its output lines while it is idle (mode 0): chip enables high.
bool spi_idle_level(int pin) { return pin == kSpiCe0 || pin == kSpiCe1; }

constexpr std::uint64_t kNsPerSecond = 1'000'000'000;

bool valid_pin(int pin) { return pin >= 0 && pin < kLineCount; }

std::optional<Function> function_from_alt_code(int code) {
    switch (code) {
        case 0: return Function::Input;
        case 1: return Function::Output;
        case 4: return Function::Alt0;
        case 5: return Function::Alt1;
        case 6: return Function::Alt2;
        case 7: return Function::Alt3;
        case 3: return Function::Alt4;
        case 2: return Function::Alt5;
        default: return std::nullopt;
    }
}

const char *spi_line_name(int pin) {
    switch (pin) {
        case kSpiSclk: return "SCLK";
        case kSpiMosi: return "MOSI";
        case kSpiMiso: return "MISO";
        case kSpiCe0: return "CE0";
        default: return "CE1";
    }
}

}  // namespace

void Board::State::power_on() {
    finish_observers();
    now = 0;
    for (int pin = 0; pin < kLineCount; ++pin) {
        controller[pin] = spi_idle_level(pin);
        Line &line = lines[pin];
        line = Line{};
        line.function = is_spi0_line(pin) ? Function::Alt0 : Function::Input;
        line.pull = power_on_pull(pin);
        line.level = compute_level(pin);
    }
    setup_result = 0;
    set_up = false;
    spi = {};
    spi_devices = {};
    link.reset();
    log.clear();
    dropped = 0;
    diagnostics.clear();
}

void Board::State::finish_observers() {
    for (const auto &observer : observers) {
        observer->finish(now);
    }
    observers.clear();
}

bool Board::State::compute_level(int pin) const {
    const Line &line = lines[pin];
    if (line.function == Function::Output) {
        return line.latch;
    }
    if (line.function == Function::Alt0 && is_spi0_line(pin) && pin != kSpiMiso) {
        return controller[pin];
    }
    if (line.test_drive) {
        return *line.test_drive;
    }
    if (line.device_drive) {
        return *line.device_drive;
    }
    return line.pull == Pull::Up;
}

void Board::State::settle(int pin) {
    const bool level = compute_level(pin);
    Line &line = lines[pin];
    if (level == line.level) {
        return;
    }
    line.level = level;
    for (const auto &observer : observers) {
        observer->change(now, pin, level);
    }
    if (pin == kSpiSclk && link) {
        link_clock_edge(level);
    }
}

void Board::State::set_function(int pin, Function function) {
    lines[pin].function = function;
    settle(pin);
    if (pin == kSpiMosi && link) {
        link_data_function_changed(function);
    }
}

void Board::State::set_device_drive(int pin, std::optional<bool> level) {
    lines[pin].device_drive = level;
    settle(pin);
}

// ---- The link device ----------------------------------------------------------------------------

void Board::State::link_clock_edge(bool rising) {
    LinkDevice &dev = *link;
    if (rising) {
        if (lines[kSpiMosi].function == Function::Output) {
            dev.rx_shift =
                static_cast<std::uint8_t>((dev.rx_shift << 1U) | (lines[kSpiMosi].level ? 1U : 0U));
            if (++dev.rx_bits == 8) {
                dev.received.push_back(dev.rx_shift);
                dev.rx_bits = 0;
                dev.rx_shift = 0;
            }
        } else if (dev.tx_active) {
            ++dev.tx_bits_taken;
        }
        return;
    }
    if (!dev.tx_active || dev.tx_bits_taken == 0) {
        return;
    }
    if (dev.tx_bits_taken == 8) {
        dev.tx_active = false;
        set_device_drive(kSpiMosi, std::nullopt);
        return;
    }
    set_device_drive(kSpiMosi, ((dev.tx_byte >> (7 - dev.tx_bits_taken)) & 1U) != 0);
}

void Board::State::link_data_function_changed(Function function) {
    LinkDevice &dev = *link;
    dev.rx_bits = 0;  // a direction change ends any partly clocked byte from the host
    dev.rx_shift = 0;
    if (function == Function::Input) {
        if (!dev.tx_active) {
            link_put_next_reply();
        }
    } else {
        link_stop_replying();
    }
}

void Board::State::link_put_next_reply() {
    LinkDevice &dev = *link;
    if (dev.replies.empty()) {
        return;
    }
    dev.tx_byte = dev.replies.front();
    dev.replies.pop_front();
    dev.tx_active = true;
    dev.tx_bits_taken = 0;
    set_device_drive(kSpiMosi, (dev.tx_byte & 0x80U) != 0);
}

void Board::State::link_stop_replying() {
    LinkDevice &dev = *link;
    if (dev.tx_active && dev.tx_bits_taken == 0) {
        dev.replies.push_front(dev.tx_byte);  // never clocked out: still owed to the host
    }
    dev.tx_active = false;
    if (lines[kSpiMosi].device_drive) {
        set_device_drive(kSpiMosi, std::nullopt);
    }
}

// ---- The wiringPi operations
// ----------------------------------------------------------------------

CallRecord &Board::State::record(Call call, std::initializer_list<long long> args) {
    CallRecord *rec = &unlogged;
    if (log_capacity > 0) {
        if (log.size() >= log_capacity) {
            log.pop_front();
            ++dropped;
        }
        rec = &log.emplace_back();
    } else {
        unlogged.sent.clear();
    }
    rec->call = call;
    rec->time_ns = now;
    rec->arg_count = static_cast<std::uint8_t>(args.size());
    std::copy(args.begin(), args.end(), rec->args.begin());
    rec->has_result = false;
    rec->result = 0;
    rec->flag = Flag::None;
    rec->buffer = nullptr;
    return *rec;
}

Flag Board::State::check_line_call(int pin) const {
    if (!set_up) {
        return Flag::NotSetUp;
    }
    if (!valid_pin(pin)) {
        return Flag::BadPin;
    }
    return Flag::None;
}

int Board::State::setup_gpio() {
    CallRecord &rec = record(Call::WiringPiSetupGpio, {});
    rec.has_result = true;
    rec.result = setup_result;
    if (setup_result >= 0) {
        set_up = true;
    }
    now += costs.setup_ns;
    return setup_result;
}

void Board::State::pin_mode(int pin, int mode) {
    CallRecord &rec = record(Call::PinMode, {pin, mode});
    rec.flag = check_line_call(pin);
    if (rec.flag == Flag::None && mode != 0 && mode != 1) {
        rec.flag = Flag::BadArgument;
    }
    if (rec.flag == Flag::None) {
        set_function(pin, mode == 0 ? Function::Input : Function::Output);
    }
    now += costs.pin_mode_ns;
}

void Board::State::pull_up_dn_control(int pin, int pud) {
    CallRecord &rec = record(Call::PullUpDnControl, {pin, pud});
    rec.flag = check_line_call(pin);
    if (rec.flag == Flag::None && (pud < 0 || pud > 2)) {
        rec.flag = Flag::BadArgument;
    }
    if (rec.flag == Flag::None) {
        lines[pin].pull = static_cast<Pull>(pud);
        settle(pin);
    }
    now += costs.pull_ns;
}

void Board::State::digital_write(int pin, int value) {
    CallRecord &rec = record(Call::DigitalWrite, {pin, value});
    rec.flag = check_line_call(pin);
    if (rec.flag == Flag::None) {
        lines[pin].latch = value != 0;
        settle(pin);
    }
    now += costs.write_ns;
}

int Board::State::digital_read(int pin) {
    CallRecord &rec = record(Call::DigitalRead, {pin});
    rec.flag = check_line_call(pin);
    rec.has_result = true;
    rec.result = rec.flag == Flag::None && lines[pin].level ? 1 : 0;
    now += costs.read_ns;
    return static_cast<int>(rec.result);
}

void Board::State::pin_mode_alt(int pin, int code) {
    CallRecord &rec = record(Call::PinModeAlt, {pin, code});
    rec.flag = check_line_call(pin);
    const std::optional<Function> function = function_from_alt_code(code);
    if (rec.flag == Flag::None && !function) {
        rec.flag = Flag::BadArgument;
    }
    if (rec.flag == Flag::None) {
        set_function(pin, *function);
    }
    now += costs.pin_mode_ns;
}

int Board::State::spi_setup(Call call, int channel, int speed, int mode) {
    CallRecord &rec = call == Call::SpiSetup ? record(call, {channel, speed})
                                             : record(call, {channel, speed, mode});
    rec.has_result = true;
    if (channel < 0 || channel >= kSpiChannelCount) {
        rec.flag = Flag::BadChannel;
        rec.result = kEinval;
    } else if (speed <= 0 || mode < 0 || mode > 3) {
        rec.flag = Flag::BadArgument;
        rec.result = kEinval;
    } else {
        spi[channel] = SpiChannelState{true, speed, mode};
        spi_set_controller(kSpiSclk, (mode & 2) != 0);  // the clock idles at the mode's polarity
        rec.result = kSpiFdBase + channel;
    }
    now += costs.spi_setup_ns;
    return static_cast<int>(rec.result);
}

int Board::State::spi_data_rw(int channel, unsigned char *data, int len) {
    CallRecord &rec = record(Call::SpiDataRW, {channel, len});
    rec.buffer = data;
    rec.has_result = true;
    now += costs.spi_transfer_ns;  // the ioctl, whether or not it gets to the wire
    if (channel < 0 || channel >= kSpiChannelCount) {
        rec.flag = Flag::BadChannel;
        rec.result = kEinval;
    } else if (!spi[channel].open) {
        rec.flag = Flag::NotOpen;
        rec.result = kEbadf;
    } else if (data == nullptr) {
        rec.flag = Flag::NullBuffer;
        rec.result = kEfault;
    } else if (len < 0) {
        rec.flag = Flag::BadArgument;
        rec.result = kEinval;
    } else if (len > kSpiMaxTransfer) {
        rec.flag = Flag::TooLong;
        rec.result = kEmsgsize;
    } else {
        rec.sent.assign(data, data + len);
        rec.result = spi_transfer_on_wire(channel, data, len, rec);
    }
    return static_cast<int>(rec.result);
}

int Board::State::spi_transfer_on_wire(int channel, unsigned char *data, int len, CallRecord &rec) {
    const int ce = channel == 0 ? kSpiCe0 : kSpiCe1;
    std::string missing;
    for (const int pin : {kSpiSclk, kSpiMosi, ce}) {
        if (lines[pin].function != Function::Alt0) {
            missing += missing.empty() ? "" : ", ";
            missing += "BCM " + std::to_string(pin) + " (" + spi_line_name(pin) + ") is " +
                       to_string(lines[pin].function);
        }
    }
    const bool miso_connected = lines[kSpiMiso].function == Function::Alt0;
    const std::uint8_t idle = miso_connected && lines[kSpiMiso].level ? 0xFF : 0x00;
    if (!missing.empty()) {
        rec.flag = Flag::NotAlt0;
        diagnostics.push_back("wiringPiSPIDataRW on channel " + std::to_string(channel) + ": " +
                              missing + ", not ALT0; nothing reached the wire");
        std::fill(data, data + len, idle);
        now += spi_bits_ns(channel, len);
        return len;
    }
    std::vector<std::uint8_t> answer;
    const bool device = static_cast<bool>(spi_devices[channel]);
    if (device) {
        answer = spi_devices[channel](std::span<const std::uint8_t>(rec.sent));
    }
    answer.resize(static_cast<std::size_t>(len), idle);
    spi_draw_transfer(channel, rec.sent, answer, device);
    if (!miso_connected) {
        diagnostics.push_back("wiringPiSPIDataRW on channel " + std::to_string(channel) +
                              ": BCM 9 (MISO) is " + to_string(lines[kSpiMiso].function) +
                              ", not ALT0; the bytes received read 0x00");
        std::fill(answer.begin(), answer.end(), 0);
    }
    std::copy(answer.begin(), answer.end(), data);
    return len;
}

std::uint64_t Board::State::spi_bits_ns(int channel, int len) const {
    const auto speed = static_cast<std::uint64_t>(spi[channel].speed_hz);
    const std::uint64_t bit_ns = (kNsPerSecond + speed - 1) / speed;
    return bit_ns * 8 * static_cast<std::uint64_t>(len);
}

void Board::State::spi_set_controller(int pin, bool level) {
    controller[pin] = level;
    settle(pin);
}

// Draws one transfer on the wires at the channel's speed: the chip enable falls, each bit puts
// MOSI (and the device's MISO) out and clocks it, and the chip enable rises again.
void Board::State::spi_draw_transfer(int channel, std::span<const std::uint8_t> mosi,
                                     std::span<const std::uint8_t> miso, bool miso_driven) {
    const int ce = channel == 0 ? kSpiCe0 : kSpiCe1;
    const bool idle_clock = (spi[channel].mode & 2) != 0;
    const bool data_on_leading_edge = (spi[channel].mode & 1) != 0;
    const std::uint64_t bit_ns = spi_bits_ns(channel, 1) / 8;
    const std::uint64_t first_half = bit_ns / 2;
    const std::uint64_t second_half = bit_ns - first_half;

    spi_set_controller(kSpiSclk, idle_clock);
    spi_set_controller(ce, false);
    for (std::size_t i = 0; i < mosi.size(); ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const auto put_data = [&] {
                spi_set_controller(kSpiMosi, ((mosi[i] >> bit) & 1U) != 0);
                if (miso_driven) {
                    set_device_drive(kSpiMiso, ((miso[i] >> bit) & 1U) != 0);
                }
            };
            if (data_on_leading_edge) {
                now += first_half;
                spi_set_controller(kSpiSclk, !idle_clock);
                put_data();
            } else {
                put_data();
                now += first_half;
                spi_set_controller(kSpiSclk, !idle_clock);
            }
            now += second_half;
            spi_set_controller(kSpiSclk, idle_clock);
        }
    }
    now += first_half;
    spi_set_controller(ce, true);
    spi_set_controller(kSpiMosi, false);
    if (miso_driven) {
        set_device_drive(kSpiMiso, std::nullopt);
    }
}

bool Board::State::wait(Call call, unsigned int length, std::uint64_t length_ns) {
    record(call, {length});
    now += costs.delay_call_ns + length_ns;
    return real_sleep;
}

}  // namespace vboard
