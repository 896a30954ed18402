// SPDX-License-Identifier: MIT
// A run's outputs: checked, opened, attached and finished together.

#include "vboard/run_outputs.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "output_modules.hpp"
#include "vboard/board_file.hpp"
#include "vboard/run_observer.hpp"

namespace vboard {
namespace {

// Why `path` cannot be written, or nothing. Leaves an existing file as it is and no new one behind.
std::optional<std::string> unwritable_file(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return "cannot write '" + path + "': it is a directory";
    }
    const bool existed = std::filesystem::exists(path, error);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return "cannot write '" + path + "': " + std::strerror(errno);
    }
    ::close(fd);
    if (!existed) {
        ::unlink(path.c_str());
    }
    return std::nullopt;
}

std::optional<std::string> unwritable_directory(const std::string &directory) {
    std::error_code error;
    if (!std::filesystem::is_directory(directory, error)) {
        return "'" + directory + "' is not a directory";
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        return "cannot write into '" + directory + "': " + std::strerror(errno);
    }
    return std::nullopt;
}

std::optional<RunProblem> check_outputs(const RunConfig &config) {
    for (const OutputModule &output : output_modules()) {
        const std::string &path = config.*output.path;
        if (path.empty()) {
            continue;
        }
        if (auto why = output.directory() ? unwritable_directory(path) : unwritable_file(path)) {
            return RunProblem{output.setting, std::move(*why)};
        }
    }
    // The runner's channel is a file the board writes too.
    if (!config.report.empty()) {
        if (auto why = unwritable_file(config.report)) {
            return RunProblem{RunSetting::Report, std::move(*why)};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<RunProblem> check_run_config(const RunConfig &config) {
    if (!config.board_file.empty()) {
        try {
            BoardFile::load(config.board_file);
        } catch (const BoardFileError &error) {
            return RunProblem{RunSetting::BoardFile, error.what()};
        }
    }
    return check_outputs(config);
}

RunSetupError::RunSetupError(RunProblem problem)
    : std::runtime_error(problem.text), problem_(std::move(problem)) {}

std::string write_failed(const std::string &path) { return "writing '" + path + "' failed"; }

std::span<const OutputModule> output_modules() {
    static const OutputModule *const kTable[] = {
        &kVcdOutput,  &kCallLogOutput, &kTransactionsOutput, &kTransactionsTextOutput,
        &kHtmlOutput, &kFramesOutput,
    };
    static const std::vector<OutputModule> modules = [] {
        std::vector<OutputModule> all;
        for (const OutputModule *module : kTable) {
            all.push_back(*module);
        }
        return all;
    }();
    return modules;
}

struct RunOutputs::Parts {
    RunConfig config;
    struct Opened {
        const OutputModule *module;
        std::shared_ptr<RunObserver> observer;
    };
    std::vector<Opened> opened;  // in the table's order
    std::vector<RunProblem> finish_problems;
    bool finished = false;
};

RunOutputs::RunOutputs(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}
RunOutputs::~RunOutputs() = default;

std::unique_ptr<RunOutputs> RunOutputs::open(const RunConfig &config, const BoardFile *board_file) {
    if (auto problem = check_outputs(config)) {
        throw RunSetupError(std::move(*problem));
    }
    auto parts = std::make_unique<Parts>();
    parts->config = config;
    for (const OutputModule &output : output_modules()) {
        if ((config.*output.path).empty()) {
            continue;
        }
        // Checked above; an output that still fails (a file removed meanwhile) is refused the
        // same way.
        try {
            parts->opened.push_back({&output, output.open(config, board_file)});
        } catch (const std::exception &error) {
            throw RunSetupError({output.setting, error.what()});
        }
    }
    return std::unique_ptr<RunOutputs>(new RunOutputs(std::move(parts)));
}

void RunOutputs::attach(Board &board) {
    for (const Parts::Opened &output : parts_->opened) {
        board.add_observer(output.observer);
    }
}

std::vector<RunProblem> RunOutputs::finish(Board &board, const std::string &ending) {
    Parts &p = *parts_;
    p.finish_problems.clear();
    for (const Parts::Opened &output : p.opened) {
        board.remove_observer(output.observer);
        if (auto why = output.module->finish(*output.observer, p.config, ending)) {
            p.finish_problems.push_back({output.module->setting, std::move(*why)});
        }
    }
    p.finished = true;
    return p.finish_problems;
}

std::vector<RunProblem> RunOutputs::problems() const {
    const Parts &p = *parts_;
    if (p.finished) {
        return p.finish_problems;
    }
    std::vector<RunProblem> found;
    for (const Parts::Opened &output : p.opened) {
        if (auto why = output.module->finish(*output.observer, p.config, "")) {
            found.push_back({output.module->setting, std::move(*why)});
        }
    }
    return found;
}

}  // namespace vboard
