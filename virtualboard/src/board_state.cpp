// SPDX-License-Identifier: MIT
// The board's core: power-on, the clock and its timeline, the listeners, and the wiringPi
// operations.

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

// Zero-delay events that keep waking each other would stop the clock; past this many at one
// moment the board stops its rules and says so.
constexpr std::uint64_t kMaxEventsAtOneMoment = 100'000;
// A rule that fired this often at one moment takes part in the loop.
constexpr std::uint64_t kMinFiresOfALoop = 1'000;

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

RunState::RunState(Engine &engine, const BoardSettings &settings)
    : observers(engine, listeners),
      link(engine),
      monitor(engine, settings.framing, settings.select_lines),
      rules(engine),
      devices(engine, link) {
    listeners.add(&link, 0, ListenerList::kPartRank);
    listeners.add(&monitor, 0, ListenerList::kPartRank);
    listeners.add(&rules, 0, ListenerList::kPartRank);
}

void Board::State::power_on() {
    if (run) {
        finish_observers();
    }
    run.reset();
    RunState &r = run.emplace(*this, settings);
    for (int pin = 0; pin < kLineCount; ++pin) {
        r.controller[pin] = spi_idle_level(pin);
        Line &line = r.lines[pin];
        line.function = is_spi0_line(pin) ? Function::Alt0 : Function::Input;
        line.pull = power_on_pull(pin);
        line.level = compute_level(pin);
    }
}

void Board::State::finish_observers(bool devices) {
    RunState &r = *run;
    if (devices) {
        r.devices.finish();  // their last notes reach the observers
    }
    r.observers.finish(r.now);
    r.monitor.finish(r.now);
}

void Board::State::leave(Listener *listener) {
    run->listeners.remove(listener);
    run->timeline.forget(listener);
}

void Board::State::advance_through_events(std::uint64_t target) {
    RunState &r = *run;
    if (r.time_limit && target >= *r.time_limit) {
        run_timeline_until(*r.time_limit);
        r.now = std::max(r.now, *r.time_limit);
        reach_time_limit();
    }
    run_timeline_until(target);
}

void Board::State::run_timeline_until(std::uint64_t time) {
    RunState &r = *run;
    std::uint64_t moment = r.now;
    std::uint64_t at_moment = 0;
    while (!r.timeline.empty() && r.timeline.next_time() <= time) {
        const TimedEvent event = r.timeline.pop();
        r.now = std::max(r.now, event.time);
        at_moment = r.now == moment ? at_moment + 1 : 0;
        moment = r.now;
        if (at_moment > kMaxEventsAtOneMoment) {
            const std::vector<std::string> looping = r.rules.stop_looping(kMinFiresOfALoop);
            if (looping.empty()) {  // not rules: devices' timers that keep coming due
                note("events keep coming due at " + std::to_string(r.now) +
                     " ns with no time passing; the board stopped its rules and timers");
                r.rules.stop_all();
                r.timeline.clear();
                return;
            }
            std::string names;
            for (const std::string &name : looping) {
                names += (names.empty() ? "" : ", ") + name;
            }
            note("rules keep waking each other at " + std::to_string(r.now) +
                 " ns with no time passing; the board stopped " + names);
            at_moment = 0;
        }
        event.target->timed(event.what, event.detail);
    }
}

void Board::State::reach_time_limit() {
    RunState &r = *run;
    TimeLimitReport report;
    report.limit_ns = *r.time_limit;
    if (r.current != nullptr) {
        CallRecord in_progress = *r.current;
        in_progress.has_result = false;
        report.call = in_progress.to_string();
    }
    if (r.poll.reads >= 2) {
        report.polling = true;
        report.poll_pin = r.poll.pin;
        report.poll_level = r.poll.level;
        report.poll_since_ns = r.poll.since;
        report.poll_reads = r.poll.reads;
    }
    r.time_limit.reset();
    const TimeLimitHandler handler = std::move(r.time_limit_handler);
    r.time_limit_handler = nullptr;
    if (handler) {
        handler(report);
    }
}

void Board::State::note(std::string text) {
    run->observers.note(run->now, text);
    run->diagnostics.push_back(std::move(text));
}

void Board::State::frame(const std::string &device, std::uint32_t width, std::uint32_t height,
                         std::span<const std::uint8_t> rgb) {
    RunState &r = *run;
    const Frame &shown = r.frames.add(device, r.now, width, height, rgb, settings.frames_kept);
    r.observers.frame(shown);
}

void Board::State::log_text(std::string text, Call kind) {
    RunState &r = *run;
    if (r.current != nullptr) {  // inside a call: logged after it, so the call keeps its record
        r.device_logs.push_back({r.now, kind, std::move(text)});
    } else {
        push_log_text(r.now, kind, std::move(text));
    }
}

void Board::State::flush_device_logs() {
    std::vector<RunState::PendingLog> logs = std::move(run->device_logs);
    run->device_logs.clear();
    for (RunState::PendingLog &log : logs) {
        push_log_text(log.time, log.kind, std::move(log.text));
    }
}

void Board::State::push_log_text(std::uint64_t time, Call kind, std::string text) {
    RunState &r = *run;
    CallRecord *rec =
        settings.log_capacity > 0 ? &r.log.push(settings.log_capacity, r.dropped) : &r.unlogged;
    *rec = CallRecord{};
    rec->call = kind;
    rec->time_ns = time;
    rec->text = std::move(text);
    r.observers.call(*rec);
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

void Board::State::set_function(int pin, Function function) {
    RunState &r = *run;
    r.lines[pin].function = function;
    settle(pin);
    const LineView view(r.lines, r.now);
    r.listeners.each(kFunctionChanges, [&](Listener &l) { l.function_changed(view, pin); });
}

// ---- The wiringPi operations
// ----------------------------------------------------------------------

// What a line call before set-up does: flagged, and under Fidelity::WiringPi3 what wiringPi 3.x
// does as well.
Flag Board::State::line_call_before_setup() {
    if (settings.fidelity == Fidelity::WiringPi3) {
        const std::string call = run->current->to_string();
        if (run->current->call == Call::DigitalWrite || run->current->call == Call::DigitalRead ||
            run->current->call == Call::GetAlt) {
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
    rec.result = run->setup_result;
    if (run->setup_result >= 0) {
        run->set_up = true;
    }
    advance(settings.costs.setup_ns);
    if (run->setup_result < 0 && settings.fidelity == Fidelity::WiringPi3) {
        end_process_as_wiringpi("wiringPi: wiringPiSetupGpio failed (result " +
                                std::to_string(run->setup_result) +
                                "): wiringPi 3.x ends the program here with status 1");
    }
    return run->setup_result;
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
    advance(settings.costs.pin_mode_ns);
}

void Board::State::pull_up_dn_control(int pin, int pud) {
    CallRecord &rec = record(Call::PullUpDnControl, {pin, pud});
    rec.flag = check_line_call(pin);
    if (rec.flag == Flag::None && (pud < 0 || pud > 2)) {
        rec.flag = Flag::BadArgument;
    }
    if (rec.flag == Flag::None) {
        run->lines[pin].pull = static_cast<Pull>(pud);
        settle(pin);
    }
    advance(settings.costs.pull_ns);
}

int Board::State::digital_read(int pin) {
    apply_due();
    CallRecord &rec = record(Call::DigitalRead, {pin});
    rec.flag = check_line_call(pin);
    rec.has_result = true;
    rec.result = rec.flag == Flag::None && run->lines[pin].level ? 1 : 0;
    const bool level = rec.result != 0;
    if (run->poll.reads > 0 && run->poll.pin == pin && run->poll.level == level) {
        ++run->poll.reads;
    } else {
        run->poll = PollWatch{pin, level, run->now, 1};
    }
    advance(settings.costs.read_ns);
    return static_cast<int>(rec.result);
}

int Board::State::get_alt(int pin) {
    CallRecord &rec = record(Call::GetAlt, {pin});
    rec.flag = check_line_call(pin);
    rec.has_result = true;
    rec.result = rec.flag == Flag::None ? alt_code(run->lines[pin].function) : 0;
    advance(settings.costs.read_ns);
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
    advance(settings.costs.pin_mode_ns);
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
        run->spi[channel] = SpiChannelState{true, speed, mode};
        spi_set_controller(kSpiSclk, (mode & 2) != 0);  // the clock idles at the mode's polarity
        rec.result = kSpiFdBase + channel;
    }
    advance(settings.costs.spi_setup_ns);
    return static_cast<int>(rec.result);
}

int Board::State::spi_data_rw(int channel, unsigned char *data, int len) {
    apply_due();
    CallRecord &rec = record(Call::SpiDataRW, {channel, len});
    rec.buffer = data;
    rec.has_result = true;
    advance(settings.costs.spi_transfer_ns);  // the ioctl, whether or not it gets to the wire
    if (channel < 0 || channel >= kSpiChannelCount) {
        rec.flag = Flag::BadChannel;
        rec.result = kEinval;
    } else if (!run->spi[channel].open) {
        rec.flag = Flag::NotOpen;
        rec.result = kEbadf;
        if (settings.fidelity == Fidelity::WiringPi3) {
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
        if (run->lines[pin].function != Function::Alt0) {
            missing += missing.empty() ? "" : ", ";
            missing += "BCM " + std::to_string(pin) + " (" + spi_line_name(pin) + ") is " +
                       to_string(run->lines[pin].function);
        }
    }
    const bool miso_connected = run->lines[kSpiMiso].function == Function::Alt0;
    const std::uint8_t idle = miso_connected && run->lines[kSpiMiso].level ? 0xFF : 0x00;
    if (!missing.empty()) {
        rec.flag = Flag::NotAlt0;
        note("wiringPiSPIDataRW on channel " + std::to_string(channel) + ": " + missing +
             ", not ALT0; nothing reached the wire");
        std::fill(data, data + len, idle);
        advance(spi_bits_ns(channel, len));
        return len;
    }
    const LineView view(run->lines, run->now);
    const bool device = run->devices.any_on(channel, view);
    std::vector<std::uint8_t> answer(static_cast<std::size_t>(len), idle);
    if (device) {
        run->devices.exchange(channel, view, rec.sent, answer);
    }
    if (run->listeners.anyone(kSpiTransfers)) {
        const SpiTransferView transfer{channel, run->now, spi_bits_ns(channel, 1), rec.sent,
                                       miso_connected ? std::span<const std::uint8_t>(answer)
                                                      : std::span<const std::uint8_t>()};
        run->listeners.each(kSpiTransfers, [&](Listener &l) { l.spi_transfer(view, transfer); });
    }
    spi_draw_transfer(channel, rec.sent, answer, device);
    if (device) {
        run->devices.transfer_done(channel, view);
    }
    if (!miso_connected) {
        note("wiringPiSPIDataRW on channel " + std::to_string(channel) + ": BCM 9 (MISO) is " +
             to_string(run->lines[kSpiMiso].function) + ", not ALT0; the bytes received read 0x00");
        std::fill(answer.begin(), answer.end(), 0);
    }
    std::copy(answer.begin(), answer.end(), data);
    return len;
}

std::uint64_t Board::State::spi_bits_ns(int channel, int len) const {
    const auto speed = static_cast<std::uint64_t>(run->spi[channel].speed_hz);
    const std::uint64_t bit_ns = (kNsPerSecond + speed - 1) / speed;
    return bit_ns * 8 * static_cast<std::uint64_t>(len);
}

void Board::State::spi_set_controller(int pin, bool level) {
    run->controller[pin] = level;
    settle(pin);
}

// Draws one transfer on the wires at the channel's speed: the chip enable falls, each bit puts
// MOSI (and the device's MISO) out and clocks it, and the chip enable rises again.
void Board::State::spi_draw_transfer(int channel, std::span<const std::uint8_t> mosi,
                                     std::span<const std::uint8_t> miso, bool miso_driven) {
    const int ce = channel == 0 ? kSpiCe0 : kSpiCe1;
    const bool idle_clock = (run->spi[channel].mode & 2) != 0;
    const bool data_on_leading_edge = (run->spi[channel].mode & 1) != 0;
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
        run->listeners.each(kSpiTransfers, [&](Listener &l) { l.spi_byte(channel, mosi[i]); });
    }
    advance(first_half);
    spi_set_controller(ce, true);
    spi_set_controller(kSpiMosi, false);
    if (miso_driven) {
        set_device_drive(kSpiMiso, std::nullopt);
    }
    run->listeners.each(kSpiTransfers, [&](Listener &l) { l.spi_end(channel); });
}

bool Board::State::wait(Call call, unsigned int length, std::uint64_t length_ns) {
    record(call, {length});
    advance(settings.costs.delay_call_ns + length_ns);
    return settings.real_sleep;
}

}  // namespace vboard
