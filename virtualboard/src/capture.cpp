// SPDX-License-Identifier: MIT
// A logic analyser's capture read: the channel map, the VCD reader, the glitch filter and the
// changes whose order a sample cannot tell.

#include "vboard/capture.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <unordered_map>

#include "vboard/duration.hpp"

namespace vboard {
namespace {

// The changes in one sample told one by one; the rest are counted in one note more.
constexpr std::size_t kSameSampleTold = 20;
constexpr int kSampledClock = 11;  // SCLK and the link's clock: their rising edges take the bits
// The lines whose change beside a rising clock edge decides a bit: the data lines (MOSI and the
// link's data, MISO) and the chip enables, the link's default selects.
constexpr std::uint64_t kSampledLines = (1U << 10) | (1U << 9) | (1U << 8) | (1U << 7);

std::optional<int> whole_number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

struct Token {
    std::string_view text;
    int line = 0;
};

// The file's words, separated by white space, with their line numbers.
class Words {
  public:
    explicit Words(std::string_view text) : text_(text) {}

    std::optional<Token> next() {
        while (pos_ < text_.size() && is_space(text_[pos_])) {
            line_ += text_[pos_++] == '\n' ? 1 : 0;
        }
        if (pos_ == text_.size()) {
            return std::nullopt;
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !is_space(text_[pos_])) {
            ++pos_;
        }
        last_line_ = line_;
        return Token{text_.substr(start, pos_ - start), line_};
    }
    int line() const { return last_line_; }  // the last word's

  private:
    static bool is_space(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
    int last_line_ = 1;
};

// A declared signal's bits that the map names: bit index (0 the lowest) and line.
struct MappedBit {
    unsigned bit = 0;
    int pin = 0;
};

struct Signal {
    std::string scope;  // "top.sub", or empty
    std::string name;
    std::string type;
    unsigned size = 1;
    std::optional<std::pair<int, int>> range;  // [msb:lsb] or [i]
    std::vector<MappedBit> mapped;
};

// Whether `name` is the signal's name, short or with its scopes.
bool names_signal(const Signal &signal, std::string_view name) {
    if (name == signal.name) {
        return true;
    }
    return !signal.scope.empty() && name.size() == signal.scope.size() + 1 + signal.name.size() &&
           name.starts_with(signal.scope) && name[signal.scope.size()] == '.' &&
           name.ends_with(signal.name);
}

// The bit (0 the lowest) of `signal` that the map's `wanted` names: its name for a one-bit
// signal, NAME[i] for a bit of a vector (or of a one-bit signal declared with a range).
std::optional<unsigned> named_bit(const Signal &signal, std::string_view wanted) {
    if (signal.size == 1 && names_signal(signal, wanted)) {
        return 0U;
    }
    const std::size_t open = wanted.rfind('[');
    if (open == std::string_view::npos || !wanted.ends_with(']') ||
        (signal.size == 1 && !signal.range) || !names_signal(signal, wanted.substr(0, open))) {
        return std::nullopt;
    }
    const std::optional<int> index =
        whole_number(wanted.substr(open + 1, wanted.size() - open - 2));
    if (!index) {
        return std::nullopt;
    }
    const std::int64_t lsb = signal.range ? signal.range->second : 0;
    const std::int64_t msb = signal.range ? signal.range->first : std::int64_t{signal.size} - 1;
    const std::int64_t bit = msb >= lsb ? *index - lsb : lsb - *index;
    if (bit < 0 || bit >= std::int64_t{signal.size}) {
        return std::nullopt;
    }
    return static_cast<unsigned>(bit);
}

// A change as the file has it, in its own time unit.
struct RawChange {
    std::uint64_t time = 0;
    int pin = 0;
    bool level = false;
};

class VcdReader {
  public:
    VcdReader(std::string_view text, const std::string &name, const ChannelMap &map)
        : words_(text), name_(name), map_(map) {}

    Capture read(const CaptureOptions &options) {
        read_declarations();
        map_signals();
        read_changes();
        return make_capture(options);
    }

  private:
    [[noreturn]] void fail(int line, const std::string &what) const {
        throw CaptureError(name_ + ":" + std::to_string(line) + ": " + what);
    }

    Token next_word(const char *inside) {
        std::optional<Token> token = words_.next();
        if (!token) {
            fail(words_.line(), std::string("the file ends inside ") + inside);
        }
        return *token;
    }

    // The words up to $end.
    std::vector<Token> until_end(const char *inside) {
        std::vector<Token> words;
        for (Token t = next_word(inside); t.text != "$end"; t = next_word(inside)) {
            words.push_back(t);
        }
        return words;
    }

    void read_declarations() {
        std::optional<Token> first = words_.next();
        if (!first || first->text.empty() || first->text[0] != '$') {
            fail(first ? first->line : 1,
                 "not a VCD file (it begins with $ declarations) nor a sigrok session");
        }
        for (std::optional<Token> t = first; t; t = words_.next()) {
            if (t->text == "$enddefinitions") {
                until_end("$enddefinitions");
                definitions_line_ = t->line;
                return;
            }
            if (t->text == "$timescale") {
                read_timescale(until_end("$timescale"), t->line);
            } else if (t->text == "$scope") {
                const std::vector<Token> words = until_end("$scope");
                scopes_.push_back(words.size() >= 2 ? std::string(words[1].text) : "");
            } else if (t->text == "$upscope") {
                until_end("$upscope");
                if (!scopes_.empty()) {
                    scopes_.pop_back();
                }
            } else if (t->text == "$var") {
                read_var(until_end("$var"), t->line);
            } else if (t->text.starts_with('$')) {
                until_end("a declaration");  // $date, $version, $comment and others
            } else {
                fail(t->line, "a declaration, not '" + std::string(t->text) + "'");
            }
        }
        fail(words_.line(), "no $enddefinitions: the file ends in its declarations");
    }

    void read_timescale(const std::vector<Token> &words, int line) {
        std::string text;
        for (const Token &t : words) {
            text += t.text;
        }
        const std::size_t digits = text.find_first_not_of("0123456789");
        const std::optional<int> number = whole_number(text.substr(0, digits));
        const std::string unit = digits == std::string::npos ? "" : text.substr(digits);
        static constexpr std::pair<const char *, std::uint64_t> kUnits[] = {
            {"s", 1'000'000'000'000'000},
            {"ms", 1'000'000'000'000},
            {"us", 1'000'000'000},
            {"ns", 1'000'000},
            {"ps", 1'000},
            {"fs", 1}};
        const auto found = std::find_if(std::begin(kUnits), std::end(kUnits),
                                        [&](const auto &u) { return unit == u.first; });
        if (!number || (*number != 1 && *number != 10 && *number != 100) ||
            found == std::end(kUnits)) {
            fail(line, "a timescale of 1, 10 or 100 and a unit (s, ms, us, ns, ps, fs), not '" +
                           text + "'");
        }
        unit_fs_ = static_cast<std::uint64_t>(*number) * found->second;
    }

    void read_var(const std::vector<Token> &words, int line) {
        if (words.size() < 4) {
            fail(line, "$var TYPE SIZE ID NAME $end");
        }
        const std::optional<int> size = whole_number(words[1].text);
        if (!size || *size < 1) {
            fail(line, "a signal's size in bits, not '" + std::string(words[1].text) + "'");
        }
        Signal signal;
        signal.type = words[0].text;
        signal.size = static_cast<unsigned>(*size);
        std::string name;
        for (std::size_t i = 3; i < words.size(); ++i) {
            name += words[i].text;
        }
        // A range written after the name, with or without a space: "bus [7:0]", "bus[7:0]".
        if (const std::size_t open = name.rfind('[');
            open != std::string::npos && open > 0 && name.back() == ']') {
            const std::string inside = name.substr(open + 1, name.size() - open - 2);
            const std::size_t colon = inside.find(':');
            const std::optional<int> msb = whole_number(inside.substr(0, colon));
            const std::optional<int> lsb =
                colon == std::string::npos ? msb : whole_number(inside.substr(colon + 1));
            const std::int64_t width =
                msb && lsb ? std::abs(std::int64_t{*msb} - std::int64_t{*lsb}) + 1 : 0;
            if (width == std::int64_t{signal.size}) {
                signal.range = std::make_pair(*msb, *lsb);
                name.resize(open);
            }
        }
        signal.name = name;
        for (const std::string &scope : scopes_) {
            signal.scope += (signal.scope.empty() ? "" : ".") + scope;
        }
        const std::string id(words[2].text);
        if (!ids_.contains(id)) {
            ids_[id] = signals_.size();
            signals_.push_back(std::move(signal));
        }
    }

    void map_signals() {
        for (const auto &[wanted, pin] : map_.channels) {
            std::vector<std::pair<std::size_t, unsigned>> found;
            for (std::size_t s = 0; s < signals_.size(); ++s) {
                if (const std::optional<unsigned> bit = named_bit(signals_[s], wanted)) {
                    found.emplace_back(s, *bit);
                }
            }
            if (found.empty()) {
                fail(definitions_line_, "no signal " + wanted +
                                            " in the capture (its signals: " + signal_list() + ")");
            }
            if (found.size() > 1) {
                const std::string &scope = signals_[found[1].first].scope;
                fail(definitions_line_, wanted + " names " + std::to_string(found.size()) +
                                            " signals; name it with its scopes, as " +
                                            (scope.empty() ? "" : scope + ".") + wanted);
            }
            Signal &signal = signals_[found[0].first];
            if (signal.type == "real" || signal.type == "realtime" || signal.type == "event") {
                fail(definitions_line_, wanted + " is a " + signal.type + " signal, not a wire");
            }
            signal.mapped.push_back(MappedBit{found[0].second, pin});
        }
    }

    std::string signal_list() const {
        std::string list;
        for (const Signal &signal : signals_) {
            std::string shown = signal.name;
            if (signal.size > 1) {
                const long long msb =
                    signal.range ? signal.range->first : static_cast<long long>(signal.size) - 1;
                const long long lsb = signal.range ? signal.range->second : 0;
                shown.append("[").append(std::to_string(msb)).append(":");
                shown.append(std::to_string(lsb)).append("]");
            }
            if (!list.empty()) {
                list += ", ";
            }
            list += shown;
            if (list.size() > 200) {
                return list + ", ...";
            }
        }
        return list.empty() ? "none" : list;
    }

    void read_changes() {
        for (std::optional<Token> t = words_.next(); t; t = words_.next()) {
            const std::string_view w = t->text;
            if (w[0] == '#') {
                read_time(*t);
            } else if (w == "$comment") {
                until_end("$comment");
            } else if (w[0] == '$') {
                continue;  // $dumpvars, $dumpall, $dumpon, $dumpoff and their $end
            } else if (w[0] == '0' || w[0] == '1' || w[0] == 'x' || w[0] == 'X' || w[0] == 'z' ||
                       w[0] == 'Z') {
                value(w.substr(0, 1), w.substr(1), *t);
            } else if (w[0] == 'b' || w[0] == 'B') {
                value(w.substr(1), next_word("a vector's value").text, *t);
            } else if (w[0] == 'r' || w[0] == 'R') {
                value({}, next_word("a real value").text, *t);
            } else {
                fail(t->line, "a time (#N) or a value change, not '" + std::string(w) + "'");
            }
        }
    }

    void read_time(const Token &t) {
        std::uint64_t time = 0;
        const std::string_view digits = t.text.substr(1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), time);
        if (error != std::errc{} || end != digits.data() + digits.size() || digits.empty()) {
            fail(t.line, "a time as #N, a whole number, not '" + std::string(t.text) + "'");
        }
        if (started_ && time < time_) {
            fail(t.line, "a time no earlier than the one before (#" + std::to_string(time_) +
                             "), not " + std::string(t.text));
        }
        if (started_ && time != time_) {
            first_sample_ = false;
        }
        time_ = time;
        started_ = true;
    }

    // A value change: `bits` (empty for a real) for the signal `id`.
    void value(std::string_view bits, std::string_view id, const Token &t) {
        const auto found = ids_.find(std::string(id));
        if (found == ids_.end()) {
            fail(t.line, "a value for a declared signal, not for id '" + std::string(id) + "'");
        }
        if (!started_) {
            started_ = true;  // values before any time are at time 0
        }
        for (const MappedBit &mapped : signals_[found->second].mapped) {
            // A vector's value is right-aligned, extended to the left by 0 (or by its first x or
            // z).
            char bit = '0';
            if (mapped.bit < bits.size()) {
                bit = bits[bits.size() - 1 - mapped.bit];
            } else if (!bits.empty() && bits[0] != '0' && bits[0] != '1') {
                bit = bits[0];
            }
            if (bit != '0' && bit != '1') {
                continue;  // x, z, or a real: the line stays as it was
            }
            if (first_sample_) {
                initial_[mapped.pin] = bit == '1';
            } else {
                raw_.push_back(RawChange{time_, mapped.pin, bit == '1'});
            }
        }
    }

    std::uint64_t to_ns(std::uint64_t time) const {
        if (unit_fs_ >= 1'000'000) {
            const std::uint64_t factor = unit_fs_ / 1'000'000;
            return time > std::numeric_limits<std::uint64_t>::max() / factor
                       ? std::numeric_limits<std::uint64_t>::max()
                       : time * factor;
        }
        return time / (1'000'000 / unit_fs_);
    }

    Capture make_capture(const CaptureOptions &options) {
        Capture capture;
        capture.initial = initial_;
        std::array<std::optional<bool>, kLineCount> level = initial_;
        std::vector<RawChange> changes;
        for (const RawChange &c : raw_) {
            if (level[c.pin] != c.level) {
                level[c.pin] = c.level;
                changes.push_back(c);
            }
        }
        changes = drop_glitches(changes, options.glitch_ns, capture.glitches);
        tell_same_samples(changes, capture.notes);
        capture.changes.reserve(changes.size());
        for (const RawChange &c : changes) {
            capture.changes.push_back(CaptureChange{to_ns(c.time), c.pin, c.level});
        }
        return capture;
    }

    // Drops each pulse shorter than `glitch_ns`: a change with the change back on its line.
    std::vector<RawChange> drop_glitches(const std::vector<RawChange> &changes,
                                         std::uint64_t glitch_ns, std::uint64_t &dropped) const {
        if (glitch_ns == 0) {
            return changes;
        }
        std::vector<RawChange> kept;
        std::array<std::vector<std::size_t>, kLineCount> kept_of_line;  // indexes into `kept`
        std::vector<bool> gone;
        for (const RawChange &c : changes) {
            std::vector<std::size_t> &mine = kept_of_line[c.pin];
            if (!mine.empty() && to_ns(c.time) - to_ns(kept[mine.back()].time) < glitch_ns) {
                gone[mine.back()] = true;
                mine.pop_back();
                ++dropped;
                continue;
            }
            mine.push_back(kept.size());
            kept.push_back(c);
            gone.push_back(false);
        }
        std::vector<RawChange> out;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if (!gone[i]) {
                out.push_back(kept[i]);
            }
        }
        return out;
    }

    // A rising edge of the sampled clock in the same sample as a change of a data line or a chip
    // enable: the bit taken there depends on an order the capture cannot tell.
    void tell_same_samples(const std::vector<RawChange> &changes,
                           std::vector<std::string> &notes) const {
        std::uint64_t untold = 0;
        for (std::size_t i = 0; i < changes.size();) {
            std::size_t end = i;
            const RawChange *rise = nullptr;
            std::string others;
            for (; end < changes.size() && changes[end].time == changes[i].time; ++end) {
                const RawChange &c = changes[end];
                if (c.pin == kSampledClock && c.level) {
                    rise = &c;
                } else if (((kSampledLines >> c.pin) & 1) != 0) {
                    others += (others.empty() ? "BCM " : ", BCM ") + std::to_string(c.pin);
                }
            }
            if (rise != nullptr && !others.empty()) {
                if (notes.size() < kSameSampleTold) {
                    notes.push_back("capture " + name_ + ": at " +
                                    format_duration(to_ns(rise->time)) +
                                    " BCM 11 rose in the same sample as " + others +
                                    " changed: their order is unknown (played as the file lists "
                                    "them)");
                } else {
                    ++untold;
                }
            }
            i = end;
        }
        if (untold > 0) {
            notes.push_back("capture " + name_ + ": " + std::to_string(untold) +
                            " more samples where BCM 11 rose with another line's change");
        }
    }

    Words words_;
    const std::string &name_;
    const ChannelMap &map_;
    std::uint64_t unit_fs_ = 1'000'000;  // 1 ns when the file gives no timescale
    std::vector<std::string> scopes_;
    std::vector<Signal> signals_;
    std::unordered_map<std::string, std::size_t> ids_;
    int definitions_line_ = 1;
    std::uint64_t time_ = 0;
    bool started_ = false;
    bool first_sample_ = true;  // the values at the first time are the start's levels
    std::array<std::optional<bool>, kLineCount> initial_{};
    std::vector<RawChange> raw_;
};

}  // namespace

ChannelMap parse_channel_map(std::string_view text) {
    ChannelMap map;
    const auto fail = [](const std::string &what) { throw CaptureError("--channels: " + what); };
    if (text.empty()) {
        fail("expected NAME=BCM pairs, as D0=11,D1=10");
    }
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view pair = text.substr(0, comma);
        const std::size_t equals = pair.rfind('=');
        const std::optional<int> pin =
            equals == std::string_view::npos ? std::nullopt : whole_number(pair.substr(equals + 1));
        if (equals == 0 || !pin) {
            fail("expected NAME=BCM, as D0=11, not '" + std::string(pair) + "'");
        }
        if (*pin < 0 || *pin >= kLineCount) {
            fail("BCM " + std::to_string(*pin) + " in '" + std::string(pair) +
                 "' is not a line: 0 to " + std::to_string(kLineCount - 1));
        }
        const std::string name(pair.substr(0, equals));
        for (const auto &[other, other_pin] : map.channels) {
            if (other == name || other_pin == *pin) {
                std::string what = "'";
                what += pair;
                what += "' maps ";
                what += other == name ? "the signal " + name : "BCM " + std::to_string(*pin);
                what += " a second time";
                fail(what);
            }
        }
        map.channels.emplace_back(name, *pin);
        if (comma == std::string_view::npos) {
            return map;
        }
        text.remove_prefix(comma + 1);
    }
}

Capture parse_vcd_capture(std::string_view text, const std::string &name, const ChannelMap &map,
                          const CaptureOptions &options) {
    return VcdReader(text, name, map).read(options);
}

}  // namespace vboard
