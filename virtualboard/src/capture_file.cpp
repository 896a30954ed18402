// SPDX-License-Identifier: MIT
// A capture file read: a VCD file as it is, a sigrok session through sigrok-cli.

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "vboard/capture.hpp"

extern char **environ;

namespace vboard {
namespace {

[[noreturn]] void fail(const std::string &path, const std::string &what) {
    throw CaptureError(path + ": " + what);
}

std::string read_file(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        fail(path, "is a directory, not a capture");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail(path, std::string("cannot read: ") + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        fail(path, "cannot read");
    }
    return text.str();
}

// A sigrok session is a zip archive.
bool is_sigrok_session(std::string_view content) { return content.starts_with("PK\x03\x04"); }

// A directory of its own for sigrok-cli's output, removed with it.
class TemporaryDirectory {
  public:
    explicit TemporaryDirectory(const std::string &for_path) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vboard-capture-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            fail(for_path,
                 std::string("cannot make a directory to convert it in: ") + std::strerror(errno));
        }
        path_ = pattern;
    }
    ~TemporaryDirectory() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TemporaryDirectory(const TemporaryDirectory &) = delete;
    TemporaryDirectory &operator=(const TemporaryDirectory &) = delete;
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// The session converted to VCD text by sigrok-cli.
std::string sigrok_to_vcd(const std::string &path) {
    const TemporaryDirectory dir(path);
    const std::string vcd = dir.path() + "/capture.vcd";
    const char *argv[] = {"sigrok-cli", "-i", path.c_str(), "-O",
                          "vcd",        "-o", vcd.c_str(),  nullptr};
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "sigrok-cli", nullptr, nullptr,
                                     const_cast<char *const *>(argv), environ);
    const auto not_installed = [&path] {
        fail(path,
             "a sigrok session; reading it needs sigrok-cli (Debian package sigrok-cli), "
             "which is not installed");
    };
    if (spawned == ENOENT) {
        not_installed();
    }
    if (spawned != 0) {
        fail(path, std::string("cannot run sigrok-cli: ") + std::strerror(spawned));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Where the spawn cannot report a failed exec (under an emulator), the child's 127 does.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        not_installed();
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(path, "sigrok-cli could not convert the session to VCD (" +
                       (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                          : std::string("killed")) +
                       ")");
    }
    return read_file(vcd);
}

}  // namespace

Capture read_capture(const std::string &path, const ChannelMap &map,
                     const CaptureOptions &options) {
    const std::string content = read_file(path);
    if (is_sigrok_session(content)) {
        return parse_vcd_capture(sigrok_to_vcd(path), path, map, options);
    }
    return parse_vcd_capture(content, path, map, options);
}

}  // namespace vboard
