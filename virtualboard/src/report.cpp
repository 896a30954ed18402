// SPDX-License-Identifier: MIT
// The HTML report: what a run did, collected as it goes, written as one page with its script,
// style and data inside.

#include "vboard/report.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "json.hpp"
#include "report_assets.hpp"

namespace vboard {
namespace {

int function_code(Function function) { return static_cast<int>(function); }

// "[3,0,17,...]": times as deltas from `base`, so a long run stays short.
template <typename Items, typename Time, typename Keep>
std::string delta_array(const Items &items, std::uint64_t base, Time time, Keep keep) {
    std::string out = "[";
    std::uint64_t previous = base;
    bool first = true;
    for (const auto &item : items) {
        if (!keep(item)) {
            continue;
        }
        out += first ? "" : ",";
        out += std::to_string(time(item) - previous);
        previous = time(item);
        first = false;
    }
    return out + "]";
}

template <typename Array>
std::string int_array(const Array &values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += i == 0 ? "" : ",";
        out += std::to_string(static_cast<int>(values[i]));
    }
    return out + "]";
}

std::string function_array(const std::array<Function, kLineCount> &functions) {
    std::array<int, kLineCount> codes{};
    for (int pin = 0; pin < kLineCount; ++pin) {
        codes[pin] = function_code(functions[pin]);
    }
    return int_array(codes);
}

// One part of the run's line changes: for each line, its level at `base` and the times of its
// changes as deltas.
template <typename Edges>
std::string edges_json(const Edges &edges, std::uint64_t base,
                       const std::array<bool, kLineCount> &levels) {
    std::string out =
        "{\"base\":" + std::to_string(base) + ",\"levels\":" + int_array(levels) + ",\"lines\":{";
    bool first = true;
    for (int pin = 0; pin < kLineCount; ++pin) {
        bool any = false;
        for (const auto &edge : edges) {
            if (edge.pin == pin) {
                any = true;
                break;
            }
        }
        if (!any) {
            continue;
        }
        out += (first ? "\"" : ",\"") + std::to_string(pin) + "\":" +
               delta_array(
                   edges, base, [](const auto &e) { return e.time; },
                   [pin](const auto &e) { return e.pin == pin; });
        first = false;
    }
    return out + "}}";
}

// The bytes column of the table line, for the page's table.
std::string bytes_text(const Transaction &transaction, const FramingOptions &framing) {
    std::istringstream line(format_transaction(transaction, framing));
    std::string word;
    for (int column = 0; column < 5 && line >> word; ++column) {
    }
    std::string rest;
    std::getline(line >> std::ws, rest);
    return rest;
}

std::string transaction_json(const Transaction &t, const std::string &text,
                             std::uint64_t bytes_left_out) {
    std::string out =
        "{\"i\":" + std::to_string(t.index) + ",\"bus\":\"" + to_string(t.bus) +
        "\",\"sel\":" + std::to_string(t.select) + ",\"s\":" + std::to_string(t.start_ns) +
        ",\"e\":" + std::to_string(t.end_ns) + ",\"left_out\":" + std::to_string(bytes_left_out) +
        ",\"text\":" + json_string(text) + ",\"b\":[";
    for (std::size_t i = 0; i < t.bytes.size(); ++i) {
        const TransactionByte &b = t.bytes[i];
        out += i == 0 ? "[" : ",[";
        out += std::to_string(b.time_ns) + "," + std::to_string(static_cast<int>(b.direction)) +
               "," + std::to_string(b.value) + "," + std::to_string(b.reply) + "," +
               std::to_string(b.bits) + "]";
    }
    return out + "]}";
}

// `text` cut to `limit` characters (whole UTF-8 sequences), with "..." where it was cut.
std::string shortened(const std::string &text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) {
        --end;
    }
    return text.substr(0, end) + "...";
}

std::string gap_json(std::uint64_t dropped, std::uint64_t from, std::uint64_t to) {
    if (dropped == 0) {
        return "null";
    }
    return "{\"count\":" + std::to_string(dropped) + ",\"from\":" + std::to_string(from) +
           ",\"to\":" + std::to_string(to) + "}";
}

}  // namespace

HtmlReport::HtmlReport(Options options)
    : options_(std::move(options)),
      edges_(options_.limits.edges_head, options_.limits.edges_tail),
      function_changes_(options_.limits.functions_head, options_.limits.functions_tail),
      transactions_(options_.limits.transactions_head, options_.limits.transactions_tail),
      kept_bytes_left_(options_.limits.kept_bytes) {}

std::shared_ptr<HtmlReport> HtmlReport::attach(Board &board, Options options) {
    auto report = std::make_shared<HtmlReport>(std::move(options));
    board.add_observer(report);
    return report;
}

void HtmlReport::event(const RunEvent &event) {
    switch (event.kind) {
        case RunEventKind::Start: start(event.time_ns, *event.start); break;
        case RunEventKind::LineChange: change(event.time_ns, event.pin, event.level); break;
        case RunEventKind::Call: call(*event.call); break;
        case RunEventKind::Note: note(event.time_ns, *event.note); break;
        case RunEventKind::Transaction: transaction(*event.transaction); break;
        case RunEventKind::Violation: violation(*event.violation); break;
        case RunEventKind::Frame: frame(*event.frame); break;
        case RunEventKind::End: finish(event.time_ns, event.end->violation_counts); break;
        case RunEventKind::FunctionChange:
            function_changed(event.time_ns, event.pin, event.function);
            break;
        case RunEventKind::Wave: wave(event.time_ns, *event.wave); break;
    }
}

void HtmlReport::start(std::uint64_t time_ns, const RunStart &start) {
    start_ns_ = time_ns;
    end_ns_ = time_ns;
    start_levels_ = start.levels;
    levels_ = start.levels;
    tail_levels_ = start.levels;
    start_functions_ = start.functions;
    functions_ = start.functions;
    tail_functions_ = start.functions;
    line_names_ = start.line_names;
    framing_ = start.framing;
}

void HtmlReport::change(std::uint64_t time_ns, int pin, bool level) {
    levels_[pin] = level;
    changed_[pin] = true;
    end_ns_ = time_ns;
    const std::size_t head = edges_.head().size();
    Edge evicted{};
    const Edge edge{time_ns, pin, level};
    if (edges_.push(edge, &evicted)) {
        tail_levels_[evicted.pin] = evicted.level;
    } else if (edges_.head().size() > head) {
        tail_levels_[pin] = level;
    }
}

void HtmlReport::call(const CallRecord &record) {
    end_ns_ = std::max(end_ns_, record.time_ns);
    if (record.call == Call::RuleFired) {
        if (rule_firings_.size() < options_.limits.notes) {
            rule_firings_.push_back(
                Note{record.time_ns, shortened(record.text, options_.limits.note_chars)});
        } else {
            ++rule_firings_dropped_;
        }
        return;
    }
}

void HtmlReport::function_changed(std::uint64_t time_ns, int pin, Function function) {
    end_ns_ = std::max(end_ns_, time_ns);
    if (functions_[pin] == function) {
        return;
    }
    functions_[pin] = function;
    const std::size_t head = function_changes_.head().size();
    FunctionChange evicted{};
    const FunctionChange change{time_ns, pin, function};
    if (function_changes_.push(change, &evicted)) {
        tail_functions_[evicted.pin] = evicted.function;
    } else if (function_changes_.head().size() > head) {
        tail_functions_[pin] = function;
    }
}

void HtmlReport::wave(std::uint64_t time_ns, const LineWave &wave) {
    end_ns_ = std::max(end_ns_, time_ns);
    if (waves_.size() < options_.limits.notes) {
        waves_.push_back(Wave{time_ns, wave.pin, wave.to_string()});
    }
}

void HtmlReport::note(std::uint64_t time_ns, const std::string &text) {
    if (notes_.size() < options_.limits.notes) {
        notes_.push_back(Note{time_ns, shortened(text, options_.limits.note_chars)});
    } else {
        ++notes_dropped_;
    }
}

// How many of a transaction's `count` bytes the page keeps, from the page's budget.
std::size_t HtmlReport::bytes_to_keep(std::size_t count) {
    const ReportLimits &limits = options_.limits;
    std::size_t allowed = limits.bytes_head + limits.bytes_tail;
    if (transactions_.head().size() < limits.transactions_head) {
        allowed = std::min(allowed, std::max(limits.min_bytes, kept_bytes_left_));
        const std::size_t kept = std::min(count, allowed);
        kept_bytes_left_ -= std::min(kept_bytes_left_, kept);
        return kept;
    }
    const std::size_t share =
        limits.tail_kept_bytes / std::max<std::size_t>(1, limits.transactions_tail);
    return std::min(count, std::min(allowed, std::max(limits.min_bytes, share)));
}

void HtmlReport::transaction(const Transaction &transaction) {
    const std::size_t keep = bytes_to_keep(transaction.bytes.size());
    const std::size_t head = std::min(options_.limits.bytes_head, keep - keep / 5);
    const std::size_t tail = keep - head;
    if (transaction.bytes.size() <= keep) {
        transactions_.push(Kept{transaction, bytes_text(transaction, framing_), 0});
        return;
    }
    Kept kept{transaction, "", transaction.bytes.size() - head - tail};
    Transaction part = transaction;
    part.bytes.assign(transaction.bytes.begin(), transaction.bytes.begin() + head);
    kept.text = bytes_text(part, framing_) + " ... " + std::to_string(kept.bytes_left_out) +
                " bytes left out ...";
    part.bytes.assign(transaction.bytes.end() - tail, transaction.bytes.end());
    kept.text += ' ';
    kept.text += bytes_text(part, framing_);
    kept.transaction.bytes.erase(kept.transaction.bytes.begin() + head,
                                 kept.transaction.bytes.end() - tail);
    transactions_.push(kept);
}

void HtmlReport::violation(const TimingViolation &violation) {
    violations_.push_back(violation);
    if (violation_names_.size() <= violation.check) {
        violation_names_.resize(violation.check + 1);
    }
    violation_names_[violation.check] = violation.name;
}

void HtmlReport::finish(std::uint64_t time_ns, const std::vector<std::uint64_t> &counts) {
    end_ns_ = std::max(end_ns_, time_ns);
    violation_counts_ = counts;
    if (!options_.path.empty()) {
        try {
            write(options_.path, "");
        } catch (const std::exception &) {
            // Nowhere to say so from inside the board: the runner finds the file missing.
        }
    }
}

namespace {

std::string base64(const std::vector<std::uint8_t> &bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::uint32_t chunk = std::uint32_t{bytes[i]} << 16 |
                                    (i + 1 < bytes.size() ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                    (i + 2 < bytes.size() ? bytes[i + 2] : 0U);
        out += kDigits[(chunk >> 18) & 63];
        out += kDigits[(chunk >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(chunk >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[chunk & 63] : '=';
    }
    return out;
}

}  // namespace

void HtmlReport::frame(const Frame &frame) {
    if (frames_.size() >= options_.limits.frames) {
        return;
    }
    ShownFrame shown{frame.time_ns, frame.file_name(), frame.image->width, frame.image->height, ""};
    if (frame_bytes_ < options_.limits.frame_bytes) {
        try {
            std::string encoded = base64(encode_png(*frame.image));
            if (frame_bytes_ + encoded.size() <= options_.limits.frame_bytes) {
                frame_bytes_ += encoded.size();
                shown.png_base64 = std::move(encoded);
            }
        } catch (const FrameFileError &) {
            // listed without its picture
        }
    }
    frames_.push_back(std::move(shown));
}

std::string HtmlReport::data_json() const {
    std::string out = "{\"title\":" + json_string(options_.title) +
                      ",\"start\":" + std::to_string(start_ns_) +
                      ",\"end\":" + std::to_string(end_ns_);
    out += ",\"changed\":" + int_array(changed_);
    out += ",\"side\":[";
    for (std::size_t i = 0; i < framing_.side_lines.size(); ++i) {
        out += i == 0 ? "[" : ",[";
        out += std::to_string(framing_.side_lines[i].pin) + "," +
               json_string(framing_.side_lines[i].name) + "]";
    }
    out += "],\"selects\":" + int_array(framing_.selects);
    out += ",\"names\":[";
    for (std::size_t i = 0; i < line_names_.size(); ++i) {
        out += (i == 0 ? "[" : ",[") + std::to_string(line_names_[i].first) + "," +
               json_string(line_names_[i].second) + "]";
    }
    out += "]";
    const auto &tail = edges_.tail();
    const std::uint64_t tail_base = tail.empty() ? end_ns_ : tail.front().time;
    const std::uint64_t head_end = edges_.head().empty() ? start_ns_ : edges_.head().back().time;
    out += ",\"head\":" + edges_json(edges_.head(), start_ns_, start_levels_);
    out += ",\"gap\":" + gap_json(edges_.dropped(), head_end, tail_base);
    out += ",\"tail\":" + edges_json(tail, tail_base, tail_levels_);
    out += ",\"end_levels\":" + int_array(levels_);

    const auto functions_json = [](const auto &changes) {
        std::string text = "[";
        bool first = true;
        for (const FunctionChange &c : changes) {
            text += first ? "[" : ",[";
            text += std::to_string(c.time) + "," + std::to_string(c.pin) + "," +
                    std::to_string(function_code(c.function)) + "]";
            first = false;
        }
        return text + "]";
    };
    out += ",\"functions\":{\"start\":" + function_array(start_functions_) +
           ",\"head\":" + functions_json(function_changes_.head()) +
           ",\"tail_start\":" + function_array(tail_functions_) +
           ",\"tail\":" + functions_json(function_changes_.tail()) +
           ",\"dropped\":" + std::to_string(function_changes_.dropped()) +
           ",\"end\":" + function_array(functions_) + "}";

    out += ",\"transactions\":{\"head\":[";
    bool first = true;
    for (const Kept &t : transactions_.head()) {
        out += first ? "" : ",";
        out += transaction_json(t.transaction, t.text, t.bytes_left_out);
        first = false;
    }
    out += "],\"dropped\":" + std::to_string(transactions_.dropped()) + ",\"tail\":[";
    first = true;
    for (const Kept &t : transactions_.tail()) {
        out += first ? "" : ",";
        out += transaction_json(t.transaction, t.text, t.bytes_left_out);
        first = false;
    }
    out += "]}";

    out += ",\"notes\":[";
    for (std::size_t i = 0; i < notes_.size(); ++i) {
        out += i == 0 ? "[" : ",[";
        out += std::to_string(notes_[i].time) + "," + json_string(notes_[i].text) + "]";
    }
    out += "],\"notes_dropped\":" + std::to_string(notes_dropped_);
    out += ",\"rules\":[";
    for (std::size_t i = 0; i < rule_firings_.size(); ++i) {
        out += i == 0 ? "[" : ",[";
        out +=
            std::to_string(rule_firings_[i].time) + "," + json_string(rule_firings_[i].text) + "]";
    }
    out += "],\"rules_dropped\":" + std::to_string(rule_firings_dropped_);
    out += ",\"waves\":[";
    for (std::size_t i = 0; i < waves_.size(); ++i) {
        out += i == 0 ? "[" : ",[";
        out += std::to_string(waves_[i].time) + "," + std::to_string(waves_[i].pin) + "," +
               json_string(waves_[i].text) + "]";
    }
    out += "]";
    out += ",\"frames\":[";
    for (std::size_t i = 0; i < frames_.size(); ++i) {
        const ShownFrame &f = frames_[i];
        out += i == 0 ? "[" : ",[";
        out += std::to_string(f.time) + "," + json_string(f.name) + "," + std::to_string(f.width) +
               "," + std::to_string(f.height) + "," + json_string(f.png_base64) + "]";
    }
    out += "]";
    out += ",\"violations\":[";
    for (std::size_t i = 0; i < violations_.size(); ++i) {
        out += i == 0 ? "[" : ",[";
        out += std::to_string(violations_[i].time_ns) + "," + json_string(violations_[i].name) +
               "," + json_string(violations_[i].to_string()) + "]";
    }
    out += "],\"violation_counts\":[";
    for (std::size_t i = 0; i < violation_counts_.size(); ++i) {
        const std::string name = i < violation_names_.size() ? violation_names_[i] : "";
        out += i == 0 ? "[" : ",[";
        out += json_string(name) + "," + std::to_string(violation_counts_[i]) + "]";
    }
    return out + "]}";
}

std::string HtmlReport::html(const std::string &ending) const {
    // One pass over the template, so that no filled-in text is read as a slot.
    const std::pair<std::string_view, std::string> slots[] = {
        {"@STYLE@", report_assets::kStyle},
        {"@SCRIPT@", report_assets::kScript},
        {"@DATA@", data_json()},
        {"@ENDING@", json_string(ending)},
    };
    const std::string_view page = report_assets::kPage;
    std::string out;
    std::size_t at = 0;
    while (at < page.size()) {
        const std::size_t next = page.find('@', at);
        if (next == std::string_view::npos) {
            break;
        }
        out.append(page.substr(at, next - at));
        const auto slot = std::find_if(std::begin(slots), std::end(slots), [&](const auto &s) {
            return page.substr(next, s.first.size()) == s.first;
        });
        if (slot == std::end(slots)) {
            out += '@';
            at = next + 1;
        } else {
            out += slot->second;
            at = next + slot->first.size();
        }
    }
    out.append(page.substr(std::min(at, page.size())));
    return out;
}

void HtmlReport::write(const std::string &path, const std::string &ending) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << html(ending);
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write '" + path + "'");
    }
}

bool replace_report_ending(const std::string &path, const std::string &ending) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string page = text.str();
    const std::size_t marker = page.find(HtmlReport::kEndingMarker);
    if (marker == std::string::npos) {
        return false;
    }
    const std::size_t from = marker + std::string_view(HtmlReport::kEndingMarker).size();
    const std::size_t to = page.find("</script>", from);
    if (to == std::string::npos) {
        return false;
    }
    page.replace(from, to - from, json_string(ending));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace vboard
