// SPDX-License-Identifier: MIT
// Frames: what a display device shows, as the board records it. A device model publishes a frame
// through its host (vb_frame in vboard/device.h); the board numbers it, keeps the latest ones
// (Board::frames) and hands each to the run's observers (vboard/run_observer.hpp), among them
// FrameWriter, which writes it as
// "NNN-DEVICE.png". Golden frames are compared directory against directory (compare_frame_dirs),
// pixel-exact or within a tolerance, with a diff image for each frame that differs.
#ifndef VBOARD_FRAMES_HPP
#define VBOARD_FRAMES_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vboard/export.h"
#include "vboard/run_observer.hpp"

namespace vboard {

// An image of 8-bit RGB pixels, row by row from the top left, 3 bytes a pixel.
struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;

    // 0xRRGGBB of the pixel at (x, y), which must be inside the image.
    std::uint32_t pixel(std::uint32_t x, std::uint32_t y) const {
        const std::size_t at = (std::size_t{y} * width + x) * 3;
        return std::uint32_t{rgb[at]} << 16 | std::uint32_t{rgb[at + 1]} << 8 | rgb[at + 2];
    }
};

struct VBOARD_EXPORT Frame {
    std::size_t index = 0;  // 1, 2, ... in the order the run's devices showed them
    std::string device;     // the device's name
    std::uint64_t time_ns = 0;
    // The pixels, never null. A frame that shows what its device's previous frame showed shares
    // that frame's image.
    std::shared_ptr<const Image> image;

    // "NNN-DEVICE.png": the index in three digits or more, the device's name with any character
    // other than a letter, a digit, '-', '_' or '.' replaced by '_'.
    std::string file_name() const;
};

// A PNG file that cannot be read or written: what() is one line naming the file.
class VBOARD_EXPORT FrameFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Writes `image` as an 8-bit RGB PNG. Throws FrameFileError.
VBOARD_EXPORT void write_png(const std::string &path, const Image &image);
// The same PNG in memory. Throws FrameFileError for an empty or inconsistent image.
VBOARD_EXPORT std::vector<std::uint8_t> encode_png(const Image &image);
// Reads a PNG of any colour type and depth, converted to 8-bit RGB (alpha dropped). Throws
// FrameFileError when the file cannot be read or is not a PNG image.
VBOARD_EXPORT Image read_png(const std::string &path);

// Writes each frame it is told of into a directory, which must exist: "DIR/NNN-DEVICE.png". A
// frame that cannot be written is reported once by failure() and the rest are still tried.
class VBOARD_EXPORT FrameWriter final : public RunObserver {
  public:
    explicit FrameWriter(std::string directory);
    unsigned interests() const override { return kWatchFrames; }
    void event(const RunEvent &event) override;
    // Empty while every frame was written; else the first error, naming the file.
    const std::string &failure() const { return failure_; }
    std::size_t written() const { return written_; }

  private:
    std::string directory_;
    std::string failure_;
    std::size_t written_ = 0;
};

// The frame files of a directory: its "*.png" entries other than "*.diff.png", by name. Throws
// FrameFileError when the directory cannot be read.
VBOARD_EXPORT std::vector<std::string> list_frames(const std::string &directory);
// Checks that a golden directory can be used: it can be read and every frame file in it is a PNG
// image. Throws FrameFileError with one line naming the directory or the file.
VBOARD_EXPORT void check_frame_dir(const std::string &directory);

struct VBOARD_EXPORT FrameDifference {
    enum class Kind : std::uint8_t {
        Pixels,   // both have the frame and more pixels differ than the tolerance allows
        Size,     // both have the frame, in different sizes
        Missing,  // expected, not in the run
        Extra,    // in the run, not expected
    };
    std::string name;  // "001-panel.png"
    Kind kind = Kind::Pixels;
    std::size_t pixels = 0;  // Pixels: how many differ
    // Pixels: the bounding box of the differing pixels, inclusive.
    std::uint32_t left = 0, top = 0, right = 0, bottom = 0;
    // Size: the run's frame and the expected one.
    std::uint32_t width = 0, height = 0, expected_width = 0, expected_height = 0;
    std::string diff_file;  // Pixels and Size: the diff image written, when one was

    // One line: "001-panel.png: 12 pixels differ in (3,4)-(10,9)", "...: missing (expected, not
    // in the run)", "...: extra (in the run, not expected)", "...: 200x200, expected 128x64".
    std::string describe() const;
};

struct FrameCompareOptions {
    std::size_t tolerance = 0;  // differing pixels allowed in each frame
    // Where to write "NNN-DEVICE.diff.png" for each frame that differs ("": nowhere).
    std::string diff_directory;
};

// The differing pixels marked in red over a faded copy of `got`; where the sizes differ, the
// larger of the two, with the part outside either image marked.
VBOARD_EXPORT Image diff_image(const Image &expected, const Image &got);

// Compares every frame of `got_directory` with the file of the same name in
// `expected_directory`. Empty when they agree. Throws FrameFileError when a directory or a frame
// cannot be read, or a diff image cannot be written.
VBOARD_EXPORT std::vector<FrameDifference> compare_frame_dirs(
    const std::string &expected_directory, const std::string &got_directory,
    const FrameCompareOptions &options = {});

}  // namespace vboard

#endif  // VBOARD_FRAMES_HPP
