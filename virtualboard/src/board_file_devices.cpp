// SPDX-License-Identifier: MIT
// The board file's devices: [link], [[spi]] and [[device]], each checked by making it once.

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "board_file_reader.hpp"
#include "model_registry.hpp"

namespace vboard::board_file {

void take_seat(const Reader &in, std::vector<Seat> &seats, const toml::node &node,
               const std::string &key, Bus bus, int select) {
    for (const Seat &seat : seats) {
        if (seat.bus == bus && seat.select == select) {
            if (bus != Bus::Link && select < 0) {
                const int channel = bus == Bus::Spi0 ? 0 : 1;
                in.fail(node, key,
                        "a chip enable with no device yet; channel " + std::to_string(channel) +
                            " has one from line " + std::to_string(seat.line));
            }
            in.fail(node, key,
                    std::string("a select line with no device yet on the ") + to_string(bus) +
                        "; one is there from line " + std::to_string(seat.line));
        }
    }
    seats.push_back(Seat{bus, select, line_of(node)});
}

DeviceConfig device_config(const Reader &in, const toml::node &node, const std::string &path) {
    DeviceConfig config;
    config.file = in.file();
    config.line = line_of(node);
    config.key = path;
    return config;
}

void read_link(const Reader &in, const toml::table &table, BoardFile &out,
               std::vector<Seat> &seats) {
    in.only_keys(table, "link", {"replies", "enable", "enable_level", "enable_for"});
    DeviceConfig config = device_config(in, table, "link");
    config.model = "replies";
    config.name = "link";
    config.bus = Bus::Link;
    if (const toml::node *node = table.get("replies")) {
        config.params.push_back({"replies", in.bytes(*node, "link.replies"), line_of(*node)});
    }
    if (const toml::node *node = table.get("enable")) {
        config.lines.emplace_back("enable", in.pin(*node, "link.enable"));
    }
    for (const std::string_view key : {"enable_level", "enable_for"}) {
        const toml::node *node = table.get(key);
        if (node != nullptr && config.lines.empty()) {
            in.fail(*node, "link." + std::string(key), "link.enable naming the enable line first");
        }
    }
    if (const toml::node *node = table.get("enable_level")) {
        config.params.push_back({"enable_level",
                                 std::string(in.level(*node, "link.enable_level") ? "high" : "low"),
                                 line_of(*node)});
    }
    if (const toml::node *node = table.get("enable_for")) {
        config.params.push_back({"enable_for",
                                 std::to_string(in.duration(*node, "link.enable_for")) + "ns",
                                 line_of(*node)});
    }
    take_seat(in, seats, table, "link", Bus::Link, -1);
    out.devices.push_back(std::move(config));
}

std::vector<std::uint8_t> read_registers(const Reader &in, const toml::table &table,
                                         const std::string &path) {
    std::vector<std::uint8_t> values;
    for (auto &&[key, node] : table) {
        const std::string where = path + "." + std::string(key.str());
        unsigned long reg = 256;
        const std::string name(key.str());
        std::size_t used = 0;
        try {
            reg = std::stoul(name, &used, 0);
        } catch (const std::exception &) {
            used = 0;
        }
        if (used != name.size() || reg > 255 || name.empty() || name[0] == '-' || name[0] == '+') {
            throw BoardFileError(in.file(), static_cast<int>(key.source().begin.line), where,
                                 "a register number from 0x00 to 0xff as the key");
        }
        const std::uint8_t value = in.byte(node, where);
        values.resize(std::max<std::size_t>(values.size(), reg + 1), 0);
        values[reg] = value;
    }
    return values;
}

void read_spi(const Reader &in, const toml::array &array, BoardFile &out,
              std::vector<Seat> &seats) {
    for (std::size_t i = 0; i < array.size(); ++i) {
        const std::string path = "spi[" + std::to_string(i) + "]";
        const toml::table &table = in.table(array[i], path);
        const toml::node *channel_node = table.get("channel");
        if (channel_node == nullptr) {
            in.fail(table, path + ".channel", "the chip enable the device sits on, 0 or 1");
        }
        const int channel = static_cast<int>(in.integer(*channel_node, path + ".channel", 0, 1));
        DeviceConfig config = device_config(in, table, path);
        config.bus = spi_bus(channel);
        take_seat(in, seats, *channel_node, path + ".channel", config.bus, -1);
        const toml::node *model = table.get("model");
        config.model = model != nullptr
                           ? in.choice(*model, path + ".model", {"replies", "echo", "registers"})
                           : "replies";
        if (config.model == "replies") {
            in.only_keys(table, path, {"channel", "model", "replies"});
            if (const toml::node *node = table.get("replies")) {
                config.params.push_back(
                    {"replies", in.bytes(*node, path + ".replies"), line_of(*node)});
            }
        } else if (config.model == "echo") {
            in.only_keys(table, path, {"channel", "model"});
        } else {
            in.only_keys(table, path, {"channel", "model", "read_bit", "registers"});
            if (const toml::node *node = table.get("read_bit")) {
                const std::uint8_t bit = in.byte(*node, path + ".read_bit");
                if (bit == 0 || (bit & (bit - 1)) != 0) {
                    in.fail(*node, path + ".read_bit", "a single bit, as 0x80 or 0x01");
                }
                config.params.push_back({"read_bit", std::int64_t{bit}, line_of(*node)});
            }
            if (const toml::node *node = table.get("registers")) {
                config.params.push_back(
                    {"values",
                     read_registers(in, in.table(*node, path + ".registers"), path + ".registers"),
                     line_of(*node)});
            }
        }
        out.devices.push_back(std::move(config));
    }
}

bool plain_name(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
    });
}

DeviceParam read_param(const Reader &in, std::string_view key, const toml::node &node,
                       const std::string &path) {
    DeviceParam param;
    param.key = std::string(key);
    param.line = line_of(node);
    if (const toml::value<std::int64_t> *value = node.as_integer()) {
        param.value = value->get();
    } else if (const toml::value<bool> *flag = node.as_boolean()) {
        param.value = flag->get();
    } else if (const toml::value<std::string> *text = node.as_string()) {
        param.value = text->get();
    } else if (const toml::array *array = node.as_array();
               array != nullptr && !array->empty() && array->front().is_string()) {
        std::vector<std::string> texts;
        for (const toml::node &element : *array) {
            if (!element.is_string()) {
                in.fail(element, path, "a list of strings, as [\"20ms\", \"1s\"]");
            }
            texts.push_back(element.as_string()->get());
        }
        param.value = std::move(texts);
    } else if (node.is_array()) {
        param.value = in.bytes(node, path);
    } else {
        in.fail(node, path,
                "an integer, true or false, a string, an array of bytes or a list of strings");
    }
    return param;
}

// A plug-in's path: as given when absolute, else relative to the board file's directory.
std::string plugin_path(const std::string &file, const std::string &path) {
    if (path.empty() || path.front() == '/') {
        return path;
    }
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? "./" + path : file.substr(0, slash + 1) + path;
}

void read_device(const Reader &in, const toml::table &table, const std::string &path,
                 BoardFile &out, std::vector<Seat> &seats) {
    in.only_keys(table, path, {"model", "path", "name", "bus", "select", "lines", "params"});
    DeviceConfig config = device_config(in, table, path);
    const toml::node *model = table.get("model");
    if (model == nullptr) {
        in.fail(table, path + ".model", "the device's model: " + model_choices());
    }
    const toml::value<std::string> *model_name = model->as_string();
    if (model_name == nullptr || !is_model_name(model_name->get())) {
        in.fail(*model, path + ".model", model_choices());
    }
    config.model = model_name->get();
    if (const toml::node *node = table.get("path")) {
        const toml::value<std::string> *text = node->as_string();
        if (text == nullptr || text->get().empty()) {
            in.fail(*node, path + ".path", "the model library's file, as a string");
        }
        if (config.model != "plugin") {
            in.fail(*node, path + ".path",
                    "model = \"plugin\": only a plug-in is loaded from a file");
        }
        config.path = plugin_path(in.file(), text->get());
        config.path_line = line_of(*node);
    } else if (config.model == "plugin") {
        in.fail(table, path + ".path", "the model library's file (model = \"plugin\" needs path)");
    }
    if (const toml::node *node = table.get("name")) {
        const toml::value<std::string> *text = node->as_string();
        if (text == nullptr || !plain_name(text->get())) {
            in.fail(*node, path + ".name", "a name of letters, digits, _ and -");
        }
        config.name = text->get();
    }
    const toml::node *bus = table.get("bus");
    if (bus == nullptr) {
        in.fail(table, path + ".bus", "the bus the device sits on: \"link\", \"spi0\" or \"spi1\"");
    }
    const std::string bus_word = in.choice(*bus, path + ".bus", {"link", "spi0", "spi1"});
    config.bus = bus_word == "link" ? Bus::Link : bus_word == "spi0" ? Bus::Spi0 : Bus::Spi1;
    if (const toml::node *node = table.get("select")) {
        config.select = in.pin(*node, path + ".select");
    }
    if (const toml::node *node = table.get("lines")) {
        const toml::table *lines = node->as_table();
        if (lines == nullptr) {
            in.fail(*node, path + ".lines", "a table of the model's lines, as { ready = 24 }");
        }
        for (auto &&[key, value] : *lines) {
            const std::string where = path + ".lines." + std::string(key.str());
            if (!plain_name(key.str())) {
                in.fail(value, where, "a name of letters, digits, _ and -");
            }
            if (config.lines.size() == 32) {
                in.fail(value, where, "at most 32 lines");
            }
            config.lines.emplace_back(std::string(key.str()), in.pin(value, where));
        }
    }
    if (const toml::node *node = table.get("params")) {
        const toml::table *params = node->as_table();
        if (params == nullptr) {
            in.fail(*node, path + ".params", "a table of the model's parameters");
        }
        for (auto &&[key, value] : *params) {
            config.params.push_back(
                read_param(in, key.str(), value, path + ".params." + std::string(key.str())));
        }
    }
    take_seat(in, seats, table, path + (config.select >= 0 ? ".select" : ".bus"), config.bus,
              config.select);
    out.devices.push_back(std::move(config));
}

// What became of a child process that made a device: nothing when it made it or refused it
// (exit statuses 0 and 3), else how it ended.
std::optional<std::string> crashed(int status) {
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3)) {
        return std::nullopt;
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return "signal " + std::to_string(signal) + ", " + ::strsignal(signal);
    }
    return "it ended the process with status " + std::to_string(WEXITSTATUS(status));
}

// A plug-in's create() runs first in a child process, so that one that crashes there takes only
// the child, and the file is refused naming it.
void check_plugin_survives(const DeviceConfig &config) {
    const pid_t child = ::fork();
    if (child < 0) {
        return;  // no child to spare: made in this process, as any other device
    }
    if (child == 0) {
        int status = 0;
        try {
            Board scratch;
            scratch.attach_device(config);
        } catch (const ConfigError &) {
            status = 3;
        } catch (...) {
            status = 4;
        }
        ::_exit(status);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (const auto how = crashed(status)) {
        throw ConfigError(config.file, config.path_line != 0 ? config.path_line : config.line,
                          config.key + ".path",
                          "a device model library whose create() returns (" + config.path +
                              " crashed making the device: " + *how + ")");
    }
}

// Makes each device once, on a board of its own, so that the file is refused here when a model
// cannot be loaded or refuses its parameters.
void check_devices(const BoardFile &file) {
    for (const DeviceConfig &config : file.devices) {
        if (config.model == "plugin") {
            check_plugin_survives(config);
        }
        Board scratch;
        scratch.attach_device(config);  // throws the model's ConfigError
    }
}

}  // namespace vboard::board_file
