// SPDX-License-Identifier: MIT
// Fuzzes the capture reader: any text, read with a channel map of one signal and with one of a
// vector's bit and a scoped name, is either refused with a CaptureError (and nothing else) or
// read into changes that are in time order, each on a mapped line and each a change of its
// line's level, with a bounded number of notes.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "vboard/capture.hpp"

namespace {

void check(const vboard::Capture &capture, const vboard::ChannelMap &map) {
    std::array<std::optional<bool>, vboard::kLineCount> level = capture.initial;
    std::uint64_t time = 0;
    for (const vboard::CaptureChange &change : capture.changes) {
        bool mapped = false;
        for (const auto &[name, pin] : map.channels) {
            mapped = mapped || pin == change.pin;
        }
        if (!mapped || change.time_ns < time || level[change.pin] == change.level) {
            std::fprintf(stderr, "a change out of order, off the map or of no level: %d at %llu\n",
                         change.pin, static_cast<unsigned long long>(change.time_ns));
            std::abort();
        }
        level[change.pin] = change.level;
        time = change.time_ns;
    }
    if (capture.notes.size() > 21) {
        std::fprintf(stderr, "%zu notes\n", capture.notes.size());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte sets the glitch filter.
    const vboard::CaptureOptions options{.glitch_ns = data[0] % 4 == 0 ? 0U : data[0] * 10U};
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    for (const char *channels : {"D0=11", "D0=11,bus[1]=10,top.cs=8"}) {
        const vboard::ChannelMap map = vboard::parse_channel_map(channels);
        try {
            check(vboard::parse_vcd_capture(text, "fuzz.vcd", map, options), map);
        } catch (const vboard::CaptureError &) {
        }
    }
    return 0;
}
