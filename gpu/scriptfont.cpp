// Script fonts: QTextLayout over a QRawFont for the lines, distance fields for the glyphs.
#include "gpu/scriptfont.h"

#include <GL/gl.h>

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QPainterPath>
#include <QString>
#include <QTextLayout>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

#include "gpu/distancefield.h"

const char kBuiltInFontPath[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

static constexpr std::size_t kLargestFontFile = std::size_t(64) << 20;
// Lines kept between frames, and widths: enough for every text of a production's frame.
static constexpr std::size_t kMostKeptGlyphs = 200000;
static constexpr std::size_t kMostKeptWidths = 4096;
static constexpr int kFloatsPerQuad = 16;

// The field's value falls by 1 / (2 spread) a field pixel; the edge's ramp is kEdgeRamp screen
// pixels wide at any size, measured across the edge. Text in the view knows how fast the field
// changes on screen (perPixel); text in the world takes it from the derivatives, which cost
// llvmpipe a third of the text's time, also behind a branch: two programs, one for each.
static const char kVertexStage[] =
    "#version 120\n"
    "void main() {\n"
    "    gl_Position = ftransform();\n"
    "    gl_FrontColor = gl_Color;\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "}\n";
static const char kFragmentStage[] =
    "uniform sampler2D field;\n"
    "uniform float perPixel;\n"
    "const float kEdgeRamp = 1.5;\n"
    "void main() {\n"
    "    float d = texture2D(field, gl_TexCoord[0].xy).r;\n"
    "#ifdef IN_VIEW\n"
    "    float w = perPixel * kEdgeRamp * 0.5;\n"
    "#else\n"
    "    float w = max(length(vec2(dFdx(d), dFdy(d))), 1e-5) * kEdgeRamp * 0.5;\n"
    "#endif\n"
    "    gl_FragColor = vec4(gl_Color.rgb, gl_Color.a * smoothstep(0.5 - w, 0.5 + w, d));\n"
    "}\n";

ScriptFont::ScriptFont(std::string path, double size)
    : path(std::move(path))
    , size(size)
{
}

ScriptFont::~ScriptFont()
{
    for (QOpenGLShaderProgram* p : programs)
        delete p;
}

bool ScriptFont::Load(std::string& why)
{
    const bool builtIn = path.empty();
    const std::string file = builtIn ? kBuiltInFontPath : path;
    std::string data, reason;
    SourceFile source{file, FileStamp()};
    if (!ReadSourceFile(file, kLargestFontFile, "a font file of at most 64 MiB, got a larger one", data, source.stamp,
                        reason)) {
        why = builtIn ? "expected the built-in font at " + file + " (Debian's fonts-dejavu-core), got " + reason
                      : file + ": " + reason;
        return false;
    }
    const QByteArray bytes(data.data(), qsizetype(data.size()));
    QRawFont loaded(bytes, size, QFont::PreferNoHinting);
    if (!loaded.isValid()) {
        why = file + ": expected a TrueType or OpenType font, got a file that is not one";
        return false;
    }
    raw = loaded;
    outlines = loaded;
    outlines.setPixelSize(kFieldSize * kFieldOversample);
    lineHeight = raw.ascent() + raw.descent();
    atlas.Clear();
    laidOut.clear();
    laidOutGlyphs = 0;
    widths.clear();
    lineWidths = std::make_unique<LineWidths>(bytes, raw);
    if (!builtIn)
        sources = {source};
    return true;
}

void ScriptFont::Refresh()
{
    if (!changed)
        return;
    changed = false;
    std::string why;
    if (!Load(why)) {
        std::printf("%s\n", why.c_str());
        std::fflush(stdout);
    }
}

std::string ScriptFont::Family() const
{
    return raw.familyName().toStdString();
}

bool ScriptFont::HoldsGl() const
{
    return programs[0] || programs[1] || atlas.HoldsGl();
}

void ScriptFont::FreeGl()
{
    for (QOpenGLShaderProgram*& p : programs) {
        delete p;
        p = nullptr;
    }
    atlas.FreeGl();
}

// The paragraphs of the text, each laid out on its own: a line separator inside one layout
// would be shaped as a character of the font.
static void LayParagraph(const QRawFont& font, const QString& paragraph, double wrap, float top, float lineHeight,
                         TextLines& out)
{
    QTextLayout layout(paragraph);
    SetUpLayout(layout, font, wrap > 0);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(wrap > 0 ? wrap : std::numeric_limits<float>::max() / 4);
        line.setPosition(QPointF(0, top));
        top += lineHeight;
    }
    layout.endLayout();
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        TextLines::Line laid{float(line.naturalTextWidth()), {}};
        for (const QGlyphRun& run : line.glyphRuns()) {
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype g = 0; g < indexes.size(); ++g)
                laid.glyphs.push_back({indexes[g], float(positions[g].x()), float(positions[g].y())});
        }
        out.glyphs += laid.glyphs.size();
        out.lines.push_back(std::move(laid));
    }
}

// Calls each(paragraph) for the text's paragraphs, UTF-8 split at '\n' (a "\r\n" too).
template <typename Each>
static void EachParagraph(const char* text, std::size_t length, Each&& each)
{
    std::string_view rest(text, length);
    for (;;) {
        const std::size_t end = rest.find('\n');
        std::string_view paragraph = rest.substr(0, end);
        if (!paragraph.empty() && paragraph.back() == '\r')
            paragraph.remove_suffix(1);
        each(paragraph);
        if (end == std::string_view::npos)
            return;
        rest.remove_prefix(end + 1);
    }
}

const TextLines& ScriptFont::Lay(const char* text, std::size_t length, double wrap)
{
    std::string key(reinterpret_cast<const char*>(&wrap), sizeof wrap);
    key.append(text, length);
    auto found = laidOut.find(key);
    if (found != laidOut.end())
        return *found->second;
    auto lines = std::make_unique<TextLines>();
    EachParagraph(text, length, [&](std::string_view paragraph) {
        const QString utf16 = QString::fromUtf8(paragraph.data(), qsizetype(paragraph.size()));
        LayParagraph(raw, utf16, wrap, float(lines->lines.size() * lineHeight), float(lineHeight), *lines);
    });
    if (laidOutGlyphs + lines->glyphs > kMostKeptGlyphs) {
        laidOut.clear();
        laidOutGlyphs = 0;
    }
    laidOutGlyphs += lines->glyphs;
    return *(laidOut[key] = std::move(lines));
}

double ScriptFont::Width(const char* text, std::size_t length)
{
    const std::string key(text, length);
    const auto found = widths.find(key);
    if (found != widths.end())
        return found->second;
    float widest = 0;
    EachParagraph(text, length, [&](std::string_view paragraph) {
        widest = std::max(widest, float(lineWidths->Width(paragraph)));
    });
    if (widths.size() >= kMostKeptWidths)
        widths.clear();
    widths.emplace(key, widest);
    return widest;
}

QOpenGLShaderProgram* ScriptFont::Program(bool inView, std::string& why)
{
    QOpenGLShaderProgram*& program = programs[inView];
    if (program)
        return program;
    program = new QOpenGLShaderProgram;
    const QByteArray fragment = QByteArray("#version 120\n") + (inView ? "#define IN_VIEW\n" : "") + kFragmentStage;
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexStage)
        || !program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment) || !program->link()) {
        why = "expected the text shader to compile, got " + program->log().toStdString();
        delete program;
        program = nullptr;
    }
    return program;
}

bool ScriptFont::Place(const PlacedGlyph& glyph, float x, const Window& window, std::string& why)
{
    const AtlasGlyph* place = atlas.Find(glyph.glyph);
    if (!place) {
        const DistanceGlyph field = MakeDistanceGlyph(outlines.pathForGlyph(glyph.glyph), kAtlasPageSide);
        place = atlas.Add(glyph.glyph, field);
        if (!place) {
            // Every page is full: what waits is drawn, and the pages start again empty.
            Flush();
            atlas.Clear();
            place = atlas.Add(glyph.glyph, field);
        }
        if (!Hold(std::size_t(atlas.Pages()) * kAtlasPageBytes)) {
            why = "expected room for the font's glyphs in the " + std::to_string(kScriptGpuMemoryLimit >> 20)
                + " MiB of script GPU memory, got " + std::to_string(shared->budget.InUse()) + " bytes in use";
            return false;
        }
    }
    if (place->page < 0)
        return true;
    if (quads.size() < std::size_t(atlas.Pages()))
        quads.resize(std::size_t(atlas.Pages()));
    const float scale = float(size) / kFieldSize;
    const float x0 = x + glyph.x + place->left * scale, y0 = glyph.y + place->top * scale;
    const float x1 = x0 + place->width * scale, y1 = y0 + place->height * scale;
    if (x1 < window.left || x0 > window.right || y1 < window.top || y0 > window.bottom)
        return true;
    const float corners[kFloatsPerQuad] = {x0, y0, place->u0, place->v0, x1, y0, place->u1, place->v0,
                                           x1, y1, place->u1, place->v1, x0, y1, place->u0, place->v1};
    std::vector<float>& page = quads[std::size_t(place->page)];
    page.insert(page.end(), corners, corners + kFloatsPerQuad);
    return true;
}

void ScriptFont::Flush()
{
    for (std::size_t page = 0; page < quads.size(); ++page) {
        std::vector<float>& corners = quads[page];
        if (corners.empty())
            continue;
        atlas.Upload(int(page));
        glVertexPointer(2, GL_FLOAT, 4 * sizeof(float), corners.data());
        glTexCoordPointer(2, GL_FLOAT, 4 * sizeof(float), corners.data() + 2);
        glDrawArrays(GL_QUADS, 0, GLsizei(corners.size() / 4));
        corners.clear();
    }
}

// Changes the program, the texture bound to the active unit, the client arrays and the blend
// function; the gate puts back all but the blend function, which is left as the world blends.
// The matrices are changed by the callers.
bool ScriptFont::Draw(const TextLines& text, TextAlign align, double width, float perPixel, const Window& window,
                      std::string& why)
{
    QOpenGLShaderProgram* program = Program(perPixel > 0, why);
    if (!program)
        return false;
    program->bind();
    program->setUniformValue("field", 0);
    program->setUniformValue("perPixel", perPixel);
    QOpenGLContext::currentContext()->functions()->glBindBuffer(GL_ARRAY_BUFFER, 0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const float share = align == TextAlign::Left ? 0 : align == TextAlign::Center ? 0.5f : 1;
    bool placed = true;
    for (const TextLines::Line& line : text.lines) {
        const float x = (float(width) - line.width) * share;
        for (const PlacedGlyph& glyph : line.glyphs)
            if (!(placed = Place(glyph, x, window, why)))
                break;
        if (!placed)
            break;
    }
    Flush();
    return placed;
}

bool ScriptFont::DrawInView(const TextLines& text, TextAlign align, double width, float x, float y, int viewWidth,
                            int viewHeight, const std::uint8_t colour[4], std::string& why)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, viewWidth, viewHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(x, y, 0);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glColor4ubv(colour);
    const Window window{-x, -y, float(viewWidth) - x, float(viewHeight) - y};
    return Draw(text, align, width, float(kFieldSize / (2 * kFieldSpread * size)), window, why);
}

bool ScriptFont::DrawInWorld(const TextLines& text, double height, const std::uint8_t colour[4], std::string& why)
{
    const float scale = float(height / lineHeight);
    glMatrixMode(GL_MODELVIEW);
    glScalef(scale, -scale, scale);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_CULL_FACE);
    glColor4ubv(colour);
    return Draw(text, TextAlign::Left, 0, 0, Window(), why);
}
