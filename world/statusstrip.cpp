#include "world/statusstrip.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include <QFontMetrics>

#include "script/musicclock.h"
#include "script/scriptfailures.h"
#include "world/overlaygl.h"

static constexpr double kTimeShownAfterJumpSeconds = 2;
static constexpr std::chrono::seconds kNoticeShown{4};
// A clock may run for ever without music; the display stops at 99999 minutes.
static constexpr double kLongestShownSeconds = 99999 * 60.0;
// More of an error's first line than any view is wide.
static constexpr size_t kLongestLineBytes = 2000;
static constexpr int kPadding = 6;
// Narrower than this many average characters, the message takes the count's room too.
static constexpr int kShortestMessageChars = 16;
static const QColor kErrorBand(110, 12, 12);
static const QColor kTimeBand(32, 32, 32);
static const QColor kTextColour(245, 245, 245);
static const QColor kCountColour(255, 195, 185);
// What a count or a time is made of.
static const QString kGlyphs = QStringLiteral("0123456789:.");

StatusStrip::StatusStrip()
    : font(OverlayFont())
    , digits(kGlyphs)
{
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

static QString g_notice;
static std::chrono::steady_clock::time_point g_noticeShown;

void StatusStrip::ShowNotice(const QString& line)
{
    g_notice = line;
    g_noticeShown = std::chrono::steady_clock::now();
}

StatusStrip::Text StatusStrip::Current()
{
    Text text;
    const bool noticeShown = !g_notice.isEmpty() && std::chrono::steady_clock::now() - g_noticeShown < kNoticeShown;
    if (const ScriptFailure* failure = g_scriptFailures.Latest()) {
        text.error = true;
        // A shader's messages name their file and line already.
        text.message = failure == &g_scriptFailures.shader
            ? FirstLine(failure->error)
            : QString::fromStdString(failure->chunk) + QStringLiteral(": ") + FirstLine(failure->error);
        const int frames = g_scriptFailures.failedFrames;
        if ((failure == &g_scriptFailures.update || failure == &g_scriptFailures.render) && frames > 0)
            text.count = frames == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames in a row").arg(frames);
    } else if (noticeShown) {
        text.message = g_notice;
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

// Draws anew only what changed: a count or a time that ticks on takes no drawing of text at all,
// and the message is fitted again only when it, the view's width or the count's length changes.
void StatusStrip::Prepare(const Text& text, int width, int height, qreal devicePixelRatio)
{
    band = text.error ? kErrorBand : kTimeBand;
    ratio = devicePixelRatio;
    const TextStyle messageStyle{font, band, kTextColour, height, ratio};
    const TextStyle tailStyle{font, band, kCountColour, height, ratio};
    digits.Build(text.error ? tailStyle : messageStyle);
    if (!text.error) {
        fittedWidth = -1;
        message.Set(QString(), messageStyle);
    } else if (text.message != fittedMessage || text.count.size() != fittedCountLength || width != fittedWidth
               || ratio != fittedRatio) {
        Text fitted = text;
        Fit(fitted, QFontMetrics(font), int(width / ratio));
        fittedMessage = text.message;
        fittedCountLength = int(text.count.size());
        fittedWidth = width;
        fittedRatio = ratio;
        countShown = !fitted.count.isEmpty();
        message.Set(fitted.message, messageStyle);
    } else {
        // The same cut message, drawn again only if the strip's height changed.
        message.Set(message.Text(), messageStyle);
    }
    const QString tail = !text.error ? text.message : countShown ? text.count : QString();
    const int leading = digits.LeadingGlyphs(tail);
    number = tail.left(leading);
    words.Set(tail.mid(leading), tailStyle);
}

void StatusStrip::DrawBandAndText(int height) const
{
    const int padding = int(std::lround(kPadding * ratio));
    const int runs[] = {message.Width(), digits.Width(number) + words.Width()};
    glColor3ub(GLubyte(band.red()), GLubyte(band.green()), GLubyte(band.blue()));
    glBegin(GL_QUADS);
    int x = 0, gap = padding;
    for (int run : runs) {
        if (run == 0)
            continue;
        OverlayQuad(x, 0, gap, height);
        x += gap + run;
        gap = 2 * padding;
    }
    OverlayQuad(x, 0, padding, height);
    glEnd();
    x = padding;
    message.Draw(x, 0);
    if (message.Width() > 0 && runs[1] > 0)
        x += message.Width() + 2 * padding;
    words.Draw(digits.Draw(number, x, 0), 0);
}

void StatusStrip::Draw(qreal devicePixelRatio)
{
    const Text text = Current();
    if (text.message.isEmpty())
        return;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    // A view lower than the strip is all strip.
    const int height = std::min(viewport[3], OverlayBandHeight(font, devicePixelRatio));
    if (viewport[2] <= 0 || height <= 0)
        return;
    SetupOverlayRenderState(viewport[2], viewport[3]);
    Prepare(text, viewport[2], height, devicePixelRatio);
    DrawBandAndText(height);
    RestoreOverlayRenderState();
}
