// SPDX-License-Identifier: MIT
// The JUnit XML writer of vboard run.

#include "junit.hpp"

#include <cstdio>
#include <fstream>

namespace vboard_tool {
namespace {

// The length of the UTF-8 sequence starting at `i`, or 0 when it is not a valid one.
std::size_t utf8_length(const std::string &text, std::size_t i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Text for an attribute or an element: markup escaped, characters XML 1.0 forbids (controls
// other than tab and newline, bytes that are not UTF-8) written as U+FFFD.
std::string escaped(const std::string &text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8_length(text, i);
            out += length > 0 ? text.substr(i, length) : "\xEF\xBF\xBD";
            i += length > 0 ? length : 1;
            continue;
        }
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += attribute ? "&quot;" : "\""; break;
            case '\n': out += attribute ? "&#10;" : "\n"; break;
            case '\t': out += attribute ? "&#9;" : "\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\xEF\xBF\xBD";
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out;
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value < 0 ? 0.0 : value);
    return text;
}

std::string simulated(std::uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%09llu",
                  static_cast<unsigned long long>(ns / 1000000000),
                  static_cast<unsigned long long>(ns % 1000000000));
    return text;
}

}  // namespace

std::string junit_document(const JUnitRun &run) {
    const std::string name = escaped(run.name, true);
    const std::string time = seconds(run.real_seconds);
    const char *failures = run.failed ? "1" : "0";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites name=\"vboard\" tests=\"1\" failures=\"" + std::string(failures) +
           "\" errors=\"0\" time=\"" + time + "\">\n";
    xml += "  <testsuite name=\"" + name + "\" tests=\"1\" failures=\"" + failures +
           "\" errors=\"0\" skipped=\"0\" time=\"" + time + "\">\n";
    if (run.simulated_ns) {
        xml += "    <properties>\n      <property name=\"simulated_seconds\" value=\"" +
               simulated(*run.simulated_ns) + "\"/>\n    </properties>\n";
    }
    xml += "    <testcase name=\"" + name + "\" classname=\"vboard\" time=\"" + time + "\">\n";
    if (run.failed) {
        xml += "      <failure message=\"" + escaped(run.failure_message, true) +
               "\" type=\"vboard\">" + escaped(run.failure_detail, false) + "</failure>\n";
    }
    if (!run.system_out.empty()) {
        xml += "      <system-out>" + escaped(run.system_out, false) + "</system-out>\n";
    }
    xml += "    </testcase>\n  </testsuite>\n</testsuites>\n";
    return xml;
}

bool write_junit(const std::string &path, const JUnitRun &run) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << junit_document(run);
    out.close();
    return static_cast<bool>(out);
}

}  // namespace vboard_tool
