// SPDX-License-Identifier: MIT
// The virtual board's SPI0 controller: opening channels, every transfer error, full duplex in
// place, and what happens when its lines are not in ALT0.

#include <gmock/gmock.h>

#include <array>
#include <fstream>

#include "board_fixture.hpp"
#include "vboard/call_log.hpp"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;

namespace {

// The diagnostics a run's observers are told.
class NoteWatch : public vboard::RunObserver {
  public:
    std::vector<std::string> texts;
    unsigned interests() const override { return vboard::kWatchNotes; }
    void event(const vboard::RunEvent &event) override {
        if (event.kind == vboard::RunEventKind::Note) {
            texts.push_back(*event.note);
        }
    }
};

class BoardSpiTest : public BoardTest {
  protected:
    std::vector<std::vector<uint8_t>> seen;

    void SetUp() override {
        ASSERT_EQ(wiringPiSetupGpio(), 0);
        board.attach_spi_device(0, [this](std::span<const uint8_t> sent) {
            seen.emplace_back(sent.begin(), sent.end());
            return std::vector<uint8_t>{0xC0, 0xC1};  // shorter than most transfers
        });
    }
};

TEST_F(BoardSpiTest, OpeningChecksChannelSpeedAndMode) {
    EXPECT_EQ(wiringPiSPISetup(2, 1000000), -22);
    EXPECT_EQ(wiringPiSPISetup(-1, 1000000), -22);
    EXPECT_EQ(wiringPiSPISetup(0, 0), -22);
    EXPECT_EQ(wiringPiSPISetup(0, -5), -22);
    EXPECT_EQ(wiringPiSPISetupMode(0, 1000000, 4), -22);
    EXPECT_EQ(wiringPiSPISetupMode(0, 1000000, -1), -22);
    EXPECT_FALSE(board.spi_channel(0).open);
    EXPECT_GE(wiringPiSPISetupMode(1, 500000, 3), 0);
    const vboard::SpiChannelState state = board.spi_channel(1);
    EXPECT_TRUE(state.open);
    EXPECT_EQ(state.speed_hz, 500000);
    EXPECT_EQ(state.mode, 3);
}

TEST_F(BoardSpiTest, EveryTransferErrorLeavesTheBufferUntouched) {
    std::array<uint8_t, 4097> buffer{};
    buffer.fill(0x5A);
    EXPECT_EQ(wiringPiSPIDataRW(0, buffer.data(), 1), -9);  // never opened
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    EXPECT_EQ(wiringPiSPIDataRW(2, buffer.data(), 1), -22);
    EXPECT_EQ(wiringPiSPIDataRW(-1, buffer.data(), 1), -22);
    EXPECT_EQ(wiringPiSPIDataRW(0, nullptr, 1), -14);
    EXPECT_EQ(wiringPiSPIDataRW(0, buffer.data(), 4097), -90);
    EXPECT_EQ(wiringPiSPIDataRW(0, buffer.data(), -1), -22);
    for (const uint8_t byte : buffer) {
        ASSERT_EQ(byte, 0x5A);
    }
    EXPECT_TRUE(seen.empty());
    EXPECT_THAT(board.calls().back().to_string(),
                "wiringPiSPIDataRW(0, <buffer>, -1) = -22 [BadArgument]");
}

TEST_F(BoardSpiTest, TransferIsFullDuplexInPlacePaddedWithIdleMiso) {
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    std::array<uint8_t, 4> data{1, 2, 3, 4};
    EXPECT_EQ(wiringPiSPIDataRW(0, data.data(), 4), 4);
    EXPECT_THAT(seen, ElementsAre(std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_THAT(data, ElementsAre(0xC0, 0xC1, 0x00, 0x00));  // MISO idles on its pull-down

    board.drive(vboard::kSpiMiso, true);
    data = {9, 9, 9, 9};
    EXPECT_EQ(wiringPiSPIDataRW(0, data.data(), 4), 4);
    EXPECT_THAT(data, ElementsAre(0xC0, 0xC1, 0xFF, 0xFF));
}

TEST_F(BoardSpiTest, TheLargestTransferGoesThrough) {
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    std::vector<uint8_t> data(4096, 0x77);
    EXPECT_EQ(wiringPiSPIDataRW(0, data.data(), 4096), 4096);
    ASSERT_THAT(seen, SizeIs(1));
    EXPECT_EQ(seen[0].size(), 4096U);
}

TEST_F(BoardSpiTest, AChannelWithoutADeviceReadsIdleMiso) {
    ASSERT_GE(wiringPiSPISetup(1, 1000000), 0);
    uint8_t data[] = {0x12, 0x34};
    EXPECT_EQ(wiringPiSPIDataRW(1, data, 2), 2);
    EXPECT_THAT(data, ElementsAre(0x00, 0x00));
    EXPECT_TRUE(board.diagnostics().empty());
}

TEST_F(BoardSpiTest, SclkOrMosiOutOfAlt0KeepsTheTransferOffTheWireAndSaysWhich) {
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    pinModeAlt(vboard::kSpiSclk, 0);
    uint8_t data[] = {0xAB};
    EXPECT_EQ(wiringPiSPIDataRW(0, data, 1), 1);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(data[0], 0x00);
    EXPECT_THAT(board.diagnostics(),
                ElementsAre("wiringPiSPIDataRW on channel 0: BCM 11 (SCLK) is INPUT, not ALT0; "
                            "nothing reached the wire"));
    EXPECT_EQ(board.calls().back().flag, vboard::Flag::NotAlt0);
}

// Many drivers make a chip enable a plain output and drive it around each transfer themselves: the
// transfer still goes out, and the device behind it is selected by that line's own level.
TEST_F(BoardSpiTest, AChipEnableDrivenByHandSelectsByItsOwnLevel) {
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    pinMode(vboard::kSpiCe0, OUTPUT);
    digitalWrite(vboard::kSpiCe0, HIGH);
    uint8_t data[] = {0xAB};
    EXPECT_EQ(wiringPiSPIDataRW(0, data, 1), 1);
    EXPECT_TRUE(seen.empty());  // not selected
    digitalWrite(vboard::kSpiCe0, LOW);
    data[0] = 0xAB;
    EXPECT_EQ(wiringPiSPIDataRW(0, data, 1), 1);
    EXPECT_THAT(seen, ElementsAre(std::vector<uint8_t>{0xAB}));
    EXPECT_EQ(data[0], 0xC0);
    EXPECT_FALSE(board.level(vboard::kSpiCe0));  // still the program's, low
    EXPECT_TRUE(board.diagnostics().empty());
    EXPECT_EQ(board.calls().back().flag, vboard::Flag::None);
}

// A mistake repeated in a loop is said once, and how often it came again once the run ends.
TEST_F(BoardSpiTest, ARepeatedDiagnosticIsSaidOnceThenCounted) {
    const auto notes = std::make_shared<NoteWatch>();
    board.add_observer(notes);
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    pinMode(vboard::kSpiMiso, INPUT);
    uint8_t data[] = {0xAB};
    for (int i = 0; i < 1'235; ++i) {
        wiringPiSPIDataRW(0, data, 1);
    }
    const std::string text =
        "wiringPiSPIDataRW on channel 0: BCM 9 (MISO) is INPUT, not ALT0; "
        "the bytes received read 0x00";
    EXPECT_THAT(board.diagnostics(), ElementsAre(text));
    board.flush_outputs();
    const std::vector<std::string> all{text, text + " \u2026 and 1,234 more like it"};
    EXPECT_EQ(board.diagnostics(), all);
    EXPECT_EQ(notes->texts, all);  // what the report, the runner and JUnit are told
}

// A diagnostic raised inside a call follows that call in the call log, at its own later time; a
// time limit reached inside a transfer names the transfer's bytes.
TEST_F(BoardSpiTest, ACallComesBeforeItsNoteAndATransferCutByTheLimitShowsItsBytes) {
    const std::string path = ::testing::TempDir() + "spi_note_order.log";
    board.add_observer(std::make_shared<vboard::CallLogWriter>(path));
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    pinMode(vboard::kSpiMiso, INPUT);
    std::string limit;
    // The limit falls inside the call's own cost, before the bytes go out.
    board.set_time_limit(board.now_ns() + board.costs().spi_transfer_ns / 2,
                         [&](const vboard::TimeLimitReport &r) { limit = r.call; });
    uint8_t data[] = {0x01, 0x02, 0x03};
    wiringPiSPIDataRW(0, data, 3);
    EXPECT_EQ(limit, "wiringPiSPIDataRW(0, [01 02 03], 3)");
    board.flush_outputs();
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.substr(line.find("ns  ") + 4));
    }
    ASSERT_GE(lines.size(), 2U);
    EXPECT_THAT(lines[lines.size() - 2],
                ::testing::StartsWith("wiringPiSPIDataRW(0, [01 02 03], 3)"));
    EXPECT_THAT(lines.back(), HasSubstr("note: wiringPiSPIDataRW on channel 0: BCM 9 (MISO)"));
}

TEST_F(BoardSpiTest, MisoOutOfAlt0ReceivesZeros) {
    ASSERT_GE(wiringPiSPISetup(0, 1000000), 0);
    pinMode(vboard::kSpiMiso, INPUT);
    uint8_t data[] = {0xAB};
    EXPECT_EQ(wiringPiSPIDataRW(0, data, 1), 1);
    EXPECT_THAT(seen, SizeIs(1));  // the device still sees the byte
    EXPECT_EQ(data[0], 0x00);
    EXPECT_THAT(board.diagnostics(), ElementsAre(HasSubstr("BCM 9 (MISO) is INPUT, not ALT0")));
}

}  // namespace
