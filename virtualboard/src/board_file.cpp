// SPDX-License-Identifier: MIT
// The board-file reader: TOML in, a checked BoardFile out, applied through Board's public
// interface only.

#include "vboard/board_file.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>

#include "model_registry.hpp"
#include "vboard/duration.hpp"
#include "vboard/run_config.hpp"

namespace vboard {
namespace {

using Keys = std::initializer_list<std::string_view>;

std::string join(Keys keys) {
    std::string text;
    for (const std::string_view key : keys) {
        text += text.empty() ? "" : ", ";
        text += key;
    }
    return text;
}

bool contains(Keys keys, std::string_view key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// Reads values out of the parsed document, refusing anything but what the format allows, with the
// file, line and dotted key of the offending value.
class Reader {
  public:
    explicit Reader(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const toml::node &node, const std::string &key,
                           const std::string &expected) const {
        throw BoardFileError(file_, static_cast<int>(node.source().begin.line), key, expected);
    }

    // Refuses a key outside `allowed`, naming the ones that are.
    void only_keys(const toml::table &table, const std::string &path, Keys allowed) const {
        for (auto &&[key, node] : table) {
            if (!contains(allowed, key.str())) {
                throw BoardFileError(file_, static_cast<int>(key.source().begin.line),
                                     dotted(path, key.str()),
                                     "one of " + join(allowed) + " (unknown key)");
            }
        }
    }

    const toml::table &table(const toml::node &node, const std::string &key) const {
        if (const toml::table *t = node.as_table()) {
            return *t;
        }
        fail(node, key, "a table");
    }

    std::int64_t integer(const toml::node &node, const std::string &key, std::int64_t min,
                         std::int64_t max) const {
        const toml::value<std::int64_t> *value = node.as_integer();
        if (value == nullptr || value->get() < min || value->get() > max) {
            fail(node, key,
                 "an integer from " + std::to_string(min) + " to " + std::to_string(max));
        }
        return value->get();
    }

    bool boolean(const toml::node &node, const std::string &key) const {
        if (const toml::value<bool> *value = node.as_boolean()) {
            return value->get();
        }
        fail(node, key, kExpectedBoolean);
    }

    std::string choice(const toml::node &node, const std::string &key, Keys words) const {
        const toml::value<std::string> *value = node.as_string();
        if (value == nullptr || !contains(words, value->get())) {
            std::string expected;
            for (const std::string_view word : words) {
                expected += expected.empty() ? "" : " or ";
                expected += '"' + std::string(word) + '"';
            }
            fail(node, key, expected);
        }
        return value->get();
    }

    std::uint64_t duration(const toml::node &node, const std::string &key) const {
        const toml::value<std::string> *value = node.as_string();
        const std::optional<std::uint64_t> ns =
            value != nullptr ? parse_duration(value->get()) : std::nullopt;
        if (!ns) {
            fail(node, key, kExpectedDuration);
        }
        return *ns;
    }

    int pin(const toml::node &node, const std::string &key) const {
        return static_cast<int>(integer(node, key, 0, kLineCount - 1));
    }

    std::uint8_t byte(const toml::node &node, const std::string &key) const {
        return static_cast<std::uint8_t>(integer(node, key, 0, 255));
    }

    std::vector<std::uint8_t> bytes(const toml::node &node, const std::string &key) const {
        const toml::array *array = node.as_array();
        if (array == nullptr) {
            fail(node, key, kExpectedBytes);
        }
        std::vector<std::uint8_t> out;
        for (std::size_t i = 0; i < array->size(); ++i) {
            out.push_back(byte((*array)[i], key + "[" + std::to_string(i) + "]"));
        }
        return out;
    }

    bool level(const toml::node &node, const std::string &key) const {
        return choice(node, key, {"high", "low"}) == "high";
    }

    Drive drive(const toml::node &node, const std::string &key) const {
        const std::string word = choice(node, key, {"high", "low", "release"});
        return word == "high" ? Drive::High : word == "low" ? Drive::Low : Drive::Release;
    }

    const std::string &file() const { return file_; }

    static std::string dotted(const std::string &path, std::string_view key) {
        return path.empty() ? std::string(key) : path + "." + std::string(key);
    }

  private:
    std::string file_;
};

void read_board(const Reader &in, const toml::table &table, BoardFile &out) {
    in.only_keys(table, "board", {"setup_result", "real_sleep", "log_capacity", "fidelity"});
    if (const toml::node *node = table.get("setup_result")) {
        out.setup_result = static_cast<int>(in.integer(*node, "board.setup_result",
                                                       std::numeric_limits<int>::min(),
                                                       std::numeric_limits<int>::max()));
    }
    if (const toml::node *node = table.get("real_sleep")) {
        out.real_sleep = in.boolean(*node, "board.real_sleep");
    }
    if (const toml::node *node = table.get("log_capacity")) {
        out.log_capacity = static_cast<std::size_t>(
            in.integer(*node, "board.log_capacity", 0, std::numeric_limits<std::int32_t>::max()));
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
    };
    in.only_keys(
        table, "costs",
        {"setup", "pin_mode", "pull", "write", "read", "delay_call", "spi_setup", "spi_transfer"});
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

int line_of(const toml::node &node) { return static_cast<int>(node.source().begin.line); }

// Where each device sits, to refuse two behind one select line on one bus.
struct Seat {
    Bus bus;
    int select;
    int line;
};

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

// Makes each device once, on a board of its own, so that the file is refused here when a model
// cannot be loaded or refuses its parameters.
void check_devices(const BoardFile &file) {
    for (const DeviceConfig &config : file.devices) {
        Board scratch;
        scratch.attach_device(config);  // throws the model's ConfigError
    }
}

struct TriggerKind {
    std::string_view word;
    Trigger::Kind kind;
    Keys keys;  // the trigger's own keys; those marked required below must be present
};

const std::initializer_list<TriggerKind> &trigger_kinds() {
    static const std::initializer_list<TriggerKind> kinds = {
        {"time", Trigger::Kind::At, {"at"}},
        {"rising", Trigger::Kind::Rising, {"pin"}},
        {"falling", Trigger::Kind::Falling, {"pin"}},
        {"edge", Trigger::Kind::Edge, {"pin"}},
        {"link_byte", Trigger::Kind::LinkByte, {"byte"}},
        {"spi_byte", Trigger::Kind::SpiByte, {"channel", "byte"}},
        {"spi_end", Trigger::Kind::SpiEnd, {"channel"}},
        {"held", Trigger::Kind::Held, {"pin", "level", "hold"}},
    };
    return kinds;
}

bool required(std::string_view key) {
    return key == "at" || key == "pin" || key == "level" || key == "hold";
}

Rule read_rule(const Reader &in, const toml::table &table, const std::string &path, bool has_link) {
    const toml::node *on = table.get("on");
    if (on == nullptr) {
        in.fail(table, path + ".on",
                "what fires the rule: time, rising, falling, edge, link_byte, spi_byte, spi_end "
                "or held");
    }
    const std::string word = in.choice(
        *on, path + ".on",
        {"time", "rising", "falling", "edge", "link_byte", "spi_byte", "spi_end", "held"});
    const TriggerKind &kind = *std::find_if(trigger_kinds().begin(), trigger_kinds().end(),
                                            [&](const TriggerKind &k) { return k.word == word; });
    // The action's keys, then the trigger's own.
    for (auto &&[key, node] : table) {
        const std::string_view name = key.str();
        if (!contains({"name", "on", "drive", "to", "after", "for", "then"}, name) &&
            !contains(kind.keys, name)) {
            throw BoardFileError(
                in.file(), static_cast<int>(key.source().begin.line),
                path + "." + std::string(name),
                "one of name, on, drive, to, after, for, then" +
                    (kind.keys.size() > 0 ? ", " + join(kind.keys) : std::string()) +
                    " (unknown key for on = \"" + word + "\")");
        }
    }
    for (const std::string_view key : kind.keys) {
        if (required(key) && table.get(key) == nullptr) {
            in.fail(table, path + "." + std::string(key),
                    "a value: on = \"" + word + "\" needs " + std::string(key));
        }
    }
    if (kind.kind == Trigger::Kind::LinkByte && !has_link) {  // any device on the link
        in.fail(*on, path + ".on", "a [link] section: link_byte rules watch the link device");
    }

    Rule rule;
    if (const toml::node *node = table.get("name")) {
        const toml::value<std::string> *name = node->as_string();
        if (name == nullptr) {
            in.fail(*node, path + ".name", kExpectedString);
        }
        rule.name = name->get();
    }
    rule.when.kind = kind.kind;
    if (const toml::node *node = table.get("at")) {
        rule.when.time_ns = in.duration(*node, path + ".at");
    }
    if (const toml::node *node = table.get("hold")) {
        rule.when.time_ns = in.duration(*node, path + ".hold");
    }
    if (const toml::node *node = table.get("pin")) {
        rule.when.pin = in.pin(*node, path + ".pin");
    }
    if (const toml::node *node = table.get("level")) {
        rule.when.level = in.level(*node, path + ".level");
    }
    if (const toml::node *node = table.get("byte")) {
        rule.when.byte = in.byte(*node, path + ".byte");
    }
    if (const toml::node *node = table.get("channel")) {
        rule.when.channel = static_cast<int>(in.integer(*node, path + ".channel", 0, 1));
    }

    const toml::node *drive = table.get("drive");
    if (drive == nullptr) {
        in.fail(table, path + ".drive", "the BCM line the rule drives, 0 to 53");
    }
    rule.action.pin = in.pin(*drive, path + ".drive");
    const toml::node *to = table.get("to");
    if (to == nullptr) {
        in.fail(table, path + ".to", "the level to drive: \"high\", \"low\" or \"release\"");
    }
    rule.action.level = in.drive(*to, path + ".to");
    if (const toml::node *node = table.get("after")) {
        rule.action.after_ns = in.duration(*node, path + ".after");
    }
    if (const toml::node *node = table.get("for")) {
        rule.action.for_ns = in.duration(*node, path + ".for");
        if (*rule.action.for_ns == 0) {
            in.fail(*node, path + ".for",
                    "a duration above 0 (leave for out for a drive that stays)");
        }
    }
    if (const toml::node *node = table.get("then")) {
        if (!rule.action.for_ns) {
            in.fail(*node, path + ".then", "a duration in \"for\" first: then applies after it");
        }
        rule.action.then = in.drive(*node, path + ".then");
    }
    return rule;
}

// [transactions]: select = [8, 7], side = { dc = 25 }.
void read_framing(const Reader &in, const toml::table &table, BoardFile &out) {
    in.only_keys(table, "transactions", {"select", "side"});
    FramingOptions framing;
    if (const toml::node *node = table.get("select")) {
        const toml::array *array = node->as_array();
        if (array == nullptr) {
            in.fail(*node, "transactions.select", "an array of select lines, as [8, 7]");
        }
        framing.selects.clear();
        for (std::size_t i = 0; i < array->size(); ++i) {
            framing.selects.push_back(
                in.pin((*array)[i], "transactions.select[" + std::to_string(i) + "]"));
        }
    }
    if (const toml::node *node = table.get("side")) {
        const toml::table *sides = node->as_table();
        if (sides == nullptr) {
            in.fail(*node, "transactions.side", "a table of side lines, as { dc = 25 }");
        }
        for (auto &&[key, value] : *sides) {
            const std::string name(key.str());
            const std::string path = "transactions.side." + name;
            const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
            });
            if (!plain) {
                in.fail(value, path, "a name of letters, digits, _ and -");
            }
            if (framing.side_lines.size() == kMaxSideLines) {
                in.fail(value, path, "at most 16 side lines");
            }
            framing.side_lines.push_back(SideLine{name, in.pin(value, path)});
        }
    }
    out.framing = framing;
}

// "rising 18", "falling 18", "transaction" or "transaction spi0".
TimingEvent read_event(const Reader &in, const toml::node &node, const std::string &key) {
    const toml::value<std::string> *value = node.as_string();
    const std::string expected =
        "an event: \"rising N\", \"falling N\", \"transaction\" or \"transaction BUS\" "
        "(link, spi0, spi1)";
    if (value == nullptr) {
        in.fail(node, key, expected);
    }
    std::istringstream words(value->get());
    std::string kind;
    std::string argument;
    std::string extra;
    words >> kind >> argument >> extra;
    TimingEvent event;
    if ((kind == "rising" || kind == "falling") && !argument.empty() && extra.empty()) {
        event.kind = kind == "rising" ? TimingEvent::Kind::Rising : TimingEvent::Kind::Falling;
        int pin = -1;
        const auto [end, error] =
            std::from_chars(argument.data(), argument.data() + argument.size(), pin);
        if (error == std::errc() && end == argument.data() + argument.size() && pin >= 0 &&
            pin < kLineCount) {
            event.pin = pin;
            return event;
        }
    } else if (kind == "transaction" && extra.empty()) {
        event.kind = TimingEvent::Kind::Transaction;
        for (const Bus bus : {Bus::Link, Bus::Spi0, Bus::Spi1}) {
            if (argument == to_string(bus)) {
                event.bus = bus;
            }
        }
        if (argument.empty() || event.bus) {
            return event;
        }
    }
    in.fail(node, key, expected);
}

struct CheckKind {
    std::string_view word;
    TimingCheckKind kind;
    Keys keys;  // all required
};

const std::initializer_list<CheckKind> &check_kinds() {
    static const std::initializer_list<CheckKind> kinds = {
        {"clock_rate", TimingCheckKind::ClockRate, {"max_hz"}},
        {"select_to_clock", TimingCheckKind::SelectToClock, {"select", "min"}},
        {"clock_to_deselect", TimingCheckKind::ClockToDeselect, {"select", "min"}},
        {"pulse_width", TimingCheckKind::PulseWidth, {"pin", "level", "min"}},
        {"gap", TimingCheckKind::Gap, {"from", "to", "min"}},
    };
    return kinds;
}

TimingCheck read_timing(const Reader &in, const toml::table &table, const std::string &path) {
    const toml::node *node = table.get("check");
    const Keys words = {"clock_rate", "select_to_clock", "clock_to_deselect", "pulse_width", "gap"};
    if (node == nullptr) {
        in.fail(table, path + ".check", "what to check: " + join(words));
    }
    const std::string word = in.choice(*node, path + ".check", words);
    const CheckKind &kind = *std::find_if(check_kinds().begin(), check_kinds().end(),
                                          [&](const CheckKind &k) { return k.word == word; });
    for (auto &&[key, value] : table) {
        const std::string_view name = key.str();
        if (name != "check" && name != "name" && !contains(kind.keys, name)) {
            throw BoardFileError(in.file(), static_cast<int>(key.source().begin.line),
                                 path + "." + std::string(name),
                                 "one of check, name, " + join(kind.keys) +
                                     " (unknown key for check = \"" + word + "\")");
        }
    }
    for (const std::string_view key : kind.keys) {
        if (table.get(key) == nullptr) {
            in.fail(table, path + "." + std::string(key),
                    "a value for " + std::string(key) + " (check = \"" + word + "\" needs it)");
        }
    }
    TimingCheck check;
    check.kind = kind.kind;
    if (const toml::node *name = table.get("name")) {
        const toml::value<std::string> *text = name->as_string();
        if (text == nullptr) {
            in.fail(*name, path + ".name", kExpectedString);
        }
        check.name = text->get();
    }
    const auto at = [&](std::string_view key) -> const toml::node & { return *table.get(key); };
    switch (kind.kind) {
        case TimingCheckKind::ClockRate:
            check.limit = static_cast<std::uint64_t>(
                in.integer(at("max_hz"), path + ".max_hz", 1, 1'000'000'000));
            break;
        case TimingCheckKind::SelectToClock:
        case TimingCheckKind::ClockToDeselect:
            check.pin = in.pin(at("select"), path + ".select");
            check.limit = in.duration(at("min"), path + ".min");
            break;
        case TimingCheckKind::PulseWidth:
            check.pin = in.pin(at("pin"), path + ".pin");
            check.level = in.level(at("level"), path + ".level");
            check.limit = in.duration(at("min"), path + ".min");
            break;
        case TimingCheckKind::Gap:
            check.from = read_event(in, at("from"), path + ".from");
            check.to = read_event(in, at("to"), path + ".to");
            check.limit = in.duration(at("min"), path + ".min");
            break;
    }
    return check;
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

}  // namespace

ConfigError::ConfigError(std::string file, int line, std::string key, std::string expected)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                         (key.empty() ? std::string() : key + ": ") + "expected " + expected),
      file_(std::move(file)),
      line_(line),
      key_(std::move(key)),
      expected_(std::move(expected)) {}

BoardFile BoardFile::parse(std::string_view text, const std::string &name) {
    const Reader in(name);
    check_ascii(text, name);
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error &error) {
        throw BoardFileError(name, static_cast<int>(error.source().begin.line), "syntax",
                             "TOML (" + std::string(error.description()) + ")");
    }
    BoardFile file = read_document(in, root);
    check_devices(file);
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
    if (log_capacity) {
        board.set_log_capacity(*log_capacity);
    }
    if (fidelity) {
        board.set_fidelity(*fidelity);
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
