// SPDX-License-Identifier: MIT
// A fresh virtual board per test, made current for the test's duration, and helpers to read what
// the layer did to it.
#ifndef TESTS_BOARD_FIXTURE_HPP
#define TESTS_BOARD_FIXTURE_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include "DEV_Config.h"
#include "vboard/board.hpp"
#include "vboard/transaction_writer.hpp"

class BoardTest : public ::testing::Test {
  protected:
    vboard::Board board;
    vboard::ScopedBoard scope{board};

    // The call log as text, one entry per wiringPi call.
    std::vector<std::string> calls() const {
        std::vector<std::string> text;
        for (const vboard::CallRecord &rec : board.calls()) {
            text.push_back(rec.to_string());
        }
        return text;
    }

    // Opens the layer, swallowing its report line, and starts the log afresh.
    void open_layer() {
        ::testing::internal::CaptureStdout();
        const uint8_t status = DEV_ModuleInit();
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(status, 0);
        board.clear_calls();
    }

    // Hands SPI0's four lines back to the controller, as a caller of the hardware SPI writes must
    // after opening the layer.
    static void return_spi_lines_to_alt0() {
        for (const int pin :
             {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiCe0, vboard::kSpiCe1}) {
            pinModeAlt(pin, 4);
        }
    }
};

// The wiringPi calls that sending `value` over the link makes: the data line to output, then for
// each bit (most significant first) clock low, data, clock high, and a closing clock low.
inline std::vector<std::string> expected_send_calls(uint8_t value) {
    std::vector<std::string> seq{"pinMode(10, 1)"};
    for (int bit = 7; bit >= 0; --bit) {
        seq.emplace_back("digitalWrite(11, 0)");
        seq.push_back("digitalWrite(10, " + std::to_string((value >> bit) & 1) + ")");
        seq.emplace_back("digitalWrite(11, 1)");
    }
    seq.emplace_back("digitalWrite(11, 0)");
    return seq;
}

// The wiringPi calls that receiving `value` over the link makes: the data line to input with its
// pull-up, then for each bit clock low, sample, clock high, and a closing clock low.
inline std::vector<std::string> expected_receive_calls(uint8_t value) {
    std::vector<std::string> seq{"pinMode(10, 0)", "pullUpDnControl(10, 2)"};
    for (int bit = 7; bit >= 0; --bit) {
        seq.emplace_back("digitalWrite(11, 0)");
        seq.push_back("digitalRead(10) = " + std::to_string((value >> bit) & 1));
        seq.emplace_back("digitalWrite(11, 1)");
    }
    seq.emplace_back("digitalWrite(11, 0)");
    return seq;
}

// The table line of each transaction `seen` has kept, bytes only (from the bus column on).
inline std::vector<std::string> transaction_lines(const vboard::TransactionRecorder &seen) {
    std::vector<std::string> out;
    for (const vboard::Transaction &t : seen.transactions) {
        std::istringstream line(vboard::format_transaction(t, seen.framing));
        std::string index, start, end, rest;
        line >> index >> start >> end >> std::ws;
        std::getline(line, rest);
        out.push_back(rest);
    }
    return out;
}

#endif  // TESTS_BOARD_FIXTURE_HPP
