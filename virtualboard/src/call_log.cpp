// SPDX-License-Identifier: MIT
// The call log as a text file, streamed.

#include "vboard/call_log.hpp"

#include "vboard/board.hpp"
#include "vboard/call_trace.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vboard {

CallLogWriter::CallLogWriter(const std::string &path) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        throw std::runtime_error("cannot write call log '" + path + "': " + std::strerror(errno));
    }
}

CallLogWriter::~CallLogWriter() { close(); }

void CallLogWriter::event(const RunEvent &event) {
    if (file_ == nullptr) {
        return;
    }
    const auto time = static_cast<unsigned long long>(event.time_ns);
    switch (event.kind) {
        case RunEventKind::Start:
            std::fputs(
                trace_header(kTraceSourceBench, pi_model_title(event.start->model),
                             std::to_string(kWiringPiMajor) + '.' + std::to_string(kWiringPiMinor))
                    .c_str(),
                file_);
            break;
        case RunEventKind::Call:
            std::fprintf(file_, "%12llu ns  %s\n", time, trace_call_text(*event.call).c_str());
            break;
        case RunEventKind::Note:
            std::fprintf(file_, "%12llu ns  note: %s\n", time, event.note->c_str());
            break;
        case RunEventKind::End: close(); break;
        default: break;
    }
}

bool CallLogWriter::ok() const { return !failed_; }

void CallLogWriter::close() {
    if (file_ == nullptr) {
        return;
    }
    const bool write_failed = std::ferror(file_) != 0;
    if (std::fclose(file_) != 0 || write_failed) {
        failed_ = true;
    }
    file_ = nullptr;
}

}  // namespace vboard
