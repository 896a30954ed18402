// SPDX-License-Identifier: MIT
// The Raspberry Pi models the board can be.

#include "vboard/pi_model.hpp"

#include <array>

namespace vboard {
namespace {

struct ModelRow {
    PiModel model;
    const char *name;
    const char *title;
    std::uint32_t revision;
};

// One common variant of each, as its revision code has it.
constexpr std::array<ModelRow, 6> kModels{{
    {PiModel::Pi3B, "pi3b", "Raspberry Pi 3 Model B", 0xa02082},       // 1 GB, rev 1.2
    {PiModel::Pi4B, "pi4b", "Raspberry Pi 4 Model B", 0xc03114},       // 4 GB, rev 1.4
    {PiModel::Pi400, "pi400", "Raspberry Pi 400", 0xc03130},           // 4 GB, rev 1.0
    {PiModel::Zero2W, "zero2w", "Raspberry Pi Zero 2 W", 0x902120},    // 512 MB, rev 1.0
    {PiModel::Pi5, "pi5", "Raspberry Pi 5", 0xd04170},                 // 8 GB, rev 1.0
    {PiModel::Cm4, "cm4", "Raspberry Pi Compute Module 4", 0xb03140},  // 2 GB, rev 1.0
}};

const ModelRow &row(PiModel model) { return kModels[static_cast<std::size_t>(model)]; }

}  // namespace

const char *to_string(PiModel model) { return row(model).name; }
const char *pi_model_title(PiModel model) { return row(model).title; }
std::uint32_t revision_code(PiModel model) { return row(model).revision; }

std::optional<PiModel> pi_model_named(std::string_view name) {
    for (const ModelRow &model : kModels) {
        if (name == model.name) {
            return model.model;
        }
    }
    return std::nullopt;
}

std::string pi_model_choices() {
    std::string text;
    for (std::size_t i = 0; i < kModels.size(); ++i) {
        text += i == 0 ? "" : i + 1 == kModels.size() ? " or " : ", ";
        text += std::string("\"") + kModels[i].name + "\"";
    }
    return text;
}

}  // namespace vboard
