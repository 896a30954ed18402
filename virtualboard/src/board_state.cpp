// SPDX-License-Identifier: MIT
// The board's core: power-on, what the parts ask of it, and the wiringPi operations, each checked,
// recorded and handed to the part that does it.

#include "board_state.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

// Makes `fd` a descriptor that every read, write and ioctl refuses, unless the process has it
// open already: a driver's own ioctl on the descriptor wiringPiSPISetup returned then fails
// rather than reaching an unrelated file.
void reserve_descriptor(int fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
        return;
    }
    const int placeholder = ::open("/", O_PATH | O_CLOEXEC);
    if (placeholder >= 0 && placeholder != fd) {
        ::dup3(placeholder, fd, O_CLOEXEC);
        ::close(placeholder);
    }
}

// A rule that fired this often at one moment takes part in a loop of rules waking each other.
constexpr std::uint64_t kMinFiresOfALoop = 1'000;

}  // namespace

RunState::RunState(Engine &engine, ClockOwner &owner, const BoardSettings &settings,
                   ModelResolver resolve, std::atomic<bool> &interrupts_due)
    : clock(owner),
      gpio(clock, listeners),
      observers(listeners),
      recorder(settings, clock, observers),
      link(engine),
      monitor(engine, settings.framing, settings.select_lines),
      rules(engine),
      devices(engine, link, resolve),
      spi(engine, gpio, clock, listeners, devices),
      spi_wires(engine, listeners, devices),
      interrupts(engine, interrupts_due),
      pwm(engine, gpio, settings.model, settings.pwm_waveform) {
    listeners.add(&link, 0, ListenerList::kPartRank);
    listeners.add(&monitor, 0, ListenerList::kPartRank);
    listeners.add(&spi_wires, 0, ListenerList::kPartRank);
    listeners.add(&rules, 0, ListenerList::kPartRank);
    listeners.add(&interrupts, 0, ListenerList::kPartRank);
    listeners.add(&pwm, 0, ListenerList::kPartRank);
}

void Board::State::watch_capture() {
    std::uint64_t chip_enables = 0;
    for (int channel = 0; channel < kSpiChannelCount; ++channel) {
        if (run->devices.on_bus(spi_bus(channel))) {
            chip_enables |= std::uint64_t{1} << spi_chip_enable(channel);
        }
    }
    run->link.watch_capture(settings.select_lines | chip_enables, chip_enables);
    run->monitor.watch_capture(chip_enables);
    run->spi_wires.watch(chip_enables);
}

void Board::State::power_on() {
    if (run) {
        finish_observers();
    }
    run.reset();
    ++power_ons;
    run.emplace(*this, *this, settings, resolve_model, interrupts_due).gpio.power_on();
}

void Board::State::finish_observers(bool devices) {
    RunState &r = *run;
    if (devices) {
        r.devices.finish();  // their last notes reach the observers
    }
    r.monitor.close(r.clock.now());
    r.recorder.tell_held_notes();
    for (std::string &repeats : r.diagnostics.take_repeats()) {
        r.diagnostics.first(repeats);
        r.observers.note(r.clock.now(), repeats);
    }
    r.observers.finish(r.clock.now(), RunEnd{r.monitor.violation_counts()});
    r.monitor.set_decoding(false);
}

void Board::State::add_observer(std::shared_ptr<RunObserver> observer) {
    RunState &r = *run;
    RunStart start{
        .framing = settings.framing, .line_names = settings.line_names, .model = settings.model};
    for (int pin = 0; pin < kLineCount; ++pin) {
        start.levels[pin] = r.gpio.level(pin);
        start.functions[pin] = r.gpio.line(pin).function;
    }
    r.observers.add(std::move(observer), r.clock.now(), start);
    r.monitor.set_decoding(r.observers.wants_transactions());
}

void Board::State::remove_observer(const std::shared_ptr<RunObserver> &observer) {
    RunState &r = *run;
    r.observers.remove(observer, r.clock.now(), RunEnd{r.monitor.violation_counts()});
    r.monitor.set_decoding(r.observers.wants_transactions());
}

void Board::State::leave(Listener *listener) {
    run->listeners.remove(listener);
    run->clock.forget(listener);
}

bool Board::State::break_loop(std::uint64_t now) {
    const std::vector<std::string> looping = run->rules.stop_looping(kMinFiresOfALoop);
    if (looping.empty()) {  // not rules: devices' timers that keep coming due
        note("events keep coming due at " + std::to_string(now) +
             " ns with no time passing; the board stopped its rules and timers");
        run->rules.stop_all();
        return true;
    }
    std::string names;
    for (const std::string &name : looping) {
        names += (names.empty() ? "" : ", ") + name;
    }
    note("rules keep waking each other at " + std::to_string(now) +
         " ns with no time passing; the board stopped " + names);
    return false;
}

std::string Board::State::call_in_progress() const {
    const CallRecord *current = run->recorder.in_progress();
    if (current == nullptr) {
        return "";
    }
    CallRecord in_progress = *current;
    in_progress.has_result = false;
    return in_progress.to_string();
}

void Board::State::note(std::string text) {
    if (run->diagnostics.first(text)) {
        run->recorder.note(std::move(text));
    }
}

void Board::State::frame(const std::string &device, std::uint32_t width, std::uint32_t height,
                         std::span<const std::uint8_t> rgb) {
    RunState &r = *run;
    const Frame &shown =
        r.frames.add(device, r.clock.now(), width, height, rgb, settings.frames_kept);
    r.observers.frame(shown);
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

// ---- The wiringPi operations
// ----------------------------------------------------------------------

// What a line call before set-up does: flagged, and under Fidelity::WiringPi3 what wiringPi 3.x
// does as well.
Flag Board::State::line_call_before_setup() {
    if (settings.fidelity == Fidelity::WiringPi3) {
        const CallRecord &current = *run->recorder.current();
        const std::string call = current.to_string();
        if (current.call == Call::DigitalWrite || current.call == Call::DigitalRead ||
            current.call == Call::GetAlt) {
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

int Board::State::setup(Call call, Numbering numbering, std::initializer_list<long long> args) {
    RunState &r = *run;
    CallRecord &rec = record(call, args);
    rec.has_result = true;
    rec.result = r.setup_result;
    if (!r.setup_ns) {
        r.setup_ns = r.clock.now();
    }
    if (r.setup_result >= 0) {
        r.set_up = true;
        r.numbering = numbering;
        r.bcm_set_up = numbering == Numbering::Bcm;
    }
    r.clock.advance(settings.costs.setup_ns);
    if (r.setup_result < 0 && settings.fidelity == Fidelity::WiringPi3) {
        end_process_as_wiringpi(std::string("wiringPi: ") + to_string(call) + " failed (result " +
                                std::to_string(r.setup_result) +
                                "): wiringPi 3.x ends the program here with status 1");
    }
    return r.setup_result;
}

int Board::State::setup_pin_type(Call call, int type) {
    static constexpr Numbering kTypes[] = {Numbering::Bcm, Numbering::WiringPi,
                                           Numbering::Physical};
    if (type < 1 || type > 3) {
        CallRecord &rec = record(call, {type});
        rec.has_result = true;
        rec.result = -1;
        rec.flag = Flag::BadArgument;
        note(std::string(to_string(call)) + "(" + std::to_string(type) +
             "): not a pin type (WPI_PIN_BCM 1, WPI_PIN_WPI 2, WPI_PIN_PHYS 3); nothing set up");
        run->clock.advance(settings.costs.setup_ns);
        return -1;
    }
    return setup(call, kTypes[type - 1], {type});
}

std::uint64_t Board::State::time_since_setup(Call call, std::uint64_t unit_ns) {
    RunState &r = *run;
    CallRecord &rec = record(call, {});
    rec.has_result = true;
    const std::uint64_t elapsed = (r.clock.now() - r.setup_ns.value_or(0)) / unit_ns;
    // millis and micros are 32-bit values and wrap as they do; the log shows what was returned.
    rec.result = static_cast<long long>(call == Call::PiMicros64 ? elapsed : elapsed & 0xFFFFFFFFu);
    r.clock.advance(settings.costs.read_ns);
    return elapsed;
}

int Board::State::board_info(Call call, int answer) {
    CallRecord &rec = record(call, {});
    rec.has_result = true;
    rec.result = answer;
    run->clock.advance(settings.costs.read_ns);
    return answer;
}

Flag Board::State::no_such_pin(int pin) {
    const CallRecord &current = *run->recorder.current();
    CallRecord shown = current;
    shown.has_result = false;
    note(shown.to_string() + ": pin " + std::to_string(pin) + " is no line in " +
         to_string(run->numbering) + " numbering on a 40-pin Pi (ignored)");
    return Flag::BadPin;
}

void Board::State::wave(const LineWave &wave) {
    RunState &r = *run;
    r.observers.wave(r.clock.now(), wave);
    if (r.recorder.logging()) {
        r.recorder.log_text(Call::DeviceLog, "wave: " + wave.to_string());
    }
    r.listeners.each(kWaveChanges, [&](Listener &l) { l.wave_changed(wave); });
}

void Board::State::pin_mode(int pin, int mode) {
    CallRecord &rec = record(Call::PinMode, {pin, mode});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    if (rec.flag == Flag::None) {
        if (mode == 0 || mode == 1) {
            set_line_function(line, mode == 0 ? Function::Input : Function::Output);
        } else {
            pin_mode_peripheral(rec, line, mode);
        }
    }
    run->clock.advance(settings.costs.pin_mode_ns);
}

void Board::State::pull_up_dn_control(int pin, int pud) {
    CallRecord &rec = record(Call::PullUpDnControl, {pin, pud});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    if (rec.flag == Flag::None && (pud < 0 || pud > 2)) {
        rec.flag = Flag::BadArgument;
    }
    if (rec.flag == Flag::None) {
        run->gpio.set_pull(line, static_cast<Pull>(pud));
    }
    run->clock.advance(settings.costs.pull_ns);
}

int Board::State::digital_read(int pin) {
    run->clock.apply_due();
    CallRecord &rec = record(Call::DigitalRead, {pin});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    rec.has_result = true;
    if (rec.flag == Flag::None && run->listeners.anyone(kLineReads)) [[unlikely]] {
        run->listeners.each(kLineReads, [&](Listener &listener) { listener.line_read(line); });
    }
    rec.result = rec.flag == Flag::None && run->gpio.level(line) ? 1 : 0;
    run->clock.note_read(line, rec.result != 0);
    run->clock.advance(settings.costs.read_ns);
    return static_cast<int>(rec.result);
}

int Board::State::get_alt(int pin, Call call) {
    CallRecord &rec = record(call, {pin});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    rec.has_result = true;
    rec.result = rec.flag == Flag::None ? alt_code(run->gpio.line(line).function) : 0;
    run->clock.advance(settings.costs.read_ns);
    return static_cast<int>(rec.result);
}

namespace {

// wiringPi pins 0 to 7, which digitalWriteByte and digitalReadByte move at once.
constexpr int kBytePins = 8;
int byte_pin_line(int bit) { return bcm_line(Numbering::WiringPi, bit); }

}  // namespace

// Whether the board's Pi has the byte calls (a Pi 5 has not); notes the call when not.
static bool byte_calls_exist(Board::State &state, CallRecord &rec) {
    if (state.settings.model != PiModel::Pi5) {
        return true;
    }
    rec.flag = Flag::NotOnModel;
    CallRecord shown = rec;
    shown.flag = Flag::None;
    shown.has_result = false;
    state.note(shown.to_string() +
               ": not on a Raspberry Pi 5, whose GPIO wiringPi cannot move a "
               "byte at once (ignored)");
    if (state.settings.fidelity == Fidelity::WiringPi3) {
        state.end_process_as_wiringpi("wiringPi: " + std::string(to_string(rec.call)) +
                                      ": not supported on a Raspberry Pi 5: wiringPi 3.x ends "
                                      "the program here with status 1");
    }
    return false;
}

void Board::State::digital_write_byte(int value) {
    CallRecord &rec = record(Call::DigitalWriteByte, {value});
    rec.flag = run->set_up ? Flag::None : line_call_before_setup();
    if (rec.flag == Flag::None && byte_calls_exist(*this, rec)) {
        for (const bool level : {false, true}) {  // the clear register first, then the set one
            for (int bit = 0; bit < kBytePins; ++bit) {
                if (((value >> bit) & 1) == (level ? 1 : 0)) {
                    run->gpio.set_latch(byte_pin_line(bit), level);
                }
            }
        }
    }
    run->clock.advance(settings.costs.write_ns);
}

int Board::State::digital_read_byte() {
    run->clock.apply_due();
    CallRecord &rec = record(Call::DigitalReadByte, {});
    rec.flag = run->set_up ? Flag::None : line_call_before_setup();
    rec.has_result = true;
    int value = 0;
    if (rec.flag == Flag::None && byte_calls_exist(*this, rec)) {
        for (int bit = 0; bit < kBytePins; ++bit) {
            value |= (run->gpio.level(byte_pin_line(bit)) ? 1 : 0) << (7 - bit);
        }
    }
    rec.result = value;
    run->clock.advance(settings.costs.read_ns);
    return value;
}

void Board::State::set_pad_drive(Call call, int first, int value) {
    record(call, {first, value});
    run->clock.advance(settings.costs.write_ns);
}

void Board::State::pin_mode_alt(int pin, int code) {
    CallRecord &rec = record(Call::PinModeAlt, {pin, code});
    int line = -1;
    rec.flag = check_line_call(rec, pin, line);
    const std::optional<Function> function = function_from_alt_code(code);
    if (rec.flag == Flag::None && !function) {
        rec.flag = Flag::BadArgument;
    }
    if (rec.flag == Flag::None) {
        set_line_function(line, *function);
    }
    run->clock.advance(settings.costs.pin_mode_ns);
}

// Whether an SPIx call's bus is SPI0's (bus 0; none for a call without a bus): another is
// refused, with -22 and a diagnostic naming it, where wiringPi would end the program.
bool Board::State::spi_bus_is_spi0(CallRecord &rec, std::optional<int> bus) {
    if (!bus || *bus == 0) {
        return true;
    }
    rec.flag = Flag::BadBus;
    rec.result = kEinval;
    CallRecord shown = rec;
    shown.has_result = false;
    shown.flag = Flag::None;
    note(shown.to_string() + ": SPI bus " + std::to_string(*bus) +
         " is not on the board: only SPI0 (bus 0) is modelled");
    if (settings.fidelity == Fidelity::WiringPi3) {
        end_process_as_wiringpi("wiringPi: " + shown.to_string() + ": SPI bus " +
                                std::to_string(*bus) +
                                " cannot be opened: wiringPi 3.x ends the program here with "
                                "status 1");
    }
    return false;
}

int Board::State::spi_setup(Call call, std::optional<int> bus, int channel, int speed, int mode) {
    CallRecord &rec = call == Call::SpiSetup       ? record(call, {channel, speed})
                      : call == Call::SpiSetupMode ? record(call, {channel, speed, mode})
                      : call == Call::SpiXSetup    ? record(call, {*bus, channel, speed})
                                                   : record(call, {*bus, channel, speed, mode});
    rec.has_result = true;
    if (!spi_bus_is_spi0(rec, bus)) {
        // refused
    } else if (channel < 0 || channel >= kSpiChannelCount) {
        rec.flag = Flag::BadChannel;
        rec.result = kEinval;
    } else if (speed <= 0 || mode < 0 || mode > 3) {
        rec.flag = Flag::BadArgument;
        rec.result = kEinval;
    } else {
        run->spi.open(channel, speed, mode);
        rec.result = kSpiFdBase + channel;
        reserve_descriptor(kSpiFdBase + channel);
    }
    run->clock.advance(settings.costs.spi_setup_ns);
    return static_cast<int>(rec.result);
}

int Board::State::spi_get_fd(Call call, std::optional<int> bus, int channel) {
    CallRecord &rec = bus ? record(call, {*bus, channel}) : record(call, {channel});
    rec.has_result = true;
    rec.result = -1;
    if (spi_bus_is_spi0(rec, bus) && channel >= 0 && channel < kSpiChannelCount &&
        run->spi.channel(channel).open) {
        rec.result = kSpiFdBase + channel;
    }
    run->clock.advance(settings.costs.read_ns);
    return static_cast<int>(rec.result);
}

int Board::State::spi_close(Call call, std::optional<int> bus, int channel) {
    CallRecord &rec = bus ? record(call, {*bus, channel}) : record(call, {channel});
    rec.has_result = true;
    if (!spi_bus_is_spi0(rec, bus)) {
        // refused
    } else if (channel < 0 || channel >= kSpiChannelCount) {
        rec.flag = Flag::BadChannel;
        rec.result = kEinval;
    } else if (!run->spi.channel(channel).open) {
        rec.flag = Flag::NotOpen;
        rec.result = kEbadf;
    } else {
        run->spi.close(channel);
        rec.result = 0;
    }
    run->clock.advance(settings.costs.spi_setup_ns);
    return static_cast<int>(rec.result);
}

namespace {

// What is wrong with a wiringPiSPIDataRW call's arguments, with the result it returns then;
// Flag::None for a transfer that may go ahead.
std::pair<Flag, int> spi_call_problem(int channel, bool open, const unsigned char *data, int len) {
    if (channel < 0 || channel >= kSpiChannelCount) {
        return {Flag::BadChannel, kEinval};
    }
    if (!open) {
        return {Flag::NotOpen, kEbadf};
    }
    if (data == nullptr) {
        return {Flag::NullBuffer, kEfault};
    }
    if (len < 0) {
        return {Flag::BadArgument, kEinval};
    }
    if (len > kSpiMaxTransfer) {
        return {Flag::TooLong, kEmsgsize};
    }
    return {Flag::None, len};
}

}  // namespace

int Board::State::spi_data_rw(Call call, std::optional<int> bus, int channel, unsigned char *data,
                              int len) {
    run->clock.apply_due();
    CallRecord &rec = bus ? record(call, {*bus, channel, len}) : record(call, {channel, len});
    rec.buffer = data;
    rec.has_result = true;
    if (!spi_bus_is_spi0(rec, bus)) {
        run->clock.advance(settings.costs.spi_transfer_ns);
        return static_cast<int>(rec.result);
    }
    const bool open = channel >= 0 && channel < kSpiChannelCount && run->spi.channel(channel).open;
    const auto [problem, result] = spi_call_problem(channel, open, data, len);
    rec.result = result;
    if (problem == Flag::None) {
        rec.sent.assign(data, data + len);  // named by a time limit reached on the way
    }
    // The ioctl's cost, whether or not the transfer gets to the wire.
    run->clock.advance(settings.costs.spi_transfer_ns);
    rec.flag = problem;
    if (problem == Flag::NotOpen && settings.fidelity == Fidelity::WiringPi3) {
        std::fprintf(stderr,
                     "wiringPi: wiringPiSPIDataRW on channel %d, which was never opened: %d "
                     "(EBADF)\n",
                     channel, kEbadf);
    }
    if (problem == Flag::None) {
        rec.flag = run->spi.transfer(channel, rec.sent, data);
        rec.received.assign(data, data + len);
    }
    return static_cast<int>(rec.result);
}

}  // namespace vboard
