#pragma once
// A font a script draws text with: a TrueType or OpenType file (or the built-in font) at a size
// in pixels. Text is shaped and broken into lines by Qt's QTextLayout over a QRawFont of the
// file, so any script and ligature the font knows comes out as the font means it; a character
// the font lacks shows its missing-glyph box, never another font. Glyphs are drawn from
// distance fields (gpu/distancefield.h) in the font's atlas (gpu/fontatlas.h), made as text
// first needs them, with one GL call per atlas page a text uses. Widths of plain Latin lines
// come from HarfBuzz directly (gpu/linewidths.h), equal to the layout's.
//
// Lines laid out are kept, so that text drawn again on the next frame costs no layout; the
// kept lines are bounded and dropped together when they grow past the bound.

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <QRawFont>
#include <QTextLayout>

#include "gpu/fontatlas.h"
#include "gpu/gpuobject.h"
#include "gpu/linewidths.h"

class QOpenGLShaderProgram;

// Where the built-in font is installed (Debian's fonts-dejavu-core).
extern const char kBuiltInFontPath[];
constexpr double kLargestFontSize = 2048;

// How the lines of a text lie in a box: left, centre or right.
enum class TextAlign { Left, Center, Right };

struct PlacedGlyph {
    std::uint32_t glyph;
    float x, y;  // the origin on the baseline, from the line's left end and the text's top
};

struct TextLines {
    struct Line {
        float width;
        std::vector<PlacedGlyph> glyphs;
    };
    std::vector<Line> lines;
    std::size_t glyphs = 0;
};

class ScriptFont : public GpuObject {
public:
    // An empty path for the built-in font; size in pixels.
    ScriptFont(std::string path, double size);
    ~ScriptFont() override;

    // Reads the file and checks it is a font; false with the file's name and the reason.
    bool Load(std::string& why) override;
    // A changed file is read again; a file that is no font now leaves the font as it was.
    void Refresh() override;
    bool HoldsGl() const override;
    void FreeGl() override;

    double Size() const { return size; }
    std::string Family() const;
    // The distance from one line's top to the next, in pixels.
    double LineHeight() const { return lineHeight; }
    // The width of the widest line of UTF-8 text, in pixels.
    double Width(const char* text, std::size_t length);
    // The text's lines laid out, broken at '\n' and, when wrap > 0, before they grow wider.
    const TextLines& Lay(const char* text, std::size_t length, double wrap);

    // The lines in the colour, blended, in the pixels of the view (or target) of the size
    // given: the text's top left at (x, y), y down, depth neither tested nor written. Each line
    // is aligned within width, or on x when width is 0. With the context current; false with
    // the reason.
    bool DrawInView(const TextLines& text, TextAlign align, double width, float x, float y, int viewWidth,
                    int viewHeight, const std::uint8_t colour[4], std::string& why);
    // The lines in the colour on the x-y plane of the modelview in place, left aligned, the text's
    // top left at the origin, each line height units tall; tested against depth, not written.
    bool DrawInWorld(const TextLines& text, double height, const std::uint8_t colour[4], std::string& why);

private:
    // Where a glyph can be seen, in the font's pixels of the text: a quad wholly outside is not
    // sent, so a long text passing through the view costs only what is in it.
    struct Window {
        float left = -HUGE_VALF, top = -HUGE_VALF, right = HUGE_VALF, bottom = HUGE_VALF;
    };

    // With the matrices in place: x right, y down, in the font's pixels. perPixel: how much the
    // field changes a screen pixel, 0 when the derivatives are to tell.
    bool Draw(const TextLines& text, TextAlign align, double width, float perPixel, const Window& window,
              std::string& why);
    // Parks the quad waiting for the page, in the font's pixels, when it reaches into the window.
    bool Place(const PlacedGlyph& glyph, float x, const Window& window, std::string& why);
    // Draws the waiting quads, one call per page.
    void Flush();
    // The program for text in the view (knowing perPixel) or in the world.
    QOpenGLShaderProgram* Program(bool inView, std::string& why);

    std::string path;
    double size;
    QRawFont raw;    // at the size drawn
    QRawFont outlines;  // at the size the distance fields are made from
    double lineHeight = 0;

    FontAtlas atlas;
    std::vector<std::vector<float>> quads;  // per page: x, y, u, v for each corner
    QOpenGLShaderProgram* programs[2] = {nullptr, nullptr};

    std::unordered_map<std::string, std::unique_ptr<TextLines>> laidOut;
    std::size_t laidOutGlyphs = 0;
    std::unordered_map<std::string, float> widths;
    std::unique_ptr<LineWidths> lineWidths;
};
