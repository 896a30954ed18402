// SPDX-License-Identifier: MIT
// One run as a JUnit XML file, the form CI dashboards read: a testsuites element holding one
// testsuite with one testcase, a failure when the run failed, and the board's diagnostics as the
// testcase's system-out.
#ifndef TOOLS_JUNIT_HPP
#define TOOLS_JUNIT_HPP

#include <cstdint>
#include <optional>
#include <string>

namespace vboard_tool {

struct JUnitRun {
    std::string name;                           // the testcase's and the testsuite's name
    double real_seconds = 0;                    // how long the run took
    std::optional<std::uint64_t> simulated_ns;  // the board's clock at the end, when known
    bool failed = false;
    std::string failure_message;  // one line: why the run failed
    std::string failure_detail;   // the rest: the differences, the violations
    std::string system_out;       // the board's diagnostics, one a line
};

// The document, every text escaped (and any byte that is not UTF-8 replaced), so that any program
// name or diagnostic gives well-formed XML.
std::string junit_document(const JUnitRun &run);

// Writes the document to `path`; false when it cannot be written.
bool write_junit(const std::string &path, const JUnitRun &run);

}  // namespace vboard_tool

#endif  // TOOLS_JUNIT_HPP
