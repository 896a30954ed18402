// SPDX-License-Identifier: MIT
// The display models through the board: what a driver's commands and pixels put in the frames,
// and the diagnostics a misbehaving driver gets.

#include <gmock/gmock.h>
#include <malloc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board_fixture.hpp"
#include "vboard/board_file.hpp"
#include "vboard/device.hpp"

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

constexpr int kDc = 25;
constexpr int kReset = 17;
constexpr int kBusy = 24;
constexpr std::uint32_t kRed = 0xFF0000;
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;

// Bytes to the device on SPI0 channel 0, in transfers of at most 4096 bytes as spidev takes them.
void bytes(std::vector<std::uint8_t> data) {
    for (std::size_t at = 0; at < data.size(); at += 4096) {
        const int n = static_cast<int>(std::min<std::size_t>(4096, data.size() - at));
        wiringPiSPIDataRW(0, data.data() + at, n);
    }
}

// A command byte (the data/command line low), then its data (high).
void command(std::uint8_t code, std::vector<std::uint8_t> data = {}) {
    digitalWrite(kDc, LOW);
    bytes({code});
    digitalWrite(kDc, HIGH);
    if (!data.empty()) {
        bytes(std::move(data));
    }
}

class DisplayTest : public BoardTest {
  protected:
    void SetUp() override {
        board.set_real_sleep(false);
        ASSERT_EQ(wiringPiSetupGpio(), 0);
        for (const int pin : {kDc, kReset}) {
            pinMode(pin, OUTPUT);
        }
        digitalWrite(kReset, HIGH);
        return_spi_lines_to_alt0();
        ASSERT_GT(wiringPiSPISetup(0, 8'000'000), 0);
    }

    void attach(const std::string &model, std::vector<vboard::DeviceParam> params) {
        vboard::DeviceConfig config;
        config.model = model;
        config.name = "panel";
        config.bus = vboard::Bus::Spi0;
        config.lines = {{"dc", kDc}, {"reset", kReset}};
        if (model != "tft") {
            config.lines.emplace_back("busy", kBusy);
        }
        config.params = std::move(params);
        board.attach_device(config);
    }

    std::string diagnostics() const {
        std::string all;
        for (const std::string &line : board.diagnostics()) {
            all += line + "\n";
        }
        return all;
    }
    vboard::Image last_frame() const {
        const std::vector<vboard::Frame> frames = board.frames();
        return frames.empty() ? vboard::Image{} : *frames.back().image;
    }
};

// A tft of `ram` x `ram` pixels, awake, in RGB565, its window the whole RAM.
class TftTest : public DisplayTest {
  protected:
    void start(std::int64_t ram = 4, std::vector<vboard::DeviceParam> more = {}) {
        more.push_back({"ram_width", ram});
        more.push_back({"ram_height", ram});
        attach("tft", std::move(more));
        delay(130);  // power-on reset: 120 ms before sleep out
        command(0x11);
        delay(10);
        command(0x3A, {0x55});
    }
    static void window(std::uint16_t x0, std::uint16_t x1, std::uint16_t y0, std::uint16_t y1) {
        const auto be = [](std::uint16_t a, std::uint16_t b) {
            return std::vector<std::uint8_t>{
                static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a),
                static_cast<std::uint8_t>(b >> 8), static_cast<std::uint8_t>(b)};
        };
        command(0x2A, be(x0, x1));
        command(0x2B, be(y0, y1));
    }
    // The positions of the red pixels of the frame shown at display-on.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> red_pixels() {
        command(0x29);
        const vboard::Image frame = last_frame();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> found;
        for (std::uint32_t y = 0; y < frame.height; ++y) {
            for (std::uint32_t x = 0; x < frame.width; ++x) {
                if (frame.pixel(x, y) == kRed) {
                    found.emplace_back(x, y);
                }
            }
        }
        return found;
    }
};

struct Rotation {
    std::uint8_t madctl;
    std::uint32_t x, y;  // where logical column 1, row 0 of a 4x4 RAM lands
};

class TftRotations : public TftTest, public ::testing::WithParamInterface<Rotation> {};

TEST_P(TftRotations, MoveThePixelAsMadctlSays) {
    start();
    command(0x36, {GetParam().madctl});
    window(1, 1, 0, 0);
    command(0x2C, {0xF8, 0x00});
    EXPECT_THAT(red_pixels(), ::testing::ElementsAre(std::pair{GetParam().x, GetParam().y}));
    EXPECT_THAT(diagnostics(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Board, TftRotations,
                         ::testing::Values(Rotation{0x00, 1, 0}, Rotation{0x40, 2, 0},
                                           Rotation{0x80, 1, 3}, Rotation{0xC0, 2, 3},
                                           Rotation{0x20, 0, 1}, Rotation{0x60, 3, 1},
                                           Rotation{0xA0, 0, 2}, Rotation{0xE0, 3, 2}));

struct PixelFormat {
    const char *name;
    std::uint8_t colmod;
    std::uint8_t madctl;
    std::vector<std::uint8_t> pixel;
    std::uint32_t shown;
};

class TftPixelFormats : public TftTest, public ::testing::WithParamInterface<PixelFormat> {};

TEST_P(TftPixelFormats, DecodeToRgb) {
    start();
    command(0x3A, {GetParam().colmod});
    command(0x36, {GetParam().madctl});
    window(0, 0, 0, 0);
    command(0x2C, GetParam().pixel);
    command(0x29);
    EXPECT_EQ(last_frame().pixel(0, 0), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Board, TftPixelFormats,
    ::testing::Values(PixelFormat{"rgb565_red", 0x55, 0x00, {0xF8, 0x00}, 0xFF0000},
                      PixelFormat{"rgb565_green", 0x55, 0x00, {0x07, 0xE0}, 0x00FF00},
                      PixelFormat{"rgb565_mixed", 0x55, 0x00, {0x84, 0x10}, 0x848284},
                      PixelFormat{"rgb565_bgr", 0x55, 0x08, {0xF8, 0x00}, 0x0000FF},
                      PixelFormat{"rgb666", 0x66, 0x00, {0xFC, 0x80, 0x04}, 0xFF8204},
                      PixelFormat{
                          "rgb666_low_bits_ignored", 0x66, 0x00, {0xFF, 0x03, 0x00}, 0xFF0000}),
    [](const auto &info) { return info.param.name; });

TEST_F(TftTest, AMemoryWriteWrapsInItsWindowAcrossTransfersAndDropsOnlyABrokenPixel) {
    start();
    window(1, 2, 1, 2);
    command(0x2C, {0xF8});  // half of a red pixel ...
    bytes({0x00, 0x07});    // ... ended in the next transfer, then half of a green one
    bytes({0xE0, 0x00, 0x1F, 0xFF, 0xFF});
    bytes({0x07, 0xE0});  // a fifth pixel: back to the window's start
    command(0x29);
    vboard::Image frame = last_frame();
    EXPECT_EQ(frame.pixel(1, 1), 0x00FF00U);
    EXPECT_EQ(frame.pixel(2, 1), 0x00FF00U);
    EXPECT_EQ(frame.pixel(1, 2), 0x0000FFU);
    EXPECT_EQ(frame.pixel(2, 2), kWhite);
    EXPECT_EQ(frame.pixel(0, 0), kBlack);
    // A command in the middle of a pixel drops that pixel; the write continues where it was.
    window(0, 0, 0, 0);
    command(0x2C, {0xF8});
    command(0x3C, {0x07, 0xE0});
    command(0x29);
    EXPECT_EQ(last_frame().pixel(0, 0), 0x00FF00U);
}

TEST_F(TftTest, ThePanelShowsItsPartOfTheRamInvertedOrNotAndNothingWhileOffOrAsleep) {
    start(8, {{"width", std::int64_t{4}},
              {"height", std::int64_t{2}},
              {"x_offset", std::int64_t{3}},
              {"y_offset", std::int64_t{5}}});
    window(3, 3, 5, 5);
    command(0x2C, {0xF8, 0x00});
    command(0x29);
    EXPECT_EQ(last_frame().width, 4U);
    EXPECT_EQ(last_frame().height, 2U);
    EXPECT_EQ(last_frame().pixel(0, 0), kRed);
    command(0x21);
    board.flush_outputs();  // the end of the run shows a last frame
    EXPECT_EQ(last_frame().pixel(0, 0), 0x00FFFF);
    EXPECT_EQ(last_frame().pixel(1, 0), kWhite);
    command(0x28);
    delay(10);
    command(0x29);
    command(0x10);
    delay(10);
    command(0x29);
    EXPECT_EQ(last_frame().pixel(0, 0), kBlack);
}

TEST_F(TftTest, SnapshotsShowThePanelAtTheirMoments) {
    attach("tft", {{"ram_width", std::int64_t{2}},
                   {"ram_height", std::int64_t{2}},
                   {"snapshot", std::vector<std::string>{"200ms", "300ms"}}});
    delay(400);
    const std::vector<vboard::Frame> frames = board.frames();
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].time_ns, 200'000'000U);
    EXPECT_EQ(frames[1].time_ns, 300'000'000U);
    EXPECT_EQ(frames[0].file_name(), "001-panel.png");
    EXPECT_EQ(frames[0].image, frames[1].image);  // the same picture, kept once
}

TEST_F(TftTest, ABoardFileGivesTheSnapshotsAsAListOfDurations) {
    const std::string device = "[[device]]\nmodel = \"tft\"\nbus = \"spi0\"\nlines = { dc = 25 }\n";
    vboard::BoardFile::parse(device +
                                 "params = { ram_width = 2, ram_height = 2, snapshot = "
                                 "[\"5ms\"] }\n",
                             "b.toml")
        .apply(board);
    delay(10);
    ASSERT_EQ(board.frames().size(), 1U);
    EXPECT_EQ(board.frames()[0].time_ns, 5'000'000U);
    for (const auto &[params, message] : std::vector<std::pair<std::string, std::string>>{
             {"snapshot = [\"5ms\", 7]",
              "b.toml:5: device[0].params.snapshot: expected a list of "
              "strings, as [\"20ms\", \"1s\"]"},
             {"snapshot = [\"soon\"]",
              "b.toml:5: device[0].params.snapshot: expected a list of "
              "durations, as [\"20ms\", \"1s\"]"},
             {"snapshot = \"5ms\"",
              "b.toml:5: device[0].params.snapshot: expected a list of "
              "durations, as [\"20ms\", \"1s\"]"},
             {"width = 300", "b.toml:5: device[0].params.width: expected an integer from 1 to 240"},
         }) {
        try {
            vboard::BoardFile::parse(device + "params = { " + params + " }\n", "b.toml");
            ADD_FAILURE() << params << " accepted";
        } catch (const vboard::BoardFileError &error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

// A module's glass: a correct driver for it (MADCTL's BGR bit for BGR glass, inversion on for
// normally-black IPS glass, MADCTL's mirror bits for glass mounted mirrored) shows true colours,
// upright; the same driver without them shows what such a module would.
struct Glass {
    const char *name;
    std::vector<vboard::DeviceParam> params;
    std::uint8_t madctl;
    bool inversion_on;
    std::uint32_t colour;  // of the pixel drawn red at RAM (0, 0), as the frame shows it
    std::uint32_t x, y;    // where the frame shows it
};

class TftGlass : public TftTest, public ::testing::WithParamInterface<Glass> {};

TEST_P(TftGlass, ShowsWhatTheModuleShows) {
    const Glass &glass = GetParam();
    start(4, glass.params);
    command(0x36, {glass.madctl});
    command(glass.inversion_on ? 0x21 : 0x20);
    window(0, 0, 0, 0);
    command(0x2C, {0xF8, 0x00});  // red
    command(0x29);
    const vboard::Image frame = last_frame();
    EXPECT_EQ(frame.pixel(glass.x, glass.y), glass.colour);
}

const std::vector<vboard::DeviceParam> kBgr{{"glass_order", std::string("bgr")}};
const std::vector<vboard::DeviceParam> kIps{{"glass_inverted", true}};
const std::vector<vboard::DeviceParam> kMirrored{{"glass_mirror_x", true},
                                                 {"glass_mirror_y", true}};

INSTANTIATE_TEST_SUITE_P(
    Board, TftGlass,
    ::testing::Values(Glass{"rgb", {}, 0x00, false, kRed, 0, 0},
                      Glass{"bgr_driver_sets_bgr", kBgr, 0x08, false, kRed, 0, 0},
                      Glass{"bgr_driver_forgets", kBgr, 0x00, false, 0x0000FF, 0, 0},
                      Glass{"ips_driver_inverts", kIps, 0x00, true, kRed, 0, 0},
                      Glass{"ips_driver_forgets", kIps, 0x00, false, 0x00FFFF, 0, 0},
                      // MX and MY (0xC0) write RAM (0, 0) at the RAM's far corner, which the
                      // mirrored glass shows at its near one.
                      Glass{"mirrored_driver_mirrors", kMirrored, 0xC0, false, kRed, 0, 0},
                      Glass{"mirrored_driver_forgets", kMirrored, 0x00, false, kRed, 3, 3}),
    [](const auto &info) { return info.param.name; });

struct TftMisuse {
    const char *name;
    void (*drive)();
    const char *diagnostic;
};

void window_past_end() { command(0x2A, {0x00, 0x03, 0x00, 0x01}); }
void window_outside() { command(0x2B, {0x00, 0x00, 0x00, 0x04}); }
void write_without_window() { command(0x2C, {0x00, 0x00}); }
void unknown_twice() {
    command(0x99);
    command(0x99);
}
void command_in_reset() {
    digitalWrite(kReset, LOW);
    delay(1);
    command(0x29);
    digitalWrite(kReset, HIGH);
}
void short_reset_pulse() {
    digitalWrite(kReset, LOW);
    delayMicroseconds(7);  // 5 to 10 us: maybe a reset
    digitalWrite(kReset, HIGH);
}
void command_right_after_reset() {
    command(0x01);
    delay(2);
    command(0x29);
}
void sleep_out_early_after_reset() {
    command(0x01);
    delay(6);
    command(0x11);
}
void sleep_in_early_after_sleep_out() {
    delay(6);
    command(0x10);
}

class TftMisuses : public TftTest, public ::testing::WithParamInterface<TftMisuse> {};

// A glitch on the reset line (under 5 us) is no reset: the next command is not too soon after one.
TEST_F(TftTest, AGlitchOnTheResetLineIsNoReset) {
    start();
    board.clear_diagnostics();
    digitalWrite(kReset, LOW);
    delayMicroseconds(4);
    digitalWrite(kReset, HIGH);
    command(0x29);
    EXPECT_TRUE(board.diagnostics().empty()) << diagnostics();
}

TEST_P(TftMisuses, AreNotedWithTheCommandAndTheTime) {
    start();
    board.clear_diagnostics();
    GetParam().drive();
    const std::vector<std::string> notes = board.diagnostics();
    ASSERT_EQ(notes.size(), 1U) << diagnostics();
    EXPECT_THAT(notes[0], HasSubstr(GetParam().diagnostic));
    EXPECT_THAT(notes[0], ::testing::MatchesRegex("panel: .*[0-9]+\\.[0-9]{3}ms.*"));
}

INSTANTIATE_TEST_SUITE_P(
    Board, TftMisuses,
    ::testing::Values(
        TftMisuse{"past_end", window_past_end, "column address set 0x2a at "},
        TftMisuse{"outside", window_outside, "the window 0-4 is outside the RAM (0-3)"},
        TftMisuse{"no_window", write_without_window, "memory written before any window was set"},
        TftMisuse{"unknown_once", unknown_twice, "command 0x99 at"},
        TftMisuse{"in_reset", command_in_reset, "display on 0x29 at"},
        TftMisuse{"short_pulse", short_reset_pulse, "shorter than 0.010ms"},
        TftMisuse{"after_reset", command_right_after_reset,
                  "ms after a reset, where 5.000ms is needed"},
        TftMisuse{"sleep_out", sleep_out_early_after_reset, "where 120.000ms is needed"},
        TftMisuse{"sleep_in", sleep_in_early_after_sleep_out,
                  "ms after sleep out, where 120.000ms is needed"}),
    [](const auto &info) { return info.param.name; });

// A 16x4 ssd16xx panel, black/white/red unless told otherwise, with short busy times.
class SsdTest : public DisplayTest {
  protected:
    void start(const char *colours = "bwr") {
        attach("ssd16xx", {{"width", std::int64_t{16}},
                           {"height", std::int64_t{4}},
                           {"colours", std::string(colours)},
                           {"refresh", std::string("1s")},
                           {"reset_time", std::string("1ms")}});
        pinMode(kBusy, INPUT);
    }
    void wait_idle() {
        for (int i = 0; i < 500 && digitalRead(kBusy) == HIGH; ++i) {
            delay(5);
        }
        ASSERT_EQ(digitalRead(kBusy), LOW);
    }
    void refresh() {
        command(0x20);
        wait_idle();
    }
    std::string row(std::uint32_t y) const {
        const vboard::Image frame = last_frame();
        std::string text;
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const std::uint32_t p = frame.pixel(x, y);
            text += p == kWhite ? '.' : p == kRed ? 'r' : p == kBlack ? '#' : '?';
        }
        return text;
    }
};

struct EntryMode {
    const char *name;
    std::uint8_t mode;
    std::vector<std::uint8_t> window_x, window_y, counter_x, counter_y;
    std::vector<std::string> rows;  // after writing 0x00, 0x0F, 0xF0 to the black/white RAM
};

class SsdEntryModes : public SsdTest, public ::testing::WithParamInterface<EntryMode> {};

TEST_P(SsdEntryModes, MoveTheCountersWithinTheWindow) {
    start("bw");
    const EntryMode &mode = GetParam();
    command(0x11, {mode.mode});
    command(0x44, mode.window_x);
    command(0x45, mode.window_y);
    command(0x4E, mode.counter_x);
    command(0x4F, mode.counter_y);
    command(0x24, {0x00, 0x0F, 0xF0});
    refresh();
    for (std::uint32_t y = 0; y < 4; ++y) {
        EXPECT_EQ(row(y), mode.rows[y]) << "row " << y;
    }
    EXPECT_THAT(diagnostics(), Not(HasSubstr("outside the window")));
}

INSTANTIATE_TEST_SUITE_P(Board, SsdEntryModes,
                         ::testing::Values(EntryMode{"x_then_y_increasing",
                                                     0x03,
                                                     {0, 1},
                                                     {0, 0, 3, 0},
                                                     {0},
                                                     {0, 0},
                                                     {"############....", "....####........",
                                                      "................", "................"}},
                                           EntryMode{"both_decreasing_start_above_end",
                                                     0x00,
                                                     {1, 0},
                                                     {3, 0, 0, 0},
                                                     {1},
                                                     {3, 0},
                                                     {"................", "................",
                                                      "............####", "####....########"}},
                                           EntryMode{"y_first",
                                                     0x07,
                                                     {0, 1},
                                                     {0, 0, 1, 0},
                                                     {0},
                                                     {0, 0},
                                                     {"########....####", "####............",
                                                      "................", "................"}}),
                         [](const auto &info) { return info.param.name; });

TEST_F(SsdTest, RedWinsOverBlackAndUpdateControlInvertsOrBypassesEachRam) {
    start();
    command(0x24, std::vector<std::uint8_t>(8, 0x0F));  // left half black
    command(0x4E, {0});
    command(0x4F, {0, 0});
    command(0x26, std::vector<std::uint8_t>(8, 0x3C));  // red in the middle
    refresh();
    EXPECT_EQ(row(0), "##rrrr..##rrrr..");
    command(0x21, {0x48});  // red bypassed as 0, black/white inverted
    refresh();
    EXPECT_EQ(row(3), "....####....####");
}

TEST_F(SsdTest, BusyHoldsTheRefreshAndAByteWhileBusyIsNotedWithItsCommand) {
    start();
    command(0x24, {0x00});
    command(0x20);
    EXPECT_EQ(digitalRead(kBusy), HIGH);
    EXPECT_TRUE(board.frames().empty());
    delay(300);
    command(0x24, {0x00});
    command(0x26, {0x00});  // the same stretch: noted once
    wait_idle();
    ASSERT_EQ(board.frames().size(), 1U);
    const std::vector<std::string> notes = board.diagnostics();
    ASSERT_EQ(notes.size(), 1U) << diagnostics();
    EXPECT_THAT(notes[0], HasSubstr("command 0x24 (write black/white RAM) at"));
    EXPECT_THAT(notes[0], HasSubstr("while busy, 699.9"));
}

TEST_F(SsdTest, SleepRefreshesWithoutDataAndWritesOutsideTheWindowAreNoted) {
    start();
    refresh();
    EXPECT_THAT(diagnostics(), HasSubstr("a refresh with no RAM written since the last one"));
    command(0x44, {0, 0});
    command(0x4E, {1});
    command(0x24, {0x00});
    EXPECT_THAT(diagnostics(), HasSubstr("RAM written at X byte 1, Y 0, outside the window"));
    command(0x10, {0x01});
    command(0x20);
    EXPECT_THAT(diagnostics(), HasSubstr("command 0x20 (master activation) at"));
    EXPECT_EQ(digitalRead(kBusy), LOW);  // ignored
    digitalWrite(kReset, LOW);
    delay(1);
    digitalWrite(kReset, HIGH);  // a hardware reset wakes it
    wait_idle();
    board.clear_diagnostics();
    board.flush_outputs();
    EXPECT_THAT(diagnostics(), HasSubstr("the panel was left awake"));
}

// Display update control 2 is a set of steps: only a display step makes a frame, and the busy
// time follows the steps (power_time 2 ms, refresh 1 s, partial_refresh 300 ms by default here).
struct Steps {
    std::uint8_t update2;
    bool frame;
    std::uint64_t busy_ms;
};

class SsdSteps : public SsdTest, public ::testing::WithParamInterface<Steps> {};

TEST_P(SsdSteps, MakeAFrameOnlyWithADisplayStepAndTakeTheirTime) {
    start("bw");
    command(0x24, {0x0F});
    command(0x4E, {0});
    command(0x26, {0xFF});  // the previous image, for the mode-2 displays: the white glass
    command(0x22, {GetParam().update2});
    board.clear_diagnostics();
    const std::uint64_t start_ns = board.now_ns();
    command(0x20);
    std::uint64_t busy_ns = 0;
    while (digitalRead(kBusy) == HIGH && busy_ns < 2'000'000'000) {
        delayMicroseconds(100);
        busy_ns = board.now_ns() - start_ns;
    }
    EXPECT_EQ((busy_ns + 500'000) / 1'000'000, GetParam().busy_ms);
    EXPECT_EQ(board.frames().size(), GetParam().frame ? 1U : 0U);
    EXPECT_EQ(diagnostics(), "");  // no "no RAM written" for an activation that displays nothing
}

INSTANTIATE_TEST_SUITE_P(
    Board, SsdSteps,
    ::testing::Values(Steps{0xC0, false, 2}, Steps{0xF8, false, 2}, Steps{0x91, false, 2},
                      Steps{0x99, false, 2}, Steps{0xB1, false, 2}, Steps{0xB9, false, 2},
                      Steps{0x83, false, 2}, Steps{0x03, false, 2}, Steps{0xF7, true, 1000},
                      Steps{0xC7, true, 1000}, Steps{0xFF, true, 300}, Steps{0xCF, true, 300},
                      Steps{0xFC, true, 300}),
    [](const auto &info) { return "steps_" + std::to_string(info.param.update2); });

TEST_F(SsdTest, ADisplayStepNeedsThePowerOnAndTheLastStepsDecideIt) {
    start("bw");
    command(0x24, {0x0F});
    command(0x22, {0x04});  // display alone, never powered on
    command(0x20);
    EXPECT_THAT(diagnostics(), HasSubstr("a display while powered off (ignored"));
    EXPECT_TRUE(board.frames().empty());
    command(0x22, {0xC0});  // power on, and stay on
    command(0x20);
    wait_idle();
    command(0x22, {0x0C});  // a mode-2 display on the power left on
    command(0x20);
    wait_idle();
    EXPECT_EQ(board.frames().size(), 1U);
}

// The ghost: a partial refresh drives only the pixels whose new and previous images differ.
class SsdGhosts : public SsdTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SsdGhosts, AStalePreviousImageLeavesAGhostAndTheDiagnosticSaysWhere) {
    const bool keep_previous = GetParam();
    start("bw");
    const auto draw = [&](std::uint8_t value, bool previous_too) {
        command(0x4E, {0});
        command(0x4F, {0, 0});
        command(0x24, std::vector<std::uint8_t>(8, value));
        if (previous_too) {
            command(0x4E, {0});
            command(0x4F, {0, 0});
            command(0x26, std::vector<std::uint8_t>(8, value));
        }
    };
    draw(0x00, true);  // all black, in both RAMs
    command(0x22, {0xF7});
    refresh();  // full
    EXPECT_EQ(row(0), "################");
    draw(0xFF, false);  // all white: the partial refresh drives every pixel that differs from 0x26
    command(0x22, {0xFF});
    refresh();
    EXPECT_EQ(row(0), "................");
    if (keep_previous) {
        draw(0xFF, true);  // 0x26 now holds what the glass shows
    }
    draw(0x0F, false);  // left halves black
    refresh();
    if (keep_previous) {
        EXPECT_EQ(row(0), "####....####....");
        EXPECT_THAT(diagnostics(), Not(HasSubstr("kept their old state")));
    } else {  // 0x26 still says black there: those pixels are not driven and stay white
        EXPECT_EQ(row(0), "................");
        EXPECT_THAT(diagnostics(),
                    HasSubstr("32 pixels kept their old state in (0,0)-(11,3): RAM 0x26 does "
                              "not hold the image on the panel"));
    }
}

INSTANTIATE_TEST_SUITE_P(Board, SsdGhosts, ::testing::Bool(), [](const auto &info) {
    return info.param ? "previous_image_kept" : "previous_image_forgotten";
});

// Ping-pong (display option 0x37, bit 6 of its sixth byte): RAM 0x26 takes each mode-2 image.
TEST_F(SsdTest, PingPongKeepsThePreviousImageInStep) {
    start("bw");
    command(0x37, {0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00});
    command(0x24, std::vector<std::uint8_t>(8, 0x00));
    command(0x26, std::vector<std::uint8_t>(8, 0x00));
    refresh();  // full (the steps at reset): the glass and RAM 0x26 agree
    command(0x22, {0xFF});
    for (const std::uint8_t value : {0xF0, 0x0F}) {
        command(0x4E, {0});
        command(0x4F, {0, 0});
        command(0x24, std::vector<std::uint8_t>(8, value));
        refresh();
    }
    EXPECT_EQ(row(0), "####....####....");
    EXPECT_THAT(diagnostics(), Not(HasSubstr("kept their old state")));
}

TEST_F(SsdTest, ThePanelsLimitsAreNotedWithTheirCommandAndTime) {
    attach("ssd16xx", {{"width", std::int64_t{16}},
                       {"height", std::int64_t{4}},
                       {"colours", std::string("bw")},
                       {"max_partials", std::int64_t{2}},
                       {"min_refresh_interval", std::string("2s")}});
    pinMode(kBusy, INPUT);
    command(0x24, {0x00});
    command(0x22, {0xFF});
    refresh();
    refresh();
    EXPECT_THAT(diagnostics(), HasSubstr("after the previous one began, where the panel needs "
                                         "2000.000ms (min_refresh_interval)"));
    board.clear_diagnostics();
    refresh();
    EXPECT_THAT(diagnostics(), HasSubstr("master activation 0x20 at"));
    EXPECT_THAT(diagnostics(), HasSubstr("partial refresh 3 in a row, where the panel needs a "
                                         "full refresh after 2 (max_partials)"));
}

// A 16x2 uc81xx panel; busy is low while the panel works.
class UcTest : public DisplayTest {
  protected:
    void start(const char *colours) {
        attach("uc81xx", {{"width", std::int64_t{16}},
                          {"height", std::int64_t{2}},
                          {"colours", std::string(colours)},
                          {"power_time", std::string("1ms")}});
        pinMode(kBusy, INPUT);
    }
    void wait_idle() {
        for (int i = 0; i < 5000 && digitalRead(kBusy) == LOW; ++i) {
            delay(1);
        }
        ASSERT_EQ(digitalRead(kBusy), HIGH);
    }
};

TEST_F(UcTest, PowerDataAndRefreshMakeAFrameAndThePanelSettingChoosesTheColours) {
    start("bwr");
    command(0x12);
    EXPECT_THAT(diagnostics(), HasSubstr("while powered off"));
    command(0x04);
    EXPECT_EQ(digitalRead(kBusy), LOW);
    wait_idle();
    command(0x10, {0xF0, 0x0F, 0xFF, 0xFF});
    command(0x13, {0x03, 0x00, 0x00, 0x00});
    command(0x12);
    wait_idle();
    ASSERT_EQ(board.frames().size(), 1U);
    const vboard::Image frame = last_frame();
    EXPECT_EQ(frame.pixel(0, 0), kWhite);
    EXPECT_EQ(frame.pixel(4, 0), kBlack);
    EXPECT_EQ(frame.pixel(7, 0), kRed);
    command(0x00, {0x1F});  // KW/R set: black and white, 0x13 the new image
    command(0x13, {0x00, 0xFF, 0xFF, 0xFF});
    command(0x12);
    wait_idle();
    EXPECT_EQ(last_frame().pixel(7, 0), kBlack);
    EXPECT_EQ(last_frame().pixel(8, 0), kWhite);
    command(0x61, {0x00, 0x08, 0x00, 0x02});
    EXPECT_THAT(diagnostics(), HasSubstr("resolution 0x61 at"));
    command(0x13, std::vector<std::uint8_t>(5, 0));
    EXPECT_THAT(diagnostics(), HasSubstr("RAM written outside the window"));
    command(0x07, {0x00});
    EXPECT_THAT(diagnostics(), HasSubstr("not 0xa5"));
    command(0x07, {0xA5});
    command(0x04);
    EXPECT_THAT(diagnostics(), HasSubstr("command 0x04 (power on) at"));
}

// A command's handler runs when its last parameter comes, or, for a shorter form the controllers
// take, at the next command; a command cut shorter than that sets nothing.
TEST_F(UcTest, AResolutionTakesEffectAtItsLastByteOrAtTheNextCommand) {
    start("bw");
    board.clear_diagnostics();
    command(0x61, {0x08, 0x00, 0x02});  // the smaller controllers' three bytes: 8x2
    EXPECT_THAT(diagnostics(), ::testing::Not(HasSubstr("resolution")));  // a fourth may come
    command(0x04);
    EXPECT_THAT(diagnostics(), HasSubstr("sets 8x2 on a panel of 16x2"));
    wait_idle();
    board.clear_diagnostics();
    command(0x61, {0x00, 0x10, 0x00, 0x03});  // four bytes: at the last one
    EXPECT_THAT(diagnostics(), HasSubstr("sets 16x3 on a panel of 16x2"));
    board.clear_diagnostics();
    command(0x61, {0x00, 0x08});  // cut short
    command(0x00, {0x1F});
    EXPECT_THAT(diagnostics(), ::testing::Not(HasSubstr("resolution")));
}

// The partial window: data and refresh apply to it in partial mode.
class UcPartialWindow : public UcTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UcPartialWindow, InPartialModeDataAndRefreshApplyToTheWindow) {
    const bool wide = GetParam();
    start("bw");
    if (wide) {
        command(0x61, {0x00, 0x10, 0x00, 0x02});
    }
    command(0x04);
    wait_idle();
    command(0x10, {0x00, 0x00, 0x00, 0x00});  // old: black
    command(0x13, {0x00, 0x00, 0x00, 0x00});  // new: black
    command(0x12);
    wait_idle();
    // The window: x 8-15, y 1 only.
    command(0x90,
            wide ? std::vector<std::uint8_t>{0x00, 0x08, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x01, 0x01}
                 : std::vector<std::uint8_t>{0x08, 0x0F, 0x00, 0x01, 0x00, 0x01, 0x01});
    command(0x91);
    command(0x10, {0x00});  // the previous image within the window: black, as the glass
    command(0x13, {0xF0});  // new: its left half white
    command(0x12);
    wait_idle();
    command(0x92);
    const vboard::Image frame = last_frame();
    EXPECT_EQ(frame.pixel(8, 1), kWhite);
    EXPECT_EQ(frame.pixel(12, 1), kBlack);
    EXPECT_EQ(frame.pixel(0, 1), kBlack);  // outside the window: as it was
    EXPECT_EQ(frame.pixel(8, 0), kBlack);  // the row above too
    EXPECT_EQ(diagnostics(), "");
}

// One-byte horizontal fields on this 16-pixel panel until a four-byte resolution says otherwise.
INSTANTIATE_TEST_SUITE_P(Board, UcPartialWindow, ::testing::Bool(), [](const auto &info) {
    return info.param ? "two_byte_fields" : "one_byte_fields";
});

TEST_F(SsdTest, AThousandRefreshesRunInTheMemoryOfOne) {
    board.set_frames_kept(1);
    board.set_log_capacity(0);
    start();
    const auto draw = [&](int i) {
        command(0x4E, {0});
        command(0x4F, {0, 0});
        command(0x24, std::vector<std::uint8_t>(8, static_cast<std::uint8_t>(i)));
        refresh();
    };
    draw(0);
    draw(1);
    const std::size_t after_two = mallinfo2().uordblks;
    for (int i = 2; i < 1000; ++i) {
        draw(i);
    }
    EXPECT_EQ(board.frames().size(), 1U);
    EXPECT_EQ(board.frames().back().index, 1000U);
    EXPECT_LT(mallinfo2().uordblks, after_two + 4096);
}

}  // namespace
