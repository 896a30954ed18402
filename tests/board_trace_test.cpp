// SPDX-License-Identifier: MIT
// Virtual time, the bounded call log, VCD streaming, the timing view and the edges a hardware SPI
// transfer draws.

#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <array>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "board_fixture.hpp"
#include "run_events.hpp"
#include "vboard/trace.hpp"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// Records every change, to compare against what the wires should show.
class ChangeList : public vboard::RunObserver {
  public:
    struct Change {
        std::uint64_t time_ns;
        int pin;
        bool level;
    };
    std::vector<Change> changes;
    std::uint64_t finished_at = 0;
    bool finished = false;

    unsigned interests() const override { return vboard::kWatchLines; }
    void event(const vboard::RunEvent &event) override {
        if (event.kind == vboard::RunEventKind::LineChange) {
            changes.push_back({event.time_ns, event.pin, event.level});
        } else if (event.kind == vboard::RunEventKind::End) {
            finished = true;
            finished_at = event.time_ns;
        }
    }

    std::vector<Change> on(int pin) const {
        std::vector<Change> picked;
        for (const Change &c : changes) {
            if (c.pin == pin) {
                picked.push_back(c);
            }
        }
        return picked;
    }
};

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TraceTest : public BoardTest {
  protected:
    std::shared_ptr<ChangeList> list = std::make_shared<ChangeList>();
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vboard_trace_" + std::to_string(::getpid()));

    void SetUp() override {
        board.set_real_sleep(false);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(TraceTest, EachCallMovesTheClockByItsCost) {
    vboard::CallCosts costs;
    costs.setup_ns = 1000;
    costs.write_ns = 7;
    costs.read_ns = 11;
    costs.pin_mode_ns = 3;
    costs.delay_call_ns = 1;
    board.set_costs(costs);
    wiringPiSetupGpio();
    EXPECT_EQ(board.now_ns(), 1000U);
    pinMode(5, OUTPUT);
    digitalWrite(5, 1);
    (void)digitalRead(5);
    EXPECT_EQ(board.now_ns(), 1021U);
    delay(2);
    delayMicroseconds(3);
    EXPECT_EQ(board.now_ns(), 1021U + 1 + 2'000'000 + 1 + 3'000);
    const auto log = board.calls();
    EXPECT_EQ(log[1].time_ns, 1000U);
    EXPECT_EQ(log[2].time_ns, 1003U);
    board.reset();
    EXPECT_EQ(board.now_ns(), 0U);
    EXPECT_EQ(board.costs().write_ns, 7U);  // costs survive a reset
}

TEST_F(TraceTest, TheDefaultCostsAreNearAPi4) {
    const vboard::CallCosts costs;
    EXPECT_EQ(costs.write_ns, 20U);
    EXPECT_EQ(costs.read_ns, 40U);
    open_layer();
    const std::uint64_t before = board.now_ns();
    DEV_SPI_SendData(0x00);
    EXPECT_EQ(board.now_ns() - before, costs.pin_mode_ns + 25 * costs.write_ns);
}

TEST_F(TraceTest, AnSpiTransferTakesEightBitsPerByteAtTheChannelSpeed) {
    wiringPiSetupGpio();
    wiringPiSPISetup(0, 1'000'000);
    const std::uint64_t before = board.now_ns();
    uint8_t data[3] = {};
    wiringPiSPIDataRW(0, data, 3);
    const std::uint64_t taken = board.now_ns() - before;
    const std::uint64_t overhead = board.costs().spi_transfer_ns;
    EXPECT_GE(taken, overhead + 24'000);
    EXPECT_LE(taken, overhead + 24'000 + 1'000);  // plus half a bit for the chip enable
}

TEST_F(TraceTest, TheLogKeepsTheNewestCallsAndCountsTheRest) {
    board.set_log_capacity(3);
    wiringPiSetupGpio();
    for (int pin = 0; pin < 5; ++pin) {
        digitalWrite(pin, 1);
    }
    EXPECT_THAT(calls(),
                ElementsAre("digitalWrite(2, 1)", "digitalWrite(3, 1)", "digitalWrite(4, 1)"));
    EXPECT_EQ(board.calls_dropped(), 3U);
    board.set_log_capacity(1);
    EXPECT_EQ(board.calls_dropped(), 5U);
    board.set_log_capacity(0);  // off
    digitalWrite(6, 1);
    EXPECT_EQ(board.call_count(), 0U);
    EXPECT_EQ(board.calls_dropped(), 6U);
    EXPECT_TRUE(board.line(6).latch);  // the call still happened
    board.clear_calls();
    EXPECT_EQ(board.calls_dropped(), 0U);
}

TEST_F(TraceTest, HardwareSpiDrawsChipEnableClocksAndBitsInMode0) {
    wiringPiSetupGpio();
    board.attach_spi_device(1, [](std::span<const uint8_t>) { return std::vector<uint8_t>{0x0F}; });
    wiringPiSPISetup(1, 1'000'000);
    board.add_observer(list);
    uint8_t data[] = {0xA5};
    wiringPiSPIDataRW(1, data, 1);
    EXPECT_EQ(data[0], 0x0F);

    const auto ce1 = list->on(vboard::kSpiCe1);
    ASSERT_EQ(ce1.size(), 2U);
    EXPECT_FALSE(ce1[0].level);
    EXPECT_TRUE(ce1[1].level);
    EXPECT_TRUE(list->on(vboard::kSpiCe0).empty());

    // At each rising clock edge, MOSI and MISO hold the bits, most significant first.
    bool mosi = false;
    bool miso = false;
    std::string mosi_bits;
    std::string miso_bits;
    int rising = 0;
    for (const auto &c : list->changes) {
        if (c.pin == vboard::kSpiMosi)
            mosi = c.level;
        if (c.pin == vboard::kSpiMiso)
            miso = c.level;
        if (c.pin == vboard::kSpiSclk && c.level) {
            ++rising;
            EXPECT_GT(c.time_ns, ce1[0].time_ns);
            EXPECT_LT(c.time_ns, ce1[1].time_ns);
            mosi_bits += mosi ? '1' : '0';
            miso_bits += miso ? '1' : '0';
        }
    }
    EXPECT_EQ(rising, 8);
    EXPECT_EQ(mosi_bits, "10100101");
    EXPECT_EQ(miso_bits, "00001111");
    EXPECT_EQ(list->on(vboard::kSpiSclk).size(), 16U);
    EXPECT_FALSE(board.level(vboard::kSpiSclk));
}

TEST_F(TraceTest, Mode3IdlesHighAndChangesDataOnTheLeadingEdge) {
    wiringPiSetupGpio();
    wiringPiSPISetupMode(0, 1'000'000, 3);
    EXPECT_TRUE(board.level(vboard::kSpiSclk));  // clock polarity 1
    board.add_observer(list);
    uint8_t data[] = {0xA5};
    wiringPiSPIDataRW(0, data, 1);
    // Sampled on the trailing (rising) edge: MOSI must hold each bit there.
    bool mosi = false;
    std::string bits;
    for (const auto &c : list->changes) {
        if (c.pin == vboard::kSpiMosi)
            mosi = c.level;
        if (c.pin == vboard::kSpiSclk && c.level)
            bits += mosi ? '1' : '0';
    }
    EXPECT_EQ(bits, "10100101");
    EXPECT_TRUE(board.level(vboard::kSpiSclk));
}

TEST_F(TraceTest, NoEdgesReachTheWireWithoutAlt0) {
    open_layer();
    wiringPiSPISetup(0, 1'000'000);
    board.add_observer(list);
    DEV_SPI_WriteByte_M(0xFF);
    EXPECT_TRUE(list->changes.empty());
}

TEST_F(TraceTest, ObserversAreFinishedWhenRemovedOrReset) {
    board.add_observer(list);
    wiringPiSetupGpio();
    board.remove_observer(list);
    EXPECT_TRUE(list->finished);
    EXPECT_EQ(list->finished_at, board.now_ns());

    auto other = std::make_shared<ChangeList>();
    board.add_observer(other);
    board.reset();
    EXPECT_TRUE(other->finished);
    pinMode(5, OUTPUT);
    EXPECT_TRUE(other->changes.empty());
}

TEST_F(TraceTest, VcdFileHasAHeaderInitialValuesAndTimedChanges) {
    const auto path = dir / "t.vcd";
    auto vcd = std::make_shared<vboard::VcdWriter>(path.string(), std::vector<int>{18, 24});
    wiringPiSetupGpio();  // at 0; moves the clock by the set-up cost
    board.add_observer(vcd);
    pinMode(18, OUTPUT);          // 18 stays low: no change
    digitalWrite(18, 1);          // a change at setup + pin_mode
    pinMode(24, OUTPUT);          // 24 drops from its pull-down... stays low: no change
    pullUpDnControl(22, PUD_UP);  // not traced
    board.remove_observer(vcd);
    EXPECT_TRUE(vcd->ok());

    const vboard::CallCosts costs;
    const std::string t1 = "#" + std::to_string(costs.setup_ns + costs.pin_mode_ns) + "\n";
    const std::string text = read_file(path);
    EXPECT_THAT(text, HasSubstr("$timescale 1 ns $end"));
    EXPECT_THAT(text, HasSubstr("$var wire 1 3 bcm18_en $end"));
    EXPECT_THAT(text, HasSubstr("$var wire 1 9 bcm24_in $end"));
    EXPECT_THAT(text, HasSubstr("$enddefinitions $end\n#" + std::to_string(costs.setup_ns) +
                                "\n$dumpvars\n03\n09\n$end\n" + t1 + "13\n"));
    EXPECT_THAT(text, ::testing::EndsWith("#" + std::to_string(board.now_ns()) + "\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("bcm22")));
}

// A trace long enough to be written on the writer's own thread, with the stamps the digits are
// moved on for (steps below 100 across carries and new digits) and those written afresh (long
// steps, steps back, times past 2^56 ns and the last one there is), as plain formatting says.
TEST_F(TraceTest, LongVcdTraceIsTheSameTextAsEachStampWrittenAfresh) {
    const auto path = dir / "long.vcd";
    vboard::VcdWriter vcd(path.string(), {0, 1});
    std::array<bool, vboard::kLineCount> levels{};
    tell_start(vcd, 0, levels);
    std::string expected;
    std::uint64_t last = 0;
    const auto change = [&](std::uint64_t time, int pin, bool level) {
        tell_change(vcd, time, pin, level);
        if (time != last) {
            expected += "#" + std::to_string(time) + "\n";
            last = time;
        }
        expected += std::string(level ? "1" : "0") + static_cast<char>('!' + pin) + "\n";
    };
    const std::uint64_t far = std::uint64_t{1} << 56;
    const std::uint64_t starts[] = {
        0,          7,         95,      9'990,
        99'999'940, far - 300, far + 5, std::numeric_limits<std::uint64_t>::max() - 10'000'000};
    std::uint64_t step = 1;
    for (const std::uint64_t start : starts) {
        std::uint64_t time = start;
        for (int i = 0; i < 30'000; ++i) {
            change(time, i % 2, (i / 2) % 2 == 0);
            step = step * 7 % 101;  // 0 to 100: repeats a moment now and then, carries often
            time += i % 997 == 0 ? 123'456 : step;
        }
        change(start / 2, 0, true);  // a step back
    }
    tell_end(vcd, std::numeric_limits<std::uint64_t>::max());
    EXPECT_TRUE(vcd.ok());
    expected += "#" + std::to_string(std::numeric_limits<std::uint64_t>::max()) + "\n";

    const std::string text = read_file(path);
    const std::size_t end_of_header = text.find("$end\n", text.find("$dumpvars"));
    ASSERT_NE(end_of_header, std::string::npos);
    const std::string got = text.substr(end_of_header + 5);
    // Megabytes each: say where they part rather than print both.
    const std::size_t common = std::min(got.size(), expected.size());
    const std::size_t at = static_cast<std::size_t>(
        std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(common),
                      expected.begin())
            .first -
        got.begin());
    EXPECT_TRUE(got == expected) << "first difference at byte " << at << " of " << got.size()
                                 << ": got '" << got.substr(at, 40) << "', expected '"
                                 << expected.substr(at, 40) << "'";
}

// A child forked while the writer's thread runs has no such thread: its changes and its finish
// must neither hang nor touch the parent's file.
TEST_F(TraceTest, AForkedChildLeavesTheParentsVcdAlone) {
    const auto path = dir / "forked.vcd";
    auto vcd = std::make_unique<vboard::VcdWriter>(path.string(), std::vector<int>{0});
    tell_start(*vcd, 0);
    std::uint64_t time = 0;
    for (int i = 0; i < 200'000; ++i) {  // several blocks: the writer's thread runs
        tell_change(*vcd, time += 10, 0, i % 2 == 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);  // a hang ends the child with SIGALRM
        for (int i = 0; i < 200'000; ++i) {
            tell_change(*vcd, time += 7, 0, i % 2 == 0);
        }
        tell_end(*vcd, time + 1);
        ::_exit(vcd->ok() ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    tell_end(*vcd, time + 5);
    EXPECT_TRUE(vcd->ok());
    const std::string text = read_file(path);
    EXPECT_THAT(text, ::testing::EndsWith("\n#" + std::to_string(time + 5) + "\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '!'), 200'000 + 2);  // $var, $dumpvars, changes
}

TEST_F(TraceTest, VcdWriterRefusesWhatItCannotDo) {
    EXPECT_THROW(vboard::VcdWriter((dir / "no" / "such" / "dir.vcd").string()), std::runtime_error);
    EXPECT_THROW(vboard::VcdWriter((dir / "a.vcd").string(), {54}), std::out_of_range);
    EXPECT_THROW(vboard::VcdWriter((dir / "b.vcd").string(), {}), std::invalid_argument);
    EXPECT_THROW(board.add_observer(nullptr), std::invalid_argument);
}

TEST_F(TraceTest, TimingViewDrawsEdgesPerLine) {
    auto recorder = std::make_shared<vboard::EdgeRecorder>();
    wiringPiSetupGpio();
    pinMode(5, OUTPUT);
    pinMode(6, OUTPUT);
    board.add_observer(recorder);
    digitalWrite(5, 1);
    digitalWrite(6, 1);
    digitalWrite(5, 0);
    const std::vector<int> lines{5, 6};
    const std::string view = recorder->render(lines);
    EXPECT_THAT(view, HasSubstr("\nbcm5  _/---\\_\n"));
    EXPECT_THAT(view, HasSubstr("\nbcm6  ___/---\n"));
    EXPECT_THAT(view, HasSubstr("3 change times"));
}

TEST_F(TraceTest, TimingViewKeepsOnlyItsLimit) {
    auto recorder = std::make_shared<vboard::EdgeRecorder>(2);
    wiringPiSetupGpio();
    pinMode(5, OUTPUT);
    board.add_observer(recorder);
    for (int i = 0; i < 5; ++i) {
        digitalWrite(5, 1);
        digitalWrite(5, 0);
    }
    EXPECT_EQ(recorder->changes_dropped(), 8U);
    EXPECT_THAT(recorder->render(std::vector<int>{5}), HasSubstr("8 later changes not kept"));
}

}  // namespace
