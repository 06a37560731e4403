#pragma once
// Glyphs as signed distance fields: an outline the font library gives is filled by Qt's painter
// at kFieldOversample times the field's resolution, and the distance of each field texel to the
// filled shape's edge is taken from an exact Euclidean distance transform of that image. A
// field, drawn at any size with a threshold at one half, gives edges as sharp as the screen.
//
// Conventions: field pixels are the pixels of the font at kFieldSize pixels an em; y runs down
// from the glyph's origin on the baseline; a texel holds 255 deep inside, 0 far outside, and
// crosses one half on the edge, falling linearly over kFieldSpread field pixels on each side.

#include <cstdint>
#include <vector>

class QPainterPath;

// The pixel size glyphs are stored at, whatever size they are drawn at.
constexpr int kFieldSize = 32;
// How much finer than the field the outline is filled before its distances are taken.
constexpr int kFieldOversample = 4;
// Field pixels on each side of an edge over which the distance is told apart.
constexpr int kFieldSpread = 4;

struct DistanceGlyph {
    // The field's texels cover [left, left + width) x [top, top + height) in field pixels.
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> texels;  // row by row from the top
};

// The field of an outline given at kFieldSize * kFieldOversample pixels an em; an empty glyph
// (a space) for an empty outline. An outline whose field would be more than largest texels
// wide or tall (a broken font's, which can be thousands of ems) gets a size past largest and
// no texels, without being filled.
DistanceGlyph MakeDistanceGlyph(const QPainterPath& outline, int largest);
