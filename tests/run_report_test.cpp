// SPDX-License-Identifier: MIT
// The runner's report channel: what the board writes, the runner reads back the same.

#include <gtest/gtest.h>

#include <sstream>

#include "vboard/run_report.hpp"

namespace {

using Kind = vboard::run_report::Entry::Kind;

TEST(RunReport, EveryRecordReadsBackInOrderAndUnknownLinesAreSkipped) {
    std::array<int, vboard::kLineCount> codes{};
    std::array<bool, vboard::kLineCount> levels{};
    codes[11] = 4;
    levels[24] = true;
    std::istringstream channel(
        vboard::run_report::note(1500, "panel: a note with  spaces") +
        vboard::run_report::violation("1.2 ms: clock: 25 MHz, above 20 MHz") + "what is this\n" +
        vboard::run_report::violation_count(3, "clock rate") +
        vboard::run_report::end_of_run(codes, levels, 99) +
        vboard::run_report::timeout("simulated time limit of 5 ms reached"));
    const vboard::run_report::Read read = vboard::run_report::read(channel);
    ASSERT_EQ(read.entries.size(), 3U);
    EXPECT_EQ(read.entries[0].kind, Kind::Note);
    EXPECT_EQ(read.entries[0].time_ns, 1500U);
    EXPECT_EQ(read.entries[0].text, "panel: a note with  spaces");
    EXPECT_EQ(read.entries[1].kind, Kind::Violation);
    EXPECT_EQ(read.entries[1].text, "1.2 ms: clock: 25 MHz, above 20 MHz");
    EXPECT_EQ(read.entries[2].kind, Kind::ViolationCount);
    EXPECT_EQ(read.entries[2].count, 3U);
    EXPECT_EQ(read.entries[2].text, "clock rate");
    ASSERT_TRUE(read.codes.has_value());
    EXPECT_EQ((*read.codes)[11], 4);
    EXPECT_TRUE(read.levels[24]);
    EXPECT_FALSE(read.levels[11]);
    EXPECT_EQ(read.clock_ns, 99U);
    EXPECT_EQ(read.timeout, "simulated time limit of 5 ms reached");
}

}  // namespace
