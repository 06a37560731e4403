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
// More lines than this, and the oldest are left out.
static constexpr size_t kMostLines = 6;
// Narrower than this many average characters, the message takes the count's room too.
static constexpr int kShortestMessageChars = 16;
static const QColor kErrorBand(110, 12, 12);
static const QColor kTimeBand(32, 32, 32);
static const QColor kTextColour(245, 245, 245);
static const QColor kCountColour(255, 195, 185);
// What a count or a time is made of.
static const QString kGlyphs = QStringLiteral("0123456789:.");

static QString g_notice;
static std::chrono::steady_clock::time_point g_noticeShown;

void StatusStrip::ShowNotice(const QString& notice)
{
    g_notice = notice;
    g_noticeShown = std::chrono::steady_clock::now();
}

StatusStrip::StatusStrip()
    : font(OverlayFont())
    , digits(kGlyphs)
{
}

StatusStrip::~StatusStrip() = default;

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

static void AppendPart(QString& message, const QString& part)
{
    message += (message.isEmpty() ? QString() : QStringLiteral("   ")) + part;
}

// The tail of a callback's line: what stands in its place.
static QString Standing(const ScriptFailure& failure)
{
    switch (failure.standing) {
    case ScriptFailure::Standing::Stopped:
        return QStringLiteral("stopped until a save or a new ") + QString::fromStdString(failure.chunk);
    case ScriptFailure::Standing::OlderVersionRuns:
        return QStringLiteral("the last working one runs");
    case ScriptFailure::Standing::Repeating:
        break;
    }
    return failure.repeats == 0 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames in a row").arg(failure.repeats + 1);
}

std::vector<StatusStrip::Text> StatusStrip::Lines()
{
    std::vector<Text> lines;
    for (const ScriptFailure* failure : g_scriptFailures.Standing()) {
        if (lines.size() == kMostLines)
            break;
        Text text;
        text.error = true;
        const bool callback = failure == &g_scriptFailures.update || failure == &g_scriptFailures.render;
        // A shader's messages name their file and line already.
        text.message = !callback && failure != &g_scriptFailures.load
            ? FirstLine(failure->error)
            : QString::fromStdString(failure->chunk) + QStringLiteral(": ") + FirstLine(failure->error);
        if (callback)
            text.count = Standing(*failure);
        lines.push_back(text);
    }
    if (!lines.empty())
        return lines;
    Text text;
    if (g_musicClock && (g_musicClock->Paused() || SecondsSinceMusicJump() < kTimeShownAfterJumpSeconds))
        text.message = MusicTimeText(g_musicClock->Time());
    double from, to;
    if (g_musicClock && g_musicClock->Loop(from, to))
        AppendPart(text.message, QStringLiteral("loop ") + MusicTimeText(from) + QChar(0x2013) + MusicTimeText(to));
    if (!g_notice.isEmpty() && std::chrono::steady_clock::now() - g_noticeShown < kNoticeShown)
        AppendPart(text.message, g_notice);
    if (!text.message.isEmpty())
        lines.push_back(text);
    return lines;
}

StatusStrip::Text StatusStrip::Current()
{
    const std::vector<Text> lines = Lines();
    return lines.empty() ? Text() : lines.front();
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
void StatusStrip::Prepare(Line& line, const Text& text, int width, int height)
{
    const TextStyle messageStyle{font, band, kTextColour, height, ratio};
    const TextStyle tailStyle{font, band, kCountColour, height, ratio};
    if (!text.error) {
        line.fittedWidth = -1;
        line.message.Set(QString(), messageStyle);
    } else if (text.message != line.fittedMessage || text.count.size() != line.fittedCountLength
               || width != line.fittedWidth || ratio != line.fittedRatio) {
        Text fitted = text;
        Fit(fitted, QFontMetrics(font), int(width / ratio));
        line.fittedMessage = text.message;
        line.fittedCountLength = int(text.count.size());
        line.fittedWidth = width;
        line.fittedRatio = ratio;
        line.countShown = !fitted.count.isEmpty();
        line.message.Set(fitted.message, messageStyle);
    } else {
        // The same cut message, drawn again only if the strip's height changed.
        line.message.Set(line.message.Text(), messageStyle);
    }
    const QString tail = !text.error ? text.message : line.countShown ? text.count : QString();
    const int leading = digits.LeadingGlyphs(tail);
    line.number = tail.left(leading);
    line.words.Set(tail.mid(leading), tailStyle);
}

void StatusStrip::DrawBandAndText(const Line& line, int y, int height) const
{
    const int padding = int(std::lround(kPadding * ratio));
    const int runs[] = {line.message.Width(), digits.Width(line.number) + line.words.Width()};
    glColor3ub(GLubyte(band.red()), GLubyte(band.green()), GLubyte(band.blue()));
    glBegin(GL_QUADS);
    int x = 0, gap = padding;
    for (int run : runs) {
        if (run == 0)
            continue;
        OverlayQuad(x, y, gap, height);
        x += gap + run;
        gap = 2 * padding;
    }
    OverlayQuad(x, y, padding, height);
    glEnd();
    x = padding;
    line.message.Draw(x, y);
    if (line.message.Width() > 0 && runs[1] > 0)
        x += line.message.Width() + 2 * padding;
    line.words.Draw(digits.Draw(line.number, x, y), y);
}

void StatusStrip::Draw(qreal devicePixelRatio)
{
    const std::vector<Text> texts = Lines();
    if (texts.empty())
        return;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    // A view lower than a line is all strip; a view lower than all lines shows the top ones.
    const int height = std::min(viewport[3], OverlayBandHeight(font, devicePixelRatio));
    if (viewport[2] <= 0 || height <= 0)
        return;
    const size_t shown = std::min(texts.size(), size_t(viewport[3] / height));
    SetupOverlayRenderState(viewport[2], viewport[3]);
    band = texts.front().error ? kErrorBand : kTimeBand;
    ratio = devicePixelRatio;
    const TextStyle digitStyle{font, band, texts.front().error ? kCountColour : kTextColour, height, ratio};
    digits.Build(digitStyle);
    lines.resize(shown);
    for (size_t i = 0; i < shown; ++i) {
        if (!lines[i])
            lines[i] = std::make_unique<Line>();
        Prepare(*lines[i], texts[i], viewport[2], height);
        DrawBandAndText(*lines[i], int(shown - 1 - i) * height, height);
    }
    RestoreOverlayRenderState();
}
