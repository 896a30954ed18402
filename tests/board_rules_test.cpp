// SPDX-License-Identifier: MIT
// Rules in virtual time, the SPI device models, the link device's enable line, the time limit and
// the wiringPi 3.x fidelity.

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "board_fixture.hpp"
#include "vboard/device.hpp"
#include "vboard/duration.hpp"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr int kButton = 5;  // pulled up at power-on: a released rule drive reads high
constexpr std::uint64_t kUs = 1'000;
constexpr std::uint64_t kMs = 1'000'000;

// The moments a line changed, as (time, level).
class LineWatch : public vboard::RunObserver {
  public:
    explicit LineWatch(int pin) : pin_(pin) {}
    std::vector<std::pair<std::uint64_t, bool>> changes;

    unsigned interests() const override { return vboard::kWatchLines; }
    void event(const vboard::RunEvent &event) override {
        if (event.kind == vboard::RunEventKind::LineChange && event.pin == pin_) {
            changes.emplace_back(event.time_ns, event.level);
        }
    }

  private:
    int pin_;
};

class RulesTest : public BoardTest {
  public:
    std::shared_ptr<LineWatch> watch = std::make_shared<LineWatch>(kButton);

    void SetUp() override {
        board.set_real_sleep(false);
        board.add_observer(watch);
        wiringPiSetupGpio();
    }

    // The rule every case uses: pull the button line low 10 us after the trigger, for 20 us.
    static vboard::Rule pulse_on(const vboard::Trigger &when) {
        vboard::Action action{kButton, vboard::Drive::Low, 10 * kUs, 20 * kUs,
                              vboard::Drive::Release};
        return vboard::Rule{"pulse", when, action};
    }

    // Time at which the link's clock last rose, from the call log.
    std::uint64_t last_clock_rise() const {
        std::uint64_t time = 0;
        for (const vboard::CallRecord &rec : board.calls()) {
            if (rec.to_string() == "digitalWrite(11, 1)") {
                time = rec.time_ns;
            }
        }
        return time;
    }
};

struct RuleCase {
    const char *name;
    vboard::Trigger when;
    // Makes the trigger happen; returns when it fired first, if the case knows it exactly.
    std::function<std::optional<std::uint64_t>(RulesTest &, vboard::Board &)> stimulus;
    std::uint64_t fired;
};

void toggle_17(vboard::Board &board, std::uint64_t &rise, std::uint64_t &fall) {
    pinMode(17, OUTPUT);
    rise = board.now_ns();
    digitalWrite(17, 1);
    delayMicroseconds(100);
    fall = board.now_ns();
    digitalWrite(17, 0);
    delayMicroseconds(100);
}

void spi_transfer_on_wire(std::vector<uint8_t> bytes) {
    wiringPiSPISetup(0, 1'000'000);
    for (const int pin : {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiCe0, vboard::kSpiCe1}) {
        pinModeAlt(pin, 4);
    }
    wiringPiSPIDataRW(0, bytes.data(), static_cast<int>(bytes.size()));
    delayMicroseconds(100);
}

const RuleCase kRuleCases[] = {
    {"at_a_moment", vboard::Trigger::at(2 * kMs),
     [](RulesTest &, vboard::Board &) -> std::optional<std::uint64_t> {
         delay(3);
         return 2 * kMs;
     },
     1},
    {"rising_edge", vboard::Trigger::rising(17),
     [](RulesTest &, vboard::Board &board) -> std::optional<std::uint64_t> {
         std::uint64_t rise = 0, fall = 0;
         toggle_17(board, rise, fall);
         return rise;
     },
     1},
    {"falling_edge", vboard::Trigger::falling(17),
     [](RulesTest &, vboard::Board &board) -> std::optional<std::uint64_t> {
         std::uint64_t rise = 0, fall = 0;
         toggle_17(board, rise, fall);
         return fall;
     },
     1},
    {"either_edge", vboard::Trigger::edge(17),
     [](RulesTest &, vboard::Board &board) -> std::optional<std::uint64_t> {
         std::uint64_t rise = 0, fall = 0;
         toggle_17(board, rise, fall);
         return rise;
     },
     2},
    {"link_byte_matching", vboard::Trigger::link_byte(0x12),
     [](RulesTest &test, vboard::Board &board) -> std::optional<std::uint64_t> {
         board.attach_link_device();
         pinMode(11, OUTPUT);
         DEV_SPI_SendData(0x12);
         const std::uint64_t eighth_rise = test.last_clock_rise();
         DEV_SPI_SendData(0x13);
         delayMicroseconds(100);
         return eighth_rise;
     },
     1},
    {"link_byte_any", vboard::Trigger::link_byte(),
     [](RulesTest &, vboard::Board &board) -> std::optional<std::uint64_t> {
         board.attach_link_device();
         pinMode(11, OUTPUT);
         DEV_SPI_SendData(0x12);
         delayMicroseconds(100);
         DEV_SPI_SendData(0x13);
         delayMicroseconds(100);
         return std::nullopt;
     },
     2},
    {"spi_byte_matching", vboard::Trigger::spi_byte(0, 0x9f),
     [](RulesTest &, vboard::Board &) -> std::optional<std::uint64_t> {
         spi_transfer_on_wire({0x9f, 0x00});
         spi_transfer_on_wire({0x01, 0x9f});
         return std::nullopt;
     },
     2},
    {"spi_byte_other_channel", vboard::Trigger::spi_byte(1, 0x9f),
     [](RulesTest &, vboard::Board &) -> std::optional<std::uint64_t> {
         spi_transfer_on_wire({0x9f});
         return std::nullopt;
     },
     0},
    {"spi_transfer_end", vboard::Trigger::spi_end(-1),
     [](RulesTest &, vboard::Board &) -> std::optional<std::uint64_t> {
         spi_transfer_on_wire({0x01, 0x02});
         return std::nullopt;
     },
     1},
    {"held_long_enough", vboard::Trigger::held(17, true, 1 * kMs),
     [](RulesTest &, vboard::Board &board) -> std::optional<std::uint64_t> {
         pinMode(17, OUTPUT);
         const std::uint64_t rise = board.now_ns();
         digitalWrite(17, 1);
         delay(3);
         return rise + 1 * kMs;
     },
     1},
    {"held_too_short", vboard::Trigger::held(17, true, 1 * kMs),
     [](RulesTest &, vboard::Board &) -> std::optional<std::uint64_t> {
         pinMode(17, OUTPUT);
         digitalWrite(17, 1);
         delayMicroseconds(900);
         digitalWrite(17, 0);
         delay(3);
         return std::nullopt;
     },
     0},
};

class RuleKinds : public RulesTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(RuleKinds, FireAsOftenAsTheirTriggerAndPulseForTheirDuration) {
    const RuleCase &c = GetParam();
    const vboard::RuleId id = board.add_rule(pulse_on(c.when));
    const std::optional<std::uint64_t> first = c.stimulus(*this, board);
    EXPECT_EQ(board.rule_fired(id), c.fired);
    ASSERT_EQ(watch->changes.size(), 2 * c.fired);
    for (std::size_t i = 0; i + 1 < watch->changes.size(); i += 2) {
        EXPECT_FALSE(watch->changes[i].second);
        EXPECT_TRUE(watch->changes[i + 1].second);
        EXPECT_EQ(watch->changes[i + 1].first - watch->changes[i].first, 20 * kUs);
    }
    if (first && c.fired > 0) {
        EXPECT_EQ(watch->changes[0].first, *first + 10 * kUs);
    }
}

INSTANTIATE_TEST_SUITE_P(Board, RuleKinds, ::testing::ValuesIn(kRuleCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A driver polling with 1 ms waits sees the busy line at the right moments, and a removed rule
// does nothing more.
TEST_F(RulesTest, PollingSeesTheLineChangeAtItsMomentAndRemovedRulesStop) {
    vboard::Rule press{
        "press", vboard::Trigger::at(20 * kMs),
        vboard::Action{kButton, vboard::Drive::Low, 0, 50 * kMs, vboard::Drive::Release}};
    const vboard::RuleId id = board.add_rule(press);
    std::vector<std::uint64_t> low_reads;
    for (int ms = 0; ms < 100; ++ms) {
        if (digitalRead(kButton) == 0) {
            low_reads.push_back(board.now_ns() / kMs);
        }
        delay(1);
    }
    ASSERT_FALSE(low_reads.empty());
    EXPECT_EQ(low_reads.front(), 20U);
    EXPECT_EQ(low_reads.back(), 69U);
    EXPECT_EQ(low_reads.size(), 50U);

    board.remove_rule(id);
    board.add_rule(pulse_on(vboard::Trigger::rising(17)));
    board.remove_rule(1);
    pinMode(17, OUTPUT);
    digitalWrite(17, 1);
    delay(1);
    EXPECT_EQ(board.rule_fired(1), 0U);
}

TEST_F(RulesTest, RulesWakingEachOtherWithNoTimePassingAreStoppedAloneAndNamed) {
    pinMode(17, OUTPUT);
    board.add_rule({"a", vboard::Trigger::edge(kButton),
                    vboard::Action{6, vboard::Drive::High, 0, 0, vboard::Drive::Low}});
    board.add_rule({"b", vboard::Trigger::edge(6),
                    vboard::Action{kButton, vboard::Drive::Low, 0, 0, vboard::Drive::High}});
    board.add_rule({"", vboard::Trigger::at(6'000'000),
                    vboard::Action{22, vboard::Drive::High, 0, std::nullopt, vboard::Drive::Low}});
    board.drive(kButton, false);
    delay(10);
    ASSERT_EQ(board.diagnostics().size(), 1U);
    EXPECT_THAT(board.diagnostics()[0],
                ::testing::MatchesRegex("rules keep waking each other at [0-9]+ ns with no time "
                                        "passing; the board stopped rule 0 \"a\", rule 1 \"b\""));
    EXPECT_EQ(board.rule_fired(2), 1U);  // the unrelated rule still fires, at 6 ms
    EXPECT_EQ(digitalRead(22), HIGH);
}

// What is due at a moment is applied before a read at that moment, whatever put it there: a rule
// at the read's moment, or one a transfer's end fired with no delay.
TEST_F(RulesTest, AReadSeesEverythingDueAtItsMoment) {
    board.add_rule({"", vboard::Trigger::spi_end(0),
                    vboard::Action{22, vboard::Drive::High, 0, std::nullopt, vboard::Drive::Low}});
    wiringPiSPISetup(0, 1'000'000);
    for (const int pin : {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiCe0}) {
        pinModeAlt(pin, 4);
    }
    std::uint8_t byte = 0x5A;
    wiringPiSPIDataRW(0, &byte, 1);
    EXPECT_EQ(digitalRead(22), HIGH);
    const std::uint64_t read_at = board.now_ns() + 1'000;
    board.add_rule({"", vboard::Trigger::at(read_at),
                    vboard::Action{23, vboard::Drive::High, 0, std::nullopt, vboard::Drive::Low}});
    delayMicroseconds(1);
    ASSERT_EQ(board.now_ns(), read_at + 100);  // the call's own cost comes first
    EXPECT_EQ(digitalRead(23), HIGH);
}

TEST_F(RulesTest, AFiringIsLoggedWithTheRulesIndexNameAndDrive) {
    board.add_rule({"", vboard::Trigger::at(5'000'000),
                    vboard::Action{22, vboard::Drive::High, 0, std::nullopt, vboard::Drive::Low}});
    board.add_rule(
        {"busy", vboard::Trigger::rising(22),
         vboard::Action{23, vboard::Drive::Low, 100'000, 5'000'000, vboard::Drive::Release}});
    delay(10);
    std::vector<std::string> firings;
    for (const vboard::CallRecord &record : board.calls()) {
        if (record.call == vboard::Call::RuleFired) {
            firings.push_back(std::to_string(record.time_ns) + " " + record.to_string());
        }
    }
    EXPECT_THAT(firings, ::testing::ElementsAre(
                             "5000000 rule 0 fires: drives BCM22 high",
                             "5000000 rule 1 \"busy\" fires: drives BCM23 low after 100 us, then "
                             "releases it after 5 ms"));
}

// What a run of writes leaves behind. A write that nobody records or sees as a call takes a
// shorter way through the board; it has to end where a recorded one ends.
struct WriteRun {
    std::vector<std::pair<std::uint64_t, bool>> button, output;
    std::uint64_t now_ns = 0;
    std::string time_limit;
    bool operator==(const WriteRun &) const = default;
};

WriteRun run_writes(std::size_t log_capacity, bool with_listener) {
    constexpr int kOutput = 17;
    constexpr int kInput = 22;
    vboard::Board board;
    const vboard::ScopedBoard scope{board};
    board.set_real_sleep(false);
    board.set_log_capacity(log_capacity);
    const auto button = std::make_shared<LineWatch>(kButton);
    const auto output = std::make_shared<LineWatch>(kOutput);
    board.add_observer(button);
    board.add_observer(output);
    wiringPiSetupGpio();
    pinMode(kOutput, OUTPUT);
    const std::uint64_t start = board.now_ns();
    board.add_rule(RulesTest::pulse_on(vboard::Trigger::at(start + 5 * kUs)));  // among the writes
    if (with_listener) {  // a rule that hears every edge of the output line and never fires
        board.add_rule(vboard::Rule{"never", vboard::Trigger::rising(kOutput),
                                    vboard::Action{kButton, vboard::Drive::Low, 1'000 * kMs,
                                                   std::nullopt, vboard::Drive::Release}});
    }
    WriteRun run;
    board.set_time_limit(start + 60 * kUs,
                         [&](const vboard::TimeLimitReport &r) { run.time_limit = r.to_string(); });
    digitalWrite(kInput, HIGH);  // an input's latch: no change until it becomes an output
    for (int i = 0; i < 4'000; ++i) {
        digitalWrite(kOutput, i % 3 != 0 ? HIGH : LOW);
    }
    for (auto &[time, level] : button->changes) {
        time -= start;
    }
    run.button = button->changes;
    run.output = output->changes;
    run.now_ns = board.now_ns();
    return run;
}

TEST(QuietWrites, EndWhereRecordedWritesEnd) {
    for (const bool with_listener : {false, true}) {
        SCOPED_TRACE(with_listener ? "a rule listens to the line" : "only observers");
        const WriteRun quiet = run_writes(0, with_listener);
        EXPECT_EQ(quiet, run_writes(100'000, with_listener));
        // The run met what a shorter way could skip: the timed pulse and the time limit.
        EXPECT_THAT(quiet.button,
                    ElementsAre(std::pair{15 * kUs, false}, std::pair{35 * kUs, true}));
        EXPECT_THAT(quiet.time_limit, HasSubstr("reached in digitalWrite(")) << quiet.time_limit;
        EXPECT_GT(quiet.output.size(), 1'000U);
    }
}

TEST_F(RulesTest, BadPinsAndChannelsAreRefused) {
    EXPECT_THROW(board.add_rule(pulse_on(vboard::Trigger::rising(54))), std::out_of_range);
    EXPECT_THROW(board.add_rule(pulse_on(vboard::Trigger::spi_end(2))), std::out_of_range);
    vboard::Rule rule = pulse_on(vboard::Trigger::at(0));
    rule.action.pin = -1;
    EXPECT_THROW(board.add_rule(rule), std::out_of_range);
}

TEST_F(BoardTest, RegisterFileStoresWritesAndAnswersReads) {
    vboard::DeviceConfig config;
    config.model = "registers";
    config.bus = vboard::Bus::Spi0;
    vboard::Registers registers = board.attach_device(config).registers();
    registers.set(0x20, 0x77);
    wiringPiSetupGpio();
    wiringPiSPISetup(0, 1'000'000);
    std::vector<uint8_t> write{0x05, 0x11, 0x22};
    wiringPiSPIDataRW(0, write.data(), 3);
    std::vector<uint8_t> read{0x85, 0x00, 0x00};
    wiringPiSPIDataRW(0, read.data(), 3);
    EXPECT_THAT(read, ElementsAre(0x00, 0x11, 0x22));
    EXPECT_EQ(registers.value(0x06), 0x22);
    std::vector<uint8_t> preset{0xa0, 0x00};
    wiringPiSPIDataRW(0, preset.data(), 2);
    EXPECT_EQ(preset[1], 0x77);

    config.model = "echo";
    config.bus = vboard::Bus::Spi1;
    board.attach_device(config);
    wiringPiSPISetup(1, 1'000'000);
    std::vector<uint8_t> echo{0xde, 0xad};
    wiringPiSPIDataRW(1, echo.data(), 2);
    EXPECT_THAT(echo, ElementsAre(0xde, 0xad));
}

TEST_F(BoardTest, LinkDeviceAnswersOnlyOnceItsEnableLineHasBeenHighLongEnough) {
    board.set_real_sleep(false);
    board.attach_link_device({DEV_EN_PIN, true, 1'000'000});
    const uint8_t reply[] = {0x5a};
    board.queue_link_reply(reply);
    open_layer();                         // EN high now
    EXPECT_EQ(DEV_SPI_ReadData(), 0xFF);  // nobody drives: the pull-up
    DEV_Delay_ms(1);
    EXPECT_EQ(DEV_SPI_ReadData(), 0x5A);
}

TEST_F(BoardTest, TimeLimitReportsTheCallAndTheLineBeingPolled) {
    board.set_real_sleep(false);
    std::optional<vboard::TimeLimitReport> seen;
    board.set_time_limit(10'000'000, [&](const vboard::TimeLimitReport &r) { seen = r; });
    open_layer();
    while (!seen && DEV_Digital_Read(DEV_IN_PIN) == 1) {
        DEV_Delay_ms(1);
    }
    ASSERT_TRUE(seen);
    EXPECT_GT(board.now_ns(), 10'000'000U);  // the handler returned: the call went on
    const std::vector<vboard::CallRecord> log = board.calls();
    const auto first_read = std::find_if(log.begin(), log.end(), [](const auto &rec) {
        return rec.call == vboard::Call::DigitalRead;
    });
    ASSERT_NE(first_read, log.end());
    EXPECT_EQ(seen->to_string(),
              "simulated time limit of 10 ms reached in delay(1); the program was polling BCM "
              "24 with digitalRead, high since " +
                  vboard::format_duration(first_read->time_ns) + " (9 reads)");
}

// Fidelity::WiringPi3: what would end the program on a Pi ends it here, with the call named.
void set_up_then(void (*call)(), vboard::PiModel model = vboard::PiModel::Pi4B) {
    vboard::current_board().set_setup_result(0);
    vboard::current_board().set_model(model);
    wiringPiSetupGpio();
    call();
}

struct FatalCase {
    const char *name;
    std::function<void()> call;
    const char *message;
};

const FatalCase kFatalCases[] = {
    {"failed_setup", [] { wiringPiSetupGpio(); }, "wiringPiSetupGpio failed \\(result -1\\)"},
    {"pin_mode", [] { pinMode(18, 1); }, "pinMode\\(18, 1\\) called before wiringPiSetupGpio"},
    {"pin_mode_alt", [] { pinModeAlt(10, 4); }, "pinModeAlt\\(10, 4\\) called before"},
    {"pull", [] { pullUpDnControl(24, 2); }, "pullUpDnControl\\(24, 2\\) called before"},
    // After a set-up that succeeded:
    {"isr_edge_kind", [] { set_up_then([] { wiringPiISR(5, INT_EDGE_SETUP, nullptr); }); },
     "wiringPiISR\\(5, 0\\) failed"},
    {"spi_bus", [] { set_up_then([] { wiringPiSPIxSetup(1, 0, 1000000); }); },
     "SPI bus 1 cannot be opened"},
    {"byte_on_pi5", [] { set_up_then([] { digitalWriteByte(1); }, vboard::PiModel::Pi5); },
     "digitalWriteByte: not supported on a Raspberry Pi 5"},
    {"clock_on_pi5", [] { set_up_then([] { gpioClockSet(4, 1000); }, vboard::PiModel::Pi5); },
     "gpioClockSet: not supported on a Raspberry Pi 5"},
};

class FidelityFatal : public BoardTest, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(FidelityFatal, EndsTheProcessWithStatusOne) {
    board.set_fidelity(vboard::Fidelity::WiringPi3);
    board.set_setup_result(-1);
    EXPECT_EXIT(GetParam().call(), ::testing::ExitedWithCode(1), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Board, FidelityFatal, ::testing::ValuesIn(kFatalCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(BoardTest, FidelityWarnsAndGoesOnForLineCallsAndUnopenedSpi) {
    board.set_fidelity(vboard::Fidelity::WiringPi3);
    ::testing::internal::CaptureStderr();
    digitalWrite(18, 1);
    const int level = digitalRead(24);
    wiringPiSetupGpio();
    unsigned char byte = 0;
    const int result = wiringPiSPIDataRW(0, &byte, 1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(level, 0);
    EXPECT_EQ(result, -9);
    EXPECT_FALSE(board.line(18).latch);
    EXPECT_EQ(err,
              "wiringPi: digitalWrite(18, 1) called before wiringPiSetupGpio: ignored\n"
              "wiringPi: digitalRead(24) called before wiringPiSetupGpio: ignored\n"
              "wiringPi: wiringPiSPIDataRW on channel 0, which was never opened: -9 (EBADF)\n");
}

}  // namespace
