// Overlay text in a texture of its own.
#include "world/textlabel.h"

#include <GL/gl.h>

#include <cmath>

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "world/overlaygl.h"

// Above and below the text.
static constexpr int kVerticalPadding = 3;

QFont OverlayFont()
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(QFontInfo(font).pixelSize());
    return font;
}

int OverlayBandHeight(const QFont& font, qreal devicePixelRatio)
{
    return int(std::ceil((QFontMetrics(font).height() + 2 * kVerticalPadding) * devicePixelRatio));
}

bool TextStyle::operator==(const TextStyle& other) const
{
    return height == other.height && ratio == other.ratio && band == other.band && ink == other.ink
        && font == other.font;
}

QImage TextStyle::Band(int width) const
{
    QImage image(width, height, QImage::Format_RGBX8888);
    image.setDevicePixelRatio(ratio);
    image.fill(band);
    return image;
}

void UploadOverlayImage(unsigned& texture, const QImage& image)
{
    if (texture)
        glDeleteTextures(1, &texture);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width(), image.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.constBits());
}

TextLabel::~TextLabel()
{
    if (texture)
        glDeleteTextures(1, &texture);
}

void TextLabel::Set(const QString& text, const TextStyle& style)
{
    if (text == this->text && style == this->style)
        return;
    this->text = text;
    this->style = style;
    width = int(std::ceil(QFontMetrics(style.font).horizontalAdvance(text) * style.ratio));
    if (width == 0)
        return;
    QImage image = style.Band(width);
    QPainter painter(&image);
    painter.setFont(style.font);
    painter.setPen(style.ink);
    painter.drawText(QRectF(0, 0, width / style.ratio, style.height / style.ratio), Qt::AlignLeft | Qt::AlignVCenter,
                     text);
    painter.end();
    UploadOverlayImage(texture, image);
}

void TextLabel::Draw(int x, int y) const
{
    if (width == 0)
        return;
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    OverlayQuad(x, y, width, style.height);
    glEnd();
}
