// SPDX-License-Identifier: MIT
// The control interface of the virtual board.

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <utility>

#include "board_access.hpp"
#include "board_state.hpp"
#include "model_registry.hpp"
#include "process_board.hpp"

namespace vboard {
namespace {

int checked_pin(int pin) {
    if (pin < 0 || pin >= kLineCount) {
        throw std::out_of_range("vboard: no BCM line " + std::to_string(pin) +
                                " (lines are 0 to 53)");
    }
    return pin;
}

int checked_channel(int channel) {
    if (channel < 0 || channel >= kSpiChannelCount) {
        throw std::out_of_range("vboard: no SPI channel " + std::to_string(channel) +
                                " (channels are 0 and 1)");
    }
    return channel;
}

std::atomic<Board *> g_current{nullptr};

}  // namespace

Board::Board() : state_(std::make_unique<State>(resolve_model)) { state_->power_on(); }

Board::~Board() {
    std::lock_guard lock(state_->mutex);
    state_->finish_observers();
}

void Board::reset() {
    std::lock_guard lock(state_->mutex);
    state_->power_on();
}

void Board::set_setup_result(int result) {
    std::lock_guard lock(state_->mutex);
    state_->run->setup_result = result;
}

bool Board::is_set_up() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->set_up;
}

void Board::drive(int pin, bool level) {
    std::lock_guard lock(state_->mutex);
    state_->set_external_drive(checked_pin(pin), level);
    state_->deliver_interrupts();
}

void Board::release(int pin) {
    std::lock_guard lock(state_->mutex);
    state_->set_external_drive(checked_pin(pin), std::nullopt);
    state_->deliver_interrupts();
}

LineState Board::line(int pin) const {
    std::lock_guard lock(state_->mutex);
    const Line &line = state_->run->gpio.line(checked_pin(pin));
    const std::optional<bool> drive = line.external_drive ? line.external_drive : line.device_drive;
    return LineState{line.function,         line.pull, line.latch, drive.has_value(),
                     drive.value_or(false), line.level};
}

Function Board::function(int pin) const { return line(pin).function; }

Pull Board::pull(int pin) const { return line(pin).pull; }

bool Board::level(int pin) const { return line(pin).level; }

SpiChannelState Board::spi_channel(int channel) const {
    std::lock_guard lock(state_->mutex);
    return state_->run->spi.channel(checked_channel(channel));
}

void Board::attach_spi_device(int channel, SpiDevice device) {
    std::lock_guard lock(state_->mutex);
    DeviceSet &devices = state_->run->devices;
    if (device) {
        devices.attach_function(checked_channel(channel), std::move(device));
    } else if (DeviceSlot *old = devices.find(spi_bus(checked_channel(channel)), -1)) {
        devices.detach(old->id());
    }
}

void Board::detach_spi_device(int channel) { attach_spi_device(channel, nullptr); }

Device Board::attach_device(const DeviceConfig &config) {
    for (const auto &[name, pin] : config.lines) {
        checked_pin(pin);
    }
    if (config.select != -1) {
        checked_pin(config.select);
    }
    std::lock_guard lock(state_->mutex);
    return Device(this, state_->run->devices.attach(config).id());
}

void Board::detach_device(const Device &device) {
    std::lock_guard lock(state_->mutex);
    if (device.board_ == this) {
        state_->run->devices.detach(device.id_);
    }
}

Device Board::device(const std::string &name) {
    std::lock_guard lock(state_->mutex);
    const DeviceSlot *slot = state_->run->devices.find(name);
    if (slot == nullptr) {
        throw std::out_of_range("vboard: no device named '" + name + "' on the board");
    }
    return Device(this, slot->id());
}

void Board::attach_link_device(const LinkDeviceOptions &options) {
    DeviceConfig config;
    config.model = "replies";
    config.name = "link";
    config.bus = Bus::Link;
    if (options.enable_pin != -1) {
        config.lines.emplace_back("enable", checked_pin(options.enable_pin));
        config.params.push_back(
            {"enable_level", std::string(options.enable_level ? "high" : "low")});
        config.params.push_back({"enable_for", std::to_string(options.enable_hold_ns) + "ns"});
    }
    detach_link_device();
    attach_device(config);
}

void Board::detach_link_device() {
    std::lock_guard lock(state_->mutex);
    DeviceSet &devices = state_->run->devices;
    if (const DeviceSlot *slot = devices.find(std::string("link"))) {
        devices.detach(slot->id());
    }
}

bool Board::has_link_device() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->devices.find(std::string("link")) != nullptr;
}

Device Board::link_device() { return device("link"); }

void Board::queue_link_reply(std::span<const std::uint8_t> bytes) {
    if (!has_link_device()) {
        throw std::logic_error("vboard: queue_link_reply needs attach_link_device first");
    }
    link_device().replies().queue(bytes);
}

std::size_t Board::link_replies_pending() const {
    if (!has_link_device()) {
        return 0;
    }
    return const_cast<Board *>(this)->link_device().replies().pending();
}

std::vector<std::uint8_t> Board::link_bytes_received() const {
    if (!has_link_device()) {
        return {};
    }
    return const_cast<Board *>(this)->link_device().replies().received();
}

std::vector<CallRecord> Board::calls() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->recorder.copy();
}

std::uint64_t Board::calls_dropped() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->recorder.dropped();
}

void Board::set_log_capacity(std::size_t capacity) {
    std::lock_guard lock(state_->mutex);
    state_->settings.log_capacity = capacity;
    state_->run->recorder.shrink_to(capacity);
}

std::size_t Board::log_capacity() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.log_capacity;
}

void Board::set_line_name(int pin, std::string name) {
    checked_pin(pin);
    std::lock_guard lock(state_->mutex);
    auto &names = state_->settings.line_names;
    const auto named = std::find_if(names.begin(), names.end(),
                                    [pin](const auto &entry) { return entry.first == pin; });
    if (name.empty()) {
        if (named != names.end()) {
            names.erase(named);
        }
    } else if (named != names.end()) {
        named->second = std::move(name);
    } else {
        names.emplace_back(pin, std::move(name));
    }
}

std::string Board::line_name(int pin) const {
    checked_pin(pin);
    std::lock_guard lock(state_->mutex);
    for (const auto &[named, name] : state_->settings.line_names) {
        if (named == pin) {
            return name;
        }
    }
    return "";
}

std::vector<std::pair<int, std::string>> Board::line_names() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.line_names;
}

std::uint64_t Board::now_ns() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->clock.now();
}

CallCosts Board::costs() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.costs;
}

void Board::set_costs(const CallCosts &costs) {
    std::lock_guard lock(state_->mutex);
    state_->settings.costs = costs;
}

void Board::set_real_sleep(bool real_sleep) {
    std::lock_guard lock(state_->mutex);
    state_->settings.real_sleep = real_sleep;
}

bool Board::real_sleep() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.real_sleep;
}

void Board::set_pwm_waveform(bool draw) {
    std::lock_guard lock(state_->mutex);
    state_->settings.pwm_waveform = draw;
    state_->run->pwm.refresh();
}

bool Board::pwm_waveform() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.pwm_waveform;
}

std::optional<LineWave> Board::wave(int pin) const {
    std::lock_guard lock(state_->mutex);
    return state_->run->pwm.wave(checked_pin(pin));
}

void Board::set_c_library_time(bool on) {
    state_->c_library_time.store(on, std::memory_order_relaxed);
}

bool Board::c_library_time() const {
    return state_->c_library_time.load(std::memory_order_relaxed);
}

void Board::add_observer(std::shared_ptr<RunObserver> observer) {
    if (!observer) {
        throw std::invalid_argument("vboard: add_observer needs an observer");
    }
    std::lock_guard lock(state_->mutex);
    state_->add_observer(std::move(observer));
}

void Board::remove_observer(const std::shared_ptr<RunObserver> &observer) {
    std::lock_guard lock(state_->mutex);
    state_->remove_observer(observer);
}

std::vector<Frame> Board::frames() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->frames.frames();
}

void Board::set_frames_kept(std::size_t count) {
    std::lock_guard lock(state_->mutex);
    state_->settings.frames_kept = count;
}

std::size_t Board::frames_kept() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.frames_kept;
}

void Board::flush_outputs() {
    std::lock_guard lock(state_->mutex);
    state_->finish_observers();
}

namespace {

void check_line(int pin, const char *what) {
    if (pin < 0 || pin >= kLineCount) {
        throw std::out_of_range(std::string("vboard: ") + what + " BCM " + std::to_string(pin) +
                                " is not a line (0-53)");
    }
}

void check_event(const TimingEvent &event) {
    if (event.kind != TimingEvent::Kind::Transaction) {
        check_line(event.pin, "timing check event on");
    }
}

}  // namespace

void Board::set_framing(const FramingOptions &framing) {
    for (const int pin : framing.selects) {
        check_line(pin, "select line");
    }
    if (framing.side_lines.size() > kMaxSideLines) {
        throw std::invalid_argument("vboard: at most 16 side lines");
    }
    for (const SideLine &side : framing.side_lines) {
        check_line(side.pin, "side line");
        if (side.name.empty()) {
            throw std::invalid_argument("vboard: a side line needs a name");
        }
    }
    std::lock_guard lock(state_->mutex);
    state_->settings.set_framing(framing);
    if (state_->run) {
        state_->run->monitor.update_active();  // the selects it watches
    }
}

FramingOptions Board::framing() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.framing;
}

std::size_t Board::add_timing_check(const TimingCheck &check) {
    switch (check.kind) {
        case TimingCheckKind::ClockRate:
            if (check.limit == 0) {
                throw std::invalid_argument("vboard: a clock-rate check needs a maximum above 0");
            }
            break;
        case TimingCheckKind::Gap:
            check_event(check.from);
            check_event(check.to);
            break;
        default: check_line(check.pin, "timing check on"); break;
    }
    std::lock_guard lock(state_->mutex);
    return state_->run->monitor.add_check(check);
}

std::vector<TimingViolation> Board::violations() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->monitor.violations();
}

std::vector<std::uint64_t> Board::violation_counts() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->monitor.violation_counts();
}

RuleId Board::add_rule(const Rule &rule) {
    std::lock_guard lock(state_->mutex);
    return state_->run->rules.add(rule);
}

void Board::remove_rule(RuleId id) {
    std::lock_guard lock(state_->mutex);
    state_->run->rules.remove(id);
}

std::uint64_t Board::rule_fired(RuleId id) const {
    std::lock_guard lock(state_->mutex);
    return state_->run->rules.fired(id);
}

void Board::set_fidelity(Fidelity fidelity) {
    std::lock_guard lock(state_->mutex);
    state_->settings.fidelity = fidelity;
}

Fidelity Board::fidelity() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.fidelity;
}

void Board::set_model(PiModel model) {
    std::lock_guard lock(state_->mutex);
    state_->settings.model = model;
}

PiModel Board::model() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings.model;
}

void Board::set_time_limit(std::uint64_t limit_ns, TimeLimitHandler handler) {
    std::lock_guard lock(state_->mutex);
    state_->run->clock.set_time_limit(limit_ns, std::move(handler));
}

void Board::clear_time_limit() {
    std::lock_guard lock(state_->mutex);
    state_->run->clock.clear_time_limit();
}

std::size_t Board::call_count() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->recorder.size();
}

void Board::clear_calls() {
    std::lock_guard lock(state_->mutex);
    state_->run->recorder.clear();
}

std::vector<std::string> Board::diagnostics() const {
    std::lock_guard lock(state_->mutex);
    return state_->run->diagnostics.texts();
}

void Board::clear_diagnostics() {
    std::lock_guard lock(state_->mutex);
    state_->run->diagnostics.clear();
}

namespace {
BoardStart g_board_start = nullptr;
}  // namespace

void install_board_start(BoardStart start) { g_board_start = start; }

Board &default_board() {
    // Never destroyed, so wiringPi calls made while the process exits still find a board.
    static Board *const board = [] {
        auto *fresh = new Board;
        if (g_board_start != nullptr) {
            g_board_start(*fresh);
        }
        return fresh;
    }();
    return *board;
}

Board &current_board() {
    Board *board = g_current.load(std::memory_order_acquire);
    return board != nullptr ? *board : default_board();
}

std::atomic<Board::State *> g_current_state{nullptr};
namespace {
std::atomic<Board::State *> g_process_state{nullptr};  // once the process's board is made
}  // namespace

Board::State &current_state_slow() {
    Board *board = g_current.load(std::memory_order_acquire);
    if (board != nullptr) {
        return BoardAccess::core(*board);
    }
    Board::State &state = BoardAccess::core(default_board());  // made once; lives for the process
    g_process_state.store(&state, std::memory_order_release);
    Board::State *none = nullptr;  // a scoped board made meanwhile stays the current one
    g_current_state.compare_exchange_strong(none, &state, std::memory_order_acq_rel);
    return state;
}

ScopedBoard::ScopedBoard(Board &board)
    : previous_(g_current.exchange(&board, std::memory_order_acq_rel)) {
    g_current_state.store(&BoardAccess::core(board), std::memory_order_release);
}

ScopedBoard::~ScopedBoard() {
    g_current.store(previous_, std::memory_order_release);
    g_current_state.store(previous_ != nullptr ? &BoardAccess::core(*previous_)
                                               : g_process_state.load(std::memory_order_acquire),
                          std::memory_order_release);
}

BoardLock &BoardAccess::lock(const Board &board) { return board.state_->mutex; }

DeviceSlot *BoardAccess::device(const Board &board, std::uint64_t id) {
    return board.state_->run->devices.find(id);
}

bool BoardAccess::link_holds_byte_of(const Board &board, const DeviceSlot *slot) {
    return board.state_->run->link.holds_byte_of(slot);
}

LinesAtEnd BoardAccess::lines(const Board &board) {
    const RunState &run = *board.state_->run;
    LinesAtEnd lines;
    for (int pin = 0; pin < kLineCount; ++pin) {
        lines.codes[pin] = alt_code(run.gpio.line(pin).function);
        lines.levels[pin] = run.gpio.level(pin);
    }
    lines.now_ns = run.clock.now();
    return lines;
}

void BoardAccess::end_call(Board &board) { board.state_->call_done(); }

void BoardAccess::finish_outputs(Board &board, bool devices) {
    board.state_->finish_observers(devices);
}

}  // namespace vboard
