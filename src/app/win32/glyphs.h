// The button glyphs: 18 x 18 pixel images in the 16 colours of the standard VGA palette, with
// olive as the transparent colour, and the greyed variant shown while a button is disabled.
#pragma once

#include <array>
#include <cstdint>

namespace quorel::ui {

struct Rgb {
  uint8_t red, green, blue;
  bool operator==(const Rgb&) const = default;
};

// The 16 colours a glyph may use, by palette index.
extern const std::array<Rgb, 16> kGlyphPalette;
// Olive: pixels of this index are not drawn.
constexpr uint8_t kTransparentIndex = 3;

constexpr int kGlyphSize = 18;

struct Glyph {
  std::array<uint8_t, kGlyphSize * kGlyphSize> pixels{};  // palette indexes, row by row

  uint8_t At(int x, int y) const { return pixels[y * kGlyphSize + x]; }
  bool Opaque(int x, int y) const { return At(x, y) != kTransparentIndex; }
};

// The green check mark of the Update button.
const Glyph& CheckGlyph();
// The close glyph (a cross) of the Close button.
const Glyph& CloseGlyph();

// The disabled look of a glyph: its shape in the shadow colour, embossed with the highlight
// colour one pixel below and to the right, everything else transparent.
Glyph Greyed(const Glyph& glyph);

}  // namespace quorel::ui
