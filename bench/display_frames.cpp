// SPDX-License-Identifier: MIT
// What a display costs on the bench: a full 240x320 RGB565 frame through the tft model over SPI0
// (in 4096-byte transfers, as spidev takes them), and a full refresh of a 200x200
// black/white/red ssd16xx panel over the link (both planes, then the refresh and its wait), each
// with its frame shown. Real time per frame; the counters give the simulated time per frame.

#include <benchmark/benchmark.h>
#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <vector>

#include "DEV_Config.h"
#include "vboard/board.hpp"
#include "vboard/device.hpp"

namespace {

constexpr int kDc = DEV_OUT_A_PIN;
constexpr int kReset = DEV_OUT_B_PIN;
constexpr int kBusy = DEV_IN_PIN;

vboard::DeviceConfig panel(const char *model, vboard::Bus bus) {
    vboard::DeviceConfig config;
    config.model = model;
    config.name = "panel";
    config.bus = bus;
    config.lines = {{"dc", kDc}, {"reset", kReset}};
    if (bus == vboard::Bus::Link) {
        config.select = DEV_CS_M_PIN;
        config.lines.emplace_back("busy", kBusy);
        config.params = {{"colours", std::string("bwr")}};
    }
    return config;
}

void spi(std::vector<unsigned char> bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += 4096) {
        const int n = static_cast<int>(std::min<std::size_t>(4096, bytes.size() - at));
        wiringPiSPIDataRW(0, bytes.data() + at, n);
    }
}

void tft_full_frame(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    board.set_real_sleep(false);
    board.set_log_capacity(0);
    board.attach_device(panel("tft", vboard::Bus::Spi0));
    wiringPiSetupGpio();
    pinMode(kDc, OUTPUT);
    for (const int pin : {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiMiso, vboard::kSpiCe0}) {
        pinModeAlt(pin, 4);
    }
    wiringPiSPISetup(0, 32'000'000);
    const auto command = [](unsigned char code, std::vector<unsigned char> data) {
        digitalWrite(kDc, LOW);
        spi({code});
        digitalWrite(kDc, HIGH);
        spi(std::move(data));
    };
    delay(130);
    command(0x11, {});
    delay(10);
    command(0x3A, {0x55});
    command(0x29, {});
    const std::vector<unsigned char> pixels(240 * 320 * 2, 0xA5);
    const std::uint64_t start = board.now_ns();
    for (auto _ : state) {
        command(0x2A, {0, 0, 0, 239});
        command(0x2B, {0, 0, 0x01, 0x3F});
        command(0x2C, pixels);
        command(0x29, {});  // shows the frame
    }
    state.counters["simulated_ms_per_frame"] =
        static_cast<double>(board.now_ns() - start) / 1e6 / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pixels.size()));
}

void ssd16xx_full_refresh(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    board.set_real_sleep(false);
    board.set_log_capacity(0);
    board.attach_device(panel("ssd16xx", vboard::Bus::Link));
    DEV_ModuleInit();
    DEV_Digital_Write(kReset, 1);  // out of reset
    DEV_Delay_ms(10);
    const auto send = [](std::uint8_t code, std::vector<std::uint8_t> data) {
        DEV_Digital_Write(DEV_CS_M_PIN, 0);
        DEV_Digital_Write(kDc, 0);
        DEV_SPI_SendData(code);
        DEV_Digital_Write(kDc, 1);
        if (!data.empty()) {
            DEV_SPI_SendData_nByte(data.data(), static_cast<std::uint32_t>(data.size()));
        }
        DEV_Digital_Write(DEV_CS_M_PIN, 1);
    };
    const std::vector<std::uint8_t> plane(25 * 200, 0x5A);
    const std::uint64_t start = board.now_ns();
    for (auto _ : state) {
        send(0x4E, {0});
        send(0x4F, {0, 0});
        send(0x24, plane);
        send(0x4E, {0});
        send(0x4F, {0, 0});
        send(0x26, plane);
        send(0x20, {});
        while (DEV_Digital_Read(kBusy) == 1) {
            DEV_Delay_ms(10);
        }
    }
    state.counters["simulated_ms_per_frame"] =
        static_cast<double>(board.now_ns() - start) / 1e6 / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(tft_full_frame)->Unit(benchmark::kMillisecond);
BENCHMARK(ssd16xx_full_refresh)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
