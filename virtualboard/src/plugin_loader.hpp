// SPDX-License-Identifier: MIT
// Loads device models from shared objects. Private to the library.
#ifndef VBOARD_PLUGIN_LOADER_HPP
#define VBOARD_PLUGIN_LOADER_HPP

#include <string>

#include "vboard/device.h"
#include "vboard/device.hpp"

namespace vboard {

// The plug-in at config.path, loaded once per process and kept loaded. The table returned is the
// board's copy, padded with NULLs past the model's size. Throws DeviceError (key "<device>.path")
// for no path, a library that cannot be loaded, one with no entry point, or one whose model has
// another ABI version.
const vb_device_model &load_plugin(const DeviceConfig &config);

}  // namespace vboard

#endif  // VBOARD_PLUGIN_LOADER_HPP
