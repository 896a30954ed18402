// SPDX-License-Identifier: MIT
// Transactions: the link framed by its select lines, partial and unframed bytes, hardware SPI,
// the timing checks, and the text table read back and compared.

#include <gmock/gmock.h>

#include <cstring>
#include <sstream>

#include "board_fixture.hpp"
#include "vboard/device.hpp"
#include "vboard/transaction_writer.hpp"

using ::testing::HasSubstr;

namespace {

constexpr int kSelect = DEV_CS_M_PIN;
constexpr int kDc = DEV_OUT_A_PIN;

class TransactionsTest : public BoardTest {
  public:
    std::shared_ptr<vboard::TransactionRecorder> seen =
        std::make_shared<vboard::TransactionRecorder>();

    void SetUp() override {
        board.set_real_sleep(false);
        board.set_framing({{kSelect}, {{"dc", kDc}}});
        open_layer();
        DEV_Digital_Write(kSelect, 1);
        board.add_observer(seen);
    }

    // The table line of each transaction seen so far, bytes only (from the bus column on).
    std::vector<std::string> lines() {
        board.flush_outputs();
        return transaction_lines(*seen);
    }

    // Clocks `count` bits of `value` out by hand, as a driver with its own bit loop would.
    static void clock_bits(unsigned value, int count) {
        DEV_GPIO_Mode(DEV_MOSI_PIN, 1);
        for (int bit = count - 1; bit >= 0; --bit) {
            DEV_Digital_Write(DEV_SCLK_PIN, 0);
            DEV_Digital_Write(DEV_MOSI_PIN, (value >> bit) & 1U);
            DEV_Digital_Write(DEV_SCLK_PIN, 1);
        }
        DEV_Digital_Write(DEV_SCLK_PIN, 0);
    }
};

TEST_F(TransactionsTest, AFramedCommandShowsItsBytesDirectionsAndSideLine) {
    board.attach_link_device();
    const std::uint8_t reply = 0x5a;
    board.queue_link_reply({&reply, 1});
    std::uint8_t data[] = {0xa5, 0x3c};
    DEV_Digital_Write(kSelect, 0);
    DEV_Digital_Write(kDc, 0);
    DEV_SPI_SendData(0x12);
    DEV_Digital_Write(kDc, 1);
    DEV_SPI_SendData_nByte(data, 2);
    EXPECT_EQ(DEV_SPI_ReadData(), 0x5a);
    DEV_Digital_Write(kSelect, 1);

    EXPECT_THAT(lines(), ::testing::ElementsAre("link  BCM8   dc=0 > 12 dc=1 a5 3c < 5a"));
    const vboard::Transaction &t = seen->transactions.at(0);
    EXPECT_LT(t.start_ns, t.bytes.front().time_ns);
    EXPECT_LT(t.bytes.back().time_ns, t.end_ns);
}

struct PartialCase {
    const char *name;
    std::function<void()> drive;
    std::vector<std::string> expected;
};

class PartialBytes : public TransactionsTest, public ::testing::WithParamInterface<PartialCase> {};

TEST_P(PartialBytes, AreReportedWithTheirBitCount) {
    GetParam().drive();
    EXPECT_EQ(lines(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, PartialBytes,
    ::testing::Values(PartialCase{"frame_ends_after_three_bits",
                                  [] {
                                      DEV_Digital_Write(kSelect, 0);
                                      TransactionsTest::clock_bits(0x5, 3);
                                      DEV_Digital_Write(kSelect, 1);
                                  },
                                  {"link  BCM8   dc=0 > 05/3b"}},
                      PartialCase{
                          "data_line_turns_around_mid_byte",
                          [] {
                              DEV_Digital_Write(kSelect, 0);
                              TransactionsTest::clock_bits(0x2, 2);
                              DEV_SPI_ReadData();  // nothing drives the line: the pull-up, ff
                              DEV_Digital_Write(kSelect, 1);
                          },
                          {"link  BCM8   dc=0 > 02/2b < ff"}},
                      PartialCase{"unframed_bytes_stand_alone",
                                  [] {
                                      DEV_SPI_SendData(0x81);
                                      DEV_SPI_SendData(0x7e);
                                  },
                                  {"link  -      dc=0 > 81", "link  -      dc=0 > 7e"}},
                      PartialCase{"an_empty_select_pulse_is_kept",
                                  [] {
                                      DEV_Digital_Write(kSelect, 0);
                                      DEV_Digital_Write(kSelect, 1);
                                  },
                                  {"link  BCM8   -"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(TransactionsTest, HardwareSpiTransfersPairEachByteOutWithTheByteIn) {
    vboard::DeviceConfig replies;
    replies.model = "replies";
    replies.bus = vboard::Bus::Spi1;
    replies.params.push_back({"replies", std::vector<std::uint8_t>{0x11, 0x22}});
    board.attach_device(replies);
    for (const int pin : {7, 9, 10, 11}) {
        pinModeAlt(pin, 4);  // ALT0
    }
    wiringPiSPISetup(1, 1'000'000);
    std::uint8_t data[] = {0xde, 0xad};
    DEV_Digital_Write(kDc, 1);
    DEV_SPI_Write_nByte_S(data, 2);
    EXPECT_THAT(lines(), ::testing::ElementsAre("spi1  BCM7   dc=1 > de ad < 11 22"));
    const vboard::Transaction &t = seen->transactions.at(0);
    EXPECT_EQ(t.end_ns - t.start_ns >= 16'000U, true);  // 16 bits at 1 MHz
}

// A chip enable is also the link's select line here (BCM 8): low around hardware SPI transfers,
// driven by hand or by SPI0, it frames no link transaction.
TEST_F(TransactionsTest, AChipEnableAroundHardwareSpiFramesNoLinkTransaction) {
    for (const bool by_hand : {false, true}) {
        SCOPED_TRACE(by_hand ? "CE0 driven by hand" : "CE0 handed to SPI0 while low");
        seen = std::make_shared<vboard::TransactionRecorder>();  // lines() ended the last one
        board.add_observer(seen);
        for (const int pin : {9, 10, 11}) {
            pinModeAlt(pin, 4);
        }
        wiringPiSPISetup(0, 1'000'000);
        DEV_Digital_Write(kSelect, 0);
        if (!by_hand) {
            pinModeAlt(kSelect, 4);
        }
        std::uint8_t data[] = {0x01, 0x02};
        DEV_SPI_Write_nByte_M(data, 2);
        DEV_Digital_Write(kSelect, 1);  // the latch first: back to an output, the line stays high
        pinMode(kSelect, OUTPUT);
        const std::vector<std::string> seen_lines = lines();
        ASSERT_EQ(seen_lines.size(), 1U);
        EXPECT_THAT(seen_lines[0], ::testing::StartsWith("spi0  BCM8"));
    }
}

struct TimingCase {
    const char *name;
    vboard::TimingCheck check;
    std::function<void()> drive;
    std::uint64_t measured;
};

class TimingChecks : public TransactionsTest, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(TimingChecks, ReportEachViolationWithTheMeasuredValue) {
    board.add_timing_check(GetParam().check);
    GetParam().drive();
    board.flush_outputs();
    ASSERT_EQ(board.violation_counts(), std::vector<std::uint64_t>{1});
    const vboard::TimingViolation v = board.violations().at(0);
    EXPECT_EQ(v.measured, GetParam().measured) << v.to_string();
    EXPECT_EQ(seen->violations.size(), 1U);
    EXPECT_EQ(seen->violation_counts, std::vector<std::uint64_t>{1});
}

vboard::TimingCheck check(vboard::TimingCheckKind kind, std::uint64_t limit, int pin = -1) {
    vboard::TimingCheck c;
    c.kind = kind;
    c.limit = limit;
    c.pin = pin;
    return c;
}

vboard::TimingCheck gap_from_enable_to_transaction(std::uint64_t min) {
    vboard::TimingCheck c = check(vboard::TimingCheckKind::Gap, min);
    c.from = {vboard::TimingEvent::Kind::Rising, DEV_EN_PIN, std::nullopt};
    c.to = {vboard::TimingEvent::Kind::Transaction, -1, vboard::Bus::Link};
    return c;
}

// With the default costs a write is 20 ns and a direction change 50 ns.
INSTANTIATE_TEST_SUITE_P(
    Transactions, TimingChecks,
    ::testing::Values(
        // One byte: rising edges 60 ns apart, 16.666 MHz, against a 10 MHz maximum; every edge
        // after the first breaks it, so two bits make one violation.
        TimingCase{"clock_rate", check(vboard::TimingCheckKind::ClockRate, 10'000'000),
                   [] { TransactionsTest::clock_bits(0x3, 2); }, 16'666'666},
        // select low, direction, clock low (no edge), data, clock high: 110 ns to the first edge.
        TimingCase{"select_to_clock", check(vboard::TimingCheckKind::SelectToClock, 200, kSelect),
                   [] {
                       DEV_Digital_Write(kSelect, 0);
                       TransactionsTest::clock_bits(0x1, 1);
                       DEV_Digital_Write(kSelect, 1);
                   },
                   110},
        // the closing clock low, then the select: 20 ns.
        TimingCase{"clock_to_deselect",
                   check(vboard::TimingCheckKind::ClockToDeselect, 100, kSelect),
                   [] {
                       DEV_Digital_Write(kSelect, 0);
                       TransactionsTest::clock_bits(0x1, 1);
                       DEV_Digital_Write(kSelect, 1);
                   },
                   20},
        // The check follows the clock again for a later frame: a slow frame, then a quick one.
        TimingCase{"select_to_clock_again",
                   check(vboard::TimingCheckKind::SelectToClock, 200, kSelect),
                   [] {
                       DEV_Digital_Write(kSelect, 0);
                       delayMicroseconds(1);
                       TransactionsTest::clock_bits(0x1, 2);
                       DEV_Digital_Write(kSelect, 1);
                       DEV_Digital_Write(kSelect, 0);
                       TransactionsTest::clock_bits(0x1, 1);
                       DEV_Digital_Write(kSelect, 1);
                   },
                   110},
        TimingCase{"clock_to_deselect_again",
                   check(vboard::TimingCheckKind::ClockToDeselect, 100, kSelect),
                   [] {
                       DEV_Digital_Write(kSelect, 0);
                       TransactionsTest::clock_bits(0x1, 1);
                       delayMicroseconds(1);
                       DEV_Digital_Write(kSelect, 1);
                       DEV_Digital_Write(kSelect, 0);
                       TransactionsTest::clock_bits(0x1, 1);
                       DEV_Digital_Write(kSelect, 1);
                   },
                   20},
        TimingCase{"pulse_width", check(vboard::TimingCheckKind::PulseWidth, 1'000, DEV_OUT_B_PIN),
                   [] {
                       DEV_Digital_Write(DEV_OUT_B_PIN, 1);
                       DEV_Digital_Write(DEV_OUT_B_PIN, 0);
                       delayMicroseconds(1);  // with the writes' and the call's cost: 1.12 us
                       DEV_Digital_Write(DEV_OUT_B_PIN, 1);
                       DEV_Digital_Write(DEV_OUT_B_PIN, 0);
                       DEV_Digital_Write(DEV_OUT_B_PIN, 1);  // 20 ns: too short
                   },
                   20},
        TimingCase{"gap", gap_from_enable_to_transaction(1'000'000),
                   [] {
                       DEV_Digital_Write(DEV_EN_PIN, 0);
                       DEV_Digital_Write(DEV_EN_PIN, 1);
                       delayMicroseconds(10);
                       DEV_Digital_Write(kSelect, 0);  // 10.12 us after the rising edge
                       DEV_Digital_Write(kSelect, 1);
                   },
                   10'120}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(TransactionsTest, TheTableReadsBackAndAOneByteChangeIsReported) {
    DEV_Digital_Write(kSelect, 0);
    DEV_Digital_Write(kDc, 0);
    DEV_SPI_SendData(0x12);
    DEV_Digital_Write(kDc, 1);
    DEV_SPI_SendData(0x34);
    DEV_Digital_Write(kSelect, 1);
    DEV_SPI_SendData(0x56);
    std::ostringstream text;
    board.remove_observer(seen);
    auto writer =
        std::make_shared<vboard::TransactionWriter>(text, vboard::TransactionWriter::Format::Text);
    board.add_observer(writer);
    DEV_Digital_Write(kSelect, 0);
    DEV_SPI_SendData(0x78);
    DEV_Digital_Write(kSelect, 1);
    board.flush_outputs();

    const vboard::TransactionTable got = vboard::parse_transactions(text.str(), "run");
    EXPECT_EQ(vboard::compare_transactions(got, got), "");
    vboard::TransactionTable expected = got;
    ASSERT_EQ(expected.transactions.size(), 1U);
    expected.transactions[0].bytes[0].value = 0x79;
    const std::string report = vboard::compare_transactions(expected, got);
    // The writer came in after two transactions: the table's first is index 2.
    EXPECT_THAT(report, HasSubstr("transactions differ at transaction 2 (bytes, bus or framing"));
    EXPECT_THAT(report, HasSubstr("expected      2"));
    EXPECT_THAT(report, HasSubstr("BCM8   dc=1 > 79\n"));
    EXPECT_THAT(report, HasSubstr("got           2"));

    vboard::CompareOptions with_times;
    with_times.time_tolerance_ns = 0;
    vboard::TransactionTable later = got;
    later.transactions[0].end_ns += 1;
    EXPECT_THAT(vboard::compare_transactions(later, got, with_times), HasSubstr("times differ"));
    EXPECT_EQ(vboard::compare_transactions(later, got), "");
}

struct BadLine {
    const char *text;
    const char *expected;
};

class TransactionFileErrors : public ::testing::TestWithParam<BadLine> {};

TEST_P(TransactionFileErrors, NameTheLineAndWhatWasExpected) {
    const std::string text = std::string("# side lines: dc=BCM25\n") + GetParam().text + "\n";
    try {
        vboard::parse_transactions(text, "golden.txt");
        FAIL() << "accepted: " << GetParam().text;
    } catch (const vboard::TransactionFileError &error) {
        EXPECT_EQ(std::string(error.what()),
                  std::string("golden.txt:2: expected ") + GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, TransactionFileErrors,
    ::testing::Values(
        BadLine{"0 1ms 2ms link", "index, start, end, bus, select and bytes (or -)"},
        BadLine{"x 1ms 2ms link BCM8 -", "an index, a whole number"},
        BadLine{"0 1 2ms link BCM8 -", "a start time with its unit, as 1.052120ms"},
        BadLine{"0 3ms 2ms link BCM8 -", "an end time no earlier than the start"},
        BadLine{"0 1ms 2ms i2c BCM8 -", "a bus: link, spi0 or spi1"},
        BadLine{"0 1ms 2ms link CS0 -", "a select line, as BCM8, or - for none"},
        BadLine{"0 1ms 2ms link BCM54 -", "a select line from BCM0 to BCM53"},
        BadLine{"0 1ms 2ms link BCM8 12", "a direction, >, < or ?, before the first byte"},
        BadLine{"0 1ms 2ms link BCM8 > 1g",
                "a byte in two lower-case hex digits, as a5, or a partial byte, as 05/3b"},
        BadLine{"0 1ms 2ms link BCM8 > 05/8b", "a partial byte of 1 to 7 bits, as 05/3b"},
        BadLine{"0 1ms 2ms link BCM8 > 09/3b", "a partial byte's value within its bits"},
        BadLine{"0 1ms 2ms link BCM8 dc=2 > 00", "a side line as name=0 or name=1"},
        BadLine{"0 1ms 2ms spi0 BCM8 > 01 02 < 03", "as many bytes in, after <, as out, after >"},
        BadLine{"0 1ms 2ms spi0 BCM8 01 < 03", "> and the bytes out, then < and the bytes in"},
        BadLine{"0 1ms 2ms link BCM8 xx=1 > 00",
                "a side line that the file's \"# side lines:\" line names (dc), not xx"},
        BadLine{"0 1ms 2ms link BCM8 > 12 <", "at least one byte after each >, < or ?"},
        BadLine{"0 1ms 2ms link BCM8 > < 5a", "at least one byte after each >, < or ?"}));

TEST(TransactionFiles, AMissingFileIsNamedWithoutALineNumber) {
    try {
        vboard::load_transactions("/no/such/dir/g.txt");
        FAIL() << "accepted";
    } catch (const vboard::TransactionFileError &error) {
        EXPECT_EQ(std::string(error.what()),
                  "/no/such/dir/g.txt: expected a readable transaction "
                  "file (No such file or directory)");
    }
}

struct Misaligned {
    const char *name;
    std::vector<int> expected, got;  // the bytes of one-byte transactions
    const char *first_line;
};

class MisalignedRuns : public ::testing::TestWithParam<Misaligned> {};

TEST_P(MisalignedRuns, AreReportedAsMissingOrExtraWithBothIndices) {
    const auto table = [](const std::vector<int> &bytes) {
        std::string text = "# side lines: dc=BCM25\n";
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            char line[80];
            std::snprintf(line, sizeof line, "%zu 1ms 2ms link BCM8 dc=1 > %02x\n", i, bytes[i]);
            text += line;
        }
        return vboard::parse_transactions(text, "t");
    };
    const std::string report =
        vboard::compare_transactions(table(GetParam().expected), table(GetParam().got));
    EXPECT_EQ(report.substr(0, report.find('\n')), GetParam().first_line) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, MisalignedRuns,
    ::testing::Values(
        Misaligned{"missing",
                   {1, 2, 3, 4},
                   {1, 3, 4},
                   "transactions differ at transaction 1: missing (expected 1, not in the run; the "
                   "run goes on with 1):"},
        Misaligned{"extra",
                   {1, 3, 4},
                   {1, 2, 3, 4},
                   "transactions differ at transaction 1: extra (in the run as 1, not expected; "
                   "expected 1 comes next):"},
        Misaligned{"two_missing_at_the_end",
                   {1, 2, 3},
                   {1},
                   "transactions differ at transaction 1: 2 missing (expected 1-2, not in the run; "
                   "the run has no more):"},
        Misaligned{"extra_at_the_end",
                   {1},
                   {1, 2},
                   "transactions differ at transaction 1: extra (in the run as 1, not expected; "
                   "nothing more was expected):"},
        Misaligned{"changed",
                   {1, 2, 3},
                   {1, 5, 3},
                   "transactions differ at transaction 1 (bytes, bus or framing differ):"}),
    [](const auto &info) { return info.param.name; });

}  // namespace

namespace {

// A capture's link bytes have no direction: they agree with sent or received bytes of the same
// value and bit count, and with nothing else.
struct Undirected {
    const char *expected, *got;
    bool agree;
};

class UndirectedBytes : public ::testing::TestWithParam<Undirected> {};

TEST_P(UndirectedBytes, CompareByValueBitsAndFramingOnly) {
    const auto table = [](const char *bytes) {
        return vboard::parse_transactions(std::string("0 1ms 2ms ") + bytes + "\n", "t");
    };
    const vboard::TransactionTable got = table(GetParam().got);
    EXPECT_EQ(vboard::compare_transactions(table(GetParam().expected), got).empty(),
              GetParam().agree)
        << GetParam().expected << " / " << GetParam().got;
    // The bytes are written back as they were read.
    const std::string bytes = std::strchr(std::strchr(GetParam().got, 'M') + 1, ' ') + 1;
    EXPECT_THAT(vboard::format_transaction(got.transactions[0], {}), HasSubstr(bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, UndirectedBytes,
    ::testing::Values(Undirected{"link BCM8 > 12 < 34 05/3b", "link BCM8 ? 12 34 05/3b", true},
                      Undirected{"link BCM8 ? 12 34", "link BCM8 ? 12 34", true},
                      Undirected{"link BCM8 > 12 < 34", "link BCM8 ? 12 35", false},
                      Undirected{"link BCM8 > 12 05/3b", "link BCM8 ? 12 05/4b", false},
                      Undirected{"link BCM8 > 12", "link BCM7 ? 12", false},
                      Undirected{"link BCM8 > 12", "link BCM8 ? 12 00", false}));

}  // namespace
