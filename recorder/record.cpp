// SPDX-License-Identifier: MIT
// libvboard-record.so: preloaded into a program on a Pi, it defines the wiringPi functions, passes
// each call on to the wiringPi loaded after it (the next definition of the same name) and records
// the call, its time, its result and an SPI transfer's bytes both ways, as a trace.
//
// The driver's thread does no system call for a record: records go into memory blocks under an
// uncontended mutex; a thread of the recorder's own turns full blocks into text and writes them
// out, and whatever is left at exit, at a fatal signal (a crash, SIGTERM, SIGINT, SIGHUP) or at a
// program's own signal handler that exits, is written then. The library uses nothing of the
// virtual board: the text it writes is the trace format the board's reader reads.

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#define RECORD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The functions recorded, in the order of kNames.
enum class Fn : std::uint8_t {
    WiringPiSetupGpio,
    WiringPiSetup,
    WiringPiSetupPhys,
    WiringPiSetupSys,
    WiringPiSetupPinType,
    WiringPiSetupGpioDevice,
    PiBoardId,
    PiGpioLayout,
    PiBoardRev,
    PiBoard40Pin,
    PiRP1Model,
    WiringPiVersion,
    WiringPiGlobalMemoryAccess,
    WiringPiUserLevelAccess,
    Millis,
    Micros,
    PiMicros64,
    PinMode,
    PullUpDnControl,
    DigitalWrite,
    DigitalRead,
    PinModeAlt,
    GetAlt,
    GetPinModeAlt,
    DigitalWriteByte,
    DigitalReadByte,
    PwmWrite,
    PwmSetMode,
    PwmSetRange,
    PwmSetClock,
    PwmToneWrite,
    GpioClockSet,
    SetPadDrive,
    SetPadDrivePin,
    WiringPiISR,
    WiringPiISRStop,
    WaitForInterrupt,
    WaitForInterruptClose,
    Delay,
    DelayMicroseconds,
    SpiSetup,
    SpiSetupMode,
    SpiDataRW,
    SpiGetFd,
    SpiClose,
    SpiXSetup,
    SpiXSetupMode,
    SpiXDataRW,
    SpiXGetFd,
    SpiXClose,
    Count,
};

constexpr const char *kNames[] = {
    "wiringPiSetupGpio",
    "wiringPiSetup",
    "wiringPiSetupPhys",
    "wiringPiSetupSys",
    "wiringPiSetupPinType",
    "wiringPiSetupGpioDevice",
    "piBoardId",
    "piGpioLayout",
    "piBoardRev",
    "piBoard40Pin",
    "piRP1Model",
    "wiringPiVersion",
    "wiringPiGlobalMemoryAccess",
    "wiringPiUserLevelAccess",
    "millis",
    "micros",
    "piMicros64",
    "pinMode",
    "pullUpDnControl",
    "digitalWrite",
    "digitalRead",
    "pinModeAlt",
    "getAlt",
    "getPinModeAlt",
    "digitalWriteByte",
    "digitalReadByte",
    "pwmWrite",
    "pwmSetMode",
    "pwmSetRange",
    "pwmSetClock",
    "pwmToneWrite",
    "gpioClockSet",
    "setPadDrive",
    "setPadDrivePin",
    "wiringPiISR",
    "wiringPiISRStop",
    "waitForInterrupt",
    "waitForInterruptClose",
    "delay",
    "delayMicroseconds",
    "wiringPiSPISetup",
    "wiringPiSPISetupMode",
    "wiringPiSPIDataRW",
    "wiringPiSPIGetFd",
    "wiringPiSPIClose",
    "wiringPiSPIxSetup",
    "wiringPiSPIxSetupMode",
    "wiringPiSPIxDataRW",
    "wiringPiSPIxGetFd",
    "wiringPiSPIxClose",
};
static_assert(sizeof kNames / sizeof kNames[0] == static_cast<std::size_t>(Fn::Count));

// One call in a block, followed by its bytes (an SPI transfer's sent, then received).
struct Entry {
    std::uint64_t time_ns;
    long long args[4];
    long long result;
    std::uint32_t bytes;  // the length of each of sent and received
    Fn fn;
    std::uint8_t arg_count;
    bool has_result;
    std::uint8_t buffer;  // kNoBuffer, kNullBuffer, kBufferNotShown, kBufferShown
};
constexpr std::uint8_t kNoBuffer = 0;
constexpr std::uint8_t kNullBuffer = 1;
constexpr std::uint8_t kBufferNotShown = 2;  // a transfer that failed: wiringPi ran nothing
constexpr std::uint8_t kBufferShown = 3;

constexpr std::uint64_t kNoStart = ~std::uint64_t{0};

struct Block {
    Block *next;
    std::size_t used;
    std::size_t size;
    unsigned char data[1];  // `size` bytes
};
constexpr std::size_t kBlockSize = 256 * 1024;

Block *new_block(std::size_t at_least) {
    const std::size_t size = at_least > kBlockSize ? at_least : kBlockSize;
    auto *block = static_cast<Block *>(std::malloc(sizeof(Block) + size));
    if (block != nullptr) {
        block->next = nullptr;
        block->used = 0;
        block->size = size;
    }
    return block;
}

// The recorder's one state, made at the first call and never freed (it outlives exit handlers).
struct Recorder {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t wake;
    Block *pending_head = nullptr;  // full blocks, oldest first, not yet taken by the writer
    Block *pending_tail = nullptr;
    Block *current = nullptr;
    std::atomic<bool> writing{false};  // the writer is writing a block it took
    bool stopping = false;
    bool finished = false;
    int fd = -1;
    pthread_t writer{};
    bool writer_running = false;
    // The monotonic clock at the first call; kNoStart until then.
    std::atomic<std::uint64_t> start_ns{kNoStart};
    pid_t pid = 0;  // the process recording: a child of fork() records nothing
};

std::atomic<int> g_state{0};  // 0: not started, 1: starting, 2: recording, 3: not recording
Recorder *g_recorder = nullptr;

void say(const char *text) {
    const std::size_t length = std::strlen(text);
    const ssize_t ignored = write(STDERR_FILENO, text, length);
    (void)ignored;
}

std::uint64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL +
           static_cast<std::uint64_t>(now.tv_nsec);
}

void write_all(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

// The text of one line is made in a buffer with the digits written by hand: the writer formats
// every call, and the C library's printf would be most of the recorder's cost.
class LineText {
  public:
    // Room for a line of an entry with `bytes` bytes each way.
    void make_room(std::size_t bytes) {
        const std::size_t most = 160 + 6 * bytes;
        if (out_.size() < length_ + most) {
            out_.resize(2 * (length_ + most));
        }
        at_ = out_.data() + length_;
    }
    void line_done() { length_ = static_cast<std::size_t>(at_ - out_.data()); }
    void text(const char *text) {
        while (*text != '\0') {
            *at_++ = *text++;
        }
    }
    void character(char c) { *at_++ = c; }
    void number(long long value) {
        if (value < 0) {
            *at_++ = '-';
            unsigned_number(0 - static_cast<unsigned long long>(value), 1);
        } else {
            unsigned_number(static_cast<unsigned long long>(value), 1);
        }
    }
    // Right-aligned in `width` characters, as the board's log writes its times.
    void unsigned_number(unsigned long long value, int width) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int pad = width - count; pad > 0; --pad) {
            *at_++ = ' ';
        }
        while (count > 0) {
            *at_++ = digits[--count];
        }
    }
    void hex(const unsigned char *bytes, std::size_t count) {
        static const char kHex[] = "0123456789abcdef";
        *at_++ = '[';
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0) {
                *at_++ = ' ';
            }
            *at_++ = kHex[bytes[i] >> 4];
            *at_++ = kHex[bytes[i] & 0xf];
        }
        *at_++ = ']';
    }
    std::string take() {
        out_.resize(length_);
        return std::move(out_);
    }

  private:
    std::string out_;
    std::size_t length_ = 0;
    char *at_ = nullptr;
};

// A call's line as the trace has it: "   1000020 ns  wiringPiSPIDataRW(0, [3c], 1) = 1 received
// [00]". The buffer stands between the channel and the length, as in the call.
void append_line(LineText &out, const Entry &entry, const unsigned char *bytes) {
    out.make_room(entry.bytes);
    out.unsigned_number(entry.time_ns, 12);
    out.text(" ns  ");
    out.text(kNames[static_cast<int>(entry.fn)]);
    out.character('(');
    const int buffer_at = entry.fn == Fn::SpiDataRW ? 1 : entry.fn == Fn::SpiXDataRW ? 2 : -1;
    for (int i = 0; i < entry.arg_count; ++i) {
        if (i > 0) {
            out.text(", ");
        }
        if (i == buffer_at) {
            if (entry.buffer == kNullBuffer) {
                out.text("NULL, ");
            } else if (entry.buffer == kBufferNotShown) {
                out.text("<buffer>, ");
            } else {
                out.hex(bytes, entry.bytes);
                out.text(", ");
            }
        }
        out.number(entry.args[i]);
    }
    out.character(')');
    if (entry.has_result) {
        out.text(" = ");
        out.number(entry.result);
    }
    if (entry.buffer == kBufferShown && entry.bytes > 0) {
        out.text(" received ");
        out.hex(bytes + entry.bytes, entry.bytes);
    }
    out.character('\n');
    out.line_done();
}

std::size_t entry_size(const Entry &entry) {
    const std::size_t size = sizeof(Entry) + 2 * std::size_t{entry.bytes};
    return (size + alignof(Entry) - 1) / alignof(Entry) * alignof(Entry);
}

std::string block_text(const Block &block) {
    LineText out;
    std::size_t at = 0;
    while (at < block.used) {
        Entry entry;
        std::memcpy(&entry, block.data + at, sizeof entry);
        append_line(out, entry, block.data + at + sizeof entry);
        at += entry_size(entry);
    }
    return out.take();
}

Block *take_pending(Recorder &r) {
    Block *block = r.pending_head;
    if (block != nullptr) {
        r.pending_head = block->next;
        if (r.pending_head == nullptr) {
            r.pending_tail = nullptr;
        }
    }
    return block;
}

void queue_current(Recorder &r) {
    if (r.current == nullptr || r.current->used == 0) {
        return;
    }
    if (r.pending_tail != nullptr) {
        r.pending_tail->next = r.current;
    } else {
        r.pending_head = r.current;
    }
    r.pending_tail = r.current;
    r.current = nullptr;
}

// How often the writer takes a block still filling, so a long quiet run is on disk.
constexpr long kWriterPeriodNs = 200'000'000;

timespec deadline_after(long ns) {
    // The writer reads the clock itself, by system call: the program's clock_gettime may be a
    // simulator's, where a read from this thread would move its time.
    timespec now{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    now.tv_nsec += ns;
    while (now.tv_nsec >= 1'000'000'000) {
        now.tv_nsec -= 1'000'000'000;
        now.tv_sec += 1;
    }
    return now;
}

void *writer_main(void *) {
    Recorder &r = *g_recorder;
    pthread_mutex_lock(&r.mutex);
    for (;;) {
        Block *block = take_pending(r);
        if (block == nullptr) {
            if (r.stopping) {
                break;
            }
            const timespec until = deadline_after(kWriterPeriodNs);
            if (pthread_cond_timedwait(&r.wake, &r.mutex, &until) == ETIMEDOUT) {
                queue_current(r);
            }
            continue;
        }
        r.writing.store(true);
        pthread_mutex_unlock(&r.mutex);
        write_all(r.fd, block_text(*block));
        std::free(block);
        pthread_mutex_lock(&r.mutex);
        r.writing.store(false);
    }
    pthread_mutex_unlock(&r.mutex);
    return nullptr;
}

// Finishes the file at exit: the writer writes what is left and ends.
void finish_at_exit() {
    Recorder &r = *g_recorder;
    if (getpid() != r.pid) {
        return;
    }
    pthread_mutex_lock(&r.mutex);
    if (r.finished) {
        pthread_mutex_unlock(&r.mutex);
        return;
    }
    queue_current(r);
    r.stopping = true;
    pthread_cond_signal(&r.wake);
    pthread_mutex_unlock(&r.mutex);
    if (r.writer_running) {
        pthread_join(r.writer, nullptr);
    }
    pthread_mutex_lock(&r.mutex);
    while (Block *block = take_pending(r)) {
        write_all(r.fd, block_text(*block));
        std::free(block);
    }
    r.finished = true;
    pthread_mutex_unlock(&r.mutex);
    close(r.fd);
}

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTERM, SIGINT, SIGHUP};
struct sigaction g_previous[sizeof kFatalSignals / sizeof kFatalSignals[0]];

// A fatal signal: write what is recorded from this thread, then hand the signal on to whoever
// had it before the recorder (the program, a simulator's own finishing, or the default).
void on_fatal_signal(int signal_number) {
    Recorder &r = *g_recorder;
    if (getpid() != r.pid) {
        r.finished = true;  // a child of fork(): the parent writes the trace
    }
    // The writer may be mid-block: let it finish, for the lines to stay in order.
    for (int spins = 0; r.writing.load() && spins < 100000; ++spins) {
        sched_yield();
    }
    const bool locked = pthread_mutex_trylock(&r.mutex) == 0;
    if (!r.finished) {
        queue_current(r);
        while (Block *block = take_pending(r)) {
            write_all(r.fd, block_text(*block));
        }
        r.finished = true;
    }
    if (locked) {
        pthread_mutex_unlock(&r.mutex);
    }
    for (std::size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
        if (kFatalSignals[i] == signal_number) {
            sigaction(signal_number, &g_previous[i], nullptr);
        }
    }
    raise(signal_number);
}

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
        sigaction(kFatalSignals[i], &action, &g_previous[i]);
    }
}

// The model of the Pi as its device tree names it, or "unknown".
std::string pi_model() {
    const int fd = open("/proc/device-tree/model", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "unknown";
    }
    char text[128] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    std::string model(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    model = model.substr(0, model.find('\0'));
    for (char &c : model) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return model.empty() ? "unknown" : model;
}

// wiringPi's version from the name of the library that defines `function`
// (libwiringPi.so.3.14), or "unknown".
std::string wiringpi_version(void *function) {
    Dl_info info{};
    if (function == nullptr || dladdr(function, &info) == 0 || info.dli_fname == nullptr) {
        return "unknown";
    }
    char resolved[PATH_MAX];
    const char *path = realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
    const char *so = std::strstr(path, ".so.");
    return so != nullptr && so[4] != '\0' ? std::string(so + 4) : "unknown";
}

// Opens the trace and starts the writer; on failure says why once and records nothing.
bool start_recording(void *a_function) {
    const char *path = std::getenv("VBOARD_RECORD");
    if (path == nullptr || *path == '\0') {
        say("libvboard-record: VBOARD_RECORD is not set: nothing is recorded\n");
        return false;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const std::string text = std::string("libvboard-record: cannot write '") + path +
                                 "': " + std::strerror(errno) + ": nothing is recorded\n";
        say(text.c_str());
        return false;
    }
    auto *r = new Recorder;
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&r->wake, &attributes);
    pthread_condattr_destroy(&attributes);
    r->fd = fd;
    r->current = new_block(0);
    write_all(fd, std::string("vboard-trace 1\nsource recorder\nmodel ") + pi_model() +
                      "\nwiringpi " + wiringpi_version(a_function) + "\n");
    r->pid = getpid();
    g_recorder = r;
    // A child of fork() has no writer: it goes on without recording.
    pthread_atfork(nullptr, nullptr, [] { g_state.store(3); });
    // The writer's signals stay with the program's threads.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    r->writer_running = pthread_create(&r->writer, nullptr, writer_main, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    std::atexit(finish_at_exit);
    return true;
}

// The next definition of a wiringPi function: the real wiringPi's. Found once.
void *next_function(std::atomic<void *> &slot, const char *name) {
    void *function = slot.load(std::memory_order_acquire);
    if (function == nullptr) {
        function = dlsym(RTLD_NEXT, name);
        if (function == nullptr) {
            const std::string text = std::string("libvboard-record: no wiringPi defines ") + name +
                                     " after the recorder: is the program linked with wiringPi?\n";
            say(text.c_str());
            std::abort();
        }
        slot.store(function, std::memory_order_release);
    }
    return function;
}

// Called before the first call is passed on: the recorder starts with the program's wiringPi.
bool recording(void *a_function) {
    int state = g_state.load(std::memory_order_acquire);
    if (state == 0) {
        int expected = 0;
        if (g_state.compare_exchange_strong(expected, 1)) {
            state = start_recording(a_function) ? 2 : 3;
            g_state.store(state, std::memory_order_release);
        }
    }
    while (state == 1) {
        sched_yield();
        state = g_state.load(std::memory_order_acquire);
    }
    return state == 2;
}

std::atomic<bool> g_handlers_installed{false};

// After the first call has run: a simulator standing in for wiringPi has set up its own handlers
// by then, and the recorder's run before them.
void install_handlers_once() {
    if (!g_handlers_installed.exchange(true)) {
        install_signal_handlers();
    }
}

struct Call {
    Fn fn;
    std::uint64_t time_ns;
    bool on;
};

Call begin(Fn fn, void *function) {
    if (!recording(function)) {
        return Call{fn, 0, false};
    }
    const std::uint64_t now = monotonic_ns();
    std::uint64_t start = kNoStart;
    g_recorder->start_ns.compare_exchange_strong(start, now);
    return Call{fn, now, true};
}

void record(const Call &call, std::initializer_list<long long> args, bool has_result,
            long long result, std::uint8_t buffer = kNoBuffer, const unsigned char *sent = nullptr,
            const unsigned char *received = nullptr, std::uint32_t bytes = 0) {
    if (!call.on) {
        return;
    }
    install_handlers_once();
    Recorder &r = *g_recorder;
    Entry entry{};
    entry.fn = call.fn;
    entry.arg_count = static_cast<std::uint8_t>(args.size());
    int i = 0;
    for (const long long arg : args) {
        entry.args[i++] = arg;
    }
    entry.has_result = has_result;
    entry.result = result;
    entry.buffer = buffer;
    entry.bytes = buffer == kBufferShown ? bytes : 0;
    const std::size_t size = entry_size(entry);
    pthread_mutex_lock(&r.mutex);
    if (r.finished) {
        pthread_mutex_unlock(&r.mutex);
        return;
    }
    const std::uint64_t start = r.start_ns.load();
    entry.time_ns = call.time_ns > start ? call.time_ns - start : 0;
    if (r.current == nullptr || r.current->used + size > r.current->size) {
        queue_current(r);
        r.current = new_block(size);
        pthread_cond_signal(&r.wake);
        if (r.current == nullptr) {
            pthread_mutex_unlock(&r.mutex);
            return;
        }
    }
    unsigned char *at = r.current->data + r.current->used;
    std::memcpy(at, &entry, sizeof entry);
    if (entry.bytes > 0 && sent != nullptr && received != nullptr) {
        std::memcpy(at + sizeof entry, sent, entry.bytes);
        std::memcpy(at + sizeof entry + entry.bytes, received, entry.bytes);
    }
    r.current->used += size;
    pthread_mutex_unlock(&r.mutex);
}

template <typename F>
F next(std::atomic<void *> &slot, Fn fn) {
    return reinterpret_cast<F>(next_function(slot, kNames[static_cast<int>(fn)]));
}

// Defines a recorded function: its next definition, found once, and the call's record.
#define NEXT(fn, type)                          \
    static std::atomic<void *> slot{nullptr};   \
    const auto real = next<type>(slot, Fn::fn); \
    const Call call = begin(Fn::fn, reinterpret_cast<void *>(real))

// A call that returns an int and takes ints.
template <typename F, typename... Args>
int int_call(Fn fn, std::atomic<void *> &slot, Args... args) {
    const auto real = next<F>(slot, fn);
    const Call call = begin(fn, reinterpret_cast<void *>(real));
    const int result = real(args...);
    record(call, {static_cast<long long>(args)...}, true, result);
    return result;
}

template <typename F, typename... Args>
void void_call(Fn fn, std::atomic<void *> &slot, Args... args) {
    const auto real = next<F>(slot, fn);
    const Call call = begin(fn, reinterpret_cast<void *>(real));
    real(args...);
    record(call, {static_cast<long long>(args)...}, false, 0);
}

#define INT_CALL(fn, F, ...)                  \
    static std::atomic<void *> slot{nullptr}; \
    return int_call<F>(Fn::fn, slot __VA_OPT__(, ) __VA_ARGS__)
#define VOID_CALL(fn, F, ...)                 \
    static std::atomic<void *> slot{nullptr}; \
    void_call<F>(Fn::fn, slot __VA_OPT__(, ) __VA_ARGS__)

using IntOfVoid = int (*)();
using IntOfInt = int (*)(int);
using IntOfInt2 = int (*)(int, int);
using IntOfInt3 = int (*)(int, int, int);
using IntOfInt4 = int (*)(int, int, int, int);
using VoidOfInt = void (*)(int);
using VoidOfInt2 = void (*)(int, int);

int transfer(Fn fn, std::atomic<void *> &slot, int bus, int channel, unsigned char *data, int len) {
    const bool x = fn == Fn::SpiXDataRW;
    void *function = next_function(slot, kNames[static_cast<int>(fn)]);
    const Call call = begin(fn, function);
    const bool shown = call.on && data != nullptr && len > 0;
    unsigned char *sent = nullptr;
    if (shown) {
        sent = static_cast<unsigned char *>(std::malloc(static_cast<std::size_t>(len)));
        if (sent != nullptr) {
            std::memcpy(sent, data, static_cast<std::size_t>(len));
        }
    }
    const int result =
        x ? reinterpret_cast<int (*)(int, int, unsigned char *, int)>(function)(bus, channel, data,
                                                                                len)
          : reinterpret_cast<int (*)(int, unsigned char *, int)>(function)(channel, data, len);
    const std::uint8_t buffer = data == nullptr                   ? kNullBuffer
                                : result < 0 || len <= 0 || !sent ? kBufferNotShown
                                                                  : kBufferShown;
    if (x) {
        record(call, {bus, channel, len}, true, result, buffer, sent, data,
               static_cast<std::uint32_t>(len > 0 ? len : 0));
    } else {
        record(call, {channel, len}, true, result, buffer, sent, data,
               static_cast<std::uint32_t>(len > 0 ? len : 0));
    }
    std::free(sent);
    return result;
}

}  // namespace

RECORD_EXPORT int wiringPiSetupGpio(void) { INT_CALL(WiringPiSetupGpio, IntOfVoid); }
RECORD_EXPORT int wiringPiSetup(void) { INT_CALL(WiringPiSetup, IntOfVoid); }
RECORD_EXPORT int wiringPiSetupPhys(void) { INT_CALL(WiringPiSetupPhys, IntOfVoid); }
RECORD_EXPORT int wiringPiSetupSys(void) { INT_CALL(WiringPiSetupSys, IntOfVoid); }
RECORD_EXPORT int wiringPiSetupPinType(enum WPIPinType pinType) {
    NEXT(WiringPiSetupPinType, int (*)(enum WPIPinType));
    const int result = real(pinType);
    record(call, {static_cast<long long>(pinType)}, true, result);
    return result;
}
RECORD_EXPORT int wiringPiSetupGpioDevice(enum WPIPinType pinType) {
    NEXT(WiringPiSetupGpioDevice, int (*)(enum WPIPinType));
    const int result = real(pinType);
    record(call, {static_cast<long long>(pinType)}, true, result);
    return result;
}

RECORD_EXPORT void piBoardId(int *model, int *rev, int *mem, int *maker, int *overVolted) {
    NEXT(PiBoardId, void (*)(int *, int *, int *, int *, int *));
    int own_model = 0;
    int *model_out = model != nullptr ? model : &own_model;
    real(model_out, rev, mem, maker, overVolted);
    record(call, {}, true, *model_out);
}
RECORD_EXPORT int piGpioLayout(void) { INT_CALL(PiGpioLayout, IntOfVoid); }
RECORD_EXPORT int piBoardRev(void) { INT_CALL(PiBoardRev, IntOfVoid); }
RECORD_EXPORT int piBoard40Pin(void) { INT_CALL(PiBoard40Pin, IntOfVoid); }
RECORD_EXPORT int piRP1Model(void) { INT_CALL(PiRP1Model, IntOfVoid); }
RECORD_EXPORT void wiringPiVersion(int *major, int *minor) {
    NEXT(WiringPiVersion, void (*)(int *, int *));
    int own_major = 0;
    int *major_out = major != nullptr ? major : &own_major;
    real(major_out, minor);
    record(call, {}, true, *major_out);
}
RECORD_EXPORT int wiringPiGlobalMemoryAccess(void) {
    INT_CALL(WiringPiGlobalMemoryAccess, IntOfVoid);
}
RECORD_EXPORT int wiringPiUserLevelAccess(void) { INT_CALL(WiringPiUserLevelAccess, IntOfVoid); }

RECORD_EXPORT unsigned int millis(void) {
    NEXT(Millis, unsigned (*)());
    const unsigned result = real();
    record(call, {}, true, result);
    return result;
}
RECORD_EXPORT unsigned int micros(void) {
    NEXT(Micros, unsigned (*)());
    const unsigned result = real();
    record(call, {}, true, result);
    return result;
}
RECORD_EXPORT unsigned long long piMicros64(void) {
    NEXT(PiMicros64, unsigned long long (*)());
    const unsigned long long result = real();
    record(call, {}, true, static_cast<long long>(result));
    return result;
}

RECORD_EXPORT void pinMode(int pin, int mode) { VOID_CALL(PinMode, VoidOfInt2, pin, mode); }
RECORD_EXPORT void pullUpDnControl(int pin, int pud) {
    VOID_CALL(PullUpDnControl, VoidOfInt2, pin, pud);
}
RECORD_EXPORT void digitalWrite(int pin, int value) {
    VOID_CALL(DigitalWrite, VoidOfInt2, pin, value);
}
RECORD_EXPORT int digitalRead(int pin) { INT_CALL(DigitalRead, IntOfInt, pin); }
RECORD_EXPORT void pinModeAlt(int pin, int mode) { VOID_CALL(PinModeAlt, VoidOfInt2, pin, mode); }
RECORD_EXPORT int getAlt(int pin) { INT_CALL(GetAlt, IntOfInt, pin); }
RECORD_EXPORT int getPinModeAlt(int pin) { INT_CALL(GetPinModeAlt, IntOfInt, pin); }
RECORD_EXPORT void digitalWriteByte(const int value) {
    VOID_CALL(DigitalWriteByte, VoidOfInt, value);
}
RECORD_EXPORT unsigned int digitalReadByte(void) {
    NEXT(DigitalReadByte, unsigned (*)());
    const unsigned result = real();
    record(call, {}, true, result);
    return result;
}

RECORD_EXPORT void pwmWrite(int pin, int value) { VOID_CALL(PwmWrite, VoidOfInt2, pin, value); }
RECORD_EXPORT void pwmSetMode(int mode) { VOID_CALL(PwmSetMode, VoidOfInt, mode); }
RECORD_EXPORT void pwmSetRange(unsigned int range) {
    NEXT(PwmSetRange, void (*)(unsigned));
    real(range);
    record(call, {static_cast<long long>(range)}, false, 0);
}
RECORD_EXPORT void pwmSetClock(int divisor) { VOID_CALL(PwmSetClock, VoidOfInt, divisor); }
RECORD_EXPORT void pwmToneWrite(int pin, int freq) {
    VOID_CALL(PwmToneWrite, VoidOfInt2, pin, freq);
}
RECORD_EXPORT void gpioClockSet(int pin, int freq) {
    VOID_CALL(GpioClockSet, VoidOfInt2, pin, freq);
}
RECORD_EXPORT void setPadDrive(int group, int value) {
    VOID_CALL(SetPadDrive, VoidOfInt2, group, value);
}
RECORD_EXPORT void setPadDrivePin(int pin, int value) {
    VOID_CALL(SetPadDrivePin, VoidOfInt2, pin, value);
}

RECORD_EXPORT int wiringPiISR(int pin, int mode, void (*function)(void)) {
    NEXT(WiringPiISR, int (*)(int, int, void (*)(void)));
    const int result = real(pin, mode, function);
    record(call, {pin, mode}, true, result);
    return result;
}
RECORD_EXPORT int wiringPiISRStop(int pin) { INT_CALL(WiringPiISRStop, IntOfInt, pin); }
RECORD_EXPORT int waitForInterrupt(int pin, int mS) {
    INT_CALL(WaitForInterrupt, IntOfInt2, pin, mS);
}
RECORD_EXPORT int waitForInterruptClose(int pin) { INT_CALL(WaitForInterruptClose, IntOfInt, pin); }

RECORD_EXPORT void delay(unsigned int howLong) {
    NEXT(Delay, void (*)(unsigned));
    real(howLong);
    record(call, {static_cast<long long>(howLong)}, false, 0);
}
RECORD_EXPORT void delayMicroseconds(unsigned int howLong) {
    NEXT(DelayMicroseconds, void (*)(unsigned));
    real(howLong);
    record(call, {static_cast<long long>(howLong)}, false, 0);
}

RECORD_EXPORT int wiringPiSPISetup(int channel, int speed) {
    INT_CALL(SpiSetup, IntOfInt2, channel, speed);
}
RECORD_EXPORT int wiringPiSPISetupMode(int channel, int speed, int mode) {
    INT_CALL(SpiSetupMode, IntOfInt3, channel, speed, mode);
}
RECORD_EXPORT int wiringPiSPIDataRW(int channel, unsigned char *data, int len) {
    static std::atomic<void *> slot{nullptr};
    return transfer(Fn::SpiDataRW, slot, 0, channel, data, len);
}
RECORD_EXPORT int wiringPiSPIGetFd(int channel) { INT_CALL(SpiGetFd, IntOfInt, channel); }
RECORD_EXPORT int wiringPiSPIClose(const int channel) { INT_CALL(SpiClose, IntOfInt, channel); }
RECORD_EXPORT int wiringPiSPIxSetup(const int number, const int channel, const int speed) {
    INT_CALL(SpiXSetup, IntOfInt3, number, channel, speed);
}
RECORD_EXPORT int wiringPiSPIxSetupMode(const int number, const int channel, const int speed,
                                        const int mode) {
    INT_CALL(SpiXSetupMode, IntOfInt4, number, channel, speed, mode);
}
RECORD_EXPORT int wiringPiSPIxDataRW(const int number, const int channel, unsigned char *data,
                                     const int len) {
    static std::atomic<void *> slot{nullptr};
    return transfer(Fn::SpiXDataRW, slot, number, channel, data, len);
}
RECORD_EXPORT int wiringPiSPIxGetFd(const int number, int channel) {
    INT_CALL(SpiXGetFd, IntOfInt2, number, channel);
}
RECORD_EXPORT int wiringPiSPIxClose(const int number, const int channel) {
    INT_CALL(SpiXClose, IntOfInt2, number, channel);
}
