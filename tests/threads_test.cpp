// SPDX-License-Identifier: MIT
// Several threads call the layer at once on one virtual board. Their line operations interleave,
// as the layer documents, but the board must stay whole: every call logged exactly once with its
// arguments intact, each thread's own lines as it left them, the link device's bytes exact, and
// the control interface usable throughout. Run under ThreadSanitizer by the tsan preset.

#include <gmock/gmock.h>

#include <atomic>
#include <map>
#include <thread>

#include "board_fixture.hpp"

namespace {

constexpr int kPinThreads = 4;
constexpr int kIterations = 150'000;
constexpr int kLinkBytes = 20'000;
constexpr int kFirstPin = 20;  // thread t owns BCM 20 + t

class ThreadsTest : public BoardTest {
  protected:
    void SetUp() override {
        board.set_log_capacity(4'000'000);
        board.set_real_sleep(false);
        board.attach_link_device();
        open_layer();
    }
};

// Each thread owns one line: it turns it to output, writes a value only it writes (so a torn or
// misfiled entry shows), reads it back and turns it to input with pull-up now and then.
void pin_worker(int thread, std::atomic<int> &wrong_reads) {
    const auto pin = static_cast<uint16_t>(kFirstPin + thread);
    for (int i = 0; i < kIterations; ++i) {
        DEV_GPIO_Mode(pin, 1);
        const auto value = static_cast<uint8_t>(2 + thread * 2 + (i & 1));  // non-zero: high
        DEV_Digital_Write(pin, value);
        if (DEV_Digital_Read(pin) != 1) {
            ++wrong_reads;
        }
        if (i % 100 == 0) {
            DEV_GPIO_Mode(pin, 0);
        }
    }
}

TEST_F(ThreadsTest, CallsInterleaveButTheBoardStaysWhole) {
    std::atomic<int> wrong_reads{0};
    std::atomic<bool> done{false};
    std::vector<uint8_t> link_sent(kLinkBytes);
    for (int i = 0; i < kLinkBytes; ++i) {
        link_sent[i] = static_cast<uint8_t>(i * 7);
    }

    std::vector<std::thread> threads;
    for (int t = 0; t < kPinThreads; ++t) {
        threads.emplace_back(pin_worker, t, std::ref(wrong_reads));
    }
    threads.emplace_back([&] { DEV_SPI_SendData_nByte(link_sent.data(), kLinkBytes); });
    std::size_t snapshots = 0;
    std::thread observer([&] {
        while (!done) {
            const auto state = board.line(kFirstPin);
            EXPECT_TRUE(state.function == vboard::Function::Output ||
                        state.function == vboard::Function::Input);
            (void)board.call_count();
            (void)board.now_ns();
            ++snapshots;
        }
    });
    for (auto &thread : threads) {
        thread.join();
    }
    done = true;
    observer.join();

    EXPECT_EQ(wrong_reads.load(), 0);
    EXPECT_EQ(board.link_bytes_received(), link_sent);
    EXPECT_GT(snapshots, 0U);

    // Count every entry by what it says; anything unexpected is a torn or misfiled entry.
    std::map<std::string, int> counts;
    std::size_t unexpected = 0;
    for (const vboard::CallRecord &rec : board.calls()) {
        if (rec.flag != vboard::Flag::None) {
            ++unexpected;
            continue;
        }
        const int pin = static_cast<int>(rec.args[0]);
        if (pin == 10 || pin == 11) {
            ++counts["link"];
            continue;
        }
        const int thread = pin - kFirstPin;
        if (thread < 0 || thread >= kPinThreads) {
            ++unexpected;
            continue;
        }
        if (rec.call == vboard::Call::DigitalWrite) {
            const long long value = rec.args[1];
            if (value != 2 + thread * 2 && value != 3 + thread * 2) {
                ++unexpected;
            }
        }
        ++counts[std::string(vboard::to_string(rec.call)) + " " + std::to_string(thread)];
    }
    EXPECT_EQ(unexpected, 0U);
    EXPECT_EQ(board.calls_dropped(), 0U);
    EXPECT_EQ(counts["link"], kLinkBytes * 26);
    const int inputs = kIterations / 100;
    for (int t = 0; t < kPinThreads; ++t) {
        // Appended, not " " + to_string(t): GCC 12 at -O3 warns falsely (-Wrestrict) on that.
        std::string id(" ");
        id += std::to_string(t);
        EXPECT_EQ(counts["digitalWrite" + id], kIterations) << t;
        EXPECT_EQ(counts["digitalRead" + id], kIterations) << t;
        EXPECT_EQ(counts["pinMode" + id], kIterations + inputs) << t;
        EXPECT_EQ(counts["pullUpDnControl" + id], inputs) << t;
    }
    EXPECT_EQ(
        board.call_count(),
        static_cast<std::size_t>(kLinkBytes * 26 + kPinThreads * (3 * kIterations + 2 * inputs)));
}

TEST_F(ThreadsTest, HardwareSpiAndLineCallsFromTwoThreads) {
    // Transfers on one thread, line writes on another: every transfer reaches the device whole
    // and the log holds each call once.
    std::atomic<int> spi_answers{0};
    board.attach_spi_device(0, [&](std::span<const uint8_t> sent) {
        ++spi_answers;
        return std::vector<uint8_t>(sent.begin(), sent.end());
    });
    ASSERT_GE(wiringPiSPISetup(0, 8'000'000), 0);
    return_spi_lines_to_alt0();
    board.clear_calls();
    std::thread spi([] {
        for (int i = 0; i < 2'000; ++i) {
            uint8_t data[4] = {1, 2, 3, static_cast<uint8_t>(i)};
            DEV_SPI_Write_nByte_M(data, 4);
            EXPECT_EQ(data[3], static_cast<uint8_t>(i));
        }
    });
    std::thread pins([] {
        for (int i = 0; i < 2'000; ++i) {
            DEV_Digital_Write(22, static_cast<uint8_t>(i & 1));
        }
    });
    spi.join();
    pins.join();
    EXPECT_EQ(spi_answers.load(), 2'000);
    EXPECT_EQ(board.call_count(), 4'000U);
    EXPECT_TRUE(board.diagnostics().empty());
}

}  // namespace

namespace {

// The thread that first uses a board takes its lock cheaply until a second thread comes: that
// second thread must wait for the first one's call in progress, however they meet. Fresh boards,
// the first thread mid-loop when the second arrives; every call must be logged whole, once.
TEST(BoardLockHandOver, ASecondThreadArrivingMidCallWaitsForTheFirst) {
    constexpr int kRounds = 40;
    constexpr int kCalls = 20'000;
    for (int round = 0; round < kRounds; ++round) {
        vboard::Board board;
        vboard::ScopedBoard scope(board);
        board.set_log_capacity(4 * kCalls);
        board.set_real_sleep(false);
        wiringPiSetupGpio();
        pinMode(5, OUTPUT);
        pinMode(6, OUTPUT);
        std::atomic<bool> started{false};
        std::thread second([&] {
            while (!started.load()) {
            }
            for (int i = 0; i < kCalls; ++i) {
                digitalWrite(6, i & 1);
            }
        });
        for (int i = 0; i < kCalls; ++i) {
            if (i == round * (kCalls / kRounds)) {
                started.store(true);
            }
            digitalWrite(5, i & 1);
        }
        started.store(true);
        second.join();
        std::map<long long, int> writes;
        for (const vboard::CallRecord &record : board.calls()) {
            if (record.call == vboard::Call::DigitalWrite) {
                ++writes[record.args[0]];
            }
        }
        ASSERT_EQ(writes[5], kCalls) << "round " << round;
        ASSERT_EQ(writes[6], kCalls) << "round " << round;
        EXPECT_EQ(board.calls_dropped(), 0U);
    }
}

}  // namespace
