// SPDX-License-Identifier: MIT
// Device models from shared objects, through dlopen.

#include "plugin_loader.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace vboard {
namespace {

// The fields every version of the interface has: a model shorter than this is not one.
constexpr std::size_t kMinimumModelSize = offsetof(vb_device_model, reserved);

struct Loaded {
    std::unique_ptr<vb_device_model> model;  // null when loading failed
    std::string problem;
};

std::mutex g_mutex;
std::map<std::string, Loaded> &loaded() {
    static auto *cache = new std::map<std::string, Loaded>;  // lives as long as the libraries
    return *cache;
}

Loaded load(const std::string &path) {
    dlerror();
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *reason = dlerror();
        return {nullptr, "a device model library that loads (" +
                             std::string(reason != nullptr ? reason : "dlopen failed") + ")"};
    }
    void *symbol = dlsym(library, VB_DEVICE_ENTRY_NAME);
    if (symbol == nullptr) {
        dlclose(library);
        return {nullptr, "a library exporting " VB_DEVICE_ENTRY_NAME " (it has no entry point)"};
    }
    vb_device_entry_fn entry = nullptr;
    std::memcpy(&entry, &symbol, sizeof entry);
    const vb_device_model *model = entry(VB_DEVICE_ABI_VERSION);
    if (model == nullptr) {
        return {nullptr, "a model for device ABI version " + std::to_string(VB_DEVICE_ABI_VERSION) +
                             " (the entry point refused it)"};
    }
    if (model->abi_version != VB_DEVICE_ABI_VERSION) {
        return {nullptr, "a model of device ABI version " + std::to_string(VB_DEVICE_ABI_VERSION) +
                             " (it is built for version " + std::to_string(model->abi_version) +
                             ")"};
    }
    if (model->size < kMinimumModelSize) {
        return {nullptr, "a model table of at least " + std::to_string(kMinimumModelSize) +
                             " bytes (it says " + std::to_string(model->size) + ")"};
    }
    auto copy = std::make_unique<vb_device_model>();
    std::memset(copy.get(), 0, sizeof *copy);
    std::memcpy(copy.get(), model, std::min<std::size_t>(model->size, sizeof *copy));
    copy->size = sizeof *copy;
    if (copy->name == nullptr) {
        copy->name = "plugin";
    }
    return {std::move(copy), {}};
}

}  // namespace

const vb_device_model &load_plugin(const DeviceConfig &config) {
    if (config.path.empty()) {
        throw DeviceError(config.file, config.line, config.key + ".path",
                          "the device model library to load (model = \"plugin\" needs path)");
    }
    std::lock_guard lock(g_mutex);
    auto found = loaded().find(config.path);
    if (found == loaded().end()) {
        found = loaded().emplace(config.path, load(config.path)).first;
    }
    if (!found->second.model) {
        throw DeviceError(config.file, config.path_line != 0 ? config.path_line : config.line,
                          config.key + ".path", found->second.problem);
    }
    return *found->second.model;
}

}  // namespace vboard
