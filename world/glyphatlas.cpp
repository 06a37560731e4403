// Number glyphs drawn once into one texture.
#include "world/glyphatlas.h"

#include <GL/gl.h>

#include <cmath>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "world/overlaygl.h"

GlyphAtlas::GlyphAtlas(const QString& glyphs)
    : glyphs(glyphs)
    , glyphX(glyphs.size() + 1, 0)
{
}

GlyphAtlas::~GlyphAtlas()
{
    if (texture)
        glDeleteTextures(1, &texture);
}

// Each glyph on whole device pixels.
void GlyphAtlas::Build(const TextStyle& style)
{
    if (texture && style == this->style)
        return;
    this->style = style;
    const QFontMetrics metrics(style.font);
    const int count = int(glyphs.size());
    int advance = 0;
    for (int i = 0; i < count; ++i) {
        advance += metrics.horizontalAdvance(glyphs.at(i));
        glyphX[i + 1] = int(std::lround(advance * style.ratio));
    }
    QImage image = style.Band(glyphX.back());
    QPainter painter(&image);
    painter.setFont(style.font);
    painter.setPen(style.ink);
    for (int i = 0; i < count; ++i)
        painter.drawText(QRectF(glyphX[i] / style.ratio, 0, (glyphX[i + 1] - glyphX[i]) / style.ratio,
                                style.height / style.ratio),
                         Qt::AlignLeft | Qt::AlignVCenter, glyphs.mid(i, 1));
    painter.end();
    UploadOverlayImage(texture, image);
}

int GlyphAtlas::LeadingGlyphs(const QString& text) const
{
    int n = 0;
    while (n < text.size() && Index(text.at(n)) >= 0)
        ++n;
    return n;
}

int GlyphAtlas::Width(const QString& text) const
{
    int width = 0;
    for (QChar c : text)
        if (const int i = Index(c); i >= 0)
            width += glyphX[i + 1] - glyphX[i];
    return width;
}

int GlyphAtlas::Draw(const QString& text, int x, int y) const
{
    if (text.isEmpty())
        return x;
    const float across = float(glyphX.back());
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    for (QChar c : text) {
        const int i = Index(c);
        if (i < 0)
            continue;
        const int width = glyphX[i + 1] - glyphX[i];
        OverlayQuad(x, y, width, style.height, glyphX[i] / across, glyphX[i + 1] / across);
        x += width;
    }
    glEnd();
    return x;
}
