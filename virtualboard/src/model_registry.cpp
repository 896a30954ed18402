// SPDX-License-Identifier: MIT
// The board's own device models by name, and the resolver of a device's model.

#include "model_registry.hpp"

#include <array>

#include "models/builtin_models.h"
#include "plugin_loader.hpp"
#include "recording_device.hpp"

namespace vboard {
namespace {

constexpr std::string_view kPluginModel = "plugin";

constexpr std::array kBuiltinModels{
    BuiltinModel{.name = "echo", .entry = vb_echo_model},
    BuiltinModel{.name = "replies", .entry = vb_replies_model},
    BuiltinModel{.name = "registers", .entry = vb_registers_model},
    BuiltinModel{.name = "tft", .entry = vb_tft_model},
    BuiltinModel{.name = "ssd16xx", .entry = vb_ssd16xx_model},
    BuiltinModel{.name = "uc81xx", .entry = vb_uc81xx_model},
};

}  // namespace

std::span<const BuiltinModel> builtin_models() { return kBuiltinModels; }

const vb_device_model *find_builtin_model(std::string_view name) {
    for (const BuiltinModel &model : kBuiltinModels) {
        if (model.name == name) {
            return model.entry();
        }
    }
    return nullptr;
}

bool is_model_name(std::string_view name) {
    return name == kPluginModel || name == kRecordingModel || find_builtin_model(name) != nullptr;
}

std::string model_choices() {
    std::string choices;
    for (const BuiltinModel &model : kBuiltinModels) {
        choices += '"' + std::string(model.name) + "\", ";
    }
    return choices + "\"" + kRecordingModel + "\" or \"" + std::string(kPluginModel) + '"';
}

const vb_device_model &resolve_model(const DeviceConfig &config) {
    if (const vb_device_model *model = find_builtin_model(config.model)) {
        return *model;
    }
    if (config.model != kPluginModel) {
        throw DeviceError(config.file, config.line, config.key + ".model", model_choices());
    }
    return load_plugin(config);
}

}  // namespace vboard
