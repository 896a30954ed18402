// SPDX-License-Identifier: MIT
// The wiringPi interface a driver written for the Pi calls beyond the layer's: the numberings
// chosen at set-up, and the time since set-up.

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <thread>

#include <sys/ioctl.h>

#include <cerrno>

#include "board_fixture.hpp"
#include "vboard/board_file.hpp"

using ::testing::HasSubstr;

namespace {

// wiringPi's own numbers on a 40-pin board, as wiringPi documents them: wPi pin -> BCM line.
constexpr std::pair<int, int> kWiringPiPins[] = {
    {0, 17},  {1, 18},  {2, 27},  {3, 22},  {4, 23},  {5, 24},  {6, 25},
    {7, 4},   {8, 2},   {9, 3},   {10, 8},  {11, 7},  {12, 10}, {13, 9},
    {14, 11}, {15, 14}, {16, 15}, {21, 5},  {22, 6},  {23, 13}, {24, 19},
    {25, 26}, {26, 12}, {27, 16}, {28, 20}, {29, 21}, {30, 0},  {31, 1}};

TEST(PinNumbering, WiringPiAndHeaderPinsReachTheirLines) {
    for (const auto &[wpi, bcm] : kWiringPiPins) {
        EXPECT_EQ(wpiPinToGpio(wpi), bcm) << "wPi " << wpi;
    }
    for (const int missing : {-1, 17, 18, 19, 20, 32, 64}) {
        EXPECT_EQ(wpiPinToGpio(missing), -1) << "wPi " << missing;
    }
    // Every line on the header once, power and ground none.
    std::vector<int> lines;
    for (int physical = 1; physical <= 40; ++physical) {
        if (const int line = physPinToGpio(physical); line >= 0) {
            lines.push_back(line);
        }
    }
    std::sort(lines.begin(), lines.end());
    std::vector<int> expected(28);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(physPinToGpio(11), 17);
    EXPECT_EQ(physPinToGpio(1), -1);  // 3.3 V
    EXPECT_EQ(physPinToGpio(41), -1);
}

struct Scheme {
    const char *name;
    std::function<int()> setup;
    int pin;      // a pin of the numbering
    int line;     // the BCM line it reaches
    int missing;  // a pin the numbering does not have
    const char *numbering;
};

class Numberings : public BoardTest, public ::testing::WithParamInterface<Scheme> {};

// Each set-up's pins reach their lines; the call log shows the pin as passed and the line; a pin
// the numbering lacks touches nothing, with a diagnostic.
TEST_P(Numberings, PinsReachTheirLinesAndAMissingPinIsRefused) {
    const Scheme &scheme = GetParam();
    ASSERT_EQ(scheme.setup(), 0);
    pinMode(scheme.pin, OUTPUT);
    digitalWrite(scheme.pin, HIGH);
    EXPECT_TRUE(board.level(scheme.line));
    EXPECT_EQ(board.line(scheme.line).function, vboard::Function::Output);
    EXPECT_EQ(digitalRead(scheme.pin), HIGH);
    const std::string arrow =
        scheme.pin == scheme.line ? "" : " -> BCM " + std::to_string(scheme.line);
    EXPECT_EQ(calls().back(), "digitalRead(" + std::to_string(scheme.pin) + ")" + arrow + " = 1");
    digitalWrite(scheme.missing, HIGH);
    EXPECT_EQ(board.calls().back().flag, vboard::Flag::BadPin);
    ASSERT_EQ(board.diagnostics().size(), 1U);
    EXPECT_THAT(board.diagnostics()[0],
                HasSubstr("pin " + std::to_string(scheme.missing) + " is no line in " +
                          scheme.numbering + " numbering"));
}

INSTANTIATE_TEST_SUITE_P(
    Board, Numberings,
    ::testing::Values(Scheme{"gpio", wiringPiSetupGpio, 17, 17, 54, "BCM"},
                      Scheme{"sys", wiringPiSetupSys, 17, 17, 60, "BCM"},
                      Scheme{"wiringpi", wiringPiSetup, 0, 17, 17, "wiringPi"},
                      Scheme{"phys", wiringPiSetupPhys, 11, 17, 2, "physical"},
                      Scheme{"type_wpi", [] { return wiringPiSetupPinType(WPI_PIN_WPI); }, 1, 18,
                             40, "wiringPi"},
                      Scheme{"type_phys", [] { return wiringPiSetupPinType(WPI_PIN_PHYS); }, 12, 18,
                             0, "physical"},
                      Scheme{"device_bcm", [] { return wiringPiSetupGpioDevice(WPI_PIN_BCM); }, 18,
                             18, -1, "BCM"}),
    [](const auto &info) { return info.param.name; });

TEST_F(BoardTest, AnUnknownPinTypeSetsNothingUp) {
    EXPECT_EQ(wiringPiSetupPinType(static_cast<WPIPinType>(0)), -1);
    EXPECT_FALSE(board.is_set_up());
    EXPECT_THAT(board.diagnostics(), ::testing::ElementsAre(HasSubstr("not a pin type")));
}

// millis() and micros() count the board's clock from the set-up call, as 32-bit values that
// wrap; piMicros64 does not wrap.
TEST_F(BoardTest, TimeCountsFromTheSetUpAndWrapsAt32Bits) {
    board.set_real_sleep(false);
    delay(5);  // before the set-up: not counted
    wiringPiSetup();
    const unsigned int start = millis();
    delay(1500);
    EXPECT_EQ(millis() - start, 1500U);
    EXPECT_GE(micros(), 1'501'000U);
    delay(4'295'000);  // past 2^32 microseconds
    const unsigned long long wide = piMicros64();
    EXPECT_GT(wide, 4'294'967'296ULL);
    EXPECT_EQ(static_cast<unsigned int>(wide), micros() - board.costs().read_ns / 1000);
}

// The byte calls move wiringPi pins 0 to 7 at once, in wiringPi's bit orders, in any numbering;
// a Pi 5 has neither.
TEST_F(BoardTest, TheByteCallsMoveWiringPiPinsZeroToSevenInTheirBitOrders) {
    wiringPiSetupPhys();
    for (const int pin : {11, 12, 13, 15, 16, 18, 22, 7}) {  // wPi 0 to 7 on the header
        pinMode(pin, OUTPUT);
    }
    board.clear_diagnostics();
    digitalWriteByte(0x81);  // wPi 0 and wPi 7
    EXPECT_TRUE(board.level(17));
    EXPECT_TRUE(board.level(4));
    EXPECT_FALSE(board.level(18));
    EXPECT_EQ(digitalReadByte(), 0x81U);  // wPi 0 in bit 7, wPi 7 in bit 0
    digitalWriteByte(0x02);               // wPi 1 alone
    EXPECT_EQ(digitalReadByte(), 0x40U);
    EXPECT_TRUE(board.diagnostics().empty());
    board.set_model(vboard::PiModel::Pi5);
    digitalWriteByte(0xFF);
    EXPECT_EQ(board.calls().back().flag, vboard::Flag::NotOnModel);
    EXPECT_EQ(digitalReadByte(), 0U);
    EXPECT_FALSE(board.level(17));
    EXPECT_THAT(board.diagnostics(), ::testing::ElementsAre(HasSubstr("not on a Raspberry Pi 5"),
                                                            HasSubstr("not on a Raspberry Pi 5")));
}

// Each model answers the board-information calls as a Pi of that model does.
struct ModelAnswer {
    vboard::PiModel model;
    int id, rev, mem, rp1;
};

class ModelAnswers : public BoardTest, public ::testing::WithParamInterface<ModelAnswer> {};

TEST_P(ModelAnswers, AsThatPi) {
    const ModelAnswer &want = GetParam();
    board.set_model(want.model);
    int model = -1, rev = -1, mem = -1, maker = -1, over = -1;
    piBoardId(&model, &rev, &mem, &maker, &over);
    EXPECT_EQ(model, want.id);
    EXPECT_EQ(rev, want.rev);
    EXPECT_EQ(mem, want.mem);
    EXPECT_EQ(maker, PI_MAKER_SONY);
    EXPECT_EQ(over, 0);
    EXPECT_EQ(piRP1Model(), want.rp1);
    EXPECT_EQ(piBoard40Pin(), 1);
    EXPECT_EQ(piGpioLayout(), 2);
    EXPECT_EQ(calls().front(), "piBoardId() = " + std::to_string(want.id));
}

INSTANTIATE_TEST_SUITE_P(
    Board, ModelAnswers,
    ::testing::Values(ModelAnswer{vboard::PiModel::Pi3B, PI_MODEL_3B, 2, 2, 0},
                      ModelAnswer{vboard::PiModel::Pi4B, PI_MODEL_4B, 4, 4, 0},
                      ModelAnswer{vboard::PiModel::Pi400, PI_MODEL_400, 0, 4, 0},
                      ModelAnswer{vboard::PiModel::Zero2W, PI_MODEL_ZERO_2W, 0, 1, 0},
                      ModelAnswer{vboard::PiModel::Pi5, PI_MODEL_5, 0, 5, 1},
                      ModelAnswer{vboard::PiModel::Cm4, PI_MODEL_CM4, 0, 3, 0}),
    [](const auto &info) { return vboard::to_string(info.param.model); });

TEST(BoardFileModel, NamesThePiOrIsRefused) {
    EXPECT_EQ(vboard::BoardFile::parse("[board]\nmodel = \"pi5\"\n", "b.toml").model,
              vboard::PiModel::Pi5);
    try {
        vboard::BoardFile::parse("[board]\nmodel = \"pi9\"\n", "b.toml");
        FAIL() << "accepted";
    } catch (const vboard::BoardFileError &error) {
        EXPECT_STREQ(error.what(),
                     "b.toml:2: board.model: expected \"pi3b\", \"pi4b\", "
                     "\"pi400\", \"zero2w\", \"pi5\" or \"cm4\"");
    }
}

// A thread of wiringPi's runs the function given, and piLock keeps two threads apart.
int g_counter = 0;
PI_THREAD(count_up) {
    static_cast<void>(dummy);
    for (int i = 0; i < 10'000; ++i) {
        piLock(1);
        ++g_counter;
        piUnlock(1);
    }
    piLock(1);
    ++g_counter;  // done
    piUnlock(1);
    return nullptr;
}

TEST(WiringPiThreads, RunTheFunctionAndLockByKey) {
    EXPECT_EQ(piHiPri(55), 0);
    EXPECT_EQ(piThreadCreate(nullptr), -1);
    ASSERT_EQ(piThreadCreate(count_up), 0);
    ASSERT_EQ(piThreadCreate(count_up), 0);
    for (int spins = 0; spins < 2'000; ++spins) {
        piLock(1);
        const bool done = g_counter == 20'002;
        piUnlock(1);
        if (done) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    piLock(1);
    EXPECT_EQ(g_counter, 20'002);
    piUnlock(1);
}

// SPIx on bus 0 is SPI0; a closed channel refuses transfers as one never opened; the descriptor
// set-up returns is the one GetFd gives, and a driver's own ioctl on it reaches nothing.
TEST_F(BoardTest, SpiCallsWithABusCloseAndTheirDescriptor) {
    ASSERT_EQ(wiringPiSetupGpio(), 0);
    std::vector<std::vector<std::uint8_t>> seen;
    board.attach_spi_device(0, [&](std::span<const std::uint8_t> sent) {
        seen.emplace_back(sent.begin(), sent.end());
        return std::vector<std::uint8_t>{0x5A};
    });
    const int fd = wiringPiSPIxSetupMode(0, 0, 1'000'000, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(wiringPiSPIGetFd(0), fd);
    EXPECT_EQ(wiringPiSPIxGetFd(0, 0), fd);
    EXPECT_EQ(::ioctl(fd, 0), -1);  // not a spidev: nothing reached
    unsigned char data[] = {0x11};
    EXPECT_EQ(wiringPiSPIxDataRW(0, 0, data, 1), 1);
    EXPECT_EQ(data[0], 0x5A);
    EXPECT_EQ(calls().back(), "wiringPiSPIxDataRW(0, 0, [11], 1) = 1");
    EXPECT_EQ(wiringPiSPIxClose(0, 0), 0);
    EXPECT_EQ(wiringPiSPIGetFd(0), -1);
    EXPECT_EQ(wiringPiSPIDataRW(0, data, 1), -9);
    EXPECT_EQ(wiringPiSPIClose(0), -9);
    EXPECT_EQ(seen.size(), 1U);
    EXPECT_TRUE(board.diagnostics().empty());
}

TEST_F(BoardTest, AnotherSpiBusIsRefusedNamingIt) {
    ASSERT_EQ(wiringPiSetupGpio(), 0);
    unsigned char data[] = {0x11};
    for (const auto &call : std::vector<std::function<int()>>{
             [] { return wiringPiSPIxSetup(1, 0, 1'000'000); },
             [] { return wiringPiSPIxSetupMode(2, 0, 1'000'000, 0); },
             [] { return wiringPiSPIxSetup(-1, 0, 1'000'000); },
             [&] { return wiringPiSPIxDataRW(1, 0, data, 1); },
             [] { return wiringPiSPIxClose(1, 0); }, [] { return wiringPiSPIxGetFd(1, 0); }}) {
        EXPECT_EQ(call(), -22);
        EXPECT_EQ(board.calls().back().flag, vboard::Flag::BadBus);
    }
    EXPECT_THAT(board.diagnostics(),
                ::testing::Contains("wiringPiSPIxSetup(1, 0, 1000000): SPI bus 1 is not on the "
                                    "board: only SPI0 (bus 0) is modelled"));
    EXPECT_EQ(data[0], 0x11);
}

}  // namespace
