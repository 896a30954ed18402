// SPDX-License-Identifier: MIT
// The HTML report: bounded for a long run, and the run's own texts kept as text.

#include <gmock/gmock.h>

#include <vector>

#include "board_fixture.hpp"
#include "run_events.hpp"
#include "vboard/report.hpp"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class ReportTest : public BoardTest {
  public:
    void SetUp() override { board.set_real_sleep(false); }
};

TEST_F(ReportTest, AMebibyteOverTheLinkStaysWithinTheBoundAndSaysWhatWasLeftOut) {
    const auto report = vboard::HtmlReport::attach(board, {"", "long run", {}});
    open_layer();
    std::vector<uint8_t> data(1 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    DEV_SPI_SendData_nByte(data.data(), static_cast<uint32_t>(data.size()));
    DEV_ModuleExit();
    board.flush_outputs();
    const std::string page = report->html("done");
    EXPECT_LT(page.size(), vboard::kReportMaxBytes);
    // The page shades the stretch of line changes it left out; the open step left the select
    // line low, so the transfer is one transaction, of which the first and last bytes are kept.
    EXPECT_NE(page.find("\"gap\":{\"count\":"), std::string::npos);
    EXPECT_NE(page.find("\"left_out\":1046016,"), std::string::npos);
    EXPECT_NE(page.find(" ... 1046016 bytes left out ... "), std::string::npos);
    if (HasFailure()) {
        std::FILE *out = std::fopen("long_report.html", "w");
        std::fwrite(page.data(), 1, page.size(), out);
        std::fclose(out);
    }
}

// The bound holds however the traffic is cut: a mebibyte in frames of 4 KiB and of 512 bytes.
TEST_F(ReportTest, AMebibyteInFramesOfAnySizeStaysWithinTheBound) {
    for (const std::size_t frame : {std::size_t{4096}, std::size_t{512}}) {
        SCOPED_TRACE(frame);
        board.reset();
        board.set_real_sleep(false);
        board.set_log_capacity(0);
        const auto report = vboard::HtmlReport::attach(board, {"", "frames", {}});
        open_layer();
        std::vector<uint8_t> data(frame, 0xA5);
        for (std::size_t sent = 0; sent < (std::size_t{1} << 20); sent += frame) {
            DEV_Digital_Write(DEV_CS_M_PIN, 0);
            DEV_SPI_SendData_nByte(data.data(), static_cast<uint32_t>(data.size()));
            DEV_Digital_Write(DEV_CS_M_PIN, 1);
        }
        board.flush_outputs();
        const std::string page = report->html("done");
        EXPECT_LT(page.size(), vboard::kReportMaxBytes);
        EXPECT_THAT(page, HasSubstr(" bytes left out ... "));
    }
}

// The worst case: every kind of record at its limit, each as large as it can be.
TEST(ReportBound, EveryLimitReachedAtOnceStaysWithinTheBound) {
    vboard::HtmlReport report({"", std::string(1000, 'T'), {}});
    const vboard::ReportLimits limits;
    std::array<bool, vboard::kLineCount> levels{};
    vboard::FramingOptions framing;
    for (int i = 0; i < 16; ++i) {
        framing.side_lines.push_back({"side" + std::to_string(i), 30 + i});
    }
    tell_start(report, 0, levels, framing);
    std::uint64_t t = 0;
    const std::uint64_t step = 3'600'000'000'000;  // an hour between edges: long deltas
    for (std::size_t i = 0; i < limits.edges_head + limits.edges_tail + 10; ++i) {
        tell_change(report, t += step, static_cast<int>(i % vboard::kLineCount), i % 2 == 0);
    }
    vboard::Transaction big;
    big.bus = vboard::Bus::Spi0;
    for (int i = 0; i < 4096; ++i) {
        big.bytes.push_back({t, vboard::Direction::Exchange, 0xFF, 0xFF, 8, 0xFFFF});
    }
    for (std::size_t i = 0; i < limits.transactions_head + limits.transactions_tail + 10; ++i) {
        big.index = i;
        big.start_ns = big.end_ns = t += step;
        tell(report, t, big);
    }
    for (std::size_t i = 0; i < limits.notes + 10; ++i) {
        tell(report, t, std::string(5000, 'n'));
        vboard::CallRecord firing;
        firing.call = vboard::Call::RuleFired;
        firing.time_ns = t;
        firing.text = std::string(5000, 'r');
        tell(report, t, firing);
    }
    vboard::Image noise{256, 256, std::vector<std::uint8_t>(256 * 256 * 3)};
    for (std::size_t i = 0; i < noise.rgb.size(); ++i) {
        noise.rgb[i] = static_cast<std::uint8_t>((i * 2654435761U) >> 13);
    }
    for (std::size_t i = 0; i < limits.frames + 10; ++i) {
        vboard::Frame frame;
        frame.index = i + 1;
        frame.device = "panel";
        frame.time_ns = t;
        frame.image = std::make_shared<const vboard::Image>(noise);
        tell(report, t, frame);
    }
    tell_end(report, t);
    const std::string page = report.html(std::string(1000, 'e'));
    EXPECT_LT(page.size(), vboard::kReportMaxBytes);
    EXPECT_GT(page.size(), vboard::kReportMaxBytes / 2);  // every limit was reached
    if (HasFailure()) {
        std::FILE *out = std::fopen("worst_report.html", "w");
        std::fwrite(page.data(), 1, page.size(), out);
        std::fclose(out);
    }
}

TEST_F(ReportTest, TextFromTheRunCannotCloseItsScript) {
    const std::string markup = "</script><script>alert(1)</script>";
    board.set_line_name(DEV_EN_PIN, markup);
    const auto report = vboard::HtmlReport::attach(board, {"", markup, {}});
    vboard::TimingCheck check;
    check.name = markup;
    check.kind = vboard::TimingCheckKind::PulseWidth;
    check.pin = DEV_EN_PIN;
    check.level = true;
    check.limit = 1'000'000'000;
    board.add_timing_check(check);
    open_layer();
    DEV_ModuleExit();  // EN high for much less than a second
    board.flush_outputs();
    const std::string page = report->html(markup);
    EXPECT_THAT(page, Not(HasSubstr("<script>alert")));
    EXPECT_THAT(page, HasSubstr("\\u003c/script\\u003e\\u003cscript\\u003ealert(1)"));
    EXPECT_THAT(page, HasSubstr("[18,\"\\u003c/script\\u003e"));
}

// The page names lines whatever numbering the program chose: a pin mode in wiringPi's numbering
// is a change of the BCM line it reached, and a PWM line's wave is in the page.
TEST_F(ReportTest, ShowsBcmLinesWhateverTheNumberingAndTheWaves) {
    const auto report = vboard::HtmlReport::attach(board, {"", "numbering", {}});
    ASSERT_EQ(wiringPiSetup(), 0);
    pinMode(0, OUTPUT);      // BCM 17
    pinMode(1, PWM_OUTPUT);  // BCM 18
    pwmWrite(1, 512);
    board.flush_outputs();
    const std::string page = report->html("done");
    const std::string at = std::to_string(board.calls()[1].time_ns);
    EXPECT_THAT(page, HasSubstr("\"head\":[[" + at + ",17,1]"));
    EXPECT_THAT(page,
                HasSubstr(",18,\"BCM18 PWM0 balanced: 585.938 Hz (1.706667 ms), duty 50.0 %\"]"));
}

}  // namespace
