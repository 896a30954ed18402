// SPDX-License-Identifier: MIT
// The body of the VCD writer: line changes are packed into blocks on the board's thread, and a
// thread of the stream's own turns them into text and writes the file, so that a traced run pays
// on its own thread for little more than the packing. The thread starts with the first full block:
// a short trace is written by finish() on the caller's thread and never starts one.
//
// Not thread-safe: one thread (the board's, under its lock) calls everything but ok(). A process
// forked from the one that made the stream leaves it and its file alone (see abandon()).
#ifndef VBOARD_VCD_STREAM_HPP
#define VBOARD_VCD_STREAM_HPP

#include <unistd.h>

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

// How a change travels from the board's thread to the writer's: one 32-bit word, the time since
// the previous change above kDeltaShift and the line's identifier and level below; a change
// kLongStep or more after the previous one (or before it) has kLongStep in the word, then its
// time in two more words, low half first.
namespace vcd_word {
inline constexpr unsigned kDeltaShift = 8;
inline constexpr std::uint32_t kLongStep = (std::uint32_t{1} << (32 - kDeltaShift)) - 1;
}  // namespace vcd_word

// VCD text: time stamps and value changes, collected in a buffer that goes to a file descriptor in
// large writes. The first write empties the file first.
class VcdText {
  public:
    explicit VcdText(int fd);
    void append(std::string_view text);
    // "#T\n", unless T is the last stamp written.
    void stamp(std::uint64_t time_ns) {
        if (!stamp_.set || time_ns != stamp_.time) {
            make_room(kStampCopy + 1);
            char *out = buffer_.get() + pending_;
            Stamp stamp = stamp_;
            pending_ = static_cast<std::size_t>(write_stamp(out, time_ns, stamp) - buffer_.get());
            stamp_ = stamp;
        }
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
    // A block of changes packed as vcd_word says: the writer thread's loop.
    void changes(const std::uint32_t *words, std::size_t count);
    // The most text one word can give, with the slack of a stamp's fixed-length copy.
    static constexpr std::size_t kMostPerWord = 28;
    static constexpr std::size_t kBufferSize = 2 * 1024 * 1024;

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
    // The last stamp written. The loops work on a copy in a local, which the text's stores cannot
    // alias, so that it stays in registers.
    struct Stamp {
        std::uint64_t time = 0;
        std::size_t begin = kEnd;  // its digits in `digits_`, from begin up to kEnd
        unsigned last_two = 0;     // time % 100
        bool set = false;
    };

    // Writes "#T\n" at `out` (T differs from the last stamp) and returns the end. Stamps come in
    // rising order, mostly a few tens of nanoseconds apart: the last stamp's digits are kept and
    // moved on by the difference. The last two digits go to `out` from `last_two` rather than
    // through `digits_`, so that the copy does not wait on a store just made.
    char *write_stamp(char *out, std::uint64_t time_ns, Stamp &stamp) {
        if (stamp.set && time_ns > stamp.time && time_ns - stamp.time < 100 && stamp.time >= 100) {
            return write_next_stamp(out, static_cast<unsigned>(time_ns - stamp.time), stamp);
        }
        stamp.begin = set_digits(time_ns);
        stamp.last_two = static_cast<unsigned>(time_ns % 100);
        stamp.time = time_ns;
        stamp.set = true;
        return copy_stamp(out, stamp);
    }
    // write_stamp() for a stamp `step` (1 to 99) after the last, which is 100 or more.
    char *write_next_stamp(char *out, unsigned step, Stamp &stamp) {
        unsigned two = stamp.last_two + step;
        if (two >= 100) {
            two -= 100;
            stamp.begin = carry_into_hundreds(stamp.begin);
        }
        stamp.last_two = two;
        stamp.time += step;
        return copy_stamp(out, stamp, true);
    }
    // `at_least_ten`: known to be 10 or more (when not, the stamp's one digit stays as it is).
    char *copy_stamp(char *out, const Stamp &stamp, bool at_least_ten = false) {
        std::memcpy(out, digits_ + stamp.begin - 1, kStampCopy);  // a fixed length: inlined
        out += kEnd - stamp.begin + 1;
        if (at_least_ten || stamp.time >= 10) {
            std::memcpy(out - 2, kDigitPairs + 2 * stamp.last_two, 2);
        }
        *out = '\n';
        return out + 1;
    }
    // The level line of a change's word.
    static char *write_level(char *out, std::uint32_t word) {
        out[0] = (word & 1) != 0 ? '1' : '0';
        out[1] = static_cast<char>((word >> 1) & 0x7f);
        out[2] = '\n';
        return out + 3;
    }
    // Writes the changes from words[i] on while each is a new stamp 1 to 99 after the last
    // (`stamp`, which is 100 or more and the last change's time); returns where it stopped.
    std::size_t follow(const std::uint32_t *words, std::size_t i, std::size_t count, char *&out,
                       Stamp &stamp);
    // Puts "#T" in `digits_` and returns where its digits begin.
    std::size_t set_digits(std::uint64_t time_ns);
    // Adds one to the digits before the last two of those from `begin` (there are some: the
    // stamp is 100 or more) and returns where they begin now.
    std::size_t carry_into_hundreds(std::size_t begin);

    static const char kDigitPairs[201];

    int fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t pending_ = 0;
    // The last stamp: "#" and its decimal digits from stamp_.begin - 1 up to kEnd, the last two of
    // them as they were when the stamp was set afresh (stamp_.last_two has them now); read 24
    // bytes at a time, so the array has room past kEnd.
    char digits_[kEnd + 24] = {};
    Stamp stamp_;
    std::uint64_t decoded_ = 0;  // the time of the last change read from a block
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

    // What change() takes for a line, its level 0 added (1 for a high level).
    static constexpr std::uint32_t line_word(char id) {
        return static_cast<std::uint32_t>(id) << 1;
    }
    // The line with line_word() `low` changed at `time_ns`.
    void change(std::uint64_t time_ns, std::uint32_t low) {
        const std::uint64_t step = time_ns - last_;  // one before the last wraps to a long step
        if (step < vcd_word::kLongStep) {
            *next_++ = static_cast<std::uint32_t>(step) << vcd_word::kDeltaShift | low;
        } else {
            next_[0] = vcd_word::kLongStep << vcd_word::kDeltaShift | low;
            next_[1] = static_cast<std::uint32_t>(time_ns);
            next_[2] = static_cast<std::uint32_t>(time_ns >> 32);
            next_ += 3;  // a block has room for these past its end
        }
        last_ = time_ns;
        if (next_ >= end_) {
            hand_over();
        }
    }
    // Writes what is left and the final stamp at `time_ns`, and closes the file; once only.
    void finish(std::uint64_t time_ns);
    // false once a write has failed.
    bool ok() const { return !failed_.load(std::memory_order_relaxed); }

  private:
    static constexpr std::size_t kBlockWords = 64 * 1024;
    static constexpr std::size_t kBlockSlack = 2;  // a long step's two more words
    static constexpr std::size_t kBlocksInFlight = 8;
    static_assert((kBlockWords + kBlockSlack) * VcdText::kMostPerWord <= VcdText::kBufferSize);
    struct Block {
        std::vector<std::uint32_t> words;  // kBlockWords + kBlockSlack once in use
        std::size_t used = 0;
    };

    void start_block();
    void end_block();
    void hand_over();
    void run_writer();
    void write_block(const Block &block);
    void drain();
    void close_file();
    bool in_forked_child() const { return ::getpid() != owner_; }
    void abandon();

    // What each thread writes as it goes sits in cache lines of its own: shared, they would pass
    // between the two processors at every change.
    static constexpr std::size_t kCacheLine = 64;
    int fd_;
    alignas(kCacheLine) VcdText text_;  // the writer thread's once it runs; the caller's otherwise
    alignas(kCacheLine) Block block_;   // the block being filled, from its start up to `next_`
    std::uint32_t *next_;
    std::uint32_t *end_;
    std::uint64_t last_ = 0;  // the time of the last change
    alignas(kCacheLine) std::mutex mutex_;
    std::condition_variable ready_;     // a block is queued, or the end
    std::condition_variable returned_;  // a block came back to `spare_`
    std::deque<Block> queued_;
    std::vector<Block> spare_;
    std::size_t in_flight_ = 0;
    bool ending_ = false;
    bool finished_ = false;
    bool no_thread_ = false;
    std::unique_ptr<std::thread> writer_;
    pid_t owner_ = ::getpid();  // the process that made the stream
    std::atomic<bool> failed_{false};
};

}  // namespace vboard

#endif  // VBOARD_VCD_STREAM_HPP
