// SPDX-License-Identifier: MIT
// A trace's calls made again on a board, at their recorded times, with the recorded reads.

#include "vboard/replay.hpp"

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <array>
#include <string>
#include <vector>

#include "board_access.hpp"
#include "board_call.hpp"
#include "board_locked.hpp"
#include "hex_text.hpp"
#include "vboard/duration.hpp"

namespace vboard {
namespace {

void do_nothing() {}

class Replayer final : public Board::State::NestedCalls {
  public:
    Replayer(Board &board, const CallTrace &trace) : board_(board), calls_(trace.calls) {
        locked(board_, [&](Board::State &s) { s.nested_calls = this; });
    }
    ~Replayer() override {
        locked(board_, [&](Board::State &s) { s.nested_calls = nullptr; });
    }
    Replayer(const Replayer &) = delete;
    Replayer &operator=(const Replayer &) = delete;

    void run() {
        while (next_time()) {
            make_next();
        }
    }

    // The next call's time, the devices' lines and the rules of the recording passed over.
    std::optional<std::uint64_t> next_time() override {
        while (next_ < calls_.size() &&
               (calls_[next_].call == Call::DeviceLog || calls_[next_].call == Call::RuleFired)) {
            ++next_;
        }
        if (next_ == calls_.size()) {
            return std::nullopt;
        }
        return calls_[next_].time_ns;
    }

    void make_next() override { call(calls_[next_++]); }

    ReplayResult finish() {
        if (result_.mismatches > kMismatchesTold) {
            mismatch_note("replay: " + std::to_string(result_.mismatches - kMismatchesTold) +
                          " more reads where the board's models answered otherwise than the "
                          "recording");
        }
        return result_;
    }

  private:
    void call(const CallRecord &rec) {
        locked(board_, [&](Board::State &s) { s.advance_to(rec.time_ns); });
        switch (rec.call) {
            case Call::DigitalRead: digital_read(rec); break;
            case Call::SpiDataRW:
            case Call::SpiXDataRW: transfer(rec); break;
            case Call::WaitForInterrupt: ++result_.skipped; return;
            default: plain(rec); break;
        }
        ++result_.calls;
    }

    long long arg(const CallRecord &rec, std::size_t i) const {
        return i < rec.arg_count ? rec.args[i] : 0;
    }
    int iarg(const CallRecord &rec, std::size_t i) const { return static_cast<int>(arg(rec, i)); }

    void mismatch(const CallRecord &rec, const std::string &model, const std::string &recorded) {
        ++result_.mismatches;
        if (result_.mismatches <= kMismatchesTold) {
            mismatch_note("replay: " + rec.to_string() + " at " + format_duration(rec.time_ns) +
                          ": the board's models answered " + model + ", the recording " + recorded);
        }
    }

    void mismatch_note(const std::string &text) {
        locked(board_, [&](Board::State &s) { s.note(text); });
    }

    // The BCM line a pin of the program reaches in the numbering of its last set-up; -1: none.
    int line_of(const CallRecord &rec) {
        if (rec.line >= 0) {
            return rec.line;
        }
        const int pin = iarg(rec, 0);
        return locked(board_, [&](Board::State &s) {
            if (s.run->numbering == Numbering::Bcm) {
                return pin >= 0 && pin < kLineCount ? pin : -1;
            }
            return bcm_line(s.run->numbering, pin);
        });
    }

    void digital_read(const CallRecord &rec) {
        const int line = rec.has_result && rec.flag == Flag::None ? line_of(rec) : -1;
        if (line >= 0) {
            const bool recorded = rec.result != 0;
            if (forced_[line]) {
                board_.release(line);
                forced_[line] = false;
            }
            const LineState state = board_.line(line);
            modelled_[line] =
                modelled_[line] || state.driven ||
                locked(board_, [&](Board::State &s) { return s.run->rules.drives(line); });
            if (state.level != recorded && state.function != Function::Output) {
                if (modelled_[line]) {
                    CallRecord named = rec;  // a recorder does not know the line a pin reached
                    named.line = line != iarg(rec, 0) ? line : -1;
                    mismatch(named, state.level ? "1" : "0", recorded ? "1" : "0");
                }
                board_.drive(line, recorded);
                forced_[line] = true;
            }
        }
        digitalRead(iarg(rec, 0));
    }

    void transfer(const CallRecord &rec) {
        const bool x = rec.call == Call::SpiXDataRW;
        const int bus = x ? iarg(rec, 0) : 0;
        const int channel = iarg(rec, x ? 1 : 0);
        const int len = iarg(rec, x ? 2 : 1);
        std::vector<unsigned char> data(rec.sent.begin(), rec.sent.end());
        if (len > 0 && data.size() < static_cast<std::size_t>(len)) {
            data.resize(static_cast<std::size_t>(len));
        }
        unsigned char *buffer = rec.buffer == nullptr ? nullptr : data.data();
        const bool model = channel >= 0 && channel <= 1 && locked(board_, [&](Board::State &s) {
                               return s.run->devices.on_bus(spi_bus(channel));
                           });
        const bool answer = !model && channel >= 0 && channel <= 1 && !all_zero(rec.received);
        if (answer) {
            board_.attach_spi_device(channel, [received = rec.received](auto) { return received; });
        }
        if (x) {
            wiringPiSPIxDataRW(bus, channel, buffer, len);
        } else {
            wiringPiSPIDataRW(channel, buffer, len);
        }
        if (answer) {
            board_.detach_spi_device(channel);
        }
        if (model && !rec.received.empty() && buffer != nullptr) {
            const std::vector<std::uint8_t> got(data.begin(), data.end());
            if (got != rec.received) {
                mismatch(rec, bracketed_hex(got), bracketed_hex(rec.received));
            }
        }
    }

    static bool all_zero(const std::vector<std::uint8_t> &bytes) {
        for (const std::uint8_t byte : bytes) {
            if (byte != 0) {
                return false;
            }
        }
        return true;
    }

    void c_library_wait(const CallRecord &rec, std::uint64_t length_ns) {
        std::vector<long long> args(rec.args.begin(), rec.args.begin() + rec.arg_count);
        waiting_on_board([&](Board::State &s) {
            switch (args.size()) {
                case 1: return s.wait(rec.call, {args[0]}, length_ns);
                case 2: return s.wait(rec.call, {args[0], args[1]}, length_ns);
                case 4: return s.wait(rec.call, {args[0], args[1], args[2], args[3]}, length_ns);
                default: return s.wait(rec.call, {}, length_ns);
            }
        });
    }

    static std::uint64_t seconds_and_ns(long long seconds, long long ns) {
        return seconds < 0 || ns < 0 ? 0
                                     : static_cast<std::uint64_t>(seconds) * 1'000'000'000ULL +
                                           static_cast<std::uint64_t>(ns);
    }

    // Every other call, made as recorded.
    void plain(const CallRecord &rec) {
        const int a = iarg(rec, 0);
        const int b = iarg(rec, 1);
        const int c = iarg(rec, 2);
        const int d = iarg(rec, 3);
        int ignored[5] = {};
        switch (rec.call) {
            case Call::WiringPiSetupGpio: wiringPiSetupGpio(); break;
            case Call::WiringPiSetup: wiringPiSetup(); break;
            case Call::WiringPiSetupPhys: wiringPiSetupPhys(); break;
            case Call::WiringPiSetupSys: wiringPiSetupSys(); break;
            case Call::WiringPiSetupPinType:
                wiringPiSetupPinType(static_cast<WPIPinType>(a));
                break;
            case Call::WiringPiSetupGpioDevice:
                wiringPiSetupGpioDevice(static_cast<WPIPinType>(a));
                break;
            case Call::PinMode: pinMode(a, b); break;
            case Call::PullUpDnControl: pullUpDnControl(a, b); break;
            case Call::DigitalWrite: digitalWrite(a, b); break;
            case Call::PinModeAlt: pinModeAlt(a, b); break;
            case Call::GetAlt: getAlt(a); break;
            case Call::GetPinModeAlt: getPinModeAlt(a); break;
            case Call::Delay: delay(static_cast<unsigned>(a)); break;
            case Call::DelayMicroseconds: delayMicroseconds(static_cast<unsigned>(a)); break;
            case Call::SpiSetup: wiringPiSPISetup(a, b); break;
            case Call::SpiSetupMode: wiringPiSPISetupMode(a, b, c); break;
            case Call::SpiGetFd: wiringPiSPIGetFd(a); break;
            case Call::SpiClose: wiringPiSPIClose(a); break;
            case Call::SpiXSetup: wiringPiSPIxSetup(a, b, c); break;
            case Call::SpiXSetupMode: wiringPiSPIxSetupMode(a, b, c, d); break;
            case Call::SpiXGetFd: wiringPiSPIxGetFd(a, b); break;
            case Call::SpiXClose: wiringPiSPIxClose(a, b); break;
            case Call::Millis: millis(); break;
            case Call::Micros: micros(); break;
            case Call::PiMicros64: piMicros64(); break;
            case Call::PiBoardId:
                piBoardId(&ignored[0], &ignored[1], &ignored[2], &ignored[3], &ignored[4]);
                break;
            case Call::PiGpioLayout: piGpioLayout(); break;
            case Call::PiBoardRev: piBoardRev(); break;
            case Call::PiBoard40Pin: piBoard40Pin(); break;
            case Call::PiRP1Model: piRP1Model(); break;
            case Call::WiringPiVersion: wiringPiVersion(&ignored[0], &ignored[1]); break;
            case Call::WiringPiGlobalMemoryAccess: wiringPiGlobalMemoryAccess(); break;
            case Call::WiringPiUserLevelAccess: wiringPiUserLevelAccess(); break;
            case Call::DigitalWriteByte: digitalWriteByte(a); break;
            case Call::DigitalReadByte: digitalReadByte(); break;
            case Call::SetPadDrive: setPadDrive(a, b); break;
            case Call::SetPadDrivePin: setPadDrivePin(a, b); break;
            case Call::WiringPiISR: wiringPiISR(a, b, do_nothing); break;
            case Call::WiringPiISRStop: wiringPiISRStop(a); break;
            case Call::WaitForInterruptClose: waitForInterruptClose(a); break;
            case Call::PwmWrite: pwmWrite(a, b); break;
            case Call::PwmSetMode: pwmSetMode(a); break;
            case Call::PwmSetRange: pwmSetRange(static_cast<unsigned>(a)); break;
            case Call::PwmSetClock: pwmSetClock(a); break;
            case Call::PwmToneWrite: pwmToneWrite(a, b); break;
            case Call::GpioClockSet: gpioClockSet(a, b); break;
            case Call::Usleep: c_library_wait(rec, static_cast<std::uint64_t>(a) * 1'000); break;
            case Call::Sleep: c_library_wait(rec, seconds_and_ns(arg(rec, 0), 0)); break;
            case Call::Nanosleep:
                c_library_wait(rec, seconds_and_ns(arg(rec, 0), arg(rec, 1)));
                break;
            case Call::ClockNanosleep:
                // An absolute wake-up (TIMER_ABSTIME) is the next call's recorded time.
                c_library_wait(rec, (b & 1) != 0 ? 0 : seconds_and_ns(arg(rec, 2), arg(rec, 3)));
                break;
            case Call::DigitalRead:
            case Call::SpiDataRW:
            case Call::SpiXDataRW:
            case Call::WaitForInterrupt:
            case Call::DeviceLog:
            case Call::RuleFired: break;
        }
    }

    Board &board_;
    const std::vector<CallRecord> &calls_;
    std::size_t next_ = 0;
    ReplayResult result_;
    std::array<bool, kLineCount> forced_{};
    // Lines the board's devices, rules or driven lines have answered a read of: those whose reads
    // the recording checks.
    std::array<bool, kLineCount> modelled_{};
};

}  // namespace

ReplayResult replay_trace(Board &board, const CallTrace &trace) {
    const ScopedBoard current(board);
    for (const std::string &note : trace.notes) {
        locked(board, [&](Board::State &s) { s.note(note); });
    }
    Replayer replayer(board, trace);
    replayer.run();
    return replayer.finish();
}

}  // namespace vboard
