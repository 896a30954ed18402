// SPDX-License-Identifier: MIT
// Fuzzes the transaction-file reader: any text is either refused with a TransactionFileError (and
// nothing else) or accepted, and an accepted table written out again reads back the same, times
// and all.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vboard/transactions.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    vboard::TransactionTable table;
    try {
        table = vboard::parse_transactions(text, "fuzz.txt");
    } catch (const vboard::TransactionFileError &) {
        return 0;
    }
    vboard::FramingOptions framing;
    framing.selects.clear();
    for (const std::string &name : table.side_names) {
        framing.side_lines.push_back(vboard::SideLine{name, 0});
    }
    std::string written = "# side lines:";
    for (const std::string &name : table.side_names) {
        written += " " + name + "=BCM0";
    }
    written += "\n";
    for (const vboard::Transaction &transaction : table.transactions) {
        written += vboard::format_transaction(transaction, framing) + "\n";
    }
    vboard::TransactionTable again;
    try {
        again = vboard::parse_transactions(written, "written.txt");
    } catch (const vboard::TransactionFileError &error) {
        std::fprintf(stderr, "a table written out does not read back: %s\n%s", error.what(),
                     written.c_str());
        std::abort();
    }
    vboard::CompareOptions exact;
    exact.time_tolerance_ns = 0;
    const std::string difference = vboard::compare_transactions(table, again, exact);
    if (!difference.empty()) {
        std::fprintf(stderr, "a table read back differs:\n%s", difference.c_str());
        std::abort();
    }
    return 0;
}
