// The thumbnailer as file managers run it: a PNG of the intra picture before a tenth of the
// recording, as the conversion shows that frame, made small.
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "gst/GstTestSupport.h"
#include "gst/Thumbnail.h"

namespace zentrova::gst::testing {
namespace {

using zentrova::testing::TempDir;

std::vector<uint8_t> ReadPng(const std::string& path, int* width, int* height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_BGR;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return pixels;
}

TEST(Thumbnailer, ShowsTheIntraPictureBeforeATenthOfTheRecordingAsTheConversionHasIt) {
  TempDir dir;
  const std::string zr = dir.file("cam.zr");
  // Intra pictures at 0, 6, 12, ...; blocks of 4 frames. A tenth is frame 10, whose block (8..11)
  // holds no intra picture before it: the one at 6 sits in the block before.
  RecordingSpec spec{3, 257, 100, true, 6, 4};
  MakeRecording(zr, spec);
  const auto frame = ThumbnailFrame(zr);
  ASSERT_TRUE(frame) << frame.reason();
  EXPECT_EQ(*frame, 6u);

  const RawConversion raw = ConvertRaw(zr, dir.file("cam.avi"));
  ASSERT_EQ(raw.frames.size(), 100u);
  const std::string png = dir.file("cam.png");
  const std::string command = std::string(ZENTROVA_THUMBNAILER) + " -s 128 \"" + zr + "\" \"" + png + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0);
  int width = 0, height = 0;
  const std::vector<uint8_t> pixels = ReadPng(png, &width, &height);
  int expectedWidth = 0, expectedHeight = 0;
  const std::vector<uint8_t> expected =
      Shrink(Flip(raw.frames[6], raw.width, raw.height), raw.width, raw.height, 128, &expectedWidth, &expectedHeight);
  EXPECT_EQ(width, 128);
  EXPECT_EQ(height, 96);  // 640 x 480 after line doubling
  EXPECT_EQ(width, expectedWidth);
  EXPECT_EQ(height, expectedHeight);
  EXPECT_TRUE(pixels == expected);
}

TEST(Thumbnailer, ARecordingItCannotReadGivesAFailureAndNoPicture) {
  TempDir dir;
  const std::string text = dir.file("notes.zr");
  { std::ofstream(text) << "ZR notes, not a recording\n"; }
  const std::string png = dir.file("notes.png");
  const std::string command =
      std::string(ZENTROVA_THUMBNAILER) + " -s 128 \"" + text + "\" \"" + png + "\" 2>/dev/null";
  EXPECT_NE(std::system(command.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(png));
}

}  // namespace
}  // namespace zentrova::gst::testing
