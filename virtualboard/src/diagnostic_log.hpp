// SPDX-License-Identifier: MIT
// The board's diagnostics as a run keeps them: each distinct text once, where it first happens,
// and how many times it came again, which the end of the run says in one more line. A driver that
// repeats one mistake in a loop would otherwise write the same line hundreds of thousands of times.
// Private to the library.
#ifndef VBOARD_DIAGNOSTIC_LOG_HPP
#define VBOARD_DIAGNOSTIC_LOG_HPP

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vboard {

class DiagnosticLog {
  public:
    // Keeps `text` and returns true the first time; counts it and returns false after.
    bool first(const std::string &text);
    const std::vector<std::string> &texts() const { return texts_; }
    // The closing line of each text that came again, in the order they first came ("TEXT … and
    // 1,024 more like it"); the counts start again from zero.
    std::vector<std::string> take_repeats();
    // Forgets every text: the next of each is a first again.
    void clear();

  private:
    // Texts whose repeats are counted; past this many, a new text is kept but not counted.
    static constexpr std::size_t kCountedTexts = 4096;

    std::vector<std::string> texts_;
    std::unordered_map<std::string, std::uint64_t> repeats_;  // by text
    std::vector<std::string> order_;                          // the counted texts, first first
};

}  // namespace vboard

#endif  // VBOARD_DIAGNOSTIC_LOG_HPP
