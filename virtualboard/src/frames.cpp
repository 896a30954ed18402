// SPDX-License-Identifier: MIT
// Frames as PNG files: writing, reading back, and comparing a run's frames with golden ones.

#include "vboard/frames.hpp"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

namespace vboard {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kMarkRed = 0xFF;

std::string safe_name(const std::string &name) {
    std::string safe = name.empty() ? std::string("device") : name;
    for (char &c : safe) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!keep) {
            c = '_';
        }
    }
    return safe;
}

bool is_frame_file(const std::string &name) {
    return name.size() > 4 && name.ends_with(".png") && !name.ends_with(".diff.png");
}

std::string diff_name(const std::string &name) {
    return name.substr(0, name.size() - 4) + ".diff.png";
}

// A pixel of `image` faded towards white, for the background of a diff image.
void faded(const Image &image, std::uint32_t x, std::uint32_t y, std::uint8_t *out) {
    for (int c = 0; c < 3; ++c) {
        const std::uint8_t value = image.rgb[(std::size_t{y} * image.width + x) * 3 + c];
        out[c] = static_cast<std::uint8_t>(0xFF - (0xFF - value) / 4);
    }
}

bool inside(const Image &image, std::uint32_t x, std::uint32_t y) {
    return x < image.width && y < image.height;
}

bool same_pixel(const Image &a, const Image &b, std::uint32_t x, std::uint32_t y) {
    return a.pixel(x, y) == b.pixel(x, y);
}

}  // namespace

std::string Frame::file_name() const {
    char number[24];
    std::snprintf(number, sizeof number, "%03zu", index);
    return std::string(number) + "-" + safe_name(device) + ".png";
}

void write_png(const std::string &path, const Image &image) {
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() != std::size_t{image.width} * image.height * 3) {
        throw FrameFileError(path + ": cannot write an image of " + std::to_string(image.width) +
                             "x" + std::to_string(image.height) + " pixels");
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr) == 0) {
        const std::string why = png.message;
        png_image_free(&png);
        throw FrameFileError(path + ": cannot write (" + why + ")");
    }
}

std::vector<std::uint8_t> encode_png(const Image &image) {
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() != std::size_t{image.width} * image.height * 3) {
        throw FrameFileError("cannot encode an image of " + std::to_string(image.width) + "x" +
                             std::to_string(image.height) + " pixels");
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&png, nullptr, &size, 0, image.rgb.data(), 0, nullptr) == 0) {
        const std::string why = png.message;
        png_image_free(&png);
        throw FrameFileError("cannot encode a PNG (" + why + ")");
    }
    std::vector<std::uint8_t> bytes(size);
    if (png_image_write_to_memory(&png, bytes.data(), &size, 0, image.rgb.data(), 0, nullptr) ==
        0) {
        const std::string why = png.message;
        png_image_free(&png);
        throw FrameFileError("cannot encode a PNG (" + why + ")");
    }
    bytes.resize(size);
    return bytes;
}

Image read_png(const std::string &path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        throw FrameFileError(path + ": " +
                             (fs::exists(path, error) ? "not a file" : "no such file"));
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
        const std::string why = png.message;
        png_image_free(&png);
        throw FrameFileError(path + ": not a PNG image (" + why + ")");
    }
    png.format = PNG_FORMAT_RGB;
    Image image;
    image.width = png.width;
    image.height = png.height;
    image.rgb.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr) == 0) {
        const std::string why = png.message;
        png_image_free(&png);
        throw FrameFileError(path + ": not a PNG image (" + why + ")");
    }
    return image;
}

FrameWriter::FrameWriter(std::string directory) : directory_(std::move(directory)) {}

void FrameWriter::event(const RunEvent &event) {
    if (event.kind != RunEventKind::Frame) {
        return;
    }
    const Frame &frame = *event.frame;
    if (!frame.image) {
        return;
    }
    try {
        write_png(directory_ + "/" + frame.file_name(), *frame.image);
        ++written_;
    } catch (const FrameFileError &error) {
        if (failure_.empty()) {
            failure_ = error.what();
        }
    }
}

std::vector<std::string> list_frames(const std::string &directory) {
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    if (error) {
        throw FrameFileError(directory + ": cannot read the frames directory (" + error.message() +
                             ")");
    }
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : entries) {
        const std::string name = entry.path().filename().string();
        if (is_frame_file(name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void check_frame_dir(const std::string &directory) {
    std::error_code error;
    if (!fs::is_directory(directory, error)) {
        throw FrameFileError(
            directory + ": " +
            (fs::exists(directory, error) ? "not a directory of frames" : "no such directory"));
    }
    for (const std::string &name : list_frames(directory)) {
        read_png(directory + "/" + name);
    }
}

std::string FrameDifference::describe() const {
    switch (kind) {
        case Kind::Missing: return name + ": missing (expected, not in the run)";
        case Kind::Extra: return name + ": extra (in the run, not expected)";
        case Kind::Size:
            return name + ": " + std::to_string(width) + "x" + std::to_string(height) +
                   ", expected " + std::to_string(expected_width) + "x" +
                   std::to_string(expected_height);
        case Kind::Pixels: break;
    }
    return name + ": " + std::to_string(pixels) +
           (pixels == 1 ? " pixel differs" : " pixels differ") + " in (" + std::to_string(left) +
           "," + std::to_string(top) + ")-(" + std::to_string(right) + "," +
           std::to_string(bottom) + ")";
}

Image diff_image(const Image &expected, const Image &got) {
    Image diff;
    diff.width = std::max(expected.width, got.width);
    diff.height = std::max(expected.height, got.height);
    diff.rgb.assign(std::size_t{diff.width} * diff.height * 3, 0xFF);
    for (std::uint32_t y = 0; y < diff.height; ++y) {
        for (std::uint32_t x = 0; x < diff.width; ++x) {
            std::uint8_t *out = &diff.rgb[(std::size_t{y} * diff.width + x) * 3];
            const bool in_got = inside(got, x, y);
            if (in_got && inside(expected, x, y) && same_pixel(expected, got, x, y)) {
                faded(got, x, y, out);
            } else {
                out[0] = kMarkRed;
                out[1] = 0;
                out[2] = 0;
            }
        }
    }
    return diff;
}

std::vector<FrameDifference> compare_frame_dirs(const std::string &expected_directory,
                                                const std::string &got_directory,
                                                const FrameCompareOptions &options) {
    const std::vector<std::string> expected = list_frames(expected_directory);
    const std::vector<std::string> got = list_frames(got_directory);
    std::set<std::string> names(expected.begin(), expected.end());
    names.insert(got.begin(), got.end());
    std::vector<FrameDifference> differences;
    for (const std::string &name : names) {
        FrameDifference difference;
        difference.name = name;
        const bool expected_has = std::binary_search(expected.begin(), expected.end(), name);
        const bool got_has = std::binary_search(got.begin(), got.end(), name);
        if (!got_has || !expected_has) {
            difference.kind =
                got_has ? FrameDifference::Kind::Extra : FrameDifference::Kind::Missing;
            differences.push_back(difference);
            continue;
        }
        const Image want = read_png(expected_directory + "/" + name);
        const Image have = read_png(got_directory + "/" + name);
        if (want.width != have.width || want.height != have.height) {
            difference.kind = FrameDifference::Kind::Size;
            difference.expected_width = want.width;
            difference.expected_height = want.height;
            difference.width = have.width;
            difference.height = have.height;
        } else {
            difference.left = have.width;
            difference.top = have.height;
            for (std::uint32_t y = 0; y < have.height; ++y) {
                for (std::uint32_t x = 0; x < have.width; ++x) {
                    if (!same_pixel(want, have, x, y)) {
                        ++difference.pixels;
                        difference.left = std::min(difference.left, x);
                        difference.top = std::min(difference.top, y);
                        difference.right = std::max(difference.right, x);
                        difference.bottom = std::max(difference.bottom, y);
                    }
                }
            }
            if (difference.pixels <= options.tolerance) {
                continue;
            }
        }
        if (!options.diff_directory.empty()) {
            difference.diff_file = options.diff_directory + "/" + diff_name(name);
            write_png(difference.diff_file, diff_image(want, have));
        }
        differences.push_back(difference);
    }
    return differences;
}

}  // namespace vboard
