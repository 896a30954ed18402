// SPDX-License-Identifier: MIT
// The body of the VCD writer: line changes are packed into blocks on the board's thread, and a
// thread of the stream's own turns them into text and writes the file, so that a traced run pays
// on its own thread for little more than the packing. The thread starts with the first full block:
// a short trace is written by finish() on the caller's thread and never starts one.
//
// Not thread-safe: one thread (the board's, under its lock) calls everything but ok().
#ifndef VBOARD_VCD_STREAM_HPP
#define VBOARD_VCD_STREAM_HPP

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace vboard {

// VCD text: time stamps and value changes, collected in a buffer that goes to a file descriptor in
// large writes. The first write empties the file first.
class VcdText {
  public:
    explicit VcdText(int fd);
    void append(std::string_view text);
    // "#T\n", unless T is the last stamp written. Stamps come in rising order, mostly a few tens of
    // nanoseconds apart: the last stamp's digits are kept and moved on by the difference.
    void stamp(std::uint64_t time_ns) {
        if (has_stamp_ && time_ns > stamped_ && time_ns - stamped_ < 100 && stamped_ >= 100) {
            unsigned two = last_two_ + static_cast<unsigned>(time_ns - stamped_);
            if (two >= 100) {
                two -= 100;
                carry_into_hundreds();
            }
            set_last_two(two);
        } else if (has_stamp_ && time_ns == stamped_) {
            return;
        } else {
            set_stamp(time_ns);
        }
        stamped_ = time_ns;
        has_stamp_ = true;
        make_room(kStampCopy + 1);
        char *out = buffer_.get() + pending_;
        std::memcpy(out, digits_ + begin_ - 1, kStampCopy);  // a fixed length: inlined
        out += kEnd - begin_ + 1;
        *out = '\n';
        pending_ = static_cast<std::size_t>(out + 1 - buffer_.get());
    }
    // "Lc\n": the level and the line's one-character identifier.
    void level(char id, bool level) {
        make_room(3);
        char *out = buffer_.get() + pending_;
        out[0] = level ? '1' : '0';
        out[1] = id;
        out[2] = '\n';
        pending_ += 3;
    }
    // A block of changes packed as VcdStream packs them: the writer thread's loop.
    void changes(const std::uint64_t *words, std::size_t count);
    // The most text one change takes, with the slack of a stamp's fixed-length copy.
    static constexpr std::size_t kMostPerChange = 28;
    static constexpr std::size_t kBufferSize = 1024 * 1024;
    // A change is one word: the time above kTimeShift, the identifier and the level below. A time
    // from kLongTime on takes two: kLongTime in the time's place, then the time itself.
    static constexpr unsigned kTimeShift = 8;
    static constexpr std::uint64_t kLongTime = (std::uint64_t{1} << (64 - kTimeShift)) - 1;

    // Writes what is pending; false once any write has failed.
    bool flush();
    bool ok() const { return !failed_; }

  private:
    static constexpr std::size_t kEnd = 24;        // the stamp's text ends here in `digits_`
    static constexpr std::size_t kStampCopy = 24;  // bytes copied for a stamp: "#", digits, slack

    void make_room(std::size_t size) {
        if (pending_ + size > kBufferSize) {
            flush();
        }
    }
    void set_stamp(std::uint64_t time_ns);
    void set_last_two(unsigned two);
    void carry_into_hundreds();

    int fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t pending_ = 0;
    // The last stamp, "#" and its decimal digits, from begin_ - 1 up to kEnd; read 24 bytes at a
    // time, so the array has room past kEnd.
    char digits_[kEnd + 24] = {};
    std::size_t begin_ = kEnd;
    std::uint64_t stamped_ = 0;
    unsigned last_two_ = 0;  // stamped_ % 100
    bool has_stamp_ = false;
    bool emptied_ = false;
    bool failed_ = false;
};

class VcdStream {
  public:
    // Takes `fd`, open for writing; finish() closes it.
    explicit VcdStream(int fd);
    ~VcdStream();
    VcdStream(const VcdStream &) = delete;
    VcdStream &operator=(const VcdStream &) = delete;

    // The header and the levels at the start: only before the first change.
    VcdText &header() { return text_; }

    void change(std::uint64_t time_ns, char id, bool level) {
        const std::uint64_t low = static_cast<std::uint64_t>(id) << 1 | (level ? 1 : 0);
        if (time_ns < kLongTime) {
            *next_++ = time_ns << kTimeShift | low;
        } else {
            *next_++ = kLongTimeRecord | low;
            *next_++ = time_ns;  // a block has room for the pair past its end
        }
        if (next_ >= end_) {
            hand_over();
        }
    }
    // Writes what is left and the final stamp at `time_ns`, and closes the file; once only.
    void finish(std::uint64_t time_ns);
    // false once a write has failed.
    bool ok() const { return !failed_.load(std::memory_order_relaxed); }

  private:
    static constexpr unsigned kTimeShift = VcdText::kTimeShift;
    static constexpr std::uint64_t kLongTime = VcdText::kLongTime;
    static constexpr std::uint64_t kLongTimeRecord = kLongTime << kTimeShift;
    static constexpr std::size_t kBlockWords = 32 * 1024;
    static constexpr std::size_t kBlocksInFlight = 8;
    static_assert((kBlockWords + 1) * VcdText::kMostPerChange <= VcdText::kBufferSize);
    struct Block {
        std::vector<std::uint64_t> words;  // kBlockWords + 1 once in use
        std::size_t used = 0;
    };

    void start_block();
    void end_block();
    void hand_over();
    void run_writer();
    void write_block(const Block &block);
    void drain();
    void close_file();

    int fd_;
    VcdText text_;  // the writer thread's once it runs; the caller's before and after
    Block block_;   // the block being filled, from its start up to `next_`
    std::uint64_t *next_;
    std::uint64_t *end_;
    std::mutex mutex_;
    std::condition_variable ready_;     // a block is queued, or the end
    std::condition_variable returned_;  // a block came back to `spare_`
    std::deque<Block> queued_;
    std::vector<Block> spare_;
    std::size_t in_flight_ = 0;
    bool ending_ = false;
    bool finished_ = false;
    bool no_thread_ = false;
    std::thread writer_;
    std::atomic<bool> failed_{false};
};

}  // namespace vboard

#endif  // VBOARD_VCD_STREAM_HPP
