// SPDX-License-Identifier: MIT
// The frames of a run: numbered as devices show them, the latest few kept with their pixels, and
// a frame that shows what its device's previous one showed sharing that one's image. Private to
// the library.
#ifndef VBOARD_FRAME_STORE_HPP
#define VBOARD_FRAME_STORE_HPP

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "vboard/frames.hpp"

namespace vboard {

class FrameStore {
  public:
    // Records a frame and returns it; keeps no more than `keep` frames.
    const Frame &add(const std::string &device, std::uint64_t time_ns, std::uint32_t width,
                     std::uint32_t height, std::span<const std::uint8_t> rgb, std::size_t keep) {
        Frame frame;
        frame.index = ++shown_;
        frame.device = device;
        frame.time_ns = time_ns;
        frame.image = same_as_before(device, width, height, rgb);
        if (!frame.image) {
            frame.image = std::make_shared<const Image>(
                Image{width, height, std::vector<std::uint8_t>(rgb.begin(), rgb.end())});
        }
        if (keep == 0) {
            frames_.clear();
            last_ = std::move(frame);
            return last_;
        }
        frames_.push_back(std::move(frame));
        while (frames_.size() > keep) {
            frames_.pop_front();
        }
        return frames_.back();
    }
    std::vector<Frame> frames() const { return {frames_.begin(), frames_.end()}; }

  private:
    std::shared_ptr<const Image> same_as_before(const std::string &device, std::uint32_t width,
                                                std::uint32_t height,
                                                std::span<const std::uint8_t> rgb) const {
        for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
            if (frame->device == device) {
                const Image &image = *frame->image;
                const bool same =
                    image.width == width && image.height == height &&
                    std::equal(rgb.begin(), rgb.end(), image.rgb.begin(), image.rgb.end());
                return same ? frame->image : nullptr;
            }
        }
        return nullptr;
    }

    std::deque<Frame> frames_;
    Frame last_;  // the frame just shown, when none are kept
    std::size_t shown_ = 0;
};

}  // namespace vboard

#endif  // VBOARD_FRAME_STORE_HPP
