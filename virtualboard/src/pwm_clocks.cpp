// SPDX-License-Identifier: MIT
// The PWM and the general-purpose clocks.

#include "pwm_clocks.hpp"

#include <algorithm>
#include <limits>
#include <numeric>

namespace vboard {
namespace {

// The lines a PWM channel or a clock drives, in its function.
constexpr int kWaveLines[] = {12, 13, 18, 19, 40, 41, 45, 4, 5, 6, 20, 21, 32, 34, 42, 43, 44};

// What clocks the PWM and the general-purpose clocks on a model. wiringPi scales a PWM divisor by
// num/den so that a divisor means what it means on a 19.2 MHz Pi; it computes a general-purpose
// clock's divisor for a 19.2 MHz oscillator whatever the model's (none on a Pi 5).
struct ModelClocks {
    std::uint64_t pwm_hz;
    std::uint64_t divisor_num;
    std::uint64_t divisor_den;
    std::uint64_t oscillator_hz;
};

ModelClocks clocks_of(PiModel model) {
    switch (model) {
        case PiModel::Pi3B:
        case PiModel::Zero2W: return {19'200'000, 1, 1, 19'200'000};
        case PiModel::Pi5: return {50'000'000, 500, 192, 0};
        case PiModel::Pi4B:
        case PiModel::Pi400:
        case PiModel::Cm4: break;
    }
    return {54'000'000, 540, 192, 54'000'000};
}

constexpr std::uint64_t kWiringPiOscillatorHz = 19'200'000;
constexpr std::uint32_t kMaxDivisor = 4095;

// a * b / c without overflow for the values the waves use.
std::uint64_t mul_div(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
#ifdef __SIZEOF_INT128__
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint64_t>(static_cast<Wide>(a) * b / c);
#else
    const std::uint64_t whole = a / c * b;
    const std::uint64_t rest = a % c;
    if (rest != 0 && b > std::numeric_limits<std::uint64_t>::max() / rest) {
        return whole + static_cast<std::uint64_t>(static_cast<long double>(rest) * b / c);
    }
    return whole + rest * b / c;
#endif
}

bool in_peripheral_function(const GpioBank &gpio, int line) {
    const Function function = peripheral_function(line);
    return function != Function::Input && gpio.line(line).function == function;
}

}  // namespace

void PwmClocks::set_mode(bool balanced) {
    balanced_ = balanced;
    pwm_started_ = true;
}

void PwmClocks::set_range(std::uint32_t range) { range_ = range; }

bool PwmClocks::set_clock(int divisor) {
    const ModelClocks clocks = clocks_of(model_);
    const std::uint64_t scaled =
        (static_cast<std::uint64_t>(divisor) * clocks.divisor_num / clocks.divisor_den) &
        kMaxDivisor;
    if (divisor <= 0 || scaled == 0) {
        return false;
    }
    divisor_ = divisor;
    return true;
}

void PwmClocks::write(int line, std::uint32_t value) { value_[pwm_channel(line)] = value; }

double PwmClocks::set_frequency(int line, int hz) {
    const ModelClocks clocks = clocks_of(model_);
    if (hz <= 0 || clocks.oscillator_hz == 0) {
        return 0;
    }
    const std::uint64_t divisor = std::min<std::uint64_t>(
        kWiringPiOscillatorHz / static_cast<std::uint64_t>(hz), kMaxDivisor);
    if (divisor == 0) {
        return 0;
    }
    clock_divisor_[clock_generator(line)] = static_cast<std::uint32_t>(divisor);
    return static_cast<double>(clocks.oscillator_hz) / static_cast<double>(divisor);
}

std::uint64_t PwmClocks::oscillator_hz() const { return clocks_of(model_).oscillator_hz; }

std::optional<PwmClocks::TickLength> PwmClocks::pwm_tick() const {
    if (!divisor_) {
        return std::nullopt;
    }
    const ModelClocks clocks = clocks_of(model_);
    const std::uint64_t scaled =
        (static_cast<std::uint64_t>(*divisor_) * clocks.divisor_num / clocks.divisor_den) &
        kMaxDivisor;
    const std::uint64_t num = scaled * kNsPerSecond;
    const std::uint64_t gcd = std::gcd(num, clocks.pwm_hz);
    return TickLength{num / gcd, clocks.pwm_hz / gcd};
}

LineWave PwmClocks::compute(int line) const {
    LineWave wave;
    wave.pin = line;
    const bool in_function = in_peripheral_function(gpio_, line);
    if (is_pwm_line(line)) {
        wave.source = LineWave::Source::Pwm;
        wave.unit = pwm_channel(line);
        const std::optional<TickLength> tick = pwm_tick();
        if (in_function && pwm_started_ && tick &&
            range_ > 0) {  // else none, whatever the registers
            wave.balanced = balanced_;
            const std::uint32_t high = std::min(value_[wave.unit], range_);
            wave.duty = static_cast<double>(high) / range_;
            wave.period_ns = static_cast<double>(range_) * static_cast<double>(tick->num) /
                             static_cast<double>(tick->den);
        }
        return wave;
    }
    wave.source = LineWave::Source::Clock;
    wave.unit = clock_generator(line);
    const std::uint32_t divisor = clock_divisor_[wave.unit];
    const ModelClocks clocks = clocks_of(model_);
    if (in_function && divisor != 0 && clocks.oscillator_hz != 0) {
        wave.period_ns =
            static_cast<double>(divisor) * 1e9 / static_cast<double>(clocks.oscillator_hz);
        wave.duty = 0.5;
    }
    return wave;
}

std::optional<LineWave> PwmClocks::wave(int line) const {
    if (!is_pwm_line(line) && clock_generator(line) < 0) {
        return std::nullopt;
    }
    return compute(line);
}

PwmClocks::PwmClocks(Engine &engine, GpioBank &gpio, const PiModel &model, const bool &draw)
    : engine_(engine), gpio_(gpio), model_(model), draw_(draw) {
    for (const int line : kWaveLines) {
        told_[line] = compute(line);
    }
}

void PwmClocks::refresh() {
    for (const int line : kWaveLines) {
        const LineWave wave = compute(line);
        if (wave == told_[line] && drawing_[line].moving == moves(wave)) {
            continue;
        }
        if (wave != told_[line]) {
            told_[line] = wave;
            engine_.wave(wave);
        }
        draw(line, wave);
    }
}

bool PwmClocks::moves(const LineWave &wave) const {
    return draw_ && wave.period_ns > 0 && wave.duty > 0 && wave.duty < 1;
}

void PwmClocks::draw(int line, const LineWave &wave) {
    Drawing &drawing = drawing_[line];
    const std::uint64_t generation = drawing.generation + 1;
    drawing = Drawing{};
    drawing.generation = generation;
    if (!moves(wave)) {
        gpio_.set_controller(line, wave.duty >= 1);
        return;
    }
    drawing.moving = true;
    drawing.start_ns = engine_.now();
    // Mark-space periods and clock cycles begin high; the balanced algorithm's first tick is low.
    drawing.level = !(wave.source == LineWave::Source::Pwm && wave.balanced);
    gpio_.set_controller(line, drawing.level);
    schedule_next(line);
}

std::uint64_t PwmClocks::run_length(int line, Drawing &drawing) const {
    if (!is_pwm_line(line)) {
        return clock_divisor_[clock_generator(line)];  // half-ticks of the oscillator
    }
    const std::uint64_t range = range_;
    const std::uint64_t high = std::min(value_[pwm_channel(line)], range_);
    if (!balanced_) {
        return drawing.level ? high : range - high;
    }
    // The balanced algorithm: each tick adds `high` to the context; a tick whose sum reaches the
    // range is high and takes the range off.
    const std::uint64_t low_gap = range - high;
    if (drawing.level) {
        const std::uint64_t ones = drawing.context / low_gap;
        drawing.context -= ones * low_gap;
        return ones;
    }
    const std::uint64_t zeros = (low_gap - drawing.context + high - 1) / high;
    drawing.context += zeros * high;
    return zeros;
}

void PwmClocks::schedule_next(int line) {
    Drawing &drawing = drawing_[line];
    drawing.tick += run_length(line, drawing);
    drawing.level = !drawing.level;
    TickLength tick;
    if (is_pwm_line(line)) {
        tick = *pwm_tick();
    } else {
        tick = TickLength{kNsPerSecond, 2 * clocks_of(model_).oscillator_hz};
    }
    engine_.schedule(drawing.start_ns + mul_div(drawing.tick, tick.num, tick.den), this,
                     static_cast<std::uint64_t>(line), drawing.generation);
}

void PwmClocks::timed(std::uint64_t what, std::uint64_t detail) {
    const int line = static_cast<int>(what);
    if (!drawing_[line].moving || drawing_[line].generation != detail) {
        return;  // the wave changed since this edge was planned
    }
    gpio_.set_controller(line, drawing_[line].level);
    schedule_next(line);
}

}  // namespace vboard
