// SPDX-License-Identifier: MIT
// A C++ caller of the installed layer and virtual board: checks through the board's control
// interface what the layer did to the lines.
#include <DEV_Config.h>

#include <cstdio>
#include <vector>

#include <vboard/board.hpp>

int main() {
    vboard::Board board;
    vboard::ScopedBoard use(board);
    board.attach_link_device();
    if (DEV_ModuleInit() != 0) {
        std::fputs("consumer_cpp: DEV_ModuleInit failed\n", stderr);
        return 1;
    }
    DEV_SPI_SendData(0x3C);
    const std::vector<uint8_t> received = board.link_bytes_received();
    if (!board.level(DEV_EN_PIN) || received != std::vector<uint8_t>{0x3C}) {
        std::fputs("consumer_cpp: the board did not see what the layer did\n", stderr);
        return 1;
    }
    std::printf("consumer_cpp: ok, %zu wiringPi calls\n", board.call_count());
    return 0;
}
