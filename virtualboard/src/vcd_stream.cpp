// SPDX-License-Identifier: MIT
// VCD text and the thread that writes it.

#include "vcd_stream.hpp"

#include "c_library_time.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

namespace vboard {

const char VcdText::kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// ---- VcdText ------------------------------------------------------------------------------------

VcdText::VcdText(int fd) : fd_(fd), buffer_(new char[kBufferSize]) {}

void VcdText::append(std::string_view text) {
    while (!text.empty()) {
        make_room(std::min(text.size(), kBufferSize));
        const std::size_t part = std::min(text.size(), kBufferSize - pending_);
        std::memcpy(buffer_.get() + pending_, text.data(), part);
        pending_ += part;
        text.remove_prefix(part);
    }
}

void VcdText::changes(const std::uint32_t *words, std::size_t count) {
    using vcd_word::kDeltaShift;
    using vcd_word::kLongStep;
    make_room(count * kMostPerWord);
    char *out = buffer_.get() + pending_;
    std::uint64_t decoded = decoded_;
    Stamp stamp = stamp_;
    std::size_t i = 0;
    while (i < count) {
        // The common case: while the last stamp is the last change's time and 100 or more, each
        // change a little later is a new stamp moved on from the last.
        if (stamp.set && decoded == stamp.time && stamp.time >= 100) {
            i = follow(words, i, count, out, stamp);
            decoded = stamp.time;
            if (i == count) {
                break;
            }
        }
        const std::uint32_t word = words[i];
        const std::uint32_t step = word >> kDeltaShift;
        if (step != kLongStep) {
            decoded += step;
        } else if (i + 2 < count) {
            decoded = words[i + 1] | static_cast<std::uint64_t>(words[i + 2]) << 32;
            i += 2;
        }
        if (!stamp.set || decoded != stamp.time) {
            out = write_stamp(out, decoded, stamp);
        }
        out = write_level(out, word);
        ++i;
    }
    decoded_ = decoded;
    stamp_ = stamp;
    pending_ = static_cast<std::size_t>(out - buffer_.get());
}

std::size_t VcdText::follow(const std::uint32_t *words, std::size_t i, std::size_t count,
                            char *&out_ref, Stamp &stamp) {
    // Locals throughout: the text's stores could alias anything reached through a reference.
    char *out = out_ref;
    std::uint64_t time = stamp.time;
    unsigned two = stamp.last_two;
    std::size_t begin = stamp.begin;
    const char *digits = digits_ + begin - 1;
    std::size_t length = kEnd - begin + 1;
    for (; i < count; ++i) {
        const std::uint32_t word = words[i];
        const std::uint32_t step = word >> vcd_word::kDeltaShift;
        if (step - 1 >= 99) {
            break;
        }
        time += step;
        two += step;
        if (two >= 100) {
            two -= 100;
            begin = carry_into_hundreds(begin);
            digits = digits_ + begin - 1;
            length = kEnd - begin + 1;
        }
        std::memcpy(out, digits, kStampCopy);  // a fixed length: inlined
        out += length;
        std::memcpy(out - 2, kDigitPairs + 2 * two, 2);
        *out = '\n';
        out = write_level(out + 1, word);
    }
    out_ref = out;
    stamp.time = time;
    stamp.last_two = two;
    stamp.begin = begin;
    return i;
}

std::size_t VcdText::set_digits(std::uint64_t time_ns) {
    char text[20];
    const char *end = std::to_chars(text, text + sizeof text, time_ns).ptr;
    const auto count = static_cast<std::size_t>(end - text);
    const std::size_t begin = kEnd - count;
    std::memcpy(digits_ + begin, text, count);
    digits_[begin - 1] = '#';
    return begin;
}

std::size_t VcdText::carry_into_hundreds(std::size_t begin) {
    std::size_t pos = kEnd - 3;
    while (pos >= begin && digits_[pos] == '9') {
        digits_[pos] = '0';
        --pos;
    }
    if (pos < begin) {
        digits_[pos] = '1';
        digits_[pos - 1] = '#';
        return pos;
    }
    ++digits_[pos];
    return begin;
}

bool VcdText::flush() {
    if (!emptied_) {
        // What the file held before goes now. Only a file that holds something is truncated: a
        // truncated file is written back to disk as it is closed.
        emptied_ = true;
        struct stat status {};
        if (::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
            static_cast<void>(::ftruncate(fd_, 0));
        }
    }
    const char *data = buffer_.get();
    std::size_t left = failed_ ? 0 : pending_;
    while (left > 0) {
        const ssize_t n = ::write(fd_, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failed_ = true;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    pending_ = 0;
    return !failed_;
}

// ---- VcdStream ----------------------------------------------------------------------------------

VcdStream::VcdStream(int fd) : fd_(fd), text_(fd) { start_block(); }

void VcdStream::start_block() {
    if (block_.words.empty()) {
        block_.words.resize(kBlockWords + kBlockSlack);
    }
    block_.used = 0;
    next_ = block_.words.data();
    end_ = next_ + kBlockWords;
}

void VcdStream::end_block() { block_.used = static_cast<std::size_t>(next_ - block_.words.data()); }

VcdStream::~VcdStream() {
    if (in_forked_child()) {
        abandon();
    } else if (!finished_) {
        drain();
        close_file();
    }
}

void VcdStream::finish(std::uint64_t time_ns) {
    if (in_forked_child()) {
        abandon();
    }
    if (finished_) {
        return;
    }
    drain();
    text_.stamp(time_ns);  // so the last levels have a length
    close_file();
}

// Gives the full block to the writer thread, starting it the first time, and waits while it is
// that far behind. Without a thread (none could be started) the block is written here.
void VcdStream::hand_over() {
    if (in_forked_child()) {
        abandon();
    }
    if (finished_) {
        start_block();
        return;
    }
    end_block();
    std::unique_lock lock(mutex_);
    if (!writer_ && !no_thread_) {
        try {
            writer_ = std::make_unique<std::thread>([this] { run_writer(); });
            // Every block there will be, made now: the memory a trace takes does not depend on
            // how far the writer falls behind.
            while (spare_.size() < kBlocksInFlight) {
                spare_.emplace_back().words.resize(kBlockWords + kBlockSlack);
            }
        } catch (const std::system_error &) {
            no_thread_ = true;
        }
    }
    if (no_thread_) {
        lock.unlock();
        write_block(block_);
        start_block();
        return;
    }
    returned_.wait(lock, [this] { return in_flight_ < kBlocksInFlight; });
    queued_.push_back(std::move(block_));
    ++in_flight_;
    if (spare_.empty()) {
        block_ = Block();
    } else {
        block_ = std::move(spare_.back());
        spare_.pop_back();
    }
    start_block();
    lock.unlock();
    ready_.notify_one();
}

void VcdStream::run_writer() {
    mark_board_thread();
    for (;;) {
        Block block;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return !queued_.empty() || ending_; });
            if (queued_.empty()) {
                return;
            }
            block = std::move(queued_.front());
            queued_.pop_front();
        }
        write_block(block);
        {
            std::lock_guard lock(mutex_);
            spare_.push_back(std::move(block));
            --in_flight_;
        }
        returned_.notify_one();
    }
}

void VcdStream::write_block(const Block &block) {
    text_.changes(block.words.data(), block.used);
    if (!text_.ok()) {
        failed_.store(true, std::memory_order_relaxed);
    }
}

// Everything pushed so far is in `text_` and the writer thread has ended; `text_` is the caller's.
void VcdStream::drain() {
    finished_ = true;
    end_block();
    if (writer_) {
        {
            std::lock_guard lock(mutex_);
            queued_.push_back(std::move(block_));
            ending_ = true;
        }
        ready_.notify_one();
        writer_->join();
        block_ = Block();
    } else {
        write_block(block_);
    }
    start_block();  // changes after the end are dropped by hand_over()
}

// A process forked from the one that made the stream has a copy of it but not its thread, and
// shares the file: it leaves both alone, dropping its own changes. The thread's handle is let go
// without being joined, since the thread is not in this process.
void VcdStream::abandon() {
    if (!finished_) {
        finished_ = true;
        static_cast<void>(writer_.release());
        ::close(fd_);
    }
}

void VcdStream::close_file() {
    const bool written = text_.flush();
    if (::close(fd_) != 0 || !written) {
        failed_.store(true, std::memory_order_relaxed);
    }
}

}  // namespace vboard
