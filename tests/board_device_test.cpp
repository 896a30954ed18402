// SPDX-License-Identifier: MIT
// The device interface: models loaded from shared objects and the board's own, their parameters
// and refusals, timers, line watches, drives, the log and diagnostics, and the handles.

#include <gmock/gmock.h>

#include <string>

#include "board_fixture.hpp"
#include "vboard/board_file.hpp"
#include "vboard/device.hpp"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr int kIn = 20;
constexpr int kOut = 21;  // both pulled down at power-on

std::string probe_device(const std::string &path, const std::string &params,
                         const std::string &bus = "spi0") {
    return "[[device]]\nmodel = \"plugin\"\npath = \"" + path + "\"\nbus = \"" + bus +
           "\"\nlines = { in = 5, out = 6 }\nparams = { " + params + " }\n";
}

struct Refusal {
    const char *name;
    std::string text;
    std::string message;
};

class DeviceRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(DeviceRefusals, AreRefusedWithFileLineKeyAndReason) {
    try {
        vboard::BoardFile::parse(GetParam().text, "b.toml");
        FAIL() << "accepted";
    } catch (const vboard::BoardFileError &error) {
        EXPECT_EQ(std::string(error.what()), GetParam().message);
    }
}

const std::string kProbe = PROBE_MODEL;

INSTANTIATE_TEST_SUITE_P(
    Board, DeviceRefusals,
    ::testing::Values(
        Refusal{"missing_library", probe_device("/no/such/libprobe.so", "delay = \"1ms\""),
                "b.toml:3: device[0].path: expected a device model library that loads "
                "(/no/such/libprobe.so: cannot open shared object file: No such file or "
                "directory)"},
        Refusal{"recording_without_a_trace",
                "[[device]]\nmodel = \"recording\"\nbus = \"spi0\"\nparams = { x = 1 }\n",
                "b.toml:4: device[0].params.x: expected a parameter of model \"recording\" "
                "(unknown key)"},
        Refusal{"recording_of_a_missing_trace",
                "[[device]]\nmodel = \"recording\"\nbus = \"spi0\"\n\nparams = { trace = "
                "\"/no/such.trace\" }\n",
                "b.toml:5: device[0].params.trace: expected a trace this board reads "
                "(/no/such.trace: cannot read: No such file or directory)"},
        Refusal{"no_entry_point", probe_device(PROBE_NO_ENTRY_MODEL, "delay = \"1ms\""),
                "b.toml:3: device[0].path: expected a library exporting vb_device_entry_v1 (it "
                "has no entry point)"},
        Refusal{"other_abi", probe_device(PROBE_OTHER_ABI_MODEL, "delay = \"1ms\""),
                "b.toml:3: device[0].path: expected a model of device ABI version 1 (it is built "
                "for version 99)"},
        Refusal{"unknown_model", "[[device]]\nbus = \"spi0\"\nmodel = \"lcd\"\n",
                "b.toml:3: device[0].model: expected \"echo\", \"replies\", \"registers\", "
                "\"tft\", \"ssd16xx\", \"uc81xx\", \"recording\" or \"plugin\""},
        Refusal{"no_model", "[[device]]\nbus = \"spi0\"\n",
                "b.toml:1: device[0].model: expected the device's model: \"echo\", \"replies\", "
                "\"registers\", \"tft\", \"ssd16xx\", \"uc81xx\", \"recording\" or \"plugin\""},
        Refusal{"mistyped", probe_device(kProbe, "delay = 5"),
                "b.toml:6: device[0].params.delay: expected a duration with its unit, as "
                "\"100us\", \"5ms\" or \"2s\""},
        Refusal{"mistyped_bool", probe_device(kProbe, "delay = \"1ms\", cancel = \"yes\""),
                "b.toml:6: device[0].params.cancel: expected true or false"},
        Refusal{"missing", probe_device(kProbe, "cancel = true"),
                "b.toml:1: device[0].params.delay: expected a delay (probe needs one)"},
        Refusal{"out_of_range", probe_device(kProbe, "delay = \"2s\""),
                "b.toml:6: device[0].params.delay: expected a delay of at most 1s"},
        Refusal{"unknown", probe_device(kProbe, "delay = \"1ms\", colour = \"red\""),
                "b.toml:6: device[0].params.colour: expected a parameter of model \"probe\" "
                "(unknown key)"},
        Refusal{"model_refuses_lines",
                "[[device]]\nmodel = \"plugin\"\npath = \"" + kProbe + "\"\nbus = \"spi0\"\n",
                "b.toml:1: device[0]: expected lines named in and out"},
        Refusal{"no_path", "[[device]]\nmodel = \"plugin\"\nbus = \"link\"\n",
                "b.toml:1: device[0].path: expected the model library's file (model = \"plugin\" "
                "needs path)"},
        Refusal{"path_for_builtin",
                "[[device]]\nmodel = \"echo\"\npath = \"x.so\"\nbus = \"link\"\n",
                "b.toml:3: device[0].path: expected model = \"plugin\": only a plug-in is loaded "
                "from a file"},
        Refusal{"builtin_parameter",
                "[[device]]\nmodel = \"registers\"\nbus = \"spi1\"\nparams = { read_bit = 3 }\n",
                "b.toml:4: device[0].params.read_bit: expected a single bit, as 0x80 or 0x01"},
        Refusal{"no_bus", "[[device]]\nmodel = \"echo\"\n",
                "b.toml:1: device[0].bus: expected the bus the device sits on: \"link\", \"spi0\" "
                "or \"spi1\""},
        Refusal{
            "bad_param_value",
            "[[device]]\nmodel = \"echo\"\nbus = \"link\"\nparams = { x = 1.5 }\n",
            "b.toml:4: device[0].params.x: expected an integer, true or false, a string, an array "
            "of bytes or a list of strings"},
        Refusal{"same_select",
                "[[device]]\nmodel = \"echo\"\nbus = \"link\"\nselect = 8\n"
                "[[device]]\nmodel = \"echo\"\nbus = \"link\"\nselect = 8\n",
                "b.toml:5: device[1].select: expected a select line with no device yet on the "
                "link; one is there from line 1"},
        Refusal{"spi_and_device_on_one_chip_enable",
                "[[spi]]\nchannel = 1\nmodel = \"echo\"\n[[device]]\nmodel = \"echo\"\nbus = "
                "\"spi1\"\n",
                "b.toml:4: device[0].bus: expected a chip enable with no device yet; channel 1 "
                "has one from line 2"}),
    [](const auto &info) { return std::string(info.param.name); });

// A plug-in that crashes while its device is made is refused at its path; the check survives it.
TEST(DeviceRefusal, APlugInThatCrashesInCreateIsRefusedAtItsPath) {
    try {
        vboard::BoardFile::parse(probe_device(kProbe, "delay = \"1ms\", crash = true"), "b.toml");
        FAIL() << "accepted";
    } catch (const vboard::BoardFileError &error) {
        EXPECT_THAT(std::string(error.what()),
                    ::testing::StartsWith("b.toml:3: device[0].path: expected a device model "
                                          "library whose create() returns (" +
                                          kProbe + " crashed making the device: "));
    }
}

class DeviceTest : public BoardTest {
  protected:
    void SetUp() override {
        board.set_real_sleep(false);
        ASSERT_EQ(wiringPiSetupGpio(), 0);
        pinMode(kIn, OUTPUT);
    }

    vboard::Device attach_probe(bool cancel, vboard::Bus bus = vboard::Bus::Spi0) {
        vboard::DeviceConfig config;
        config.model = "plugin";
        config.path = kProbe;
        config.bus = bus;
        config.lines = {{"in", kIn}, {"out", kOut}};
        config.params = {
            {"delay", std::string("100us")}, {"cancel", cancel}, {"note", std::string("made")}};
        return board.attach_device(config);
    }
};

TEST_F(DeviceTest, ATimerStartedOnAWatchedEdgeDrivesItsLineAtItsMoment) {
    attach_probe(false);
    digitalWrite(kIn, HIGH);
    const std::uint64_t rose = board.now_ns() - board.costs().write_ns;
    delayMicroseconds(99);
    EXPECT_EQ(digitalRead(kOut), LOW);
    delayMicroseconds(1);
    EXPECT_EQ(digitalRead(kOut), HIGH);
    EXPECT_TRUE(board.line(kOut).driven);
    digitalWrite(kIn, LOW);  // drives out low at once
    EXPECT_EQ(digitalRead(kOut), LOW);
    EXPECT_THAT(calls(), Contains("probe: edge in 1 at " + std::to_string(rose)));
    EXPECT_THAT(board.diagnostics(), ElementsAre("probe: made"));
}

TEST_F(DeviceTest, ACancelledTimerNeverFires) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        attach_probe(cancel);
        digitalWrite(kIn, HIGH);
        delayMicroseconds(50);
        digitalWrite(kIn, LOW);  // before the timer: cancel it, or let it fire
        delayMicroseconds(200);
        EXPECT_EQ(digitalRead(kOut), cancel ? LOW : HIGH);
    }
}

TEST_F(DeviceTest, ABytesLineLevelsAreThoseAtTheByte) {
    attach_probe(false);
    for (const int pin : {vboard::kSpiSclk, vboard::kSpiMosi, vboard::kSpiMiso, vboard::kSpiCe0}) {
        pinModeAlt(pin, 4);
    }
    ASSERT_GT(wiringPiSPISetup(0, 1'000'000), 0);
    board.drive(kOut, true);
    digitalWrite(kIn, HIGH);
    unsigned char buffer[2] = {0x00, 0x01};
    wiringPiSPIDataRW(0, buffer, 2);
    EXPECT_EQ(buffer[0], 0x03);  // in and out high
    EXPECT_EQ(buffer[1], 0x03);
}

// A byte reaches a model at its first bit, with that moment: on SPI each byte as it goes out, on
// the link a sent byte at its last rising edge but with its first's time.
TEST_F(DeviceTest, EachByteCarriesTheTimeOfItsFirstBit) {
    for (const vboard::Bus bus : {vboard::Bus::Spi0, vboard::Bus::Link}) {
        SCOPED_TRACE(vboard::to_string(bus));
        board.reset();
        ASSERT_EQ(wiringPiSetupGpio(), 0);
        vboard::DeviceConfig config;
        config.model = "plugin";
        config.path = kProbe;
        config.bus = bus;
        config.lines = {{"in", kIn}, {"out", kOut}};
        config.params = {{"delay", std::string("1us")}, {"log_bytes", true}};
        board.attach_device(config);
        std::vector<std::string> want;
        if (bus == vboard::Bus::Spi0) {
            ASSERT_GT(wiringPiSPISetup(0, 1'000'000), 0);  // 8 us a byte
            board.clear_calls();
            unsigned char buffer[3] = {0x11, 0x22, 0x33};
            wiringPiSPIDataRW(0, buffer, 3);
            // The transfer goes out after the call's own cost.
            const std::uint64_t start =
                board.calls().front().time_ns + board.costs().spi_transfer_ns;
            for (int i = 0; i < 3; ++i) {
                want.push_back("probe: byte exchange 0x" + std::to_string(11 * (i + 1)) + " at " +
                               std::to_string(start + i * 8'000U));
            }
        } else {
            pinMode(vboard::kLinkClock, OUTPUT);
            pinMode(vboard::kLinkData, OUTPUT);
            board.clear_calls();
            std::uint64_t first_rise = 0;
            for (int bit = 7; bit >= 0; --bit) {
                digitalWrite(vboard::kLinkClock, LOW);
                digitalWrite(vboard::kLinkData, (0xA5 >> bit) & 1);
                first_rise = bit == 7 ? board.now_ns() : first_rise;
                digitalWrite(vboard::kLinkClock, HIGH);
            }
            want.push_back("probe: byte to 0xa5 at " + std::to_string(first_rise));
        }
        std::vector<std::string> logged;
        for (const std::string &line : calls()) {
            if (line.starts_with("probe: byte")) {
                logged.push_back(line);
            }
        }
        EXPECT_EQ(logged, want);
    }
}

// A device behind SPI0's chip enable gets the same bytes whether its select is left to the chip
// enable or named as that line.
TEST_F(DeviceTest, ASelectNamedAsTheChipEnableIsTheChipEnable) {
    std::vector<std::vector<unsigned char>> answers;
    for (const int select : {-1, vboard::kSpiCe0}) {
        board.reset();
        ASSERT_EQ(wiringPiSetupGpio(), 0);
        vboard::DeviceConfig config;
        config.model = "echo";
        config.bus = vboard::Bus::Spi0;
        config.select = select;
        board.attach_device(config);
        ASSERT_GT(wiringPiSPISetup(0, 1'000'000), 0);
        unsigned char first[3] = {0x01, 0x02, 0x03};
        wiringPiSPIDataRW(0, first, 3);
        unsigned char again[3] = {0x04, 0x05, 0x06};
        wiringPiSPIDataRW(0, again, 3);
        answers.emplace_back(again, again + 3);
    }
    EXPECT_NE(answers[0], std::vector<unsigned char>(3, 0));  // the echo answered
    EXPECT_EQ(answers[1], answers[0]);
}

TEST_F(DeviceTest, DetachingOrResettingEndsTheDeviceAndItsTimers) {
    vboard::Device probe = attach_probe(false);
    EXPECT_TRUE(probe.attached());
    EXPECT_EQ(probe.model(), "probe");
    digitalWrite(kIn, HIGH);
    board.detach_device(probe);
    delayMicroseconds(200);
    EXPECT_EQ(digitalRead(kOut), LOW);  // its timer went with it
    EXPECT_FALSE(probe.attached());
    EXPECT_THROW(probe.name(), std::logic_error);
    vboard::Device again = attach_probe(false);
    board.reset();
    EXPECT_FALSE(again.attached());
}

TEST_F(DeviceTest, EveryBuiltInModelIsFoundByItsName) {
    for (const std::string model : {"echo", "replies", "registers", "tft", "ssd16xx", "uc81xx"}) {
        vboard::DeviceConfig config;
        config.model = model;
        config.name = "d";
        config.bus = vboard::Bus::Spi0;
        if (model == "tft") {
            config.lines = {{"dc", 25}};
        } else if (model != "echo" && model != "replies" && model != "registers") {
            config.lines = {{"dc", 25}, {"busy", 24}};
        }
        EXPECT_EQ(board.attach_device(config).model(), model);
    }
    vboard::DeviceConfig config;
    config.model = "plugin";
    config.key = "device[0]";
    try {
        board.attach_device(config);
        FAIL() << "a plug-in without a path was attached";
    } catch (const vboard::DeviceError &error) {
        EXPECT_THAT(error.what(), HasSubstr("device[0].path: expected the device model library"));
    }
}

TEST_F(DeviceTest, HandlesReachTheBuiltInModelsAndRefuseOthers) {
    vboard::DeviceConfig config;
    config.model = "registers";
    config.name = "bank";
    config.bus = vboard::Bus::Spi1;
    config.params = {{"values", std::vector<std::uint8_t>{0x10, 0x11}}};
    vboard::Device bank = board.attach_device(config);
    EXPECT_EQ(bank.registers().value(1), 0x11);
    bank.registers().set(2, 0x22);
    EXPECT_EQ(board.device("bank").registers().value(2), 0x22);
    EXPECT_THROW(bank.replies(), std::logic_error);
    EXPECT_THROW(board.device("nothing"), std::out_of_range);
    config.name = "other";
    config.model = "nonsense";
    EXPECT_THROW(board.attach_device(config), vboard::DeviceError);
    EXPECT_EQ(board.device("bank").registers().value(1),
              0x11);  // a refused device replaces nothing
}

TEST_F(DeviceTest, SeveralDevicesShareTheLinkEachBehindItsSelectLine) {
    const auto replies = [](const std::string &name, int select, std::uint8_t reply) {
        vboard::DeviceConfig config;
        config.model = "replies";
        config.name = name;
        config.bus = vboard::Bus::Link;
        config.select = select;
        config.params = {{"replies", std::vector<std::uint8_t>{reply}}};
        return config;
    };
    board.attach_device(replies("a", 22, 0xA1));
    board.attach_device(replies("b", 23, 0xB2));
    ::testing::internal::CaptureStdout();
    DEV_ModuleInit();
    ::testing::internal::GetCapturedStdout();
    pinMode(22, OUTPUT);
    pinMode(23, OUTPUT);
    digitalWrite(22, HIGH);
    digitalWrite(23, LOW);  // b selected
    DEV_SPI_SendData(0x42);
    EXPECT_EQ(DEV_SPI_ReadData(), 0xB2);
    digitalWrite(23, HIGH);
    digitalWrite(22, LOW);  // a selected
    EXPECT_EQ(DEV_SPI_ReadData(), 0xA1);
    EXPECT_THAT(board.device("b").replies().received(), ElementsAre(0x42));
    EXPECT_TRUE(board.device("a").replies().received().empty());
}

}  // namespace
