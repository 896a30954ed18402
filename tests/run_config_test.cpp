// SPDX-License-Identifier: MIT
// A run's configuration through the environment: what a runner puts there, the board reads back
// the same, and a value it cannot use is refused naming its variable. And the outputs it names:
// all written, or, when one cannot be, that one named and none opened.

#include <gtest/gtest.h>

#include <unistd.h>
#include <wiringPi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "vboard/board.hpp"
#include "vboard/run_config.hpp"
#include "vboard/run_observer.hpp"
#include "vboard/run_outputs.hpp"

namespace {

void put_in_environment(const vboard::RunConfig &config) {
    for (const auto &[name, value] : vboard::run_environment(config)) {
        if (value.empty()) {
            ::unsetenv(name.c_str());
        } else {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
}

class RunConfigTest : public ::testing::Test {
  protected:
    void TearDown() override { put_in_environment({}); }
};

TEST_F(RunConfigTest, WhatARunnerPutsInTheEnvironmentReadsBackTheSame) {
    vboard::RunConfig full;
    full.board_file = "/b/board.toml";
    full.vcd = "/o/run.vcd";
    full.log = "/o/calls.log";
    full.transactions = "/o/t.jsonl";
    full.transactions_format = vboard::TransactionWriter::Format::JsonLines;
    full.transactions_text = "/tmp/copy.txt";
    full.frames = "/o/frames";
    full.html = "/o/report.html";
    full.html_title = "driver --fast \"quoted\"";
    full.report = "/tmp/channel";
    full.timeout_ns = 1'500'000;
    full.no_sleep = true;
    full.line_names = {{24, "BUSY"}, {7, "DEV_CS_S_PIN"}, {0, "a.b-c"}};
    put_in_environment(full);
    vboard::RunEnvironment read = vboard::read_run_environment();
    ASSERT_TRUE(read.config.has_value()) << read.variable << ": " << read.problem;
    EXPECT_EQ(*read.config, full);

    // A second run asking for nothing leaves nothing of the first behind.
    put_in_environment({});
    read = vboard::read_run_environment();
    ASSERT_TRUE(read.config.has_value());
    EXPECT_EQ(*read.config, vboard::RunConfig{});
}

TEST_F(RunConfigTest, AValueThatCannotBeUsedIsRefusedNamingItsVariable) {
    struct Case {
        const char *variable, *value, *problem;
    };
    for (const Case &c : {
             Case{"VBOARD_TIMEOUT", "5 parsecs", "'5 parsecs' is not a duration with its unit"},
             Case{"VBOARD_TIMEOUT", "50", "'50' is not a duration with its unit"},
             Case{"VBOARD_TRANSACTIONS_FORMAT", "csv", "'csv' is not a format (text or jsonl)"},
             Case{"VBOARD_LINE_NAMES", "54=X", "'54=X' is not a list of LINE=NAME"},
             Case{"VBOARD_LINE_NAMES", "24=", "'24=' is not a list of LINE=NAME"},
             Case{"VBOARD_LINE_NAMES", "24=A B", "'24=A B' is not a list of LINE=NAME"},
             Case{"VBOARD_LINE_NAMES", "x=A", "'x=A' is not a list of LINE=NAME"},
             Case{"VBOARD_LINE_NAMES", "24=A,,7=B", "'24=A,,7=B' is not a list of LINE=NAME"},
         }) {
        put_in_environment({});
        ::setenv(c.variable, c.value, 1);
        const vboard::RunEnvironment read = vboard::read_run_environment();
        EXPECT_FALSE(read.config.has_value()) << c.value;
        EXPECT_EQ(read.variable, c.variable);
        EXPECT_EQ(read.problem.rfind(c.problem, 0), 0U) << read.problem;
    }
}

TEST(RunConfig, FormatWordsAreTextAndJsonlOnly) {
    EXPECT_EQ(vboard::transactions_format("text"), vboard::TransactionWriter::Format::Text);
    EXPECT_EQ(vboard::transactions_format("jsonl"), vboard::TransactionWriter::Format::JsonLines);
    for (const char *word : {"", "JSONL", "json", "text "}) {
        EXPECT_FALSE(vboard::transactions_format(word).has_value()) << word;
    }
}

}  // namespace

// ---- The outputs a configuration names --------------------------------------------------------

class RunOutputsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("vboard_outputs_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "frames");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string at(const std::string &name) const { return (dir_ / name).string(); }
    static std::string read(const std::string &path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::filesystem::path dir_;
};

TEST_F(RunOutputsTest, EveryOutputIsWrittenAndTheEndingReachesThePage) {
    vboard::RunConfig config;
    config.vcd = at("run.vcd");
    config.log = at("run.log");
    config.transactions = at("run.jsonl");
    config.transactions_format = vboard::TransactionWriter::Format::JsonLines;
    config.transactions_text = at("copy.txt");
    config.frames = at("frames");
    config.html = at("run.html");
    config.html_title = "outputs test";
    ASSERT_FALSE(vboard::check_run_config(config));
    vboard::Board board;
    const auto outputs = vboard::RunOutputs::open(config);
    outputs->attach(board);
    vboard::ScopedBoard scoped(board);
    board.attach_link_device();
    wiringPiSetupGpio();
    pinMode(8, OUTPUT);
    pinMode(11, OUTPUT);
    pinMode(10, OUTPUT);
    digitalWrite(8, LOW);
    for (int bit = 0; bit < 8; ++bit) {
        digitalWrite(10, bit % 2);
        digitalWrite(11, HIGH);
        digitalWrite(11, LOW);
    }
    digitalWrite(8, HIGH);

    EXPECT_TRUE(outputs->finish(board, "every step ran").empty());
    EXPECT_NE(read(at("run.vcd")).find("bcm11_sclk"), std::string::npos);
    EXPECT_NE(read(at("run.log")).find("digitalWrite(8, 1)"), std::string::npos);
    EXPECT_NE(read(at("run.jsonl")).find("\"value\":85,"), std::string::npos);
    EXPECT_NE(read(at("copy.txt")).find(" 55"), std::string::npos);
    const std::string page = read(at("run.html"));
    EXPECT_NE(page.find("outputs test"), std::string::npos);
    EXPECT_NE(page.find("\"every step ran\""), std::string::npos);
}

TEST_F(RunOutputsTest, AnOutputThatCannotBeWrittenIsNamedAndNothingIsOpened) {
    std::filesystem::create_directories(dir_ / "adir");
    using vboard::RunSetting;
    struct Case {
        RunSetting setting;
        std::string vboard::RunConfig::*field;
        std::string path;
        std::string problem;
    };
    const Case cases[] = {
        {RunSetting::Vcd, &vboard::RunConfig::vcd, "none/x", "No such file or directory"},
        {RunSetting::Log, &vboard::RunConfig::log, "adir", "it is a directory"},
        {RunSetting::Transactions, &vboard::RunConfig::transactions, "none/x", "No such file"},
        {RunSetting::TransactionsText, &vboard::RunConfig::transactions_text, "adir", "directory"},
        {RunSetting::Frames, &vboard::RunConfig::frames, "none", "is not a directory"},
        {RunSetting::Html, &vboard::RunConfig::html, "adir", "it is a directory"},
        {RunSetting::Report, &vboard::RunConfig::report, "none/x", "No such file"},
        {RunSetting::BoardFile, &vboard::RunConfig::board_file, "none.toml", "none.toml"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(vboard::variable_name(c.setting));
        vboard::RunConfig config;
        config.vcd = at("first.vcd");  // usable, and before every other output
        config.*c.field = at(c.path);
        const std::optional<vboard::RunProblem> problem = vboard::check_run_config(config);
        ASSERT_TRUE(problem);
        EXPECT_EQ(problem->setting, c.setting);
        EXPECT_NE(problem->text.find(c.problem), std::string::npos) << problem->text;
        if (c.setting != RunSetting::BoardFile) {  // the board file is its runner's to load
            try {
                vboard::RunOutputs::open(config);
                ADD_FAILURE() << "opened";
            } catch (const vboard::RunSetupError &error) {
                EXPECT_EQ(error.problem().setting, c.setting);
            }
        }
        EXPECT_FALSE(std::filesystem::exists(at("first.vcd")));
    }
}

// Each row of the table of outputs names its own RunConfig field (carried under its setting's
// variable), opens an observer that watches something on that path, and finishes whole.
TEST_F(RunOutputsTest, EachOutputInTheTableOpensWatchesAndFinishesOnItsOwnPath) {
    std::set<std::string> options;
    for (const vboard::OutputModule &output : vboard::output_modules()) {
        SCOPED_TRACE(vboard::variable_name(output.setting));
        if (*output.option != '\0') {
            EXPECT_TRUE(options.insert(output.option).second) << "two rows take " << output.option;
        }
        const std::string path = at(output.directory() ? "frames" : "output");
        if (output.directory()) {
            std::filesystem::create_directories(path);
        }
        vboard::RunConfig config;
        config.*output.path = path;
        bool carried = false;
        for (const auto &[variable, value] : vboard::run_environment(config)) {
            carried |= variable == vboard::variable_name(output.setting) && value == path;
        }
        EXPECT_TRUE(carried);
        const std::shared_ptr<vboard::RunObserver> observer = output.open(config, nullptr);
        ASSERT_TRUE(observer);
        EXPECT_NE(observer->interests(), 0U);
        vboard::Board board;
        board.add_observer(observer);
        board.remove_observer(observer);
        EXPECT_EQ(output.finish(*observer, config, ""), std::nullopt);
        EXPECT_TRUE(std::filesystem::exists(path));
        std::filesystem::remove_all(path);
    }
}
