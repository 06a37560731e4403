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
// What a count or a time is made of.
static const QString kGlyphs = QStringLiteral("0123456789:.");
// The state Draw changes, all of it restored by the matching pops.
static constexpr GLbitfield kChangedState =
    GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT;
static constexpr GLenum kTurnedOff[] = {GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_ALPHA_TEST, GL_FOG,
                                         GL_STENCIL_TEST, GL_SCISSOR_TEST, GL_COLOR_LOGIC_OP, GL_BLEND, GL_TEXTURE_2D};

StatusStrip::StatusStrip()
    : font(QGuiApplication::font())
{
    // In pixels, so that the images it is drawn into lay it out as the screen would.
    font.setPixelSize(QFontInfo(font).pixelSize());
}

StatusStrip::~StatusStrip()
{
    for (const Label* label : {&message, &words, &glyphs})
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
        // A shader's messages name their file and line already.
        text.message = failure == &g_scriptFailures.shader
            ? FirstLine(failure->error)
            : QString::fromStdString(failure->chunk) + QStringLiteral(": ") + FirstLine(failure->error);
        const int frames = g_scriptFailures.failedFrames;
        if ((failure == &g_scriptFailures.update || failure == &g_scriptFailures.render) && frames > 0)
            text.count = frames == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames in a row").arg(frames);
    } else if (g_musicClock
               && (g_musicClock->Paused() || SecondsSinceMusicJump() < kTimeShownAfterJumpSeconds)) {
        text.message = MusicTimeText(g_musicClock->Time());
    }
    double from, to;
    if (!text.error && g_musicClock && g_musicClock->Loop(from, to))
        text.message += (text.message.isEmpty() ? QString() : QStringLiteral("   ")) + QStringLiteral("loop ")
            + MusicTimeText(from) + QChar(0x2013) + MusicTimeText(to);
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

QImage StatusStrip::BandImage(int width) const
{
    QImage image(width, height, QImage::Format_RGBX8888);
    image.setDevicePixelRatio(ratio);
    image.fill(band);
    return image;
}

// A new texture for each image: the driver may still be drawing with the old one, and writing
// into it would make this frame wait for that.
void StatusStrip::Upload(Label& label, const QImage& image)
{
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
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width(), image.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.constBits());
}

void StatusStrip::SetLabel(Label& label, const QString& text, const QColor& ink)
{
    if (text == label.text)
        return;
    label.text = text;
    label.width = int(std::ceil(QFontMetrics(font).horizontalAdvance(text) * ratio));
    if (label.width == 0)
        return;
    QImage image = BandImage(label.width);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(ink);
    painter.drawText(QRectF(0, 0, label.width / ratio, height / ratio), Qt::AlignLeft | Qt::AlignVCenter, text);
    painter.end();
    Upload(label, image);
}

// Each glyph of kGlyphs side by side, on whole device pixels.
void StatusStrip::DrawGlyphs()
{
    const QFontMetrics metrics(font);
    const int count = int(kGlyphs.size());
    glyphX.assign(count + 1, 0);
    int advance = 0;
    for (int i = 0; i < count; ++i) {
        advance += metrics.horizontalAdvance(kGlyphs.at(i));
        glyphX[i + 1] = int(std::lround(advance * ratio));
    }
    QImage image = BandImage(glyphX.back());
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(band == kErrorBand ? kCountColour : kTextColour);
    for (int i = 0; i < count; ++i)
        painter.drawText(QRectF(glyphX[i] / ratio, 0, (glyphX[i + 1] - glyphX[i]) / ratio, height / ratio),
                         Qt::AlignLeft | Qt::AlignVCenter, kGlyphs.mid(i, 1));
    painter.end();
    Upload(glyphs, image);
    glyphs.width = glyphX.back();
}

int StatusStrip::NumberWidth() const
{
    int width = 0;
    for (QChar c : number) {
        const int i = int(kGlyphs.indexOf(c));
        width += glyphX[i + 1] - glyphX[i];
    }
    return width;
}

// Draws anew only what changed: a count or a time that ticks on takes no drawing of text at all,
// and the message is fitted again only when it, the view's width or the count's length changes.
void StatusStrip::Prepare(const Text& text, int width, int height, qreal devicePixelRatio)
{
    const QColor newBand = text.error ? kErrorBand : kTimeBand;
    if (height != this->height || devicePixelRatio != ratio || newBand != band) {
        this->height = height;
        ratio = devicePixelRatio;
        band = newBand;
        message.text = words.text = QString();
        message.width = words.width = 0;
        fittedWidth = -1;
        DrawGlyphs();
    }
    if (!text.error) {
        fittedWidth = -1;
        SetLabel(message, QString(), kTextColour);
    } else if (text.message != fittedMessage || text.count.size() != fittedCountLength || width != fittedWidth) {
        Text fitted = text;
        Fit(fitted, QFontMetrics(font), int(width / ratio));
        fittedMessage = text.message;
        fittedCountLength = int(text.count.size());
        fittedWidth = width;
        countShown = !fitted.count.isEmpty();
        SetLabel(message, fitted.message, kTextColour);
    }
    const QString tail = !text.error ? text.message : countShown ? text.count : QString();
    int digits = 0;
    while (digits < tail.size() && kGlyphs.contains(tail.at(digits)))
        ++digits;
    number = tail.left(digits);
    SetLabel(words, tail.mid(digits), kCountColour);
}

// Within glBegin(GL_QUADS): a quad from the viewport's bottom edge, one unit a pixel, showing the
// part of the bound texture from s0 to s1 across; an image's first row is its top.
static void Quad(int x, int width, int height, float s0 = 0, float s1 = 1)
{
    glTexCoord2f(s0, 1), glVertex2i(x, 0);
    glTexCoord2f(s1, 1), glVertex2i(x + width, 0);
    glTexCoord2f(s1, 0), glVertex2i(x + width, height);
    glTexCoord2f(s0, 0), glVertex2i(x, height);
}

static void DrawLabel(unsigned texture, int x, int width, int height)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    Quad(x, width, height);
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
    const int height = std::min(viewport[3], stripHeight);
    if (viewport[2] <= 0 || height <= 0)
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
    Prepare(text, viewport[2], height, devicePixelRatio);

    // The message, the digits and the words after them, all opaque, and the band in the padding
    // before, between and after them.
    const int padding = int(std::lround(kPadding * ratio));
    const int tailWidth = NumberWidth() + words.width;
    const int gap = message.width > 0 && tailWidth > 0 ? 2 * padding : 0;
    glColor3ub(GLubyte(band.red()), GLubyte(band.green()), GLubyte(band.blue()));
    glBegin(GL_QUADS);
    Quad(0, padding, height);
    Quad(padding + message.width, gap, height);
    Quad(padding + message.width + gap + tailWidth, padding, height);
    glEnd();
    glEnable(GL_TEXTURE_2D);
    int x = padding;
    if (message.width > 0)
        DrawLabel(message.texture, x, message.width, height);
    x += message.width + gap;
    glBindTexture(GL_TEXTURE_2D, glyphs.texture);
    glBegin(GL_QUADS);
    for (QChar c : number) {
        const int i = int(kGlyphs.indexOf(c));
        const int width = glyphX[i + 1] - glyphX[i];
        Quad(x, width, height, float(glyphX[i]) / glyphs.width, float(glyphX[i + 1]) / glyphs.width);
        x += width;
    }
    glEnd();
    if (words.width > 0)
        DrawLabel(words.texture, x, words.width, height);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}
