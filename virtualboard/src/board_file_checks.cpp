// SPDX-License-Identifier: MIT
// The board file's rules, framing and timing checks: [[rule]], [transactions] and [[timing]].

#include <string>
#include <vector>

#include "board_file_reader.hpp"

namespace vboard::board_file {

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
        {"duty_above", Trigger::Kind::DutyAbove, {"pin", "duty"}},
        {"duty_below", Trigger::Kind::DutyBelow, {"pin", "duty"}},
    };
    return kinds;
}

bool required(std::string_view key) {
    return key == "at" || key == "pin" || key == "level" || key == "hold" || key == "duty";
}

Rule read_rule(const Reader &in, const toml::table &table, const std::string &path, bool has_link) {
    const toml::node *on = table.get("on");
    if (on == nullptr) {
        in.fail(table, path + ".on",
                "what fires the rule: time, rising, falling, edge, link_byte, spi_byte, spi_end, "
                "held, duty_above or duty_below");
    }
    const std::string word = in.choice(*on, path + ".on",
                                       {"time", "rising", "falling", "edge", "link_byte",
                                        "spi_byte", "spi_end", "held", "duty_above", "duty_below"});
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
    if (const toml::node *node = table.get("duty")) {
        const std::optional<double> percent =
            node->is_number() ? node->value<double>() : std::nullopt;
        if (!percent || !(*percent >= 0 && *percent <= 100)) {
            in.fail(*node, path + ".duty", "a duty in percent, from 0 to 100");
        }
        rule.when.duty = *percent / 100;
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

}  // namespace vboard::board_file
