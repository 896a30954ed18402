// SPDX-License-Identifier: MIT
// What devcfg and vboard share.

#include "tool_common.hpp"

#include <sstream>

#include "vboard/run_config.hpp"
#include "vboard/run_outputs.hpp"

namespace tool {
namespace {

constexpr std::size_t kHelpColumn = 23;
constexpr std::size_t kWidth = 99;

}  // namespace

std::string option_name(vboard::RunSetting setting) {
    if (setting == vboard::RunSetting::BoardFile) {
        return "--board";
    }
    for (const vboard::OutputModule &output : vboard::output_modules()) {
        if (output.setting == setting && *output.option != '\0') {
            return output.option;
        }
    }
    return vboard::variable_name(setting);
}

std::string usage_row(const std::string &option, const std::string &help) {
    std::string out = "  " + option;
    if (out.size() + 1 > kHelpColumn) {
        out += '\n';
        out.append(kHelpColumn, ' ');
    } else {
        out.append(kHelpColumn - out.size(), ' ');
    }
    std::size_t column = kHelpColumn;
    bool line_empty = true;
    std::istringstream words(help);
    std::string word;
    while (words >> word) {
        if (!line_empty && column + 1 + word.size() > kWidth) {
            out += '\n';
            out.append(kHelpColumn, ' ');
            column = kHelpColumn;
            line_empty = true;
        }
        if (!line_empty) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        line_empty = false;
    }
    return out + '\n';
}

}  // namespace tool
