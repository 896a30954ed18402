// SPDX-License-Identifier: MIT
// Frames as files: PNG written and read back, golden directories checked and compared, and the
// diff image.

#include <gmock/gmock.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "vboard/frames.hpp"

using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

namespace fs = std::filesystem;
using Kind = vboard::FrameDifference::Kind;

vboard::Image image(std::uint32_t width, std::uint32_t height, std::uint8_t shade) {
    return {width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3, shade)};
}

void set(vboard::Image &img, std::uint32_t x, std::uint32_t y, std::uint32_t rgb) {
    std::uint8_t *p = &img.rgb[(std::size_t{y} * img.width + x) * 3];
    p[0] = static_cast<std::uint8_t>(rgb >> 16);
    p[1] = static_cast<std::uint8_t>(rgb >> 8);
    p[2] = static_cast<std::uint8_t>(rgb);
}

class FramesTest : public ::testing::Test {
  protected:
    fs::path dir = fs::temp_directory_path() /
                   ("vboard-frames-test-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string expected = (dir / "expected").string();
    std::string got = (dir / "got").string();

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(expected);
        fs::create_directories(got);
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(FramesTest, APngReadsBackAsItWasWritten) {
    vboard::Image written = image(3, 2, 0x40);
    set(written, 2, 1, 0x12AB34);
    const std::string path = got + "/001-panel.png";
    vboard::write_png(path, written);
    const vboard::Image read = vboard::read_png(path);
    EXPECT_EQ(read.width, 3U);
    EXPECT_EQ(read.height, 2U);
    EXPECT_EQ(read.rgb, written.rgb);
    EXPECT_EQ(read.pixel(2, 1), 0x12AB34U);
}

TEST_F(FramesTest, UnusableFilesAndDirectoriesAreRefusedNamingThem) {
    std::ofstream(expected + "/002-panel.png") << "not an image";
    EXPECT_THROW(vboard::read_png(expected + "/002-panel.png"), vboard::FrameFileError);
    try {
        vboard::check_frame_dir(expected);
        FAIL() << "accepted";
    } catch (const vboard::FrameFileError &error) {
        EXPECT_THAT(error.what(), HasSubstr("002-panel.png: not a PNG image"));
    }
    EXPECT_THROW(vboard::check_frame_dir((dir / "none").string()), vboard::FrameFileError);
    EXPECT_THROW(vboard::check_frame_dir(expected + "/002-panel.png"), vboard::FrameFileError);
    EXPECT_THROW(vboard::write_png(got + "/x.png", vboard::Image{}), vboard::FrameFileError);
    EXPECT_THROW(vboard::write_png((dir / "none/x.png").string(), image(1, 1, 0)),
                 vboard::FrameFileError);
}

TEST_F(FramesTest, ComparingFindsEachKindOfDifferenceAndWritesDiffImages) {
    vboard::Image base = image(8, 6, 0xFF);
    vboard::write_png(expected + "/001-a.png", base);
    vboard::write_png(expected + "/002-b.png", base);
    vboard::write_png(expected + "/003-c.png", base);
    vboard::write_png(expected + "/004-d.png", base);
    vboard::write_png(got + "/001-a.png", base);  // the same
    vboard::Image changed = base;
    set(changed, 2, 1, 0);
    set(changed, 5, 4, 0);
    vboard::write_png(got + "/002-b.png", changed);
    vboard::write_png(got + "/003-c.png", image(4, 6, 0xFF));
    vboard::write_png(got + "/005-e.png", base);
    std::ofstream(got + "/002-b.diff.png") << "an old diff image is not a frame";

    const auto differences = vboard::compare_frame_dirs(expected, got, {0, got});
    ASSERT_EQ(differences.size(), 4U);
    EXPECT_EQ(differences[0].describe(), "002-b.png: 2 pixels differ in (2,1)-(5,4)");
    EXPECT_EQ(differences[1].describe(), "003-c.png: 4x6, expected 8x6");
    EXPECT_EQ(differences[2].describe(), "004-d.png: missing (expected, not in the run)");
    EXPECT_EQ(differences[3].describe(), "005-e.png: extra (in the run, not expected)");
    EXPECT_EQ(differences[0].kind, Kind::Pixels);
    EXPECT_EQ(differences[0].diff_file, got + "/002-b.diff.png");

    const vboard::Image diff = vboard::read_png(got + "/002-b.diff.png");
    EXPECT_EQ(diff.pixel(2, 1), 0xFF0000U);
    EXPECT_EQ(diff.pixel(5, 4), 0xFF0000U);
    EXPECT_EQ(diff.pixel(0, 0), 0xFFFFFFU);  // white stays white when faded
    const vboard::Image sizes = vboard::read_png(got + "/003-c.diff.png");
    EXPECT_EQ(sizes.width, 8U);
    EXPECT_EQ(sizes.pixel(6, 0), 0xFF0000U);  // outside the smaller image

    EXPECT_THAT(vboard::compare_frame_dirs(expected + "/", expected), IsEmpty());
    fs::remove(expected + "/003-c.png");
    fs::remove(got + "/003-c.png");
    fs::remove(got + "/005-e.png");
    vboard::write_png(got + "/004-d.png", base);
    EXPECT_THAT(vboard::compare_frame_dirs(expected, got, {2, ""}), IsEmpty());  // tolerance 2
    EXPECT_EQ(vboard::compare_frame_dirs(expected, got, {1, ""}).size(), 1U);
}

TEST(FrameNames, AreNumberedAndSafeForAFileName) {
    vboard::Frame frame;
    frame.index = 7;
    frame.device = "left/panel 1";
    EXPECT_EQ(frame.file_name(), "007-left_panel_1.png");
    frame.index = 1234;
    frame.device = "";
    EXPECT_EQ(frame.file_name(), "1234-device.png");
}

}  // namespace
