// The electrical model, the peripherals and the wiringPi operations of the virtual board.

#include "board_state.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

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

int alt_code(Function function) {
    static constexpr int kCodes[] = {0, 1, 4, 5, 6, 7, 3, 2};  // in the order of Function
    return kCodes[static_cast<int>(function)];
}

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

void Board::State::power_on() {
    finish_observers();
    clear_rules();
    monitor.reset();
    time_limit.reset();
    time_limit_handler = nullptr;
    poll = PollWatch{};
    current = nullptr;
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
    for (const auto &observer : call_observers) {
        observer->finish(now);
    }
    call_observers.clear();
    monitor.finish(now);
}

void Board::State::advance_through_events(std::uint64_t target) {
    if (time_limit && target >= *time_limit) {
        run_timeline_until(*time_limit);
        now = std::max(now, *time_limit);
        reach_time_limit();
    }
    run_timeline_until(target);
}

void Board::State::reach_time_limit() {
    TimeLimitReport report;
    report.limit_ns = *time_limit;
    if (current != nullptr) {
        CallRecord in_progress = *current;
        in_progress.has_result = false;
        report.call = in_progress.to_string();
    }
    if (poll.reads >= 2) {
        report.polling = true;
        report.poll_pin = poll.pin;
        report.poll_level = poll.level;
        report.poll_since_ns = poll.since;
        report.poll_reads = poll.reads;
    }
    time_limit.reset();
    const TimeLimitHandler handler = std::move(time_limit_handler);
    time_limit_handler = nullptr;
    if (handler) {
        handler(report);
    }
}

void Board::State::note(std::string text) {
    for (const auto &observer : call_observers) {
        observer->note(now, text);
    }
    diagnostics.push_back(std::move(text));
}

void Board::State::tell_call_observers() {
    for (const auto &observer : call_observers) {
        observer->call(*current);
    }
}

void Board::State::end_process_as_wiringpi(const std::string &message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    call_done();
    finish_observers();
    std::fflush(nullptr);
    // exit() does not unwind, so the caller's lock would stay held for the atexit handlers.
    mutex.unlock();
    std::exit(1);
}

void Board::State::level_changed(int pin) {
    Line &line = lines[pin];
    const bool level = !line.level;
    line.level = level;
    line.changed_at = now;
    for (const auto &observer : observers) {
        observer->change(now, pin, level);
    }
    if (pin == kSpiSclk && link) {
        link_clock_edge(level);
    }
    if (monitor.active()) {
        monitor.line_changed(now, pin, lines.data());
    }
    if (!line_rules[pin].empty()) {
        on_line_change(pin, level);
    }
}

void Board::State::set_function(int pin, Function function) {
    lines[pin].function = function;
    settle(pin);
    if (pin == kSpiMosi && link) {
        link_data_function_changed(function);
    }
    if (pin == kSpiMosi && monitor.active()) {
        monitor.data_function_changed(lines.data());
    }
}

void Board::State::set_device_drive(int pin, std::optional<bool> level) {
    lines[pin].device_drive = level;
    settle(pin);
}

// ---- The call log -------------------------------------------------------------------------------

void CallRing::clear() {
    slots_.clear();
    head_ = 0;
    size_ = 0;
}

CallRecord &CallRing::push(std::size_t capacity, std::uint64_t &dropped) {
    if (slots_.size() < capacity) {  // every slot holds a record: grow
        linearize();
        if (slots_.size() == slots_.capacity()) {
            // Room for the whole log at once (its pages are touched only as records arrive), so
            // it is not copied as it grows; a very large capacity grows by doubling past 2^20.
            constexpr std::size_t kReserveAtOnce = std::size_t{1} << 20;
            slots_.reserve(std::min(capacity, std::max(kReserveAtOnce, 2 * slots_.size())));
        }
        ++size_;
        return slots_.emplace_back();
    }
    CallRecord &oldest = slots_[head_];
    head_ = (head_ + 1) % slots_.size();
    ++dropped;
    return oldest;
}

void CallRing::shrink_to(std::size_t capacity, std::uint64_t &dropped) {
    if (size_ <= capacity) {
        return;
    }
    linearize();
    const std::size_t excess = size_ - capacity;
    slots_.erase(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(excess));
    size_ = capacity;
    dropped += excess;
}

std::vector<CallRecord> CallRing::copy() const {
    std::vector<CallRecord> out;
    out.reserve(size_);
    for (std::size_t i = 0; i < size_; ++i) {
        out.push_back(slots_[(head_ + i) % slots_.size()]);
    }
    return out;
}

void CallRing::linearize() {
    std::rotate(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(head_), slots_.end());
    head_ = 0;
}

// ---- The wiringPi operations
// ----------------------------------------------------------------------

Flag Board::State::check_line_call(int pin) {
    if (!set_up) {
        return line_call_before_setup();
    }
    if (!valid_pin(pin)) {
        return Flag::BadPin;
    }
    return Flag::None;
}

// What a line call before set-up does: flagged, and under Fidelity::WiringPi3 what wiringPi 3.x
// does as well.
Flag Board::State::line_call_before_setup() {
    if (fidelity == Fidelity::WiringPi3) {
        const std::string call = current->to_string();
        if (current->call == Call::DigitalWrite || current->call == Call::DigitalRead ||
            current->call == Call::GetAlt) {
            std::fprintf(stderr, "wiringPi: %s called before wiringPiSetupGpio: ignored\n",
                         call.c_str());
        } else {
            end_process_as_wiringpi("wiringPi: " + call +
                                    " called before wiringPiSetupGpio: wiringPi 3.x ends the "
                                    "program here with status 1");
        }
    }
    return Flag::NotSetUp;
}

int Board::State::setup_gpio() {
    CallRecord &rec = record(Call::WiringPiSetupGpio, {});
    rec.has_result = true;
    rec.result = setup_result;
    if (setup_result >= 0) {
        set_up = true;
    }
    advance(costs.setup_ns);
    if (setup_result < 0 && fidelity == Fidelity::WiringPi3) {
        end_process_as_wiringpi("wiringPi: wiringPiSetupGpio failed (result " +
                                std::to_string(setup_result) +
                                "): wiringPi 3.x ends the program here with status 1");
    }
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
    advance(costs.pin_mode_ns);
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
    advance(costs.pull_ns);
}

void Board::State::digital_write(int pin, int value) {
    CallRecord &rec = record(Call::DigitalWrite, {pin, value});
    rec.flag = check_line_call(pin);
    if (rec.flag == Flag::None) {
        lines[pin].latch = value != 0;
        settle(pin);
    }
    advance(costs.write_ns);
}

int Board::State::digital_read(int pin) {
    CallRecord &rec = record(Call::DigitalRead, {pin});
    rec.flag = check_line_call(pin);
    rec.has_result = true;
    rec.result = rec.flag == Flag::None && lines[pin].level ? 1 : 0;
    const bool level = rec.result != 0;
    if (poll.reads > 0 && poll.pin == pin && poll.level == level) {
        ++poll.reads;
    } else {
        poll = PollWatch{pin, level, now, 1};
    }
    advance(costs.read_ns);
    return static_cast<int>(rec.result);
}

int Board::State::get_alt(int pin) {
    CallRecord &rec = record(Call::GetAlt, {pin});
    rec.flag = check_line_call(pin);
    rec.has_result = true;
    rec.result = rec.flag == Flag::None ? alt_code(lines[pin].function) : 0;
    advance(costs.read_ns);
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
    advance(costs.pin_mode_ns);
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
    advance(costs.spi_setup_ns);
    return static_cast<int>(rec.result);
}

int Board::State::spi_data_rw(int channel, unsigned char *data, int len) {
    CallRecord &rec = record(Call::SpiDataRW, {channel, len});
    rec.buffer = data;
    rec.has_result = true;
    advance(costs.spi_transfer_ns);  // the ioctl, whether or not it gets to the wire
    if (channel < 0 || channel >= kSpiChannelCount) {
        rec.flag = Flag::BadChannel;
        rec.result = kEinval;
    } else if (!spi[channel].open) {
        rec.flag = Flag::NotOpen;
        rec.result = kEbadf;
        if (fidelity == Fidelity::WiringPi3) {
            std::fprintf(stderr,
                         "wiringPi: wiringPiSPIDataRW on channel %d, which was never opened: %d "
                         "(EBADF)\n",
                         channel, kEbadf);
        }
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
        note("wiringPiSPIDataRW on channel " + std::to_string(channel) + ": " + missing +
             ", not ALT0; nothing reached the wire");
        std::fill(data, data + len, idle);
        advance(spi_bits_ns(channel, len));
        return len;
    }
    std::vector<std::uint8_t> answer;
    const bool device = static_cast<bool>(spi_devices[channel]);
    if (device) {
        answer = spi_devices[channel](std::span<const std::uint8_t>(rec.sent));
    }
    answer.resize(static_cast<std::size_t>(len), idle);
    if (monitor.active()) {  // what the host receives: nothing, with MISO disconnected
        const std::vector<std::uint8_t> nothing(miso_connected ? 0 : answer.size(), 0);
        monitor.spi_transfer(now, spi_bits_ns(channel, 1), channel, rec.sent,
                             miso_connected ? answer : nothing, lines.data());
    }
    spi_draw_transfer(channel, rec.sent, answer, device);
    if (monitor.active()) {
        monitor.spi_transfer_end(now);
    }
    if (!miso_connected) {
        note("wiringPiSPIDataRW on channel " + std::to_string(channel) + ": BCM 9 (MISO) is " +
             to_string(lines[kSpiMiso].function) + ", not ALT0; the bytes received read 0x00");
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
                advance(first_half);
                spi_set_controller(kSpiSclk, !idle_clock);
                put_data();
            } else {
                put_data();
                advance(first_half);
                spi_set_controller(kSpiSclk, !idle_clock);
            }
            advance(second_half);
            spi_set_controller(kSpiSclk, idle_clock);
        }
        if (!spi_rules.empty()) {
            on_spi_byte(channel, mosi[i]);
        }
    }
    advance(first_half);
    spi_set_controller(ce, true);
    spi_set_controller(kSpiMosi, false);
    if (miso_driven) {
        set_device_drive(kSpiMiso, std::nullopt);
    }
    if (!spi_rules.empty()) {
        on_spi_end(channel);
    }
}

bool Board::State::wait(Call call, unsigned int length, std::uint64_t length_ns) {
    record(call, {length});
    advance(costs.delay_call_ns + length_ns);
    return real_sleep;
}

}  // namespace vboard
