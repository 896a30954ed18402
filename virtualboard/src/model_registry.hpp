// SPDX-License-Identifier: MIT
// The board's own device models by name, and how a device's model is found: a built-in one, else
// a plug-in. Private to the library.
#ifndef VBOARD_MODEL_REGISTRY_HPP
#define VBOARD_MODEL_REGISTRY_HPP

#include <span>
#include <string>
#include <string_view>

#include "vboard/device.h"
#include "vboard/device.hpp"

namespace vboard {

struct BuiltinModel {
    std::string_view name;
    const vb_device_model *(*entry)(void);
};

// Every built-in model, in the order messages list them.
std::span<const BuiltinModel> builtin_models();
// The model a device names, or null when no built-in model has that name.
const vb_device_model *find_builtin_model(std::string_view name);
// Whether a device may name this model: a built-in one, or "plugin".
bool is_model_name(std::string_view name);
// What a model may be named, for messages: "\"echo\", ..., \"uc81xx\" or \"plugin\"".
std::string model_choices();

// Finds the model `config` names: the built-ins, then (model "plugin") the library at
// config.path. Throws DeviceError as load_plugin() does, or naming "<device>.model" with
// model_choices() for an unknown name. This is the resolver a board hands its devices.
const vb_device_model &resolve_model(const DeviceConfig &config);

}  // namespace vboard

#endif  // VBOARD_MODEL_REGISTRY_HPP
