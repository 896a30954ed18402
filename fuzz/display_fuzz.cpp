// SPDX-License-Identifier: MIT
// Fuzzes the display models with random command and data streams on SPI0 (the e-paper steps,
// partial windows and refreshes among them): each input picks a model, its glass or its limits,
// and small RAM sizes, then bytes with the data/command line at random levels, reset
// pulses and waits that let busy stretches, snapshots and refreshes end. The models must neither
// crash nor read or write out of bounds, and every frame must have the panel's size.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/device.hpp"

namespace {

constexpr int kDc = 25;
constexpr int kReset = 17;
constexpr int kBusy = 24;
constexpr const char *kModels[] = {"tft", "ssd16xx", "uc81xx"};

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

vboard::DeviceConfig panel(std::uint8_t pick, std::uint8_t size) {
    vboard::DeviceConfig config;
    config.model = kModels[pick % 3];
    config.name = "panel";
    config.bus = vboard::Bus::Spi0;
    config.lines = {{"dc", kDc}, {"reset", kReset}, {"busy", kBusy}};
    const std::int64_t width = 8 + size % 24, height = 1 + size / 24;
    if (config.model == "tft") {
        config.lines.pop_back();
        config.params = {{"ram_width", width},
                         {"ram_height", height + 2},
                         {"width", width - 1},
                         {"x_offset", std::int64_t{1}},
                         {"snapshot", std::vector<std::string>{"1ms", "3ms"}},
                         {"glass_order", std::string(pick & 8 ? "bgr" : "rgb")},
                         {"glass_inverted", (pick & 16) != 0},
                         {"glass_mirror_x", (pick & 32) != 0},
                         {"glass_mirror_y", (pick & 64) != 0}};
    } else {
        config.params = {{"width", width},
                         {"height", height},
                         {"colours", std::string(pick & 8 ? "bwr" : "bw")},
                         {"refresh", std::string("2ms")},
                         {"max_partials", std::int64_t{pick & 16 ? 2 : 0}},
                         {"min_refresh_interval", std::string(pick & 32 ? "3ms" : "0ms")}};
    }
    return config;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    vboard::Board board;
    vboard::ScopedBoard use(board);
    board.set_real_sleep(false);
    board.set_log_capacity(64);
    board.set_frames_kept(4);
    const vboard::DeviceConfig config = panel(data[0], data[1]);
    board.attach_device(config);
    wiringPiSetupGpio();
    pinMode(kDc, OUTPUT);
    pinMode(kReset, OUTPUT);
    digitalWrite(kReset, HIGH);
    for (const int pin : {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiMiso, vboard::kSpiCe0}) {
        pinModeAlt(pin, 4);
    }
    wiringPiSPISetup(0, 8'000'000);
    for (std::size_t i = 2; i + 1 < size; i += 2) {
        const std::uint8_t op = data[i];
        std::uint8_t arg = data[i + 1];
        switch (op % 8) {
            case 0: digitalWrite(kReset, arg & 1); break;
            case 1: delayMicroseconds(static_cast<unsigned>(arg) * 40); break;
            case 2: {  // a run of data bytes, as a frame's pixels come
                std::vector<unsigned char> run(1 + arg % 64, static_cast<unsigned char>(op));
                digitalWrite(kDc, HIGH);
                wiringPiSPIDataRW(0, run.data(), static_cast<int>(run.size()));
                break;
            }
            case 3:
            case 4:  // a command byte
                digitalWrite(kDc, LOW);
                wiringPiSPIDataRW(0, &arg, 1);
                break;
            default:  // one data byte
                digitalWrite(kDc, HIGH);
                wiringPiSPIDataRW(0, &arg, 1);
                break;
        }
    }
    delay(5);
    board.flush_outputs();
    for (const vboard::Frame &frame : board.frames()) {
        require(frame.image != nullptr, "a frame without its image");
        require(
            frame.image->rgb.size() == std::size_t{frame.image->width} * frame.image->height * 3,
            "a frame whose pixels do not fill it");
    }
    board.reset();
    return 0;
}
