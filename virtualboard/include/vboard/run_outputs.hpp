// SPDX-License-Identifier: MIT
// The files a run writes, as a RunConfig names them: checked together before anything runs,
// attached to a board together and finished together. It is the one way each face of the board
// sets up a run's outputs: the process's start-up from the environment (what `vboard run` and a
// runner of a user's own use), devcfg, and a test or tool that drives a Board itself.
//
//   vboard::RunConfig config;
//   config.vcd = "run.vcd";
//   config.html = "run.html";
//   if (const auto problem = vboard::check_run_config(config)) { /* say problem->text, stop */ }
//   auto outputs = vboard::RunOutputs::open(config);
//   outputs->attach(board);
//   ... the run ...
//   for (const vboard::RunProblem &p : outputs->finish(board, "every step ran")) { /* say it */ }
//
// Thread safety: a RunOutputs is used by one thread; attach() and finish() take the board's lock
// like any Board member function.
#ifndef VBOARD_RUN_OUTPUTS_HPP
#define VBOARD_RUN_OUTPUTS_HPP

#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vboard/board.hpp"
#include "vboard/export.h"
#include "vboard/run_config.hpp"

namespace vboard {

class BoardFile;

// A setting that cannot be used, or an output that could not be written, and why, with the path
// in the text: "cannot write 'out/run.vcd': No such file or directory".
struct RunProblem {
    RunSetting setting;
    std::string text;
};

class RunObserver;

// One output a run can write, as a module in the table that every face walks (RunOutputs, vboard
// run, devcfg): its setting, the option and variable that ask for it, how it opens, what it
// watches (its observer's interests()) and how it finishes. Adding an output is a file of its own
// and a row in output_modules().
struct OutputModule {
    RunSetting setting;            // its variable is variable_name(setting)
    std::string RunConfig::*path;  // where a RunConfig asks for it; empty asks for nothing
    const char *option;            // a runner's option: "--vcd"
    const char *argument;          // "FILE", or "DIR" for a directory that must exist
    const char *help;              // what the option writes, one sentence for a usage text
    // Its observer for `config`, whose path is set; the board file, when there is one, says what
    // the run uses. Throws std::runtime_error naming the file when it cannot be written.
    std::shared_ptr<RunObserver> (*open)(const RunConfig &config, const BoardFile *board_file);
    // Once the observer has been told End: what could not be written, or nothing. `ending` is
    // how the run ended, for an output that shows it ("" leaves it as written).
    std::optional<std::string> (*finish)(RunObserver &observer, const RunConfig &config,
                                         const std::string &ending);

    bool directory() const { return std::string_view(argument) == "DIR"; }
};

// Every output, in the order they are checked, opened and named in messages.
VBOARD_EXPORT std::span<const OutputModule> output_modules();

// The one check of a run's files, for a runner to make before it starts the program: the board
// file loads; each output file can be written (a directory, a missing directory or a file that
// cannot be opened for writing is refused; nothing is created or emptied); the frames directory is
// one that can be written into. The first problem, in RunSetting order, or nothing.
VBOARD_EXPORT std::optional<RunProblem> check_run_config(const RunConfig &config);

// Thrown by RunOutputs::open for a setting that cannot be used.
class VBOARD_EXPORT RunSetupError : public std::runtime_error {
  public:
    explicit RunSetupError(RunProblem problem);
    const RunProblem &problem() const { return problem_; }

  private:
    RunProblem problem_;
};

class VBOARD_EXPORT RunOutputs {
  public:
    // Opens what `config` asks for of its outputs (VCD, call log, transactions and their text copy,
    // frame files, HTML page; its board file, report channel, time limit and sleep mode belong to
    // whoever sets the board up). The VCD traces the pin map's lines and MISO and, given a board
    // file, every line it drives or watches. Checks every output first (as check_run_config does)
    // and throws RunSetupError for the first that cannot be used: nothing is opened then.
    static std::unique_ptr<RunOutputs> open(const RunConfig &config,
                                            const BoardFile *board_file = nullptr);
    ~RunOutputs();
    RunOutputs(const RunOutputs &) = delete;
    RunOutputs &operator=(const RunOutputs &) = delete;

    // Adds every output to `board`'s observers, from now on. Once only; the outputs then end with
    // the board's (flush_outputs(), reset(), the board's end) unless finish() ends them first.
    void attach(Board &board);

    // Takes every output off `board`, each file complete, and puts `ending` (how the run ended) in
    // the HTML page when it is not empty. Returns what could not be written, one problem an
    // output, empty when every file is whole.
    std::vector<RunProblem> finish(Board &board, const std::string &ending = "");

    // What could not be written so far, once the outputs have ended (by finish() or the board).
    std::vector<RunProblem> problems() const;

  private:
    struct Parts;
    explicit RunOutputs(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

}  // namespace vboard

#endif  // VBOARD_RUN_OUTPUTS_HPP
