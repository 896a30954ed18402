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

#include "vboard/board_file.hpp"
#include "vboard/call_log.hpp"
#include "vboard/frames.hpp"
#include "vboard/report.hpp"
#include "vboard/trace.hpp"
#include "vboard/transaction_writer.hpp"

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
    const std::pair<RunSetting, const std::string *> files[] = {
        {RunSetting::Vcd, &config.vcd},
        {RunSetting::Log, &config.log},
        {RunSetting::Transactions, &config.transactions},
        {RunSetting::TransactionsText, &config.transactions_text},
        {RunSetting::Html, &config.html},
        {RunSetting::Report, &config.report},
    };
    for (const auto &[setting, path] : files) {
        if (!path->empty()) {
            if (auto why = unwritable_file(*path)) {
                return RunProblem{setting, std::move(*why)};
            }
        }
    }
    if (!config.frames.empty()) {
        if (auto why = unwritable_directory(config.frames)) {
            return RunProblem{RunSetting::Frames, std::move(*why)};
        }
    }
    return std::nullopt;
}

// The pin map's lines and MISO, and every line the board file drives or watches.
std::vector<int> traced_lines(const BoardFile *file) {
    std::vector<int> lines = pin_map_lines();
    const auto add = [&lines](int pin) {
        if (pin >= 0 && std::find(lines.begin(), lines.end(), pin) == lines.end()) {
            lines.push_back(pin);
        }
    };
    if (file != nullptr) {
        for (const auto &[pin, level] : file->drives) {
            add(pin);
        }
        for (const Rule &rule : file->rules) {
            add(rule.when.pin);
            add(rule.action.pin);
        }
        for (const DeviceConfig &config : file->devices) {
            add(config.select);
            for (const auto &[name, pin] : config.lines) {
                add(pin);
            }
        }
    }
    return lines;
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

struct RunOutputs::Parts {
    RunConfig config;
    std::shared_ptr<VcdWriter> vcd;
    std::shared_ptr<CallLogWriter> log;
    std::vector<std::shared_ptr<TransactionWriter>> transactions;
    std::shared_ptr<FrameWriter> frames;
    std::shared_ptr<HtmlReport> html;
    std::vector<RunProblem> finish_problems;

    // The file outputs, the page apart.
    std::vector<std::shared_ptr<RunObserver>> observers() const {
        std::vector<std::shared_ptr<RunObserver>> all;
        if (vcd) {
            all.push_back(vcd);
        }
        if (log) {
            all.push_back(log);
        }
        all.insert(all.end(), transactions.begin(), transactions.end());
        if (frames) {
            all.push_back(frames);
        }
        return all;
    }
};

RunOutputs::RunOutputs(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}
RunOutputs::~RunOutputs() = default;

std::unique_ptr<RunOutputs> RunOutputs::open(const RunConfig &config, const BoardFile *board_file) {
    if (auto problem = check_outputs(config)) {
        throw RunSetupError(std::move(*problem));
    }
    auto parts = std::make_unique<Parts>();
    parts->config = config;
    // Checked above; a writer that still fails (a file removed meanwhile) is refused the same way.
    const auto opened = [](RunSetting setting, auto make) {
        try {
            return make();
        } catch (const std::exception &error) {
            throw RunSetupError({setting, error.what()});
        }
    };
    if (!config.vcd.empty()) {
        parts->vcd = opened(RunSetting::Vcd, [&] {
            return std::make_shared<VcdWriter>(config.vcd, traced_lines(board_file));
        });
    }
    if (!config.log.empty()) {
        parts->log =
            opened(RunSetting::Log, [&] { return std::make_shared<CallLogWriter>(config.log); });
    }
    if (!config.transactions.empty()) {
        parts->transactions.push_back(opened(RunSetting::Transactions, [&] {
            return std::make_shared<TransactionWriter>(config.transactions,
                                                       config.transactions_format);
        }));
    }
    if (!config.transactions_text.empty()) {
        parts->transactions.push_back(opened(RunSetting::TransactionsText, [&] {
            return std::make_shared<TransactionWriter>(config.transactions_text,
                                                       TransactionWriter::Format::Text);
        }));
    }
    if (!config.frames.empty()) {
        parts->frames = std::make_shared<FrameWriter>(config.frames);
    }
    return std::unique_ptr<RunOutputs>(new RunOutputs(std::move(parts)));
}

void RunOutputs::attach(Board &board) {
    Parts &p = *parts_;
    for (const std::shared_ptr<RunObserver> &output : p.observers()) {
        board.add_observer(output);
    }
    if (!p.config.html.empty()) {
        p.html = HtmlReport::attach(board, {p.config.html, p.config.html_title, ReportLimits{}});
    }
}

std::vector<RunProblem> RunOutputs::finish(Board &board, const std::string &ending) {
    Parts &p = *parts_;
    for (const std::shared_ptr<RunObserver> &output : p.observers()) {
        board.remove_observer(output);
    }
    if (p.html) {
        board.remove_observer(p.html);  // which writes the page
        if (!std::filesystem::exists(p.config.html) ||
            (!ending.empty() && !replace_report_ending(p.config.html, ending))) {
            p.finish_problems.push_back(
                {RunSetting::Html, "writing '" + p.config.html + "' failed"});
        }
    }
    return problems();
}

std::vector<RunProblem> RunOutputs::problems() const {
    const Parts &p = *parts_;
    std::vector<RunProblem> found;
    if (p.vcd && !p.vcd->ok()) {
        found.push_back({RunSetting::Vcd, "writing '" + p.config.vcd + "' failed"});
    }
    if (p.log && !p.log->ok()) {
        found.push_back({RunSetting::Log, "writing '" + p.config.log + "' failed"});
    }
    if (p.frames && !p.frames->failure().empty()) {
        found.push_back({RunSetting::Frames, p.frames->failure()});
    }
    found.insert(found.end(), p.finish_problems.begin(), p.finish_problems.end());
    return found;
}

}  // namespace vboard
