// SPDX-License-Identifier: MIT
// Seeing the wires: a VCD writer that streams line changes to a file, and a small in-memory edge
// recorder that draws a text timing view. Both are run observers of the lines: add them to a Board
// with Board::add_observer.
#ifndef VBOARD_TRACE_HPP
#define VBOARD_TRACE_HPP

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"
#include "vboard/run_observer.hpp"

namespace vboard {

class VcdStream;

// A line's name in traces: "bcm<N>", with the role the hardware-access layer gives it for the
// pin map and for SPI0's MISO: bcm11_sclk, bcm10_mosi, bcm9_miso, bcm8_ce0, bcm7_ce1,
// bcm25_out_a, bcm17_out_b, bcm24_in, bcm18_en. Throws std::out_of_range off 0-53.
VBOARD_EXPORT std::string line_label(int pin);

// The pin map's eight lines and MISO, in the order traces list them by default.
VBOARD_EXPORT std::vector<int> pin_map_lines();

// Every line, 0 to 53.
VBOARD_EXPORT std::vector<int> all_lines();

// Streams changes of the chosen lines to a Value Change Dump file, one nanosecond per time unit.
// The header is written when the writer is added to a board (with the levels at that moment),
// then each change under its time stamp, and the file is complete once finish() returns.
// Readable by GTKWave, PulseView and sigrok-cli. A long trace is turned into text and written on
// a thread of the writer's own, a few megabytes behind the board: the board's thread only packs
// each change into eight bytes.
class VBOARD_EXPORT VcdWriter final : public RunObserver {
  public:
    // Opens `path` for writing. Throws std::runtime_error naming the path and the reason when it
    // cannot, std::out_of_range for a line off 0-53, std::invalid_argument for no line at all.
    explicit VcdWriter(const std::string &path, std::vector<int> lines = pin_map_lines());
    ~VcdWriter() override;
    VcdWriter(const VcdWriter &) = delete;
    VcdWriter &operator=(const VcdWriter &) = delete;

    unsigned interests() const override { return kWatchLines; }
    // Start writes the header, each LineChange its line, End completes the file.
    void event(const RunEvent &event) override;

    // false once a write to the file has failed (a full disk, say); the error is kept, not thrown.
    bool ok() const;

  private:
    VBOARD_NO_EXPORT void start(std::uint64_t time_ns, const std::array<bool, kLineCount> &levels);
    std::unique_ptr<VcdStream> stream_;
    std::string path_;
    std::vector<int> lines_;
    std::array<std::uint8_t, kLineCount> line_words_{};  // a traced line's VcdStream word, else 0
};

// Keeps up to `max_changes` changes in memory and draws them as a text timing view, one row per
// line, for short traces on a terminal. Changes past the limit are counted, not kept.
class VBOARD_EXPORT EdgeRecorder final : public RunObserver {
  public:
    explicit EdgeRecorder(std::size_t max_changes = 4096);

    unsigned interests() const override { return kWatchLines; }
    void event(const RunEvent &event) override;

    std::size_t changes_dropped() const;

    // One row per line in `lines`: its label, then its level over the recorded changes, one
    // column per distinct change time, drawn with '_' low, '-' high, '/' rising, '\' falling.
    // Time runs by event, not to scale; the first row gives the nanosecond span.
    std::string render(std::span<const int> lines) const;

  private:
    struct Change {
        std::uint64_t time_ns;
        int pin;
        bool level;
    };
    mutable std::mutex mutex_;
    std::size_t max_changes_;
    std::array<bool, kLineCount> initial_{};
    std::uint64_t start_ns_ = 0;
    std::uint64_t end_ns_ = 0;
    std::vector<Change> changes_;
    std::size_t dropped_ = 0;
};

}  // namespace vboard

#endif  // VBOARD_TRACE_HPP
