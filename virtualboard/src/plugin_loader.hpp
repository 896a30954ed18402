// SPDX-License-Identifier: MIT
// Loads device models from shared objects and finds the board's own by name. Private to the
// library.
#ifndef VBOARD_PLUGIN_LOADER_HPP
#define VBOARD_PLUGIN_LOADER_HPP

#include <string>

#include "vboard/device.h"
#include "vboard/device.hpp"

namespace vboard {

// The model `config` names: a built-in one, or the plug-in at config.path, loaded once per process
// and kept loaded. The table returned is the board's copy, padded with NULLs past the model's size.
// Throws DeviceError (key "<device>.path" or "<device>.model") for an unknown model, a library that
// cannot be loaded, one with no entry point, or one whose model has another ABI version.
const vb_device_model &find_model(const DeviceConfig &config);

}  // namespace vboard

#endif  // VBOARD_PLUGIN_LOADER_HPP
