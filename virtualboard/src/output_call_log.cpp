// SPDX-License-Identifier: MIT
// The call log output: every wiringPi call and diagnostic, as text.

#include "output_modules.hpp"
#include "vboard/call_log.hpp"

namespace vboard {

const OutputModule kCallLogOutput{
    .setting = RunSetting::Log,
    .path = &RunConfig::log,
    .option = "--log",
    .argument = "FILE",
    .help = "stream the call log and the board's diagnostics to a text file",
    .open = [](const RunConfig &config, const BoardFile *) -> std::shared_ptr<RunObserver> {
        return std::make_shared<CallLogWriter>(config.log);
    },
    .finish = [](RunObserver &observer, const RunConfig &config,
                 const std::string &) -> std::optional<std::string> {
        if (static_cast<CallLogWriter &>(observer).ok()) {
            return std::nullopt;
        }
        return write_failed(config.log);
    },
};

}  // namespace vboard
