// SPDX-License-Identifier: MIT
// Run observers of the transactions: a writer of the transaction table and a recorder that keeps
// them. Add them to a board with Board::add_observer.
#ifndef VBOARD_TRANSACTION_WRITER_HPP
#define VBOARD_TRANSACTION_WRITER_HPP

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "vboard/export.h"
#include "vboard/frames.hpp"
#include "vboard/run_observer.hpp"
#include "vboard/transactions.hpp"

namespace vboard {

// Writes the text table, or JSON Lines (one object per transaction, then one per violation and a
// closing summary object; the fields are in the docs), to a stream the caller keeps open, as
// each transaction ends. The stream is flushed at End. It watches frames too, and lists each
// frame a display showed where it falls among the transactions: in the text table as a comment,
// "# frame 001-panel.png at 2.00312 s, 200x200", in JSON Lines as a "frame" object. Before the
// first link byte with no direction (a capture's), the text table says in a comment what they are.
class VBOARD_EXPORT TransactionWriter : public RunObserver {
  public:
    enum class Format : std::uint8_t { Text, JsonLines };
    TransactionWriter(std::ostream &out, Format format);
    // Writes to the file at `path`, which it owns; throws std::runtime_error naming the file
    // when it cannot be written.
    TransactionWriter(const std::string &path, Format format);
    ~TransactionWriter() override;

    unsigned interests() const override { return kWatchTransactions | kWatchFrames; }
    void event(const RunEvent &event) override;

  private:
    VBOARD_NO_EXPORT void start(const FramingOptions &framing);
    VBOARD_NO_EXPORT void transaction(const Transaction &transaction);
    VBOARD_NO_EXPORT void violation(const TimingViolation &violation);
    VBOARD_NO_EXPORT void finish(std::uint64_t time_ns,
                                 const std::vector<std::uint64_t> &violation_counts);
    VBOARD_NO_EXPORT void frame(const Frame &frame);

    std::unique_ptr<std::ostream> owned_;
    std::ostream &out_;
    Format format_;
    FramingOptions framing_;
    std::vector<std::string> side_names_;
    std::vector<std::string> check_names_;
    bool told_undirected_ = false;  // the text table has said what "?" bytes are
};

// Keeps what it is told, for tests and tools that look at a run afterwards.
class VBOARD_EXPORT TransactionRecorder : public RunObserver {
  public:
    unsigned interests() const override { return kWatchTransactions; }
    void event(const RunEvent &event) override;

    FramingOptions framing;
    std::vector<Transaction> transactions;
    std::vector<TimingViolation> violations;
    std::vector<std::uint64_t> violation_counts;
    bool finished = false;
};

}  // namespace vboard

#endif  // VBOARD_TRANSACTION_WRITER_HPP
