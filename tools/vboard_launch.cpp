// SPDX-License-Identifier: MIT
// Launching the program a run runs.

#include "vboard_launch.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "vboard/run_outputs.hpp"
#include "vboard_verdict.hpp"

namespace vboard_tool {
namespace {

// The directory holding the drop-in libwiringPi.so: beside an installed vboard, else the build
// tree's.
std::string dropin_directory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
            exe.parent_path() / VBOARD_DROPIN_FROM_BINDIR / "libwiringPi.so";
        if (std::filesystem::exists(installed, error)) {
            return installed.parent_path().lexically_normal().string();
        }
    }
    return VBOARD_DROPIN_BUILD_DIR;
}

std::string absolute(const std::string &path) {
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

void set_or_clear(const char *name, const std::string &value) {
    if (value.empty()) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value.c_str(), 1);
    }
}

// In the child: the environment the board reads.
void set_board_environment(const RunOptions &options, const std::string &report,
                           const std::string &transactions_copy, const std::string &frames) {
    // Absolute, as the program may change its directory before its board starts.
    vboard::RunConfig config = board_config(options);
    config.board_file = absolute(config.board_file);
    for (const vboard::OutputModule &output : vboard::output_modules()) {
        config.*output.path = absolute(config.*output.path);
    }
    config.report = report;
    config.transactions_text = transactions_copy;
    config.frames = absolute(frames);
    for (const auto &[name, value] : vboard::run_environment(config)) {
        set_or_clear(name.c_str(), value);
    }
    std::string library_path = dropin_directory();
    if (const char *previous = std::getenv("LD_LIBRARY_PATH"); previous && *previous) {
        library_path.append(1, ':').append(previous);
    }
    ::setenv("LD_LIBRARY_PATH", library_path.c_str(), 1);
    // The board's library before the program's own, whichever library the program reaches it
    // through (the layer, a wiringPi it was linked with), so that its C library time is the
    // board's; a library preloaded already (vboard-record's) stays before it.
    std::string preload = dropin_directory() + "/libwiringPi.so";
    if (const char *previous = std::getenv("LD_PRELOAD"); previous && *previous) {
        preload = std::string(previous) + ":" + preload;
    }
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    // A program built with AddressSanitizer refuses a library loaded before its runtime unless
    // told that this one is meant.
    std::string asan = "verify_asan_link_order=0";
    if (const char *previous = std::getenv("ASAN_OPTIONS"); previous && *previous) {
        asan = std::string(previous) + ":" + asan;
    }
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
}

// In the child: the program. Reports a failed exec through `error_fd` and never returns.
[[noreturn]] void exec_program(const RunOptions &options, int error_fd) {
    std::vector<char *> argv;
    for (const std::string &word : options.program) {
        argv.push_back(const_cast<char *>(word.c_str()));
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(error_fd, &error, sizeof error);
    ::_exit(kExitNotFound);
}

// While the program runs, vboard stays to report on it: an interrupt from the terminal reaches the
// program (it is in the same process group) and vboard waits for its end; a SIGTERM or SIGHUP sent
// to vboard alone is passed on to the program.
pid_t g_child = 0;

void forward_signal(int signal_number) {
    if (g_child > 0) {
        ::kill(g_child, signal_number);
    }
}

void stay_for_the_program(pid_t child) {
    g_child = child;
    struct sigaction forward {};
    forward.sa_handler = forward_signal;
    sigemptyset(&forward.sa_mask);
    for (const int signal_number : {SIGTERM, SIGHUP}) {
        sigaction(signal_number, &forward, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int signal_number : {SIGINT, SIGQUIT}) {
        sigaction(signal_number, &ignore, nullptr);
    }
}

}  // namespace

vboard::RunConfig board_config(const RunOptions &options) {
    vboard::RunConfig config = options.board;
    for (const std::string &word : options.program) {
        config.html_title += (config.html_title.empty() ? "" : " ") + word;
    }
    return config;
}

TempFile::TempFile(const char *name) {
    const char *dir = std::getenv("TMPDIR");
    std::string pattern =
        std::string(dir != nullptr && *dir ? dir : "/tmp") + "/vboard-" + name + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0) {
        ::close(fd);
        path = pattern;
    }
}

TempFile::~TempFile() {
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

Launched launch(const RunOptions &options, const std::string &report,
                const std::string &transactions_copy, const std::string &frames,
                const std::function<int()> &in_child) {
    Launched launched;
    int exec_error[2];
    if (::pipe2(exec_error, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "vboard: pipe: %s\n", std::strerror(errno));
        return launched;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        std::fprintf(stderr, "vboard: fork: %s\n", std::strerror(errno));
        return launched;
    }
    if (child == 0) {
        ::close(exec_error[0]);
        set_board_environment(options, report, transactions_copy, frames);
        if (in_child) {
            // exit(), not _exit(): the board's files are finished at the process's exit.
            std::exit(in_child());
        }
        exec_program(options, exec_error[1]);
    }
    ::close(exec_error[1]);
    stay_for_the_program(child);
    int error = 0;
    const bool exec_failed = ::read(exec_error[0], &error, sizeof error) == sizeof error;
    ::close(exec_error[0]);
    while (::waitpid(child, &launched.wait_status, 0) < 0 && errno == EINTR) {
    }
    launched.ran = true;
    launched.exec_error = exec_failed ? error : 0;
    return launched;
}

}  // namespace vboard_tool
