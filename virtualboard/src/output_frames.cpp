// SPDX-License-Identifier: MIT
// The frames output: each frame a display showed, as a PNG file.

#include "output_modules.hpp"
#include "vboard/frames.hpp"

namespace vboard {

const OutputModule kFramesOutput{
    .setting = RunSetting::Frames,
    .path = &RunConfig::frames,
    .option = "--frames",
    .argument = "DIR",
    .help = "write each frame a display device showed as DIR/NNN-DEVICE.png (DIR must exist)",
    .open = [](const RunConfig &config, const BoardFile *) -> std::shared_ptr<RunObserver> {
        return std::make_shared<FrameWriter>(config.frames);
    },
    .finish = [](RunObserver &observer, const RunConfig &,
                 const std::string &) -> std::optional<std::string> {
        const std::string &failure = static_cast<FrameWriter &>(observer).failure();
        return failure.empty() ? std::nullopt : std::optional<std::string>(failure);
    },
};

}  // namespace vboard
