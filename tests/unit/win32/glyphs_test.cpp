#include "app/win32/glyphs.h"

#include <gtest/gtest.h>

#include <set>

namespace quorel::ui {
namespace {

constexpr uint8_t kGrey = 8;
constexpr uint8_t kWhite = 15;

struct GlyphCase {
  const char* name;
  const Glyph& (*glyph)();
  std::set<uint8_t> colours;  // the palette indexes its opaque pixels use
};

class GlyphTest : public ::testing::TestWithParam<GlyphCase> {};

TEST(GlyphPalette, OliveIsTheTransparentColour) {
  EXPECT_EQ(kGlyphPalette[kTransparentIndex], (Rgb{128, 128, 0}));
}

TEST_P(GlyphTest, HasAShapeInsideATransparentBorder) {
  const Glyph& glyph = GetParam().glyph();
  int opaque = 0;
  for (int y = 0; y < kGlyphSize; ++y) {
    for (int x = 0; x < kGlyphSize; ++x) {
      if (!glyph.Opaque(x, y)) continue;
      ++opaque;
      EXPECT_TRUE(x > 0 && y > 0 && x < kGlyphSize - 1 && y < kGlyphSize - 1) << x << "," << y;
      EXPECT_TRUE(GetParam().colours.count(glyph.At(x, y))) << x << "," << y;
    }
  }
  EXPECT_GT(opaque, 30);
}

TEST_P(GlyphTest, GreyedImageIsTheShapeInShadowWithAnEmbossedEdge) {
  const Glyph& glyph = GetParam().glyph();
  const Glyph greyed = Greyed(glyph);
  for (int y = 0; y < kGlyphSize; ++y) {
    for (int x = 0; x < kGlyphSize; ++x) {
      const uint8_t pixel = greyed.At(x, y);
      if (glyph.Opaque(x, y)) {
        EXPECT_EQ(pixel, kGrey) << x << "," << y;
      } else if (pixel == kWhite) {
        // A highlight only just below and right of the shape.
        ASSERT_TRUE(x > 0 && y > 0);
        EXPECT_TRUE(glyph.Opaque(x - 1, y - 1)) << x << "," << y;
      } else {
        EXPECT_EQ(pixel, kTransparentIndex) << x << "," << y;
        if (x > 0 && y > 0) {
          EXPECT_FALSE(glyph.Opaque(x - 1, y - 1)) << x << "," << y;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Buttons, GlyphTest,
                         ::testing::Values(GlyphCase{"check", &CheckGlyph, {2, 10}},
                                           GlyphCase{"close", &CloseGlyph, {0}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorel::ui
