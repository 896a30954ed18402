// SPDX-License-Identifier: MIT
// The transaction table written as a run goes, and a recorder that keeps it.

#include "vboard/transaction_writer.hpp"

#include <algorithm>
#include <fstream>
#include <ostream>

#include "json.hpp"
#include "transaction_text.hpp"
#include "vboard/duration.hpp"

namespace vboard {
namespace {

constexpr const char *kUndirectedComment =
    "# ? bytes: seen on the link's data line by a capture, which cannot see which way it was "
    "turned; they compare by value, bit count and framing only";

}  // namespace

TransactionWriter::TransactionWriter(std::ostream &out, Format format)
    : out_(out), format_(format) {}

namespace {
std::unique_ptr<std::ostream> open_for_writing(const std::string &path) {
    auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!*file) {
        throw std::runtime_error("cannot write '" + path + "'");
    }
    return file;
}
}  // namespace

TransactionWriter::TransactionWriter(const std::string &path, Format format)
    : owned_(open_for_writing(path)), out_(*owned_), format_(format) {}

TransactionWriter::~TransactionWriter() = default;

void TransactionWriter::start(const FramingOptions &framing) {
    framing_ = framing;
    side_names_ = side_names(framing);
    if (format_ == Format::Text) {
        out_ << kTransactionHeader << '\n';
        if (!framing.side_lines.empty()) {
            out_ << "# side lines:";
            for (const SideLine &side : framing.side_lines) {
                out_ << ' ' << side.name << "=BCM" << side.pin;
            }
            out_ << '\n';
        }
    }
}

void TransactionWriter::transaction(const Transaction &transaction) {
    if (format_ == Format::Text && !told_undirected_ &&
        std::any_of(transaction.bytes.begin(), transaction.bytes.end(),
                    [](const TransactionByte &b) { return b.direction == Direction::Unknown; })) {
        out_ << kUndirectedComment << '\n';
        told_undirected_ = true;
    }
    out_ << (format_ == Format::Text ? format_line(transaction, side_names_)
                                     : json_transaction(transaction, side_names_))
         << '\n';
}

void TransactionWriter::violation(const TimingViolation &violation) {
    if (check_names_.size() <= violation.check) {
        check_names_.resize(violation.check + 1);
    }
    check_names_[violation.check] = violation.name;
    if (format_ == Format::Text) {
        out_ << "! " << violation.to_string() << '\n';
        return;
    }
    out_ << "{\"type\":\"violation\",\"check\":" << json_string(violation.name)
         << ",\"time_ns\":" << violation.time_ns << ",\"measured\":" << violation.measured
         << ",\"limit\":" << violation.limit << ",\"unit\":\"" << (violation.rate ? "Hz" : "ns")
         << "\",\"text\":" << json_string(violation.to_string()) << "}\n";
}

void TransactionWriter::frame(const Frame &frame) {
    const Image &image = *frame.image;
    if (format_ == Format::Text) {
        out_ << "# frame " << frame.file_name() << " at " << format_duration(frame.time_ns) << ", "
             << image.width << 'x' << image.height << '\n';
        return;
    }
    out_ << "{\"type\":\"frame\",\"index\":" << frame.index
         << ",\"device\":" << json_string(frame.device) << ",\"time_ns\":" << frame.time_ns
         << ",\"file\":" << json_string(frame.file_name()) << ",\"width\":" << image.width
         << ",\"height\":" << image.height << "}\n";
}

void TransactionWriter::finish(std::uint64_t time_ns,
                               const std::vector<std::uint64_t> &violation_counts) {
    std::string counts;
    for (std::size_t i = 0; i < violation_counts.size(); ++i) {
        if (violation_counts[i] == 0) {
            continue;
        }
        const std::string name =
            i < check_names_.size() ? check_names_[i] : "check " + std::to_string(i);
        if (format_ == Format::Text) {
            out_ << "!! " << name << ": " << violation_counts[i]
                 << (violation_counts[i] == 1 ? " violation" : " violations");
            if (violation_counts[i] > kViolationsKeptPerCheck) {
                out_ << ", the first " << kViolationsKeptPerCheck << " listed";
            }
            out_ << '\n';
        } else {
            if (!counts.empty()) {
                counts += ',';
            }
            counts.append(json_string(name))
                .append(1, ':')
                .append(std::to_string(violation_counts[i]));
        }
    }
    if (format_ == Format::JsonLines) {
        out_ << "{\"type\":\"end\",\"time_ns\":" << time_ns << ",\"violations\":{" << counts
             << "}}\n";
    }
    out_.flush();
}

void TransactionWriter::event(const RunEvent &event) {
    switch (event.kind) {
        case RunEventKind::Start: start(event.start->framing); break;
        case RunEventKind::Transaction: transaction(*event.transaction); break;
        case RunEventKind::Violation: violation(*event.violation); break;
        case RunEventKind::Frame: frame(*event.frame); break;
        case RunEventKind::End: finish(event.time_ns, event.end->violation_counts); break;
        default: break;
    }
}

void TransactionRecorder::event(const RunEvent &event) {
    switch (event.kind) {
        case RunEventKind::Start: framing = event.start->framing; break;
        case RunEventKind::Transaction: transactions.push_back(*event.transaction); break;
        case RunEventKind::Violation: violations.push_back(*event.violation); break;
        case RunEventKind::End:
            violation_counts = event.end->violation_counts;
            finished = true;
            break;
        default: break;
    }
}

}  // namespace vboard
