// SPDX-License-Identifier: MIT
// Launching the program a run runs: the board's configuration put in its environment, the
// drop-in libwiringPi.so first on its library path, and vboard staying for its end.
#ifndef TOOLS_VBOARD_LAUNCH_HPP
#define TOOLS_VBOARD_LAUNCH_HPP

#include <functional>
#include <string>

#include "vboard_options.hpp"

namespace vboard_tool {

// What the board inside the program is asked for: the command line's, the page titled with the
// program's words.
vboard::RunConfig board_config(const RunOptions &options);

// A temporary file, removed when the run is over; `path` is empty when it could not be made.
struct TempFile {
    std::string path;
    explicit TempFile(const char *name);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
};

struct Launched {
    bool ran = false;     // false: it could not be started (said on standard error)
    int wait_status = 0;  // as waitpid gives it
    int exec_error = 0;   // the errno of an exec that failed; 0 when the program ran
};

// Runs the program with the board set up as `options` say, its runner's channel at `report`,
// its transactions copied to `transactions_copy` (empty: none) and its frames written to
// `frames` (empty: none), and waits for its end. With `in_child`, a child of vboard's own runs it
// instead of the program, on the process's board set up the same way, and exits with its result.
Launched launch(const RunOptions &options, const std::string &report,
                const std::string &transactions_copy, const std::string &frames,
                const std::function<int()> &in_child = {});

}  // namespace vboard_tool

#endif  // TOOLS_VBOARD_LAUNCH_HPP
