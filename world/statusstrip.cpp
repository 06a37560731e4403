#include "world/statusstrip.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "script/musicclock.h"
#include "script/scriptfailures.h"

static constexpr double kTimeShownAfterJumpSeconds = 2;
// A clock may run for ever without music; the display stops at 99999 minutes.
static constexpr double kLongestShownSeconds = 99999 * 60.0;
// More of an error's first line than any view is wide.
static constexpr size_t kLongestLineBytes = 2000;
static constexpr int kPadding = 6;
static constexpr int kVerticalPadding = 3;
// Narrower than this many average characters, the message takes the count's room too.
static constexpr int kShortestMessageChars = 16;
static const QColor kErrorBand(110, 12, 12);
static const QColor kTimeBand(32, 32, 32);
static const QColor kTextColour(245, 245, 245);
static const QColor kCountColour(255, 195, 185);
// The state Draw changes, all of it restored by the matching pops.
static constexpr GLbitfield kChangedState =
    GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT;
static constexpr GLenum kTurnedOff[] = {GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_ALPHA_TEST, GL_FOG,
                                         GL_STENCIL_TEST, GL_SCISSOR_TEST, GL_COLOR_LOGIC_OP, GL_BLEND};

bool StatusStrip::Text::operator==(const Text& other) const
{
    return message == other.message && count == other.count && error == other.error;
}

StatusStrip::StatusStrip()
    : font(QGuiApplication::font())
{
    // In pixels, so that the images it is drawn into lay it out as the screen would.
    font.setPixelSize(QFontInfo(font).pixelSize());
}

StatusStrip::~StatusStrip()
{
    for (const Label* label : {&message, &count})
        if (label->texture)
            glDeleteTextures(1, &label->texture);
}

static QString FirstLine(const std::string& text)
{
    const size_t end = std::min({text.find_first_of("\r\n"), text.size(), kLongestLineBytes});
    return QString::fromUtf8(text.data(), qsizetype(end));
}

static QString MusicTimeText(double seconds)
{
    const long long centiseconds =
        seconds > 0 ? (long long)(std::floor(std::min(seconds, kLongestShownSeconds) * 100 + 1e-6)) : 0;
    return QString::asprintf("%lld:%02lld.%02lld", centiseconds / 6000, centiseconds / 100 % 60,
                             centiseconds % 100);
}

StatusStrip::Text StatusStrip::Current()
{
    Text text;
    if (const ScriptFailure* failure = g_scriptFailures.Latest()) {
        text.error = true;
        text.message = QString::fromStdString(failure->chunk) + QStringLiteral(": ") + FirstLine(failure->error);
        const int frames = g_scriptFailures.failedFrames;
        if (failure != &g_scriptFailures.load && frames > 0)
            text.count = frames == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames in a row").arg(frames);
    } else if (g_musicClock
               && (g_musicClock->Paused() || SecondsSinceMusicJump() < kTimeShownAfterJumpSeconds)) {
        text.message = MusicTimeText(g_musicClock->Time());
    }
    return text;
}

void StatusStrip::Fit(Text& text, const QFontMetrics& metrics, int width)
{
    width -= 2 * kPadding;
    const int countWidth = text.count.isEmpty() ? 0 : metrics.horizontalAdvance(text.count) + 2 * kPadding;
    if (width - countWidth < metrics.averageCharWidth() * kShortestMessageChars)
        text.count.clear();
    text.message = metrics.elidedText(text.message, Qt::ElideRight, text.count.isEmpty() ? width : width - countWidth);
}

// Renders the text with its padding on the band's colour into the label's texture, as wide as
// the two and as high as the strip.
void StatusStrip::SetLabel(Label& label, const QString& text, const QColor& colour, const QColor& band,
                           int height, qreal devicePixelRatio)
{
    const int width = text.isEmpty() ? 0 : QFontMetrics(font).horizontalAdvance(text) + 2 * kPadding;
    const QSize size(int(std::ceil(width * devicePixelRatio)), height);
    if (text == label.text && size == label.size && band == label.band)
        return;
    label.text = text;
    label.size = size;
    label.band = band;
    if (size.isEmpty())
        return;
    QImage image(size, QImage::Format_RGBX8888);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(band);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(QRectF(QPointF(kPadding, 0), QSizeF(size) / devicePixelRatio), Qt::AlignLeft | Qt::AlignVCenter,
                     text);
    painter.end();
    // A new texture for each text: the driver may still be drawing with the old one, and writing
    // into it would make this frame wait for that.
    if (label.texture)
        glDeleteTextures(1, &label.texture);
    glGenTextures(1, &label.texture);
    glBindTexture(GL_TEXTURE_2D, label.texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    // Rows of whole 32-bit pixels, packed.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size.width(), size.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.constBits());
}

// A quad from the viewport's bottom edge, one unit a pixel; an image's first row is its top.
void StatusStrip::DrawQuad(int x, int width, int height)
{
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1), glVertex2i(x, 0);
    glTexCoord2f(1, 1), glVertex2i(x + width, 0);
    glTexCoord2f(1, 0), glVertex2i(x + width, height);
    glTexCoord2f(0, 0), glVertex2i(x, height);
    glEnd();
}

void StatusStrip::Draw(qreal devicePixelRatio)
{
    const Text text = Current();
    if (text.message.isEmpty())
        return;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int stripHeight = int(std::ceil((QFontMetrics(font).height() + 2 * kVerticalPadding) * devicePixelRatio));
    // A view lower than the strip is all strip.
    const QSize size(viewport[2], std::min(viewport[3], stripHeight));
    if (size.isEmpty())
        return;

    glPushAttrib(kChangedState);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    for (GLenum capability : kTurnedOff)
        glDisable(capability);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, viewport[2], 0, viewport[3], -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    if (!(text == shown) || size != shownSize || devicePixelRatio != shownRatio) {
        Text fitted = text;
        Fit(fitted, QFontMetrics(font), int(size.width() / devicePixelRatio));
        const QColor band = text.error ? kErrorBand : kTimeBand;
        SetLabel(message, fitted.message, kTextColour, band, size.height(), devicePixelRatio);
        SetLabel(count, fitted.count, kCountColour, band, size.height(), devicePixelRatio);
        shown = text;
        shownSize = size;
        shownRatio = devicePixelRatio;
    }
    // The count follows the message; the labels are opaque, band and all.
    glEnable(GL_TEXTURE_2D);
    int x = 0;
    for (const Label* label : {&message, &count}) {
        if (label->size.isEmpty())
            continue;
        glBindTexture(GL_TEXTURE_2D, label->texture);
        DrawQuad(x, label->size.width(), size.height());
        x += label->size.width();
    }
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}
