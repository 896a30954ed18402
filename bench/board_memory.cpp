// SPDX-License-Identifier: MIT
// Peak memory of the virtual board while N bytes go over the three-wire link through the layer.
//   board_memory BYTES none|log|vcd|transactions|spi-devices|link-device [PATH]
// vcd streams every line to PATH (default /dev/null); transactions frames each byte with the
// select line, so N bytes make N transactions, and streams them as text to PATH; spi-devices
// attaches an echo and a register file to SPI0, which no line change reaches; link-device attaches
// the link's device, which takes every byte.
// Prints the peak resident set size, and that size less the caller's own N-byte buffer.

#include <sys/resource.h>
#include <wiringPi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "DEV_Config.h"
#include "vboard/board.hpp"
#include "vboard/trace.hpp"
#include "vboard/transaction_writer.hpp"

namespace {

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s BYTES none|log|vcd|transactions|spi-devices|link-device [PATH]\n",
                     argv[0]);
        return 2;
    }
    const auto bytes = static_cast<std::size_t>(std::strtoul(argv[1], nullptr, 10));
    const std::string_view mode = argv[2];
    vboard::Board &board = vboard::current_board();
    board.set_log_capacity(mode == "log" ? 100'000 : 0);
    const char *path = argc > 3 ? argv[3] : "/dev/null";
    if (mode == "vcd") {
        board.add_observer(std::make_shared<vboard::VcdWriter>(path, vboard::all_lines()));
    }
    if (mode == "transactions") {
        board.add_observer(std::make_shared<vboard::TransactionWriter>(
            path, vboard::TransactionWriter::Format::Text));
    }
    if (mode == "spi-devices") {  // devices no line change reaches
        for (const auto &[model, bus] :
             {std::pair{"echo", vboard::Bus::Spi0}, std::pair{"registers", vboard::Bus::Spi1}}) {
            vboard::DeviceConfig config;
            config.model = model;
            config.bus = bus;
            board.attach_device(config);
        }
    }
    if (mode == "link-device") {
        board.attach_link_device();
    }
    wiringPiSetupGpio();
    pinMode(DEV_SCLK_PIN, OUTPUT);
    pinMode(DEV_CS_M_PIN, OUTPUT);

    std::vector<uint8_t> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    if (mode == "transactions") {
        for (const uint8_t byte : data) {
            DEV_Digital_Write(DEV_CS_M_PIN, 0);
            DEV_SPI_SendData(byte);
            DEV_Digital_Write(DEV_CS_M_PIN, 1);
        }
    } else {
        DEV_SPI_SendData_nByte(data.data(), static_cast<uint32_t>(bytes));
    }
    const long peak = peak_rss_kib();
    std::printf("%zu bytes, %s: peak RSS %ld KiB, less the buffer %ld KiB, board clock %.3f s\n",
                bytes, argv[2], peak, peak - static_cast<long>(bytes / 1024),
                static_cast<double>(board.now_ns()) / 1e9);
    return 0;
}
