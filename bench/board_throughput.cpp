// The virtual board's throughput in simulated line operations per second: with the call log off,
// with it on, and with a VCD file streaming (to /dev/null, so the disk does not count).

#include <benchmark/benchmark.h>
#include <wiringPi.h>

#include <memory>

#include "DEV_Config.h"
#include "vboard/board.hpp"
#include "vboard/trace.hpp"

namespace {

enum Setting { kLogOff, kLogOn, kVcd };

void configure(vboard::Board &board, Setting setting) {
    board.set_log_capacity(setting == kLogOff ? 0 : 100'000);
    if (setting == kVcd) {
        board.set_log_capacity(0);
        board.add_observer(std::make_shared<vboard::VcdWriter>("/dev/null", vboard::all_lines()));
    }
}

// Raw digitalWrite calls that toggle a line: one level change each.
void BM_DigitalWrite(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    configure(board, static_cast<Setting>(state.range(0)));
    wiringPiSetupGpio();
    pinMode(5, OUTPUT);
    int level = 0;
    for (auto _ : state) {
        digitalWrite(5, level);
        level ^= 1;
    }
    state.SetItemsProcessed(state.iterations());
}

// Bytes sent over the three-wire link through the layer: 26 line operations each.
void BM_LinkSend(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    configure(board, static_cast<Setting>(state.range(0)));
    board.attach_link_device();
    wiringPiSetupGpio();  // rather than DEV_ModuleInit, whose report line would mix with the table
    pinMode(DEV_SCLK_PIN, OUTPUT);
    uint8_t byte = 0;
    for (auto _ : state) {
        DEV_SPI_SendData(byte++);
    }
    state.SetItemsProcessed(state.iterations() * 26);
}

void settings(benchmark::internal::Benchmark *bench) {
    bench->ArgName("0=log off,1=log on,2=vcd")->Arg(kLogOff)->Arg(kLogOn)->Arg(kVcd);
}

BENCHMARK(BM_DigitalWrite)->Apply(settings);
BENCHMARK(BM_LinkSend)->Apply(settings);

}  // namespace

BENCHMARK_MAIN();
