// Real Data Matrix photographs and scans (shared/photos/datamatrix-*: printed and marked symbols,
// the rectangular extension sizes, GS1 and macro content), each read at 0, 90, 180 and 270
// degrees through the front door with the default options: the exact text (or bytes) of its
// truth file, the symbology identifier where a .result.txt names one, and never another text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "idut/read.hpp"
#include "imageio/imageio.hpp"
#include "support/photos.hpp"

namespace {

namespace fs = std::filesystem;

TEST(DataMatrixPhotos, EveryPhotoReadsAtFourRotations) {
  const fs::path root = IDUT_PHOTOS_DIR;
  std::error_code error;
  if (!fs::is_directory(root / "datamatrix-2", error)) GTEST_SKIP() << "no photographs at " << root;
  int pictures = 0, read = 0;
  std::vector<std::string> misses;
  for (const char* folder : {"datamatrix-2", "datamatrix-4"}) {
    std::vector<fs::path> images;
    for (const auto& e : fs::directory_iterator(root / folder)) {
      const std::string ext = e.path().extension().string();
      if (ext == ".png" || ext == ".jpg" || ext == ".webp") images.push_back(e.path());
    }
    std::sort(images.begin(), images.end());
    for (const fs::path& image : images) {
      fs::path truthFile = image, resultFile = image;
      truthFile.replace_extension(".txt");
      resultFile.replace_extension(".result.txt");
      const bool binary = !fs::exists(truthFile);
      if (binary) truthFile.replace_extension(".bin");
      ASSERT_TRUE(fs::exists(truthFile)) << image;
      const std::string truth = fileText(truthFile);
      std::string identifier;
      if (fs::exists(resultFile)) {
        const std::string r = fileText(resultFile);
        const size_t at = r.find("symbologyIdentifier=");
        if (at != std::string::npos) identifier = r.substr(at + 20, 3);
      }
      imageio::GreyImage grey;
      std::string why;
      ASSERT_TRUE(imageio::readGrey(image.string(), &grey, &why)) << why;
      for (int quarters = 0; quarters < 4; ++quarters) {
        const imageio::GreyImage g = turnedClockwise(grey, quarters);
        const auto symbols = idut::readSymbols(idut::ImageView(g.pixels.data(), g.width, g.height, g.width));
        const std::string where = image.filename().string() + " turned " + std::to_string(90 * quarters);
        bool ok = false;
        for (const idut::Symbol& s : symbols) {
          if (!s.decoded || s.symbology != idut::Symbology::DataMatrix) continue;
          std::string text = binary ? std::string(s.bytes.begin(), s.bytes.end()) : s.text;
          // GS1 truths are written without the symbology identifier the text starts with.
          if (s.contentType == idut::ContentType::GS1 && text.rfind("]d2", 0) == 0) text = text.substr(3);
          EXPECT_EQ(text, truth) << where << ": a wrong text";
          if (text != truth) continue;
          ok = true;
          if (!identifier.empty()) {
            EXPECT_EQ(s.symbologyIdentifier, identifier) << where;
          }
        }
        ++pictures;
        read += ok;
        if (!ok) misses.push_back(where);
      }
    }
  }
  std::printf("Data Matrix photographs read: %d of %d pictures\n", read, pictures);
  for (const std::string& m : misses) std::printf("  not read: %s\n", m.c_str());
  ASSERT_GT(pictures, 0);
  EXPECT_EQ(read, pictures);
}

}  // namespace
