// SPDX-License-Identifier: MIT
// A device made from a model of the C device interface (vboard/device.h): the board's side of it,
// the host functions the model calls, its parameters, named lines, watches and timers. Private to
// the library.
#ifndef VBOARD_MODEL_DEVICE_HPP
#define VBOARD_MODEL_DEVICE_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device_slot.hpp"
#include "vboard/device.hpp"

namespace vboard {

// Whether the calling thread is inside a model's callback: a fatal signal there is the model's
// crash, raised while the board's writers stand between two records.
bool in_device_model();

class ModelDevice final : public DeviceSlot {
  public:
    // Makes the device: create() with the config's parameters. Throws DeviceError when the model
    // refuses them, reads a parameter as another type, or leaves one unread.
    ModelDevice(Engine &engine, std::uint64_t id, const vb_device_model &model,
                const DeviceConfig &config);
    ~ModelDevice() override;

    int byte(std::uint8_t direction, std::uint8_t out, std::uint64_t time_ns) override;
    void begin_transfer(std::span<const std::uint8_t> out) override;
    void transfer_done() override;
    void finish() override;
    const vb_device_model *model() const override { return &model_; }
    void *model_state() const override { return self_; }

    void line_changed(const LineView &lines, int pin, bool level) override;
    void timed(std::uint64_t what, std::uint64_t detail) override;

    // The host functions, reached from the C trampolines through the handle the model holds.
    struct HostHandle {
        vb_host base;  // first, so that the model's vb_host * is a HostHandle *
        ModelDevice *device;
    };
    // The parameter `key` if it is of `kind` (a DeviceParam::value index). Of another kind, the
    // device fails with `expected`, or with the name of `kind`.
    int param(const char *key, std::size_t kind, const DeviceParam **out,
              const char *expected = nullptr);
    void fail(const char *key, const char *expected);
    std::uint32_t line_count() const { return static_cast<std::uint32_t>(lines_.size()); }
    const char *line_name(std::uint32_t line) const;
    int find_line(const char *name) const;
    int line_pin(std::uint32_t line) const;
    int read_line(std::uint32_t line) const;
    std::uint64_t line_since(std::uint32_t line) const;
    void drive_line(std::uint32_t line, std::optional<bool> level);
    void watch_line(std::uint32_t line, bool on);
    std::uint64_t now() const { return engine_.now(); }
    std::uint64_t timer_start(std::uint64_t delay_ns);
    void timer_cancel(std::uint64_t id);
    int param_durations(const char *key, const std::uint64_t **out_ns, std::size_t *count);
    void diagnostic(const char *text);
    void diagnostic(const std::string &text);
    void log(const char *text);
    void frame(std::uint32_t width, std::uint32_t height, const std::uint8_t *rgb);
    static constexpr std::uint32_t kMaxFrameSide = 8192;

  private:
    bool valid(std::uint32_t line) const { return line < lines_.size(); }
    void update_interests();
    std::uint32_t line_levels() const;
    void call_select(bool active);

    struct NamedLine {
        std::string name;
        int pin;
        bool watched = false;
    };
    struct Failure {
        std::string key;
        std::string expected;
        int line;
    };

    Engine &engine_;
    const vb_device_model &model_;
    HostHandle host_;
    DeviceConfig config_;
    std::vector<NamedLine> lines_;
    std::vector<bool> param_read_;
    // The lists param_durations read; a vector moved keeps its elements where they are.
    std::vector<std::vector<std::uint64_t>> durations_;
    bool creating_ = false;
    std::optional<Failure> failure_;
    void *self_ = nullptr;
    std::uint64_t watched_pins_ = 0;     // bit per BCM line: a watched line or the select line
    std::vector<std::uint64_t> timers_;  // started and not yet fired nor cancelled
    std::uint64_t next_timer_ = 1;
    bool finished_ = false;
};

}  // namespace vboard

#endif  // VBOARD_MODEL_DEVICE_HPP
