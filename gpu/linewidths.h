#pragma once
// The width of a line of text in a font, as Qt's QTextLayout lays it out with the font's design
// metrics: the advances, kerning and ligatures, trailing blanks, and the last glyph's ink where
// it reaches past its advance. A line of Latin letters in a TrueType font is shaped by HarfBuzz
// directly, to the same 1/64 pixel at about half the cost; anything else (other scripts, tabs and
// other controls, combining marks, a character the font lacks, CFF outlines) goes through the
// layout.

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <QByteArray>
#include <QRawFont>
#include <QString>
#include <QTextLayout>

struct hb_font_t;
struct hb_buffer_t;

// Sets a layout to the font alone (no fallback to others), positions as the font's design gives
// them at any size, and lines broken at words (or anywhere in a word longer than a line) when
// wrapping, or not at all.
void SetUpLayout(QTextLayout& layout, const QRawFont& font, bool wrap);

class LineWidths {
public:
    // fontData: the file rawFont was made from (shared, not copied).
    LineWidths(const QByteArray& fontData, const QRawFont& rawFont);
    ~LineWidths();
    LineWidths(const LineWidths&) = delete;
    LineWidths& operator=(const LineWidths&) = delete;

    // One line, without '\n', in UTF-8; in pixels.
    double Width(std::string_view line);
    // The same line through Qt's layout.
    double LaidOutWidth(const QString& line);
    // Whether the last Width was shaped by HarfBuzz directly.
    bool lastShaped = false;

private:
    // The line's advances in 1/64 pixel, false when it is not for HarfBuzz alone.
    bool Advances(std::string_view line, std::int64_t& sum, char32_t& last);
    std::int32_t AdvanceFix(unsigned glyph);
    bool Overhang(char32_t last, std::int32_t& overhang);

    QByteArray data;
    QRawFont raw;
    QTextLayout layout;
    hb_font_t* font = nullptr;   // at the size, in 1/64 pixel
    hb_font_t* units = nullptr;  // in the font's units
    hb_buffer_t* buffer = nullptr;
    bool shapes = false;
    double unitsTo64 = 0;
    // Per glyph, Qt's advance less HarfBuzz's, in 1/64 pixel; per last character, the ink past
    // its advance that the layout counts.
    std::vector<std::int32_t> advanceFixes;
    std::unordered_map<char32_t, std::int32_t> overhangs;
};
