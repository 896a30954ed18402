// SPDX-License-Identifier: MIT
// The HTML output: one self-contained page of the run, with how it ended.

#include <filesystem>

#include "output_modules.hpp"
#include "vboard/report.hpp"

namespace vboard {

const OutputModule kHtmlOutput{
    .setting = RunSetting::Html,
    .path = &RunConfig::html,
    .option = "--report",
    .argument = "FILE",
    .help =
        "write one self-contained HTML page of the run: the waveform with the decoded bytes, "
        "the transactions, what went wrong and the 40-pin header",
    .open = [](const RunConfig &config, const BoardFile *) -> std::shared_ptr<RunObserver> {
        return std::make_shared<HtmlReport>(
            HtmlReport::Options{config.html, config.html_title, ReportLimits{}});
    },
    // The page is written at End; the ending goes in after.
    .finish = [](RunObserver &, const RunConfig &config,
                 const std::string &ending) -> std::optional<std::string> {
        if (!std::filesystem::exists(config.html) ||
            (!ending.empty() && !replace_report_ending(config.html, ending))) {
            return write_failed(config.html);
        }
        return std::nullopt;
    },
};

}  // namespace vboard
