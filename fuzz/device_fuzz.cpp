// SPDX-License-Identifier: MIT
// Fuzzes devices through the device interface: the board's own models and the example sensor
// plug-in, on the link and on SPI0, driven by random byte streams, select pulses, line changes and
// waits that let their timers fire. The models must neither crash nor read or write out of bounds,
// and their handles must stay consistent with what reached them.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DEV_Config.h"
#include "vboard/board.hpp"
#include "vboard/device.hpp"

namespace {

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

constexpr int kSelects[] = {22, 23, 27, DEV_CS_M_PIN};

vboard::DeviceConfig config(const char *model, const char *name, vboard::Bus bus, int select) {
    vboard::DeviceConfig s;
    s.model = model;
    s.name = name;
    s.bus = bus;
    s.select = select;
    return s;
}

void attach_devices(vboard::Board &board) {
    vboard::DeviceConfig replies = config("replies", "replies", vboard::Bus::Link, kSelects[0]);
    replies.params = {{"replies", std::vector<std::uint8_t>{0x5A, 0xC3}}};
    board.attach_device(replies);
    board.attach_device(config("echo", "echo", vboard::Bus::Link, kSelects[1]));
    vboard::DeviceConfig registers =
        config("registers", "registers", vboard::Bus::Link, kSelects[2]);
    registers.params = {{"read_bit", std::int64_t{0x01}}};
    board.attach_device(registers);
    board.attach_device(config("echo", "spi-echo", vboard::Bus::Spi0, -1));
    board.attach_device(config("registers", "spi-registers", vboard::Bus::Spi1, -1));
    vboard::DeviceConfig sensor = config("plugin", "sensor", vboard::Bus::Link, kSelects[3]);
    sensor.path = SENSOR_MODEL;
    sensor.lines = {{"ready", DEV_IN_PIN}};
    sensor.params = {{"conversion", std::string("50us")}};
    board.attach_device(sensor);
}

void run(vboard::Board &board, const std::uint8_t *data, std::size_t size) {
    std::size_t received_before = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const std::uint8_t op = data[i];
        const std::uint8_t arg = data[i + 1];
        switch (op % 8) {
            case 0: DEV_Digital_Write(kSelects[arg % 4], arg & 0x80 ? 1 : 0); break;
            case 1: DEV_SPI_SendData(arg); break;
            case 2: DEV_SPI_ReadData(); break;
            case 3: {
                std::vector<unsigned char> buffer(arg % 9, arg);
                wiringPiSPIDataRW(arg & 1, buffer.data(), static_cast<int>(buffer.size()));
                break;
            }
            case 4: delayMicroseconds(arg); break;
            case 5:
                if (arg & 1) {
                    board.drive(DEV_IN_PIN, arg & 2);
                } else {
                    board.release(DEV_IN_PIN);
                }
                break;
            case 6:
                board.device("registers").registers().set(arg, static_cast<std::uint8_t>(~arg));
                break;
            default: board.device("replies").replies().queue(std::vector<std::uint8_t>{arg}); break;
        }
        const std::size_t received = board.device("replies").replies().received().size();
        require(received >= received_before, "a device forgot a byte it received");
        received_before = received;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    board.set_real_sleep(false);
    board.set_log_capacity(64);
    attach_devices(board);
    wiringPiSetupGpio();
    for (const int pin : {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiCe0, vboard::kSpiCe1}) {
        pinMode(pin, OUTPUT);
    }
    for (const int pin : kSelects) {
        pinMode(pin, OUTPUT);
    }
    const bool hardware = size > 0 && (data[0] & 1) != 0;
    if (hardware) {  // SPI0 in ALT0 for the hardware transfers, else the link's plain outputs
        for (const int pin : {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiMiso, vboard::kSpiCe0,
                              vboard::kSpiCe1}) {
            pinModeAlt(pin, 4);
        }
        wiringPiSPISetup(0, 1'000'000);
        wiringPiSPISetup(1, 8'000'000);
    }
    run(board, data, size);
    board.reset();  // destroys every device; a second run on a fresh one
    return 0;
}
