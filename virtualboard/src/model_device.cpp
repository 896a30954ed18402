// SPDX-License-Identifier: MIT
// The board's side of a device model: the host functions of vboard/device.h.

#include "model_device.hpp"

#include <algorithm>
#include <cstring>

#include "vboard/duration.hpp"

namespace vboard {
namespace {

enum ParamKind : std::size_t { kInteger, kBoolean, kString, kBytes, kStrings };

const char *kind_name(std::size_t kind) {
    switch (kind) {
        case kInteger: return "an integer";
        case kBoolean: return kExpectedBoolean;
        case kString: return kExpectedString;
        case kStrings: return "a list of strings";
        default: return kExpectedBytes;
    }
}

ModelDevice &device_of(vb_host *host) {
    return *reinterpret_cast<ModelDevice::HostHandle *>(host)->device;
}

template <typename T>
int fetch(vb_host *host, const char *key, std::size_t kind, T *out) {
    const DeviceParam *param = nullptr;
    const int status = device_of(host).param(key, kind, &param);
    if (status == VB_PARAM_OK && out != nullptr) {
        *out = std::get<T>(param->value);
    }
    return status;
}

int param_int(vb_host *host, const char *key, int64_t *out) {
    return fetch(host, key, kInteger, out);
}

int param_bool(vb_host *host, const char *key, int *out) {
    bool value = false;
    const int status = fetch(host, key, kBoolean, &value);
    if (status == VB_PARAM_OK && out != nullptr) {
        *out = value ? 1 : 0;
    }
    return status;
}

int param_string(vb_host *host, const char *key, const char **out) {
    const DeviceParam *param = nullptr;
    const int status = device_of(host).param(key, kString, &param);
    if (status == VB_PARAM_OK && out != nullptr) {
        *out = std::get<std::string>(param->value).c_str();
    }
    return status;
}

int param_duration(vb_host *host, const char *key, uint64_t *out_ns) {
    ModelDevice &device = device_of(host);
    const DeviceParam *param = nullptr;
    const int status = device.param(key, kString, &param, kExpectedDuration);
    if (status != VB_PARAM_OK) {
        return status;
    }
    const std::optional<std::uint64_t> ns = parse_duration(std::get<std::string>(param->value));
    if (!ns) {
        device.fail(key, kExpectedDuration);
        return VB_PARAM_INVALID;
    }
    if (out_ns != nullptr) {
        *out_ns = *ns;
    }
    return VB_PARAM_OK;
}

int param_bytes(vb_host *host, const char *key, const uint8_t **out, size_t *len) {
    const DeviceParam *param = nullptr;
    const int status = device_of(host).param(key, kBytes, &param);
    if (status == VB_PARAM_OK) {
        const auto &bytes = std::get<std::vector<std::uint8_t>>(param->value);
        if (out != nullptr) {
            *out = bytes.data();
        }
        if (len != nullptr) {
            *len = bytes.size();
        }
    }
    return status;
}

int param_durations(vb_host *host, const char *key, const uint64_t **out_ns, size_t *count) {
    return device_of(host).param_durations(key, out_ns, count);
}

void fail(vb_host *host, const char *key, const char *expected) {
    device_of(host).fail(key, expected);
}

uint32_t line_count(vb_host *host) { return device_of(host).line_count(); }
const char *line_name(vb_host *host, uint32_t line) { return device_of(host).line_name(line); }
int find_line(vb_host *host, const char *name) { return device_of(host).find_line(name); }
int line_pin(vb_host *host, uint32_t line) { return device_of(host).line_pin(line); }
int read_line(vb_host *host, uint32_t line) { return device_of(host).read_line(line); }
uint64_t line_since(vb_host *host, uint32_t line) { return device_of(host).line_since(line); }
void drive_line(vb_host *host, uint32_t line, int level) {
    device_of(host).drive_line(line, level != 0);
}
void release_line(vb_host *host, uint32_t line) { device_of(host).drive_line(line, std::nullopt); }
void watch_line(vb_host *host, uint32_t line, int on) { device_of(host).watch_line(line, on != 0); }
uint64_t now(vb_host *host) { return device_of(host).now(); }
uint64_t timer_start(vb_host *host, uint64_t delay_ns) {
    return device_of(host).timer_start(delay_ns);
}
void timer_cancel(vb_host *host, uint64_t id) { device_of(host).timer_cancel(id); }
void diagnostic(vb_host *host, const char *text) { device_of(host).diagnostic(text); }
void log(vb_host *host, const char *text) { device_of(host).log(text); }
void frame(vb_host *host, uint32_t width, uint32_t height, const uint8_t *rgb) {
    device_of(host).frame(width, height, rgb);
}

const vb_host_api kHostApi = {
    .size = sizeof(vb_host_api),
    .param_int = param_int,
    .param_bool = param_bool,
    .param_string = param_string,
    .param_duration = param_duration,
    .param_bytes = param_bytes,
    .fail = fail,
    .line_count = line_count,
    .line_name = line_name,
    .find_line = find_line,
    .line_pin = line_pin,
    .read_line = read_line,
    .line_since = line_since,
    .drive_line = drive_line,
    .release_line = release_line,
    .watch_line = watch_line,
    .now = now,
    .timer_start = timer_start,
    .timer_cancel = timer_cancel,
    .diagnostic = diagnostic,
    .log = log,
    .param_durations = param_durations,
    .frame = frame,
    .reserved = {},
};

constexpr std::uint64_t kTimerEvent = 1;

// Read by the C library's clocks under the board, which an allocator may call: no allocation on
// first use.
[[gnu::tls_model("initial-exec")]] thread_local int t_model_depth = 0;

// Marks the calling thread as inside a model's callback for the object's lifetime.
struct InModel {
    InModel() { ++t_model_depth; }
    ~InModel() { --t_model_depth; }
    InModel(const InModel &) = delete;
    InModel &operator=(const InModel &) = delete;
};

}  // namespace

bool in_device_model() { return t_model_depth > 0; }

ModelDevice::ModelDevice(Engine &engine, std::uint64_t id, const vb_device_model &model,
                         const DeviceConfig &config)
    : DeviceSlot(id,
                 config.name.empty() ? std::string(model.name != nullptr ? model.name : "device")
                                     : config.name,
                 config.bus, config.select),
      engine_(engine),
      model_(model),
      host_{{&kHostApi}, this},
      config_(config),
      param_read_(config.params.size(), false) {
    for (const auto &[name, pin] : config.lines) {
        lines_.push_back(NamedLine{name, pin});
    }
    if (config.select >= 0) {
        watched_pins_ |= std::uint64_t{1} << config.select;
    }
    update_interests();
    creating_ = true;
    {
        const InModel in_model;
        self_ = model_.create != nullptr ? model_.create(&host_.base) : nullptr;
    }
    creating_ = false;
    std::optional<Failure> refused = failure_;
    if (!refused && self_ == nullptr) {
        refused = Failure{config_.key + ".model",
                          "a model that makes the device (its create() failed)", config_.line};
    }
    for (std::size_t i = 0; !refused && i < config_.params.size(); ++i) {
        if (!param_read_[i]) {
            refused = Failure{config_.key + ".params." + config_.params[i].key,
                              "a parameter of model \"" + name() + "\" (unknown key)",
                              config_.params[i].line};
        }
    }
    if (refused) {
        if (self_ != nullptr && model_.destroy != nullptr) {
            model_.destroy(self_);
        }
        self_ = nullptr;
        engine_.leave(this);
        throw DeviceError(config_.file, refused->line, refused->key, refused->expected);
    }
}

ModelDevice::~ModelDevice() {
    if (self_ != nullptr && model_.destroy != nullptr) {
        model_.destroy(self_);
    }
}

int ModelDevice::param(const char *key, std::size_t kind, const DeviceParam **out,
                       const char *expected) {
    if (!creating_ || key == nullptr) {
        return VB_PARAM_ABSENT;
    }
    for (std::size_t i = 0; i < config_.params.size(); ++i) {
        const DeviceParam &param = config_.params[i];
        if (param.key != key) {
            continue;
        }
        param_read_[i] = true;
        if (param.value.index() != kind) {
            fail(key, expected != nullptr ? expected : kind_name(kind));
            return VB_PARAM_INVALID;
        }
        *out = &param;
        return VB_PARAM_OK;
    }
    return VB_PARAM_ABSENT;
}

int ModelDevice::param_durations(const char *key, const uint64_t **out_ns, size_t *count) {
    constexpr const char *kExpected = "a list of durations, as [\"20ms\", \"1s\"]";
    const DeviceParam *param = nullptr;
    int status = VB_PARAM_ABSENT;
    for (const DeviceParam &candidate : config_.params) {
        if (key != nullptr && candidate.key == key) {
            param = &candidate;
        }
    }
    // An empty TOML array reads as an empty byte array: an empty list all the same.
    const auto *empty =
        param != nullptr ? std::get_if<std::vector<std::uint8_t>>(&param->value) : nullptr;
    std::vector<std::uint64_t> list;
    if (empty != nullptr && empty->empty()) {
        const DeviceParam *ignored = nullptr;
        status = this->param(key, kBytes, &ignored);
    } else {
        status = this->param(key, kStrings, &param, kExpected);
        if (status != VB_PARAM_OK) {
            return status;
        }
        for (const std::string &text : std::get<std::vector<std::string>>(param->value)) {
            const std::optional<std::uint64_t> ns = parse_duration(text);
            if (!ns) {
                fail(key, kExpected);
                return VB_PARAM_INVALID;
            }
            list.push_back(*ns);
        }
    }
    durations_.push_back(std::move(list));
    if (out_ns != nullptr) {
        *out_ns = durations_.back().data();
    }
    if (count != nullptr) {
        *count = durations_.back().size();
    }
    return status;
}

void ModelDevice::frame(std::uint32_t width, std::uint32_t height, const std::uint8_t *rgb) {
    if (rgb == nullptr || width == 0 || height == 0 || width > kMaxFrameSide ||
        height > kMaxFrameSide) {
        diagnostic("a frame of " + std::to_string(width) + "x" + std::to_string(height) +
                   " pixels was refused (each side from 1 to " + std::to_string(kMaxFrameSide) +
                   ")");
        return;
    }
    engine_.frame(name(), width, height,
                  std::span<const std::uint8_t>(rgb, std::size_t{width} * height * 3));
}

void ModelDevice::fail(const char *key, const char *expected) {
    if (!creating_ || failure_) {
        return;  // the first failure is the one reported
    }
    Failure failure{config_.key, expected != nullptr ? expected : "what the model accepts",
                    config_.line};
    if (key != nullptr) {
        failure.key = config_.key + ".params." + key;
        for (std::size_t i = 0; i < config_.params.size(); ++i) {
            if (config_.params[i].key == key) {
                param_read_[i] = true;
                failure.line = config_.params[i].line != 0 ? config_.params[i].line : config_.line;
            }
        }
    }
    failure_ = failure;
}

const char *ModelDevice::line_name(std::uint32_t line) const {
    return valid(line) ? lines_[line].name.c_str() : nullptr;
}

int ModelDevice::find_line(const char *name) const {
    for (std::size_t i = 0; name != nullptr && i < lines_.size(); ++i) {
        if (lines_[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int ModelDevice::line_pin(std::uint32_t line) const { return valid(line) ? lines_[line].pin : -1; }

int ModelDevice::read_line(std::uint32_t line) const {
    return valid(line) && engine_.lines().level(lines_[line].pin) ? 1 : 0;
}

std::uint64_t ModelDevice::line_since(std::uint32_t line) const {
    return valid(line) ? engine_.lines().changed_at(lines_[line].pin) : 0;
}

void ModelDevice::drive_line(std::uint32_t line, std::optional<bool> level) {
    if (valid(line)) {
        engine_.set_external_drive(lines_[line].pin, level);
    }
}

void ModelDevice::watch_line(std::uint32_t line, bool on) {
    if (!valid(line)) {
        return;
    }
    lines_[line].watched = on;
    watched_pins_ = config_.select >= 0 ? std::uint64_t{1} << config_.select : 0;
    for (const NamedLine &named : lines_) {
        if (named.watched) {
            watched_pins_ |= std::uint64_t{1} << named.pin;
        }
    }
    update_interests();
}

// Once it watches a line the device stays on the line changes until it is detached (its mask
// filters them), so that nothing leaves the listener list while listeners are told.
void ModelDevice::update_interests() {
    if (watched_pins_ != 0) {
        engine_.subscribe(this, kLineChanges);
    }
}

std::uint64_t ModelDevice::timer_start(std::uint64_t delay_ns) {
    const std::uint64_t id = next_timer_++;
    timers_.push_back(id);
    const std::uint64_t now = engine_.now();
    const std::uint64_t due = delay_ns > UINT64_MAX - now ? UINT64_MAX : now + delay_ns;
    engine_.schedule(due, this, kTimerEvent, id);
    return id;
}

void ModelDevice::timer_cancel(std::uint64_t id) { std::erase(timers_, id); }

void ModelDevice::timed(std::uint64_t what, std::uint64_t id) {
    if (what != kTimerEvent) {
        return;
    }
    const auto found = std::find(timers_.begin(), timers_.end(), id);
    if (found == timers_.end()) {
        return;  // cancelled
    }
    timers_.erase(found);
    if (model_.timer != nullptr) {
        const InModel in_model;
        model_.timer(self_, id);
    }
}

void ModelDevice::diagnostic(const char *text) {
    diagnostic(std::string(text != nullptr ? text : ""));
}

void ModelDevice::diagnostic(const std::string &text) { engine_.note(name() + ": " + text); }

void ModelDevice::log(const char *text) {
    engine_.log_text(name() + ": " + (text != nullptr ? text : ""));
}

std::uint32_t ModelDevice::line_levels() const {
    std::uint32_t levels = 0;
    const LineView view = engine_.lines();
    for (std::size_t i = 0; i < lines_.size() && i < 32; ++i) {
        if (view.level(lines_[i].pin)) {
            levels |= 1U << i;
        }
    }
    return levels;
}

int ModelDevice::byte(std::uint8_t direction, std::uint8_t out, std::uint64_t time_ns) {
    if (model_.byte == nullptr) {
        return VB_NO_ANSWER;
    }
    vb_byte info{};
    info.size = sizeof info;
    info.direction = direction;
    info.out = out;
    info.lines = line_levels();
    info.time_ns = time_ns;
    const InModel in_model;
    const int answer = model_.byte(self_, &info);
    return answer >= 0 && answer <= 0xFF ? answer : VB_NO_ANSWER;
}

void ModelDevice::call_select(bool active) {
    if (model_.select != nullptr) {
        const InModel in_model;
        model_.select(self_, active ? 1 : 0);
    }
}

void ModelDevice::begin_transfer(std::span<const std::uint8_t>) {
    if (select() < 0) {
        call_select(true);  // the chip enable selects the device for the transfer
    }
}

void ModelDevice::transfer_done() {
    if (select() < 0) {
        call_select(false);
    }
}

void ModelDevice::line_changed(const LineView &lines, int pin, bool level) {
    if (((watched_pins_ >> pin) & 1U) == 0) {
        return;
    }
    if (pin == select()) {
        call_select(!level);
    }
    for (std::uint32_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].pin == pin && lines_[i].watched && model_.edge != nullptr) {
            const InModel in_model;
            model_.edge(self_, i, level ? 1 : 0, lines.now());
        }
    }
}

void ModelDevice::finish() {
    if (!finished_ && model_.finish != nullptr) {
        finished_ = true;
        const InModel in_model;
        model_.finish(self_);
    }
}

}  // namespace vboard
