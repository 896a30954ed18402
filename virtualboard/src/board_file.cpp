// SPDX-License-Identifier: MIT
// The board-file reader: TOML in, a checked BoardFile out, applied through Board's public
// interface only. The devices' sections are read in board_file_devices.cpp, the rules' and the
// checks' in board_file_checks.cpp.

#include "vboard/board_file.hpp"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board_file_reader.hpp"
#include "vboard/run_config.hpp"

namespace vboard {
namespace board_file {

void read_board(const Reader &in, const toml::table &table, BoardFile &out) {
    in.only_keys(table, "board",
                 {"setup_result", "real_sleep", "c_library_time", "log_capacity", "fidelity",
                  "model", "pwm_waveform"});
    if (const toml::node *node = table.get("setup_result")) {
        out.setup_result = static_cast<int>(in.integer(*node, "board.setup_result",
                                                       std::numeric_limits<int>::min(),
                                                       std::numeric_limits<int>::max()));
    }
    if (const toml::node *node = table.get("real_sleep")) {
        out.real_sleep = in.boolean(*node, "board.real_sleep");
    }
    if (const toml::node *node = table.get("c_library_time")) {
        out.c_library_time = in.boolean(*node, "board.c_library_time");
    }
    if (const toml::node *node = table.get("pwm_waveform")) {
        out.pwm_waveform = in.boolean(*node, "board.pwm_waveform");
    }
    if (const toml::node *node = table.get("log_capacity")) {
        out.log_capacity = static_cast<std::size_t>(
            in.integer(*node, "board.log_capacity", 0, std::numeric_limits<std::int32_t>::max()));
    }
    if (const toml::node *node = table.get("model")) {
        const std::optional<std::string> name = node->value<std::string>();
        const std::optional<PiModel> model = name ? pi_model_named(*name) : std::nullopt;
        if (!model) {
            in.fail(*node, "board.model", pi_model_choices());
        }
        out.model = model;
    }
    if (const toml::node *node = table.get("fidelity")) {
        out.fidelity = in.choice(*node, "board.fidelity", {"flag", "wiringpi3"}) == "flag"
                           ? Fidelity::Flag
                           : Fidelity::WiringPi3;
    }
}

void read_costs(const Reader &in, const toml::table &table, BoardFile &out) {
    struct Field {
        std::string_view key;
        std::uint64_t CallCosts::*member;
    };
    static constexpr Field kFields[] = {
        {"setup", &CallCosts::setup_ns},         {"pin_mode", &CallCosts::pin_mode_ns},
        {"pull", &CallCosts::pull_ns},           {"write", &CallCosts::write_ns},
        {"read", &CallCosts::read_ns},           {"delay_call", &CallCosts::delay_call_ns},
        {"spi_setup", &CallCosts::spi_setup_ns}, {"spi_transfer", &CallCosts::spi_transfer_ns},
        {"isr_setup", &CallCosts::isr_setup_ns}, {"clock_read", &CallCosts::clock_read_ns},
    };
    in.only_keys(table, "costs",
                 {"setup", "pin_mode", "pull", "write", "read", "delay_call", "spi_setup",
                  "spi_transfer", "isr_setup", "clock_read"});
    CallCosts costs;
    for (const Field &field : kFields) {
        if (const toml::node *node = table.get(field.key)) {
            costs.*field.member = in.duration(*node, "costs." + std::string(field.key));
        }
    }
    out.costs = costs;
}

// A table's key that names a BCM line ("17").
int pin_key(const Reader &in, const toml::key &key, const std::string &path) {
    const std::string_view name = key.str();
    if (!name.empty() && name.size() <= 2 &&
        std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (const int pin = std::stoi(std::string(name)); pin < kLineCount) {
            return pin;
        }
    }
    throw BoardFileError(in.file(), static_cast<int>(key.source().begin.line), path,
                         "a BCM line from 0 to 53 as the key");
}

void read_drives(const Reader &in, const toml::table &table, BoardFile &out) {
    for (auto &&[key, node] : table) {
        const std::string path = "drive." + std::string(key.str());
        const int pin = pin_key(in, key, path);
        out.drives.emplace_back(pin, in.level(node, path));
    }
}

// In the file's order (a table iterates by key), so that the report's lanes follow it.
void read_names(const Reader &in, const toml::table &table, BoardFile &out) {
    std::vector<std::pair<const toml::key *, const toml::node *>> entries;
    for (auto &&[key, node] : table) {
        entries.emplace_back(&key, &node);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
        return a.first->source().begin < b.first->source().begin;
    });
    for (const auto &[key_at, node_at] : entries) {
        const toml::key &key = *key_at;
        const toml::node &node = *node_at;
        const std::string path = "names." + std::string(key.str());
        const int pin = pin_key(in, key, path);
        const std::optional<std::string> name = node.value<std::string>();
        if (!name || !is_line_name(*name)) {
            in.fail(node, path,
                    "a name of 1 to 32 letters, digits, '_', '-' or '.', in quotes: \"BUSY\"");
        }
        out.names.emplace_back(pin, *name);
    }
}

BoardFile read_document(const Reader &in, const toml::table &root) {
    in.only_keys(root, "",
                 {"board", "costs", "drive", "names", "link", "spi", "device", "rule",
                  "transactions", "timing"});
    BoardFile out;
    std::vector<Seat> seats;
    if (const toml::node *node = root.get("board")) {
        read_board(in, in.table(*node, "board"), out);
    }
    if (const toml::node *node = root.get("costs")) {
        read_costs(in, in.table(*node, "costs"), out);
    }
    if (const toml::node *node = root.get("drive")) {
        read_drives(in, in.table(*node, "drive"), out);
    }
    if (const toml::node *node = root.get("names")) {
        read_names(in, in.table(*node, "names"), out);
    }
    if (const toml::node *node = root.get("link")) {
        read_link(in, in.table(*node, "link"), out, seats);
    }
    if (const toml::node *node = root.get("spi")) {
        const toml::array *array = node->as_array();
        if (array == nullptr) {
            in.fail(*node, "spi", "[[spi]] sections, one per device");
        }
        read_spi(in, *array, out, seats);
    }
    if (const toml::node *node = root.get("device")) {
        const toml::array *array = node->as_array();
        if (array == nullptr) {
            in.fail(*node, "device", "[[device]] sections, one per device");
        }
        for (std::size_t i = 0; i < array->size(); ++i) {
            const std::string path = "device[" + std::to_string(i) + "]";
            read_device(in, in.table((*array)[i], path), path, out, seats);
        }
    }
    const bool has_link =
        std::any_of(out.devices.begin(), out.devices.end(),
                    [](const DeviceConfig &config) { return config.bus == Bus::Link; });
    if (const toml::node *node = root.get("rule")) {
        const toml::array *array = node->as_array();
        if (array == nullptr) {
            in.fail(*node, "rule", "[[rule]] sections, one per rule");
        }
        for (std::size_t i = 0; i < array->size(); ++i) {
            const std::string path = "rule[" + std::to_string(i) + "]";
            out.rules.push_back(read_rule(in, in.table((*array)[i], path), path, has_link));
        }
    }
    if (const toml::node *node = root.get("transactions")) {
        read_framing(in, in.table(*node, "transactions"), out);
    }
    if (const toml::node *node = root.get("timing")) {
        const toml::array *array = node->as_array();
        if (array == nullptr) {
            in.fail(*node, "timing", "[[timing]] sections, one per check");
        }
        for (std::size_t i = 0; i < array->size(); ++i) {
            const std::string path = "timing[" + std::to_string(i) + "]";
            out.timing.push_back(read_timing(in, in.table((*array)[i], path), path));
        }
    }
    return out;
}

// Board files are ASCII. The TOML parser's handling of some other characters, where they stand
// outside a string, runs into undefined behaviour (a µ, say), so none reaches it.
void check_ascii(std::string_view text, const std::string &name) {
    int line = 1;
    for (const char c : text) {
        if (c == '\n') {
            ++line;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            throw BoardFileError(name, line, "syntax",
                                 "ASCII text (board files are ASCII: write us for microseconds)");
        }
    }
}

}  // namespace board_file

ConfigError::ConfigError(std::string file, int line, std::string key, std::string expected)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                         (key.empty() ? std::string() : key + ": ") + "expected " + expected),
      file_(std::move(file)),
      line_(line),
      key_(std::move(key)),
      expected_(std::move(expected)) {}

BoardFile BoardFile::parse(std::string_view text, const std::string &name) {
    const board_file::Reader in(name);
    board_file::check_ascii(text, name);
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error &error) {
        throw BoardFileError(name, static_cast<int>(error.source().begin.line), "syntax",
                             "TOML (" + std::string(error.description()) + ")");
    }
    BoardFile file = board_file::read_document(in, root);
    board_file::check_devices(file);
    return file;
}

BoardFile BoardFile::load(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw BoardFileError(path, 0, "", "a board file (it is a directory)");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw BoardFileError(path, 0, "",
                             std::string("a readable board file (") + std::strerror(errno) + ")");
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse(text.str(), path);
}

void BoardFile::apply(Board &board) const {
    if (setup_result) {
        board.set_setup_result(*setup_result);
    }
    if (real_sleep) {
        board.set_real_sleep(*real_sleep);
    }
    if (c_library_time) {
        board.set_c_library_time(*c_library_time);
    }
    if (pwm_waveform) {
        board.set_pwm_waveform(*pwm_waveform);
    }
    if (log_capacity) {
        board.set_log_capacity(*log_capacity);
    }
    if (fidelity) {
        board.set_fidelity(*fidelity);
    }
    if (model) {
        board.set_model(*model);
    }
    if (costs) {
        board.set_costs(*costs);
    }
    for (const auto &[pin, level] : drives) {
        board.drive(pin, level);
    }
    for (const auto &[pin, name] : names) {
        board.set_line_name(pin, name);
    }
    if (framing) {
        board.set_framing(*framing);
    }
    for (const TimingCheck &check : timing) {
        board.add_timing_check(check);
    }
    for (const DeviceConfig &config : devices) {
        board.attach_device(config);
    }
    for (const Rule &rule : rules) {
        board.add_rule(rule);
    }
}

}  // namespace vboard
