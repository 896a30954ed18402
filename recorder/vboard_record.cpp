// SPDX-License-Identifier: MIT
// vboard-record: runs a program with libvboard-record.so preloaded, so that every wiringPi call it
// makes (its own and its libraries') is recorded as a trace. Uses nothing of the virtual board.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

constexpr int kExitUsage = 2;     // a bad command line; nothing was run
constexpr int kExitSetup = 3;     // the trace cannot be written or the library is missing
constexpr int kExitNoExec = 127;  // the program could not be run

constexpr const char *kLibrary = "libvboard-record.so";

const char *usage() {
    return "Usage: vboard-record -o FILE [--] PROGRAM [ARGS...]\n"
           "Run PROGRAM with libvboard-record.so preloaded and record every wiringPi call it\n"
           "makes into FILE, a trace that `vboard replay` reads on a PC.\n"
           "\n"
           "  -o, --output FILE  write the trace to FILE (created or emptied)\n"
           "  -h, --help         show this help and exit\n"
           "      --version      show the version and exit\n"
           "\n"
           "Each call is passed on to the wiringPi loaded after the recorder, and recorded with\n"
           "its time on the monotonic clock (nanoseconds from the first call), its arguments,\n"
           "its result and, for SPI, the bytes sent and received. The trace is complete however\n"
           "the program ends: exit, a fatal signal or a crash.\n"
           "\n"
           "Exit status: the program's own; 2 for a bad command line, 3 when FILE cannot be\n"
           "written or the library is not found, 127 when PROGRAM cannot be run.\n";
}

// The recorder's library: where packages install it, or beside this program in a build tree.
std::string library_path() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    for (const std::filesystem::path &candidate :
         {exe.parent_path() / VBOARD_RECORD_FROM_BINDIR / kLibrary, exe.parent_path() / kLibrary}) {
        if (std::filesystem::exists(candidate, error)) {
            return candidate.lexically_normal().string();
        }
    }
    return {};
}

int fail(int status, const std::string &text) {
    std::fprintf(stderr, "vboard-record: %s\n", text.c_str());
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    std::string output;
    int at = 1;
    for (; at < argc; ++at) {
        const std::string_view arg = argv[at];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("vboard-record %s\n", VBOARD_RECORD_VERSION);
            return 0;
        }
        if (arg == "-o" || arg == "--output") {
            if (at + 1 >= argc) {
                return fail(kExitUsage, std::string(arg) + " needs a FILE");
            }
            output = argv[++at];
        } else if (arg.starts_with("--output=")) {
            output = std::string(arg.substr(9));
        } else if (arg == "--") {
            ++at;
            break;
        } else if (arg.starts_with('-')) {
            return fail(kExitUsage, "unknown option '" + std::string(arg) + "' (see --help)");
        } else {
            break;
        }
    }
    if (output.empty()) {
        return fail(kExitUsage, "no trace file: give -o FILE (see --help)");
    }
    if (at >= argc) {
        return fail(kExitUsage, "no program to run (see --help)");
    }
    const std::string library = library_path();
    if (library.empty()) {
        return fail(kExitSetup, std::string("cannot find ") + kLibrary +
                                    " beside vboard-record or where it is installed");
    }
    // Checked here, so a trace that cannot be written stops the run before it starts.
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return fail(kExitSetup, "cannot write '" + output + "': " + std::strerror(errno));
    }
    ::close(fd);
    std::error_code error;
    const std::string trace = std::filesystem::absolute(output, error).string();
    ::setenv("VBOARD_RECORD", trace.c_str(), 1);
    // First among the preloaded libraries, so each call reaches the recorder before a wiringPi.
    std::string preload = library;
    if (const char *previous = std::getenv("LD_PRELOAD"); previous != nullptr && *previous) {
        preload.append(1, ':').append(previous);
    }
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::execvp(argv[at], argv + at);
    return fail(kExitNoExec, std::string("cannot run '") + argv[at] + "': " + std::strerror(errno));
}
