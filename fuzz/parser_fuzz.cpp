// SPDX-License-Identifier: MIT
// Fuzzes devcfg's command-line parser with whole command lines: the input is split into words at
// NUL bytes, as argv would hold them. Whatever the words, the parser must return either a command
// line that keeps its promises or one line of error.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "command_line.hpp"

namespace {

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void check_step(const devcfg::Step &step) {
    using devcfg::StepKind;
    switch (step.kind) {
        case StepKind::Mode:
        case StepKind::Write:
        case StepKind::Read: require(step.pin <= 53, "a pin outside 0-53 was accepted"); break;
        case StepKind::Send: require(!step.bytes.empty(), "send without bytes"); break;
        case StepKind::Spi:
            require(!step.bytes.empty() && step.bytes.size() <= 4096, "spi byte count");
            require(step.channel == 0 || step.channel == 1, "spi channel");
            break;
        case StepKind::SpiOpen:
            require(step.speed_hz >= 1 && step.speed_hz <= 125'000'000, "spi-open speed");
            break;
        case StepKind::Recv:
            require(step.count >= 1 && step.count <= 1'048'576, "recv count");
            break;
        case StepKind::DelayUs: require(step.count <= 65535, "delay-us count"); break;
        default: break;
    }
    require(step.level <= 1, "a level other than 0 or 1");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const devcfg::ParseResult result = devcfg::parse_command_line(words);
    if (result.command_line) {
        require(result.error.empty(), "an error beside a command line");
        const devcfg::CommandLine &line = *result.command_line;
        require(line.options.help || line.options.version || !line.steps.empty(),
                "no step and neither --help nor --version");
        for (const devcfg::Step &step : line.steps) {
            check_step(step);
        }
    } else {
        require(!result.error.empty(), "a refusal without a message");
        require(result.error.find('\n') == std::string::npos, "a message of more than one line");
    }
    return 0;
}
