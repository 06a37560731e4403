#pragma once
// The glyphs numbers are made of, drawn once side by side into one texture, so that a number that
// changes on every frame (a count, a time, a frame's cost) is drawn without laying out any text.

#include <QString>

#include <vector>

#include "world/textlabel.h"

class GlyphAtlas {
public:
    // The glyphs it will hold, each a single character.
    explicit GlyphAtlas(const QString& glyphs);
    // Frees the texture: its context must be current.
    ~GlyphAtlas();
    GlyphAtlas(const GlyphAtlas&) = delete;
    GlyphAtlas& operator=(const GlyphAtlas&) = delete;

    // Draws the glyphs in this style, unless they are drawn in it already. Needs the overlays'
    // GL state (SetupOverlayRenderState).
    void Build(const TextStyle& style);
    // How many of the text's first characters are glyphs of the atlas.
    int LeadingGlyphs(const QString& text) const;
    // Device pixels across the glyphs of text, side by side; other characters take
    // no room and are not drawn.
    int Width(const QString& text) const;
    // The glyphs of text side by side from (x, y), their bottom left corner, with texturing on;
    // returns the x after the last.
    int Draw(const QString& text, int x, int y) const;

private:
    // The one place a character is looked up: its glyph's index, or -1.
    int Index(QChar c) const { return int(glyphs.indexOf(c)); }

    QString glyphs;
    TextStyle style;
    // Where each glyph starts in the texture, and where the last one ends.
    std::vector<int> glyphX;
    unsigned texture = 0;
};
