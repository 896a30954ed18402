// SPDX-License-Identifier: MIT
// The virtual board's throughput in simulated line operations per second: with the call log off,
// with it on, and with a VCD file streaming (to /dev/null, so the disk does not count).

#include <benchmark/benchmark.h>
#include <wiringPi.h>

#include <memory>
#include <optional>
#include <vector>

#include "DEV_Config.h"
#include "vboard/board.hpp"
#include "vboard/trace.hpp"
#include "vboard/transaction_writer.hpp"

namespace {

enum Setting { kLogOff, kLogOn, kVcd };

void configure(vboard::Board &board, Setting setting) {
    board.set_log_capacity(setting == kLogOff ? 0 : 100'000);
    if (setting == kVcd) {
        board.set_log_capacity(0);
        board.add_observer(std::make_shared<vboard::VcdWriter>("/dev/null", vboard::all_lines()));
    }
}

// Raw digitalWrite calls that toggle a line on the current board: one level change each.
void toggle_a_line(benchmark::State &state) {
    wiringPiSetupGpio();
    pinMode(5, OUTPUT);
    int level = 0;
    for (auto _ : state) {
        digitalWrite(5, level);
        level ^= 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DigitalWrite(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    configure(board, static_cast<Setting>(state.range(0)));
    toggle_a_line(state);
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

// A dozen rules that never fire: edges of a line nothing touches, a link byte never sent, a
// moment an hour away.
void add_idle_rules(vboard::Board &board) {
    const vboard::Action action{23, vboard::Drive::Low, 0, std::nullopt, vboard::Drive::Release};
    for (int i = 0; i < 4; ++i) {
        board.add_rule({"edge", vboard::Trigger::edge(24), action});
        board.add_rule({"byte", vboard::Trigger::link_byte(0xEE), action});
        board.add_rule({"later", vboard::Trigger::at(3'600'000'000'000ULL), action});
    }
}

// A board as `vboard run --vcd --no-sleep` sets it up: waits only move the clock, no call log in
// memory, the link's device attached and the pin map streaming to a VCD file.
void stream_like_the_runner(vboard::Board &board) {
    board.set_real_sleep(false);
    board.set_log_capacity(0);
    board.attach_link_device();
    board.add_observer(std::make_shared<vboard::VcdWriter>("/dev/null"));
}

void count_simulated_time(benchmark::State &state, const vboard::Board &board,
                          std::uint64_t start_ns) {
    const double simulated_s = static_cast<double>(board.now_ns() - start_ns) / 1e9;
    state.counters["simulated_s_per_s"] =
        benchmark::Counter(simulated_s, benchmark::Counter::kIsRate);
}

// A long link transfer as `vboard run --vcd` runs it, with a dozen idle rules (argument 12).
// Reports how much simulated time the board gets through per second of real time.
void BM_LinkTransferSimulatedPerReal(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    stream_like_the_runner(board);
    if (state.range(0) != 0) {
        add_idle_rules(board);
    }
    wiringPiSetupGpio();
    pinMode(DEV_SCLK_PIN, OUTPUT);
    std::vector<uint8_t> block(4096, 0x5A);
    const std::uint64_t start_ns = board.now_ns();
    for (auto _ : state) {
        DEV_SPI_SendData_nByte(block.data(), static_cast<uint32_t>(block.size()));
    }
    count_simulated_time(state, board, start_ns);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(block.size()));
}

// Framed 16-byte commands over the link with a VCD streaming, as `vboard run --vcd` runs them,
// and with the transactions streaming too and two timing checks on the wires (argument 1), as
// `vboard run --transactions` with a board file's checks runs them.
void BM_FramedCommandsSimulatedPerReal(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    stream_like_the_runner(board);
    if (state.range(0) != 0) {
        board.add_observer(std::make_shared<vboard::TransactionWriter>(
            "/dev/null", vboard::TransactionWriter::Format::Text));
        vboard::TimingCheck rate;
        rate.kind = vboard::TimingCheckKind::ClockRate;
        rate.limit = 20'000'000;
        board.add_timing_check(rate);
        vboard::TimingCheck setup;
        setup.kind = vboard::TimingCheckKind::SelectToClock;
        setup.pin = DEV_CS_M_PIN;
        setup.limit = 50;
        board.add_timing_check(setup);
    }
    wiringPiSetupGpio();
    pinMode(DEV_SCLK_PIN, OUTPUT);
    pinMode(DEV_CS_M_PIN, OUTPUT);
    std::vector<uint8_t> command(16, 0x5A);
    const std::uint64_t start_ns = board.now_ns();
    for (auto _ : state) {
        DEV_Digital_Write(DEV_CS_M_PIN, 0);
        DEV_SPI_SendData_nByte(command.data(), static_cast<uint32_t>(command.size()));
        DEV_Digital_Write(DEV_CS_M_PIN, 1);
    }
    count_simulated_time(state, board, start_ns);
    state.SetItemsProcessed(state.iterations());
}

// One digitalWrite toggling a line with no rule and with a dozen idle rules on the board.
void BM_DigitalWriteIdleRules(benchmark::State &state) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    board.set_log_capacity(0);
    if (state.range(0) != 0) {
        add_idle_rules(board);
    }
    toggle_a_line(state);
}

void settings(benchmark::internal::Benchmark *bench) {
    bench->ArgName("0=log off,1=log on,2=vcd")->Arg(kLogOff)->Arg(kLogOn)->Arg(kVcd);
}

BENCHMARK(BM_DigitalWrite)->Apply(settings);
BENCHMARK(BM_LinkSend)->Apply(settings);
BENCHMARK(BM_LinkTransferSimulatedPerReal)->ArgName("idle_rules")->Arg(0)->Arg(12);
BENCHMARK(BM_DigitalWriteIdleRules)->ArgName("idle_rules")->Arg(0)->Arg(12);
BENCHMARK(BM_FramedCommandsSimulatedPerReal)->ArgName("transactions")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
