// SPDX-License-Identifier: MIT
// The HTML report: bounded for a long run, and the run's own texts kept as text.

#include <gmock/gmock.h>

#include <vector>

#include "board_fixture.hpp"
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

TEST_F(ReportTest, TextFromTheRunCannotCloseItsScript) {
    const std::string markup = "</script><script>alert(1)</script>";
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
}

}  // namespace
