// SPDX-License-Identifier: MIT
// Fuzzes the board-file reader: any text is either refused with a BoardFileError (and nothing
// else) or accepted, and an accepted file applies to a fresh board without throwing and survives
// a short session of the layer with its rules running.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "DEV_Config.h"
#include "vboard/board.hpp"
#include "vboard/board_file.hpp"

namespace {

void run_session() {
    wiringPiSetupGpio();
    pinMode(DEV_SCLK_PIN, OUTPUT);
    pinMode(DEV_EN_PIN, OUTPUT);
    digitalWrite(DEV_EN_PIN, 1);
    uint8_t bytes[] = {0x12, 0xa5};
    DEV_SPI_SendData_nByte(bytes, sizeof bytes);
    delay(3);
    (void)DEV_SPI_ReadData();
    wiringPiSPISetup(0, 1'000'000);
    unsigned char spi[] = {0x90, 0x00};
    wiringPiSPIDataRW(0, spi, sizeof spi);
    delay(10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    vboard::BoardFile file;
    try {
        file = vboard::BoardFile::parse(text, "fuzz.toml");
    } catch (const vboard::BoardFileError &) {
        return 0;
    }
    vboard::Board board;
    vboard::ScopedBoard use(board);
    try {
        file.apply(board);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "an accepted file failed to apply: %s\n", error.what());
        std::abort();
    }
    board.set_real_sleep(false);
    board.set_fidelity(vboard::Fidelity::Flag);  // a file may ask for exits; the fuzzer may not
    run_session();
    return 0;
}
