// SPDX-License-Identifier: MIT
// The PWM and the general-purpose clocks: period and duty as each Pi model makes them, the waves
// drawn on the lines, rules on a duty, and the calls refused.

#include <gmock/gmock.h>

#include <cmath>
#include <functional>

#include "board_fixture.hpp"
#include "run_events.hpp"

using ::testing::HasSubstr;

namespace {

struct PwmCase {
    const char *name;
    vboard::PiModel model;
    std::function<void()> setup;  // after pinMode(18, PWM_OUTPUT)
    double period_ns;
    double duty;
    bool balanced;
};

class PwmWaves : public BoardTest, public ::testing::WithParamInterface<PwmCase> {};

TEST_P(PwmWaves, HaveThePeriodAndDutyTheModelMakes) {
    const PwmCase &c = GetParam();
    board.set_model(c.model);
    ASSERT_EQ(wiringPiSetupGpio(), 0);
    pinMode(18, PWM_OUTPUT);
    c.setup();
    const std::optional<vboard::LineWave> wave = board.wave(18);
    ASSERT_TRUE(wave);
    EXPECT_NEAR(wave->period_ns, c.period_ns, 0.01);
    EXPECT_DOUBLE_EQ(wave->duty, c.duty);
    EXPECT_EQ(wave->balanced, c.balanced);
    EXPECT_EQ(board.function(18), vboard::Function::Alt5);
}

INSTANTIATE_TEST_SUITE_P(
    Board, PwmWaves,
    ::testing::Values(
        // pinMode's defaults: balanced, range 1024, divisor 32: 600 kHz ticks on a 19.2 MHz Pi,
        // the divisor scaled to 90 on a 54 MHz Pi 4, to 83 on a 50 MHz Pi 5.
        PwmCase{"pi3_default", vboard::PiModel::Pi3B, [] { pwmWrite(18, 512); },
                1024 * 1e9 / 600'000, 0.5, true},
        PwmCase{"pi4_default", vboard::PiModel::Pi4B, [] { pwmWrite(18, 256); },
                1024 * 90 * 1e9 / 54e6, 0.25, true},
        PwmCase{"pi5_default", vboard::PiModel::Pi5, [] { pwmWrite(18, 1024); },
                1024 * 83 * 1e9 / 50e6, 1.0, true},
        // A servo's 50 Hz: mark-space, divisor 192 (10 us ticks on a Pi 4), range 2000.
        PwmCase{"pi4_servo", vboard::PiModel::Pi4B,
                [] {
                    pwmSetMode(PWM_MODE_MS);
                    pwmSetClock(192);
                    pwmSetRange(2000);
                    pwmWrite(18, 150);
                },
                20e6, 0.075, false},
        PwmCase{"value_over_range", vboard::PiModel::Pi3B,
                [] {
                    pwmSetRange(100);
                    pwmWrite(18, 500);
                },
                100 * 1e9 / 600'000, 1.0, true},
        // As wiringPi writes a tone: range 600000/440 = 1363, value 440/2.
        PwmCase{"tone", vboard::PiModel::Pi3B, [] { pwmToneWrite(18, 440); }, 1363 * 1e9 / 600'000,
                220.0 / 1363, true},
        // wiringPi's numbering reaches the same line (wPi 1 is BCM 18).
        PwmCase{"wiringpi_numbering", vboard::PiModel::Pi3B,
                [] {
                    wiringPiSetup();
                    pwmWrite(1, 768);
                },
                1024 * 1e9 / 600'000, 0.75, true}),
    [](const auto &info) { return std::string(info.param.name); });

// Drawn edge by edge, on the line, as its level: mark-space high first, balanced spread.
struct Drawn {
    const char *name;
    int mode;
    int value;
    std::vector<std::pair<std::uint64_t, bool>> edges;  // the first ones, from the write
};

class DrawnWaves : public BoardTest, public ::testing::WithParamInterface<Drawn> {};

class Edges final : public vboard::RunObserver {
  public:
    unsigned interests() const override { return vboard::kWatchLines; }
    void event(const vboard::RunEvent &e) override {
        if (e.kind == vboard::RunEventKind::LineChange && e.pin == 18) {
            seen.emplace_back(e.time_ns, e.level);
        }
    }
    std::vector<std::pair<std::uint64_t, bool>> seen;
};

TEST_P(DrawnWaves, PutTheirEdgesOnTheLine) {
    board.set_real_sleep(false);
    board.set_pwm_waveform(true);
    ASSERT_EQ(wiringPiSetupGpio(), 0);
    pinMode(18, GetParam().mode);
    pwmSetClock(192);  // 10 us ticks on a Pi 4
    pwmSetRange(4);
    auto edges = std::make_shared<Edges>();
    board.add_observer(edges);
    const std::uint64_t start = board.now_ns();
    pwmWrite(18, GetParam().value);
    delayMicroseconds(100);
    std::vector<std::pair<std::uint64_t, bool>> seen;
    for (const auto &[time, level] : edges->seen) {
        if (seen.size() < GetParam().edges.size()) {
            seen.emplace_back(time - start, level);
        }
    }
    EXPECT_EQ(seen, GetParam().edges);
    EXPECT_EQ(digitalRead(18), board.level(18) ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Board, DrawnWaves,
    ::testing::Values(Drawn{"mark_space_quarter",
                            PWM_MS_OUTPUT,
                            1,
                            {{0, true}, {10'000, false}, {40'000, true}, {50'000, false}}},
                      Drawn{"balanced_quarter",
                            PWM_BAL_OUTPUT,
                            1,
                            {{30'000, true}, {40'000, false}, {70'000, true}, {80'000, false}}},
                      Drawn{"balanced_half",
                            PWM_OUTPUT,
                            2,
                            {{10'000, true}, {20'000, false}, {30'000, true}, {40'000, false}}}),
    [](const auto &info) { return std::string(info.param.name); });

// A rule fires when a PWM line's duty crosses its mark, and a clock runs as wiringPi divides it.
TEST_F(BoardTest, RulesReadADutyAndClocksRunAsWiringPiDividesThem) {
    board.set_model(vboard::PiModel::Pi3B);
    ASSERT_EQ(wiringPiSetupGpio(), 0);
    vboard::Rule bright;
    bright.when = vboard::Trigger::duty_above(18, 0.5);
    bright.action = vboard::Action{24, vboard::Drive::Low, 0, std::nullopt, vboard::Drive::Release};
    const vboard::RuleId id = board.add_rule(bright);
    pinMode(18, PWM_OUTPUT);
    for (const int value : {600, 700, 100, 900}) {
        pwmWrite(18, value);
    }
    EXPECT_EQ(board.rule_fired(id), 2U);

    pinMode(4, GPIO_CLOCK);
    gpioClockSet(4, 1'200'000);  // 19.2 MHz / 16
    EXPECT_NEAR(board.wave(4)->period_ns, 1e9 / 1.2e6, 1e-6);
    EXPECT_TRUE(board.diagnostics().empty());
    board.set_model(vboard::PiModel::Pi4B);
    gpioClockSet(4, 1'200'000);  // the same divisor on a 54 MHz oscillator
    EXPECT_NEAR(board.wave(4)->period_ns, 16 * 1e9 / 54e6, 1e-6);
    EXPECT_THAT(board.diagnostics().back(), HasSubstr("the clock runs at 3375000 Hz"));
    std::vector<std::string> log = calls();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "wave: BCM18 PWM0 balanced: 585.938 Hz (1.706667 ms), duty 87.9 %"),
              log.end());
}

struct Refusal {
    const char *name;
    std::function<void()> call;
    vboard::Flag flag;
    const char *says;
};

class PwmRefusals : public BoardTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PwmRefusals, TouchNothingAndSayWhy) {
    board.set_model(vboard::PiModel::Pi5);
    ASSERT_EQ(wiringPiSetupGpio(), 0);
    pinMode(18, PWM_OUTPUT);
    pwmWrite(18, 100);
    const vboard::LineWave before = *board.wave(18);
    GetParam().call();
    EXPECT_EQ(board.calls().back().flag, GetParam().flag);
    EXPECT_EQ(*board.wave(18), before);
    ASSERT_FALSE(board.diagnostics().empty());
    EXPECT_THAT(board.diagnostics().back(), HasSubstr(GetParam().says));
}

INSTANTIATE_TEST_SUITE_P(
    Board, PwmRefusals,
    ::testing::Values(
        Refusal{"write_no_pwm", [] { pwmWrite(5, 10); }, vboard::Flag::NotPwm, "has no PWM"},
        Refusal{"mode_no_pwm", [] { pinMode(5, PWM_OUTPUT); }, vboard::Flag::NotPwm, "has no PWM"},
        Refusal{"clock_no_gpclk", [] { pinMode(18, GPIO_CLOCK); }, vboard::Flag::NotPwm,
                "no general-purpose clock"},
        Refusal{"soft_pwm", [] { pinMode(18, 4); }, vboard::Flag::BadArgument, "soft PWM"},
        Refusal{"range_zero", [] { pwmSetRange(0); }, vboard::Flag::BadArgument, "range of 0"},
        Refusal{"clock_zero", [] { pwmSetClock(0); }, vboard::Flag::BadArgument, "no divisor"},
        Refusal{"mode_two", [] { pwmSetMode(2); }, vboard::Flag::BadArgument, "not a PWM mode"},
        Refusal{"negative", [] { pwmWrite(18, -1); }, vboard::Flag::BadArgument, "negative"},
        Refusal{"gpclk_on_pi5", [] { gpioClockSet(4, 1000); }, vboard::Flag::NotOnModel,
                "Raspberry Pi 5"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
