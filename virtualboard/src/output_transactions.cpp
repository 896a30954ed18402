// SPDX-License-Identifier: MIT
// The transaction outputs: the table in the run's format, and a copy that is always text.

#include "output_modules.hpp"
#include "vboard/transaction_writer.hpp"

namespace vboard {
namespace {

// A stream's failure is seen by the next writes' callers only: the file is whole as far as the
// writer goes.
std::optional<std::string> nothing_to_say(RunObserver &, const RunConfig &, const std::string &) {
    return std::nullopt;
}

}  // namespace

const OutputModule kTransactionsOutput{
    .setting = RunSetting::Transactions,
    .path = &RunConfig::transactions,
    .option = "--transactions",
    .argument = "FILE",
    .help =
        "stream the transactions (the bytes on the link and on SPI0, framed by their select "
        "lines) and the timing violations to FILE",
    .open = [](const RunConfig &config, const BoardFile *) -> std::shared_ptr<RunObserver> {
        return std::make_shared<TransactionWriter>(config.transactions, config.transactions_format);
    },
    .finish = nothing_to_say,
};

const OutputModule kTransactionsTextOutput{
    .setting = RunSetting::TransactionsText,
    .path = &RunConfig::transactions_text,
    .option = "",  // the runner's own copy, for --expect
    .argument = "FILE",
    .help = "",
    .open = [](const RunConfig &config, const BoardFile *) -> std::shared_ptr<RunObserver> {
        return std::make_shared<TransactionWriter>(config.transactions_text,
                                                   TransactionWriter::Format::Text);
    },
    .finish = nothing_to_say,
};

}  // namespace vboard
