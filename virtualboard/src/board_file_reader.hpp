// SPDX-License-Identifier: MIT
// The board-file reader's shared parts: reading values out of the parsed TOML document with the
// file, line and key of a value that cannot be used, and the readers of the sections that live in
// files of their own (board_file_devices.cpp, board_file_checks.cpp). Private to the library.
#ifndef VBOARD_BOARD_FILE_READER_HPP
#define VBOARD_BOARD_FILE_READER_HPP

#include <toml++/toml.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vboard/board_file.hpp"
#include "vboard/duration.hpp"

namespace vboard::board_file {

using Keys = std::initializer_list<std::string_view>;

inline std::string join(Keys keys) {
    std::string text;
    for (const std::string_view key : keys) {
        text += text.empty() ? "" : ", ";
        text += key;
    }
    return text;
}

inline bool contains(Keys keys, std::string_view key) {
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

inline int line_of(const toml::node &node) { return static_cast<int>(node.source().begin.line); }

// Where each device sits, to refuse two behind one select line on one bus.
struct Seat {
    Bus bus;
    int select;
    int line;
};

// board_file_devices.cpp: [link], [[spi]] and [[device]], and each device made once to check it.
void read_link(const Reader &in, const toml::table &table, BoardFile &out,
               std::vector<Seat> &seats);
void read_spi(const Reader &in, const toml::array &array, BoardFile &out, std::vector<Seat> &seats);
void read_device(const Reader &in, const toml::table &table, const std::string &path,
                 BoardFile &out, std::vector<Seat> &seats);
void check_devices(const BoardFile &file);

// board_file_checks.cpp: [[rule]], [transactions] and [[timing]].
Rule read_rule(const Reader &in, const toml::table &table, const std::string &path, bool has_link);
void read_framing(const Reader &in, const toml::table &table, BoardFile &out);
TimingCheck read_timing(const Reader &in, const toml::table &table, const std::string &path);

}  // namespace vboard::board_file

#endif  // VBOARD_BOARD_FILE_READER_HPP
