// SPDX-License-Identifier: MIT
// One self-contained HTML file per run: the waveform of the lines with the decoded bytes over
// them, the transaction table, the diagnostics, timing violations and how the program ended, and
// the Raspberry Pi's 40-pin header at any moment. Everything it needs (script, style, data) is in
// the file; opening it fetches nothing.
//
// Bounded: a report keeps the first and the last line changes, transactions and function changes
// of a run (ReportLimits) and says in the page what it left out between them, so a long run's
// report stays small (see kReportMaxBytes).
#ifndef VBOARD_REPORT_HPP
#define VBOARD_REPORT_HPP

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"
#include "vboard/frames.hpp"
#include "vboard/run_observer.hpp"
#include "vboard/transactions.hpp"

namespace vboard {

struct ReportLimits {
    std::size_t edges_head = 150'000;  // line changes kept from the start of the run
    std::size_t edges_tail = 50'000;   // ... and from its end
    std::size_t transactions_head = 2'000;
    std::size_t transactions_tail = 500;
    std::size_t bytes_head = 2'048;  // bytes kept of one long transaction, from its start
    std::size_t bytes_tail = 512;    // ... and from its end
    // One budget for the bytes of the whole page, however the traffic is cut into transactions:
    // the first transactions share `kept_bytes`; once it is spent, and for the last transactions
    // (which share `tail_kept_bytes`), each keeps at least `min_bytes`.
    std::size_t kept_bytes = 24'000;
    std::size_t tail_kept_bytes = 8'000;
    std::size_t min_bytes = 8;
    std::size_t note_chars = 400;        // of each diagnostic and rule firing
    std::size_t functions_head = 5'000;  // changes of a line's function
    std::size_t functions_tail = 1'000;
    std::size_t notes = 1'000;              // diagnostics, the first ones
    std::size_t frames = 200;               // frames listed, the first ones
    std::size_t frame_bytes = 1024 * 1024;  // their PNG images, base64, the first ones in full
};

// With the default limits no report is larger than this.
inline constexpr std::size_t kReportMaxBytes = 8 * 1024 * 1024;

// The first `head` items and the last `tail`, with a count of those left out between them.
template <typename T>
class HeadTail {
  public:
    HeadTail(std::size_t head, std::size_t tail) : head_limit_(head), tail_limit_(tail) {}
    // Adds `item`. Returns true when an item left the tail to make room, and puts it in `evicted`.
    bool push(const T &item, T *evicted = nullptr) {
        if (head_.size() < head_limit_) {
            head_.push_back(item);
            return false;
        }
        if (tail_limit_ == 0) {
            ++dropped_;
            return false;
        }
        bool out = false;
        if (tail_.size() == tail_limit_) {
            if (evicted != nullptr) {
                *evicted = tail_.front();
            }
            tail_.pop_front();
            ++dropped_;
            out = true;
        }
        tail_.push_back(item);
        return out;
    }
    const std::vector<T> &head() const { return head_; }
    const std::deque<T> &tail() const { return tail_; }
    std::uint64_t dropped() const { return dropped_; }

  private:
    std::size_t head_limit_;
    std::size_t tail_limit_;
    std::vector<T> head_;
    std::deque<T> tail_;
    std::uint64_t dropped_ = 0;
};

// Watches a board and writes the report. Attach it once, at the start of what it should show;
// it is a run observer of every kind of event, and writes its file when the board tells it End
// (remove_observer(), flush_outputs(), reset(), the board's end) if it was given a path, or when
// write() is called. event() runs under the board's lock, like any observer's.
class VBOARD_EXPORT HtmlReport final : public RunObserver {
  public:
    struct Options {
        std::string path;   // written when the board finishes it; empty: only write()
        std::string title;  // the program, say; shown as text
        ReportLimits limits;
    };

    // Makes a report of `board` from now on and adds it to the board's observers. The lines carry
    // the names the board gives them as the report starts (Board::set_line_name).
    static std::shared_ptr<HtmlReport> attach(Board &board, Options options);

    // The page, with `ending` (how the program ended, as text) in it.
    std::string html(const std::string &ending) const;
    // Writes the page to `path`; throws std::runtime_error naming the file when it cannot.
    void write(const std::string &path, const std::string &ending) const;

    // The marker around the ending in a written page, for a runner that learns how the program
    // ended only after it: replace_report_ending() puts the real text in.
    static constexpr const char *kEndingMarker = "<script type=\"application/json\" id=\"ending\">";

    unsigned interests() const override {
        return kWatchLines | kWatchCalls | kWatchNotes | kWatchTransactions | kWatchFrames |
               kWatchFunctions;
    }
    void event(const RunEvent &event) override;

    explicit HtmlReport(Options options);

  private:
    VBOARD_NO_EXPORT void start(std::uint64_t time_ns, const RunStart &start);
    VBOARD_NO_EXPORT void change(std::uint64_t time_ns, int pin, bool level);
    VBOARD_NO_EXPORT void call(const CallRecord &record);
    VBOARD_NO_EXPORT void function_changed(std::uint64_t time_ns, int pin, Function function);
    VBOARD_NO_EXPORT void wave(std::uint64_t time_ns, const LineWave &wave);
    VBOARD_NO_EXPORT void note(std::uint64_t time_ns, const std::string &text);
    VBOARD_NO_EXPORT void transaction(const Transaction &transaction);
    VBOARD_NO_EXPORT void violation(const TimingViolation &violation);
    VBOARD_NO_EXPORT void finish(std::uint64_t time_ns,
                                 const std::vector<std::uint64_t> &violation_counts);
    VBOARD_NO_EXPORT void frame(const Frame &frame);

    struct Edge {
        std::uint64_t time;
        int pin;
        bool level;
    };
    struct FunctionChange {
        std::uint64_t time;
        int pin;
        Function function;
    };
    struct Note {
        std::uint64_t time;
        std::string text;
    };
    struct Wave {
        std::uint64_t time;
        int pin;
        std::string text;
    };
    // A transaction as the page shows it: a long one keeps its first and last bytes.
    // A frame as the page shows it: a thumbnail on the time axis, enlarged on a click.
    struct ShownFrame {
        std::uint64_t time;
        std::string name;
        std::uint32_t width, height;
        std::string png_base64;  // empty once the page's budget for frames is spent
    };
    struct Kept {
        Transaction transaction;
        std::string text;  // the bytes column
        std::uint64_t bytes_left_out = 0;
    };

    VBOARD_NO_EXPORT std::size_t bytes_to_keep(std::size_t count);
    VBOARD_NO_EXPORT std::string data_json() const;

    Options options_;
    std::uint64_t start_ns_ = 0;
    std::uint64_t end_ns_ = 0;
    std::array<bool, kLineCount> start_levels_{};
    std::array<bool, kLineCount> levels_{};       // now
    std::array<bool, kLineCount> tail_levels_{};  // before the first edge kept in the tail
    std::array<bool, kLineCount> changed_{};      // lines that changed at least once
    std::array<Function, kLineCount> start_functions_{};
    std::vector<std::pair<int, std::string>> line_names_;
    std::array<Function, kLineCount> functions_{};  // now
    std::array<Function, kLineCount> tail_functions_{};
    HeadTail<Edge> edges_;
    HeadTail<FunctionChange> function_changes_;
    HeadTail<Kept> transactions_;
    std::size_t kept_bytes_left_;  // of limits.kept_bytes
    std::vector<Note> notes_;
    std::vector<Note> rule_firings_;  // the first ones, as many as notes
    std::vector<Wave> waves_;         // the first ones, as many as notes
    std::uint64_t rule_firings_dropped_ = 0;
    std::vector<ShownFrame> frames_;
    std::size_t frame_bytes_ = 0;
    std::uint64_t notes_dropped_ = 0;
    std::vector<TimingViolation> violations_;
    std::vector<std::uint64_t> violation_counts_;
    std::vector<std::string> violation_names_;
    FramingOptions framing_;
};

// Puts `ending` into a report written with a placeholder ending. Returns false when the file
// cannot be read or written, or holds no ending marker.
VBOARD_EXPORT bool replace_report_ending(const std::string &path, const std::string &ending);

}  // namespace vboard

#endif  // VBOARD_REPORT_HPP
