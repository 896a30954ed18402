// SPDX-License-Identifier: MIT
// A logic analyser's capture read and played: link frames drawn by a capture of their own, clean
// or noisy (a coarse timescale, jitter, glitches, a start in the middle of a byte, edges in one
// sample), come out as the bytes that were sent; captures and channel maps that cannot be used
// are refused with their line.

#include <gmock/gmock.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

#include "board_fixture.hpp"
#include "vboard/capture.hpp"
#include "vboard/transaction_writer.hpp"

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

// How a capture of link frames is drawn.
struct Shape {
    const char *name;
    const char *timescale = "1 ns";
    std::uint64_t bit_units = 100;   // a clock period
    std::uint64_t jitter_units = 0;  // each edge moved by up to this, either way
    std::uint64_t glitch_units = 0;  // a pulse this long on the clock in each bit's low half
    std::uint64_t cut_units = 0;     // the capture starts this late
    bool clock_with_data = false;    // the data line changes in the clock's rising sample
    std::uint64_t glitch_filter_ns = 0;
    std::vector<std::string> expected{};  // the transactions' bytes, from the bus column on
};

const std::vector<std::vector<std::uint8_t>> kFrames{{0xa5, 0x3c}, {0x01}, {0xff, 0x00, 0x81}};

// The frames of kFrames on the link, behind BCM 8: clock "clk", data as bit 1 of the vector
// "bus [1:0]" in scope "top", select "cs".
std::string link_capture(const Shape &shape) {
    std::multimap<std::uint64_t, std::string> changes;  // time -> "0!", in order within a time
    std::uint64_t seed = 7;
    const auto jitter = [&]() -> std::int64_t {
        if (shape.jitter_units == 0) {
            return 0;
        }
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::int64_t>((seed >> 33) % (2 * shape.jitter_units + 1)) -
               static_cast<std::int64_t>(shape.jitter_units);
    };
    const auto at = [&](std::uint64_t t, const std::string &change) {
        changes.emplace(static_cast<std::uint64_t>(static_cast<std::int64_t>(t) + jitter()),
                        change);
    };
    const std::uint64_t p = shape.bit_units;
    std::uint64_t t = 4 * p;
    for (const auto &frame : kFrames) {
        at(t, "0#");
        t += p;
        for (const std::uint8_t byte : frame) {
            for (int bit = 7; bit >= 0; --bit) {
                const std::string data =
                    std::string("b") + (((byte >> bit) & 1U) != 0 ? "10" : "00") + " \"";
                if (shape.clock_with_data) {
                    at(t + p / 2, "1!");
                    changes.emplace(t + p / 2, data);
                } else {
                    at(t, data);
                    at(t + p / 2, "1!");
                }
                at(t + p, "0!");
                if (shape.glitch_units > 0) {
                    at(t + p + p / 4, "1!");
                    at(t + p + p / 4 + shape.glitch_units, "0!");
                }
                t += p;
            }
        }
        t += p;
        at(t, "1#");
        t += 4 * p;
    }
    std::string vcd = std::string("$timescale ") + shape.timescale +
                      " $end\n$scope module top $end\n$var wire 1 ! clk $end\n"
                      "$var wire 2 \" bus [1:0] $end\n$var wire 1 # cs $end\n$upscope $end\n"
                      "$enddefinitions $end\n#" +
                      std::to_string(shape.cut_units) + "\n";
    // The levels at the cut: those of every change before it.
    std::map<char, std::string> levels{{'!', "0!"}, {'"', "b00 \""}, {'#', "1#"}};
    for (const auto &[time, change] : changes) {
        if (time <= shape.cut_units) {
            levels[change.back()] = change;
        }
    }
    for (const auto &[id, change] : levels) {
        vcd += change + "\n";
    }
    std::uint64_t last = shape.cut_units;
    for (const auto &[time, change] : changes) {
        if (time <= shape.cut_units) {
            continue;
        }
        if (time != last) {
            vcd.append("#").append(std::to_string(time)).append("\n");
            last = time;
        }
        vcd += change + "\n";
    }
    return vcd;
}

const std::vector<std::string> kAllFrames{"link  BCM8   ? a5 3c", "link  BCM8   ? 01",
                                          "link  BCM8   ? ff 00 81"};

class CaptureTest : public BoardTest, public ::testing::WithParamInterface<Shape> {
  public:
    std::shared_ptr<vboard::TransactionRecorder> seen =
        std::make_shared<vboard::TransactionRecorder>();

    std::vector<std::string> played(const std::string &vcd, const vboard::CaptureOptions &options,
                                    vboard::Capture *kept = nullptr) {
        board.set_real_sleep(false);
        board.set_framing({{8}, {}});
        board.add_observer(seen);
        const vboard::Capture capture = vboard::parse_vcd_capture(
            vcd, "c.vcd", vboard::parse_channel_map("clk=11,top.bus[1]=10,cs=8"), options);
        vboard::replay_capture(board, capture);
        if (kept != nullptr) {
            *kept = capture;
        }
        board.flush_outputs();
        return transaction_lines(*seen);
    }
};

TEST_P(CaptureTest, LinkFramesComeOutAsTheBytesSent) {
    const Shape &shape = GetParam();
    vboard::Capture capture;
    const std::vector<std::string> got =
        played(link_capture(shape), {.glitch_ns = shape.glitch_filter_ns}, &capture);
    EXPECT_THAT(got, ElementsAreArray(shape.expected.empty() ? kAllFrames : shape.expected));
    if (shape.glitch_units > 0) {
        EXPECT_EQ(capture.glitches, 8U * 6U);  // one on each bit's clock
    }
    if (shape.clock_with_data) {
        ASSERT_FALSE(capture.notes.empty());
        EXPECT_THAT(capture.notes[0], HasSubstr("BCM 11 rose in the same sample as BCM 10 "
                                                "changed: their order is unknown"));
        EXPECT_THAT(board.diagnostics(), ::testing::Contains(HasSubstr("same sample")));
    } else {
        EXPECT_THAT(capture.notes, ::testing::IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Captures, CaptureTest,
    ::testing::Values(
        Shape{.name = "clean"}, Shape{.name = "coarse", .timescale = "10us", .bit_units = 4},
        Shape{.name = "picoseconds", .timescale = "100 ps", .bit_units = 1000},
        Shape{.name = "jitter", .bit_units = 100, .jitter_units = 20},
        Shape{.name = "glitches", .bit_units = 100, .glitch_units = 3, .glitch_filter_ns = 10},
        // The first frame's select fell before the capture began, two bits in.
        Shape{.name = "mid_byte",
              .cut_units = 4 * 100 + 100 + 2 * 100 + 10,
              .expected = {kAllFrames[1], kAllFrames[2]}},
        // A clock that rises as the data changes: said, and played in the file's
        // order, the clock first, so each bit taken is the one before.
        Shape{
            .name = "same_sample",
            .clock_with_data = true,
            .expected = {"link  BCM8   ? 52 9e", "link  BCM8   ? 00", "link  BCM8   ? ff 80 40"}}),
    [](const auto &info) { return std::string(info.param.name); });

// What a capture or a map that cannot be used says.
struct Refused {
    const char *name;
    std::string vcd;
    const char *map;
    const char *message;
};

class CaptureRefusals : public ::testing::TestWithParam<Refused> {};

TEST_P(CaptureRefusals, NameTheFileAndLine) {
    try {
        vboard::parse_vcd_capture(GetParam().vcd, "c.vcd",
                                  vboard::parse_channel_map(GetParam().map));
        FAIL() << "accepted";
    } catch (const vboard::CaptureError &error) {
        EXPECT_EQ(std::string(error.what()), GetParam().message);
    }
}

const std::string kHead =
    "$timescale 1ns $end\n$var wire 1 ! D0 $end\n$var real 1 % V $end\n"
    "$enddefinitions $end\n";

INSTANTIATE_TEST_SUITE_P(
    Captures, CaptureRefusals,
    ::testing::Values(
        Refused{"missing_channel", kHead, "D0=11,D5=10",
                "c.vcd:4: no signal D5 in the capture (its signals: D0, V)"},
        Refused{"real_signal", kHead, "V=10", "c.vcd:4: V is a real signal, not a wire"},
        Refused{"not_vcd", "hello\n", "D0=11",
                "c.vcd:1: not a VCD file (it begins with $ declarations) nor a sigrok session"},
        Refused{"timescale", "$timescale 3 ns $end\n", "D0=11",
                "c.vcd:1: a timescale of 1, 10 or 100 and a unit (s, ms, us, ns, ps, fs), not "
                "'3ns'"},
        Refused{"no_definitions_end", "$var wire 1 ! D0 $end\n", "D0=11",
                "c.vcd:1: no $enddefinitions: the file ends in its declarations"},
        Refused{"undeclared_id", kHead + "#0\n1?\n", "D0=11",
                "c.vcd:6: a value for a declared signal, not for id '?'"},
        Refused{"time_back", kHead + "#10\n1!\n#5\n", "D0=11",
                "c.vcd:7: a time no earlier than the one before (#10), not #5"},
        Refused{"same_name_in_two_scopes",
                "$scope module a $end $var wire 1 ! D0 $end $upscope $end $scope module b $end "
                "$var wire 1 \" D0 $end $upscope $end $enddefinitions $end",
                "D0=11", "c.vcd:1: D0 names 2 signals; name it with its scopes, as b.D0"},
        Refused{"bit_out_of_range", "$var wire 4 ! bus [3:0] $end\n$enddefinitions $end\n",
                "bus[4]=11", "c.vcd:2: no signal bus[4] in the capture (its signals: bus[3:0])"},
        Refused{"bad_map", kHead, "D0", "--channels: expected NAME=BCM, as D0=11, not 'D0'"},
        Refused{"map_line", kHead, "D0=54", "--channels: BCM 54 in 'D0=54' is not a line: 0 to 53"},
        Refused{"map_twice", kHead, "D0=11,D0=10",
                "--channels: 'D0=10' maps the signal D0 a second time"},
        Refused{"line_twice", kHead, "D0=11,V=11", "--channels: 'V=11' maps BCM 11 a second time"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CaptureFiles, ASigrokSessionWithoutSigrokCliNamesThePackage) {
    const std::string path = ::testing::TempDir() + "/capture.sr";
    FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("PK\x03\x04 a session", file);
    std::fclose(file);
    const std::string old_path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", "/nonexistent", 1);
    try {
        vboard::read_capture(path, vboard::parse_channel_map("D0=11"));
        ADD_FAILURE() << "accepted";
    } catch (const vboard::CaptureError &error) {
        EXPECT_EQ(std::string(error.what()),
                  path +
                      ": a sigrok session; reading it needs sigrok-cli (Debian package "
                      "sigrok-cli), which is not installed");
    }
    setenv("PATH", old_path.c_str(), 1);
}

}  // namespace
