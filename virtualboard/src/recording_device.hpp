// SPDX-License-Identifier: MIT
// The "recording" device: a peripheral as a trace recorded it (vboard/call_trace.hpp). On its SPI
// channel it answers each transfer with the bytes the recording received, and on its lines each
// digitalRead with the level the recording read, in the order the recording made them; the first
// call where the run parts from the recording (another call, other bytes sent, or past its end)
// is a diagnostic naming both calls, and the device answers nothing after it. Private to the
// library.
#ifndef VBOARD_RECORDING_DEVICE_HPP
#define VBOARD_RECORDING_DEVICE_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "device_slot.hpp"
#include "engine.hpp"
#include "vboard/board.hpp"
#include "vboard/device.hpp"

namespace vboard {

inline constexpr const char *kRecordingModel = "recording";

class RecordingDevice final : public DeviceSlot {
  public:
    // Reads the trace its `trace` parameter names; throws DeviceError naming the parameter for a
    // trace that cannot be read, an unknown parameter or none.
    RecordingDevice(Engine &engine, std::uint64_t id, const DeviceConfig &config);

    int byte(std::uint8_t direction, std::uint8_t out, std::uint64_t time_ns) override;
    void begin_transfer(std::span<const std::uint8_t> out) override;
    int exchange(std::size_t index, std::uint8_t out, std::uint64_t time_ns) override;
    void line_read(int pin) override;

  private:
    // One call of the recording that reached the device: a read of one of its lines, or a
    // transfer on its channel.
    struct Answer {
        CallRecord call;
        int pin = -1;  // a read: its BCM line; -1 for a transfer
    };

    void part(const std::string &live);
    const Answer *next() const { return next_ < answers_.size() ? &answers_[next_] : nullptr; }

    Engine &engine_;
    std::string trace_;
    std::uint64_t lines_ = 0;  // a bit per BCM line of the device's
    std::vector<Answer> answers_;
    std::size_t next_ = 0;
    bool parted_ = false;
    std::vector<std::uint8_t> reply_;  // the transfer in progress's answer
};

}  // namespace vboard

#endif  // VBOARD_RECORDING_DEVICE_HPP
