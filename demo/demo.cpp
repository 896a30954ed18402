// SPDX-License-Identifier: MIT
// A tour of the hardware-access layer on the virtual board: open, the pin map, the bit-banged link
// in both directions, hardware SPI done wrongly and then rightly, and close.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "DEV_Config.h"
#include "pin_map.hpp"
#include "vboard/board.hpp"

namespace {

constexpr int kSpiSpeedHz = 1000000;
constexpr int kAlt0 = 4;

std::string hex(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return "(nothing)";
    }
    std::string text;
    for (const uint8_t byte : bytes) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%02x ", byte);
        text += cell;
    }
    text.pop_back();
    return text;
}

void heading(int step, const char *title) { std::printf("\n%d. %s\n", step, title); }

void row(const char *label, const std::string &value) {
    std::printf("   %-30s %s\n", label, value.c_str());
}

void print_pin_map(const vboard::Board &board) {
    std::printf("   %-14s %4s  %-8s %-5s %s\n", "constant", "BCM", "function", "pull", "level");
    for (const PinMapEntry &entry : kPinMap) {
        const vboard::LineState line = board.line(entry.pin);
        std::printf("   %-14s %4u  %-8s %-5s %s\n", entry.name, entry.pin,
                    vboard::to_string(line.function), vboard::to_string(line.pull),
                    line.level ? "high" : "low");
    }
}

void show_diagnostics(vboard::Board &board) {
    for (const std::string &note : board.diagnostics()) {
        std::printf("   diagnostic: %s\n", note.c_str());
    }
    board.clear_diagnostics();
}

}  // namespace

int main() {
    vboard::Board &board = vboard::current_board();
    std::vector<std::vector<uint8_t>> seen_on_ce0;
    board.attach_spi_device(0, [&seen_on_ce0](std::span<const uint8_t> sent) {
        seen_on_ce0.emplace_back(sent.begin(), sent.end());
        std::vector<uint8_t> answer;
        for (const uint8_t byte : sent) {
            answer.push_back(static_cast<uint8_t>(byte ^ 0xFF));
        }
        return answer;
    });
    board.attach_link_device();

    std::puts("The hardware-access layer on the virtual board");
    std::puts("==============================================");

    heading(1, "Open: DEV_ModuleInit starts wiringPi and prints its report line");
    std::fflush(stdout);
    const uint8_t status = DEV_ModuleInit();
    std::fflush(stdout);
    row("DEV_ModuleInit returned",
        std::to_string(status) + (status == 0 ? " (success)" : " (failure)"));
    if (status != 0) {
        return 1;
    }
    std::puts("   The pin map after open:");
    print_pin_map(board);

    heading(2, "Send over the three-wire link (clock BCM 11, data BCM 10, MSB first)");
    uint8_t command[] = {0xA5, 0x3C, 0x00, 0xFF};
    DEV_SPI_SendData_nByte(command, sizeof command);
    row("DEV_SPI_SendData_nByte sent", hex(command));
    row("the link device received", hex(board.link_bytes_received()));

    heading(3, "Receive over the link (the device answers on BCM 10)");
    const uint8_t reply[] = {0x5A};
    board.queue_link_reply(reply);
    row("queued on the link device", hex(reply));
    const uint8_t received = DEV_SPI_ReadData();
    row("DEV_SPI_ReadData returned", hex(std::span(&received, 1)));
    const uint8_t idle = DEV_SPI_ReadData();
    row("again, nothing queued", hex(std::span(&idle, 1)) + " (the pull-up)");

    heading(4, "Hardware SPI the wrong way: channel open, lines still GPIO after open");
    wiringPiSPISetup(0, kSpiSpeedHz);
    uint8_t wrong[] = {0xDE, 0xAD};
    DEV_SPI_Write_nByte_M(wrong, sizeof wrong);
    row("the device on CE0 saw", seen_on_ce0.empty() ? "(nothing)" : hex(seen_on_ce0.back()));
    row("the buffer now holds", hex(wrong) + " (idle MISO)");
    show_diagnostics(board);

    heading(5, "Hardware SPI the right way: BCM 11, 10, 8, 7 back to ALT0 first");
    for (const int pin : {DEV_SCLK_PIN, DEV_MOSI_PIN, DEV_CS_M_PIN, DEV_CS_S_PIN}) {
        pinModeAlt(pin, kAlt0);
    }
    row("pinModeAlt(11, 10, 8, 7 -> ALT0)", "done");
    uint8_t right[] = {0xDE, 0xAD, 0xBE, 0xEF};
    row("DEV_SPI_Write_nByte_M sends", hex(right));
    DEV_SPI_Write_nByte_M(right, sizeof right);
    row("the device on CE0 saw", seen_on_ce0.empty() ? "(nothing)" : hex(seen_on_ce0.back()));
    row("the buffer now holds", hex(right) + " (the device's answer)");
    show_diagnostics(board);

    heading(6, "Close: DEV_ModuleExit drives BCM 8, 7, 25, 17 and 18 low");
    DEV_ModuleExit();
    print_pin_map(board);
    std::puts(
        "   BCM 8 and 7 stay high: since step 5 they are in ALT0, so the SPI controller drives");
    std::puts("   them and the low levels written at close only reach their output latches.");

    std::printf("\n%zu wiringPi calls in all; the eight samples that received 0x5a:\n",
                board.call_count());
    int shown = 0;
    for (const vboard::CallRecord &rec : board.calls()) {
        if (rec.call == vboard::Call::DigitalRead && shown < 8) {
            std::printf("   %s\n", rec.to_string().c_str());
            ++shown;
        }
    }
    return 0;
}
