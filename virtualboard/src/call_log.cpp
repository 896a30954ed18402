// SPDX-License-Identifier: MIT
// The call log as a text file, streamed.

#include "vboard/call_log.hpp"

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

void CallLogWriter::call(const CallRecord &record) {
    if (file_ != nullptr) {
        std::fprintf(file_, "%12llu ns  %s\n", static_cast<unsigned long long>(record.time_ns),
                     record.to_string().c_str());
    }
}

void CallLogWriter::note(std::uint64_t time_ns, const std::string &text) {
    if (file_ != nullptr) {
        std::fprintf(file_, "%12llu ns  note: %s\n", static_cast<unsigned long long>(time_ns),
                     text.c_str());
    }
}

void CallLogWriter::finish(std::uint64_t) { close(); }

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
