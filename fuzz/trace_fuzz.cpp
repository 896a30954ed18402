// SPDX-License-Identifier: MIT
// Fuzzes the trace reader: any text is either refused with a TraceError (and nothing else) or
// accepted, and an accepted trace's calls written out again read back to the same text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vboard/call_trace.hpp"

namespace {

std::string written(const vboard::CallTrace &trace) {
    std::string text = vboard::trace_header(trace.source, trace.model, trace.wiringpi);
    for (const vboard::CallRecord &call : trace.calls) {
        text += std::to_string(call.time_ns) + " ns  " + vboard::trace_call_text(call) + "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    vboard::CallTrace trace;
    try {
        trace = vboard::parse_call_trace(text, "fuzz.trace");
    } catch (const vboard::TraceError &) {
        return 0;
    }
    // A header value with a line break cannot be written back as one line.
    for (const std::string *value : {&trace.source, &trace.model, &trace.wiringpi}) {
        if (value->find_first_of("\r") != std::string::npos) {
            return 0;
        }
    }
    const std::string once = written(trace);
    vboard::CallTrace again;
    try {
        again = vboard::parse_call_trace(once, "again.trace");
    } catch (const vboard::TraceError &error) {
        std::fprintf(stderr, "a trace written from an accepted one is refused: %s\n%s",
                     error.what(), once.c_str());
        std::abort();
    }
    if (written(again) != once) {
        std::fprintf(stderr, "a trace does not read back the same:\n%s---\n%s", once.c_str(),
                     written(again).c_str());
        std::abort();
    }
    return 0;
}
