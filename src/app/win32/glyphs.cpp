#include "app/win32/glyphs.h"

#include <string_view>

namespace quorel::ui {

const std::array<Rgb, 16> kGlyphPalette = {{
    {0, 0, 0},        // 0 black
    {128, 0, 0},      // 1 maroon
    {0, 128, 0},      // 2 green
    {128, 128, 0},    // 3 olive (transparent)
    {0, 0, 128},      // 4 navy
    {128, 0, 128},    // 5 purple
    {0, 128, 128},    // 6 teal
    {192, 192, 192},  // 7 silver
    {128, 128, 128},  // 8 grey
    {255, 0, 0},      // 9 red
    {0, 255, 0},      // 10 lime
    {255, 255, 0},    // 11 yellow
    {0, 0, 255},      // 12 blue
    {255, 0, 255},    // 13 fuchsia
    {0, 255, 255},    // 14 aqua
    {255, 255, 255},  // 15 white
}};

namespace {

constexpr uint8_t kBlack = 0;
constexpr uint8_t kGreen = 2;
constexpr uint8_t kGrey = 8;
constexpr uint8_t kLime = 10;
constexpr uint8_t kWhite = 15;

// One character per pixel: '.' transparent, 'g' green, 'L' lime, 'k' black.
using Rows = std::array<std::string_view, kGlyphSize>;

constexpr Rows kCheckRows = {
    "..................",  //
    "..................",  //
    "..................",  //
    ".............ggg..",  //
    "............gLLg..",  //
    "...........ggLLg..",  //
    "...........gLLLg..",  //
    "..........gLLLg...",  //
    "..ggg....gLLLg....",  //
    "..gLLg..gLLLg.....",  //
    "..gLLLggLLLg......",  //
    "..gLLLLLLLg.......",  //
    "...gLLLLLgg.......",  //
    "....gLLLgg........",  //
    ".....gggg.........",  //
    "..................",  //
    "..................",  //
    "..................",  //
};

constexpr Rows kCloseRows = {
    "..................",  //
    "..................",  //
    "..................",  //
    "....k........k....",  //
    "...kkk......kkk...",  //
    "....kkk....kkk....",  //
    ".....kkk..kkk.....",  //
    "......kkkkkk......",  //
    ".......kkkk.......",  //
    ".......kkkk.......",  //
    "......kkkkkk......",  //
    ".....kkk..kkk.....",  //
    "....kkk....kkk....",  //
    "...kkk......kkk...",  //
    "....k........k....",  //
    "..................",  //
    "..................",  //
    "..................",  //
};

Glyph FromRows(const Rows& rows) {
  Glyph glyph;
  for (int y = 0; y < kGlyphSize; ++y) {
    for (int x = 0; x < kGlyphSize; ++x) {
      uint8_t index = kTransparentIndex;
      switch (rows[y][x]) {
        case 'g':
          index = kGreen;
          break;
        case 'L':
          index = kLime;
          break;
        case 'k':
          index = kBlack;
          break;
        default:
          break;
      }
      glyph.pixels[y * kGlyphSize + x] = index;
    }
  }
  return glyph;
}

}  // namespace

const Glyph& CheckGlyph() {
  static const Glyph glyph = FromRows(kCheckRows);
  return glyph;
}

const Glyph& CloseGlyph() {
  static const Glyph glyph = FromRows(kCloseRows);
  return glyph;
}

Glyph Greyed(const Glyph& glyph) {
  Glyph out;
  out.pixels.fill(kTransparentIndex);
  for (int y = 0; y < kGlyphSize; ++y) {
    for (int x = 0; x < kGlyphSize; ++x) {
      if (!glyph.Opaque(x, y)) continue;
      out.pixels[y * kGlyphSize + x] = kGrey;
      const int hx = x + 1;
      const int hy = y + 1;
      if (hx < kGlyphSize && hy < kGlyphSize && !glyph.Opaque(hx, hy)) {
        out.pixels[hy * kGlyphSize + hx] = kWhite;
      }
    }
  }
  return out;
}

}  // namespace quorel::ui
