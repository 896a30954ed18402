// SPDX-License-Identifier: MIT
// A run's configuration through the environment: what a runner puts there, the board reads back
// the same, and a value it cannot use is refused naming its variable.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "vboard/run_config.hpp"

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
