// SPDX-License-Identifier: MIT
// devcfg: poke the lines through the hardware-access layer from a shell, on a Pi or on the
// virtual board. See usage() in command_line.cpp.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "DEV_Config.h"
#include "command_line.hpp"
#include "header_table.hpp"
#include "tool_common.hpp"

#if DEVCFG_VIRTUAL_BOARD
#include "vboard/board.hpp"
#include "vboard/device.hpp"
#include "vboard/run_outputs.hpp"
#include "vboard/trace.hpp"
#include "vboard/transaction_writer.hpp"
#endif

namespace {

constexpr int kExitFailed = 1;
constexpr int kAlt0 = 4;

std::string hex(std::span<const uint8_t> bytes) {
    std::string text;
    for (const uint8_t byte : bytes) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%02x ", byte);
        text += cell;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

const char *channel_name(int channel) { return channel == 0 ? "m" : "s"; }

// After open, BCM 11, 10, 8 and 7 are GPIO outputs until alt0 hands them back to SPI0.
bool g_spi_lines_are_gpio = false;

// Runs one step; returns false when the run must stop (a failed open or spi-open).
bool run_step(const devcfg::Step &step) {
    using devcfg::StepKind;
    switch (step.kind) {
        case StepKind::Open:
            g_spi_lines_are_gpio = true;
            std::fflush(stdout);
            if (DEV_ModuleInit() != 0) {
                std::fflush(stdout);
                std::fputs("devcfg: open failed: wiringPi did not start\n", stderr);
                return false;
            }
            break;
        case StepKind::Close: DEV_ModuleExit(); break;
        case StepKind::Mode: DEV_GPIO_Mode(step.pin, step.output ? 1 : 0); break;
        case StepKind::Write: DEV_Digital_Write(step.pin, step.level); break;
        case StepKind::Read:
            std::printf("read %u = %u\n", step.pin, DEV_Digital_Read(step.pin));
            break;
        case StepKind::Send: {
            std::vector<uint8_t> bytes = step.bytes;
            DEV_SPI_SendData_nByte(bytes.data(), static_cast<uint32_t>(bytes.size()));
            break;
        }
        case StepKind::Recv: {
            std::vector<uint8_t> bytes;
            for (uint32_t i = 0; i < step.count; ++i) {
                bytes.push_back(DEV_SPI_ReadData());
            }
            std::printf("recv = %s\n", hex(bytes).c_str());
            break;
        }
        case StepKind::SpiOpen: {
            const int fd = wiringPiSPISetup(step.channel, step.speed_hz);
            if (fd < 0) {
                std::fprintf(stderr, "devcfg: spi-open %s %d failed: %d\n",
                             channel_name(step.channel), step.speed_hz, fd);
                return false;
            }
            break;
        }
        case StepKind::Spi: {
            if (g_spi_lines_are_gpio) {
                std::fprintf(stderr,
                             "devcfg: spi %s: BCM 11, 10, 8 and 7 are GPIO outputs since 'open', "
                             "so nothing reaches the wire; put 'alt0' before it\n",
                             channel_name(step.channel));
            }
            std::vector<uint8_t> bytes = step.bytes;
            const auto len = static_cast<uint32_t>(bytes.size());
            if (step.channel == 0) {
                DEV_SPI_Write_nByte_M(bytes.data(), len);
            } else {
                DEV_SPI_Write_nByte_S(bytes.data(), len);
            }
            std::printf("spi %s = %s\n", channel_name(step.channel), hex(bytes).c_str());
            break;
        }
        case StepKind::Alt0:
            g_spi_lines_are_gpio = false;
            for (const int pin : {DEV_SCLK_PIN, DEV_MOSI_PIN, DEV_CS_M_PIN, DEV_CS_S_PIN}) {
                pinModeAlt(pin, kAlt0);
            }
            break;
        case StepKind::DelayMs: DEV_Delay_ms(step.count); break;
        case StepKind::DelayUs: DEV_Delay_us(static_cast<uint16_t>(step.count)); break;
        case StepKind::ReadAll: {
            std::array<devcfg::HeaderLine, devcfg::kHeaderLines> lines{};
            for (int pin = 0; pin < devcfg::kHeaderLines; ++pin) {
                lines[pin] = {getAlt(pin), digitalRead(pin)};
            }
            std::fputs(devcfg::header_table(lines).c_str(), stdout);
            break;
        }
    }
    return true;
}

bool run_steps(const std::vector<devcfg::Step> &steps) {
    for (const devcfg::Step &step : steps) {
        if (!run_step(step)) {
            return false;
        }
    }
    return true;
}

#if DEVCFG_VIRTUAL_BOARD

// What the board is asked for: devcfg's outputs, each found in the board's table of outputs by
// the option that asks for it.
vboard::RunConfig run_config(const devcfg::Options &options) {
    const std::pair<std::string_view, const std::string *> asked[] = {
        {"--vcd", &options.vcd_path},
        {"--transactions", &options.transactions_path},
        {"--report", &options.report_path},
    };
    vboard::RunConfig config;
    for (const vboard::OutputModule &output : vboard::output_modules()) {
        for (const auto &[option, path] : asked) {
            if (option == output.option) {
                config.*output.path = *path;
            }
        }
    }
    config.transactions_format = options.transactions_jsonl
                                     ? vboard::TransactionWriter::Format::JsonLines
                                     : vboard::TransactionWriter::Format::Text;
    config.html_title = "devcfg";
    return config;
}

int run(const devcfg::CommandLine &line) {
    const devcfg::Options &options = line.options;
    vboard::Board &board = vboard::current_board();
    std::unique_ptr<vboard::RunOutputs> outputs;
    try {
        outputs = vboard::RunOutputs::open(run_config(options));
    } catch (const vboard::RunSetupError &error) {
        std::fprintf(stderr, "devcfg: %s: %s\n", tool::option_name(error.problem().setting).c_str(),
                     error.what());
        return tool::kExitUsage;
    }
    board.set_real_sleep(!options.no_sleep);
    if (options.setup_fail) {
        board.set_setup_result(-1);
    }
    board.attach_link_device();
    board.queue_link_reply(options.link_reply);
    for (int channel = 0; channel < 2; ++channel) {
        if (!options.spi_reply[channel].empty()) {
            vboard::DeviceConfig replies;
            replies.model = "replies";
            replies.name = vboard::to_string(vboard::spi_bus(channel));
            replies.bus = vboard::spi_bus(channel);
            replies.params.push_back({"replies", options.spi_reply[channel]});
            board.attach_device(replies);
        }
    }
    std::shared_ptr<vboard::EdgeRecorder> timing;
    if (options.timing) {
        timing = std::make_shared<vboard::EdgeRecorder>();
        board.add_observer(timing);
    }
    for (const auto &[pin, name] : devcfg::layer_line_names()) {
        board.set_line_name(pin, name);
    }
    outputs->attach(board);

    const bool completed = run_steps(line.steps);
    std::fflush(stdout);

    for (const vboard::RunProblem &problem : outputs->finish(
             board, completed ? "every step ran" : "a step failed; the run stopped there")) {
        std::fprintf(stderr, "devcfg: %s: %s\n", tool::option_name(problem.setting).c_str(),
                     problem.text.c_str());
    }
    if (options.print_log) {
        std::printf("call log (%zu calls", board.call_count());
        if (board.calls_dropped() > 0) {
            std::printf(", %llu older ones dropped",
                        static_cast<unsigned long long>(board.calls_dropped()));
        }
        std::puts("):");
        for (const vboard::CallRecord &rec : board.calls()) {
            std::printf("%12llu ns  %s\n", static_cast<unsigned long long>(rec.time_ns),
                        rec.to_string().c_str());
        }
    }
    for (const std::string &note : board.diagnostics()) {
        std::fprintf(stderr, "devcfg: board: %s\n", note.c_str());
    }
    if (timing) {
        board.remove_observer(timing);
        const std::vector<int> lines = vboard::pin_map_lines();
        std::fputs(timing->render(lines).c_str(), stdout);
    }
    return completed ? 0 : kExitFailed;
}

#else

int run(const devcfg::CommandLine &line) {
    if (line.options.needs_virtual_board()) {
        std::fprintf(stderr,
                     "devcfg: %s needs the virtual board; this build runs on the real wiringPi\n",
                     line.options.first_virtual_option.c_str());
        return tool::kExitUsage;
    }
    return run_steps(line.steps) ? 0 : kExitFailed;
}

#endif

}  // namespace

int main(int argc, char **argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    const devcfg::ParseResult parsed = devcfg::parse_command_line(words);
    if (!parsed.command_line) {
        std::fprintf(stderr, "devcfg: %s\n", parsed.error.c_str());
        return tool::kExitUsage;
    }
    if (parsed.command_line->options.help) {
        std::fputs(devcfg::usage("devcfg").c_str(), stdout);
        return 0;
    }
    if (parsed.command_line->options.version) {
        std::puts("devcfg (devconfig) " DEVCONFIG_VERSION);
        return 0;
    }
    return run(*parsed.command_line);
}
