// Line widths: HarfBuzz for plain Latin lines, Qt's layout for the rest, the two in agreement.
#include "gpu/linewidths.h"

#include <hb.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>

static constexpr std::int32_t kUnknown = INT32_MIN;
// Longer lines are left to the layout: HarfBuzz counts in int.
static constexpr std::size_t kLongestShapedLine = std::size_t(1) << 20;

void SetUpLayout(QTextLayout& layout, const QRawFont& font, bool wrap)
{
    layout.setRawFont(font);
    QTextOption option;
    option.setUseDesignMetrics(true);
    option.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout.setTextOption(option);
}

// Characters the layout treats as one run of one script, each its own glyph unless the font
// joins them: printable ASCII and the Latin letters up to U+024F, without the soft hyphen.
static bool PlainLatin(char32_t c)
{
    return (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c < 0x250 && c != 0xAD);
}

// Decodes the line, false at the first character that is not plain Latin or at bad UTF-8.
static bool DecodePlainLatin(std::string_view line, char32_t& last)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        char32_t c = byte;
        if (byte >= 0x80) {
            // Everything up to U+024F takes two bytes: a lead byte C2-C9 and a continuation.
            if (byte < 0xC2 || byte > 0xC9 || i + 1 >= line.size())
                return false;
            const auto next = static_cast<unsigned char>(line[++i]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (char32_t(byte & 0x1F) << 6) | (next & 0x3F);
        }
        if (!PlainLatin(c))
            return false;
        last = c;
    }
    return true;
}

LineWidths::LineWidths(const QByteArray& fontData, const QRawFont& rawFont) : data(fontData), raw(rawFont)
{
    SetUpLayout(layout, raw, false);
    hb_blob_t* blob = hb_blob_create(data.constData(), static_cast<unsigned>(data.size()), HB_MEMORY_MODE_READONLY,
                                     nullptr, nullptr);
    hb_face_t* face = hb_face_create(blob, 0);
    hb_blob_destroy(blob);
    // Qt takes CFF advances from FreeType by another rounding; those fonts go through the layout.
    hb_blob_t* glyf = hb_face_reference_table(face, HB_TAG('g', 'l', 'y', 'f'));
    shapes = hb_blob_get_length(glyf) > 0 && hb_face_get_upem(face) > 0;
    hb_blob_destroy(glyf);
    font = hb_font_create(face);
    units = hb_font_create(face);
    // The size as Qt holds it, in 1/64 pixel.
    const long size64 = std::lround(raw.pixelSize() * 64);
    shapes = shapes && size64 > 0 && size64 < INT_MAX;
    hb_font_set_scale(font, int(size64), int(size64));
    unitsTo64 = double(size64) / hb_face_get_upem(face);
    advanceFixes.assign(hb_face_get_glyph_count(face), kUnknown);
    hb_face_destroy(face);
    buffer = hb_buffer_create();
}

LineWidths::~LineWidths()
{
    hb_buffer_destroy(buffer);
    hb_font_destroy(units);
    hb_font_destroy(font);
}

double LineWidths::LaidOutWidth(const QString& line)
{
    layout.setText(line);
    layout.beginLayout();
    double width = 0;
    QTextLine laid = layout.createLine();
    if (laid.isValid()) {
        laid.setLineWidth(std::numeric_limits<float>::max() / 4);
        width = laid.naturalTextWidth();
    }
    layout.endLayout();
    return width;
}

double LineWidths::Width(std::string_view line)
{
    std::int64_t sum = 0;
    char32_t last = 0;
    std::int32_t overhang = 0;
    lastShaped = Advances(line, sum, last) && (line.empty() || Overhang(last, overhang));
    if (lastShaped)
        return double(sum + overhang) / 64;
    return LaidOutWidth(QString::fromUtf8(line.data(), qsizetype(line.size())));
}

// Qt's design advance is the advance in font units scaled to 1/64 pixel and cut to a whole
// 1/64; HarfBuzz rounds. Kerning stays HarfBuzz's, as in the layout.
std::int32_t LineWidths::AdvanceFix(unsigned glyph)
{
    std::int32_t& fix = advanceFixes[glyph];
    if (fix == kUnknown) {
        const auto qt = std::int32_t(hb_font_get_glyph_h_advance(units, glyph) * unitsTo64);
        fix = qt - hb_font_get_glyph_h_advance(font, glyph);
    }
    return fix;
}

bool LineWidths::Advances(std::string_view line, std::int64_t& sum, char32_t& last)
{
    if (!shapes || line.size() > kLongestShapedLine || !DecodePlainLatin(line, last))
        return false;
    sum = 0;
    if (line.empty())
        return true;
    hb_buffer_clear_contents(buffer);
    hb_buffer_add_utf8(buffer, line.data(), int(line.size()), 0, int(line.size()));
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(font, buffer, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* glyphs = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    for (unsigned i = 0; i < count; ++i) {
        const unsigned glyph = glyphs[i].codepoint;
        // A missing glyph, or a character taken apart into several (a letter the font builds
        // from marks): the layout decides those.
        if (glyph == 0 || glyph >= advanceFixes.size() || (i + 1 < count && glyphs[i + 1].cluster == glyphs[i].cluster))
            return false;
        sum += positions[i].x_advance + AdvanceFix(glyph);
    }
    // The ink past the end is known per character: the last glyph must be that character's own.
    hb_codepoint_t own = 0;
    return count > 0 && hb_font_get_nominal_glyph(font, last, &own) && own == glyphs[count - 1].codepoint;
}

// The layout adds the ink of the line's last glyph that reaches past its advance, by its own
// rounding of the glyph's box; that part is taken from the layout, once per character.
bool LineWidths::Overhang(char32_t last, std::int32_t& overhang)
{
    const auto found = overhangs.find(last);
    if (found != overhangs.end()) {
        overhang = found->second;
        return overhang != kUnknown;
    }
    const QString alone = QString::fromUcs4(&last, 1);
    const QByteArray utf8 = alone.toUtf8();
    std::int64_t sum = 0;
    char32_t same = 0;
    overhang = kUnknown;
    if (Advances(std::string_view(utf8.constData(), std::size_t(utf8.size())), sum, same))
        overhang = std::int32_t(std::llround(LaidOutWidth(alone) * 64) - sum);
    overhangs.emplace(last, overhang);
    return overhang != kUnknown;
}
