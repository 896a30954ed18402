// SPDX-License-Identifier: MIT
// The transaction table's text and JSON Lines, shared by the writer and the comparison. Private to
// the library.
#ifndef VBOARD_TRANSACTION_TEXT_HPP
#define VBOARD_TRANSACTION_TEXT_HPP

#include <string>
#include <vector>

#include "vboard/transactions.hpp"

namespace vboard {

// The table's first line.
inline constexpr const char *kTransactionHeader = "# index start end bus select bytes";

// The side lines' names, in the order of TransactionByte::side's bits.
std::vector<std::string> side_names(const FramingOptions &framing);
// One line of the text table (format_transaction()), with the side lines named `names`.
std::string format_line(const Transaction &transaction, const std::vector<std::string> &names);
// One transaction as a JSON Lines object.
std::string json_transaction(const Transaction &transaction, const std::vector<std::string> &names);

}  // namespace vboard

#endif  // VBOARD_TRANSACTION_TEXT_HPP
