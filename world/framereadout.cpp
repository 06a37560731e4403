// The frame readout.
#include "world/framereadout.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "world/framemeter.h"
#include "world/overlaygl.h"

static const QColor kBand(32, 32, 32);
static const QColor kInk(245, 245, 245);
static constexpr int kPadding = 6;
static const char* const kWords[] = {" fps   update ", " ms   render ", " ms   host ", " ms"};

FrameReadout::FrameReadout()
    : font(OverlayFont())
    , digits(QStringLiteral("0123456789."))
{
}

void FrameReadout::Figures(const FrameMeter& meter, QString* figures)
{
    figures[0] = QString::number(std::lround(meter.framesPerSecond));
    figures[1] = QString::number(meter.last.updateMs, 'f', 2);
    figures[2] = QString::number(meter.last.renderMs, 'f', 2);
    // A clock read between two others can make the rest a hair below nothing.
    figures[3] = QString::number(std::max(0.0, meter.last.hostMs), 'f', 2);
}

QString FrameReadout::Text(const FrameMeter& meter)
{
    QString figures[kFigures], text;
    Figures(meter, figures);
    for (int i = 0; i < kFigures; ++i)
        text += figures[i] + QLatin1String(kWords[i]);
    return text;
}

void FrameReadout::Draw(const FrameMeter& meter, qreal devicePixelRatio)
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int height = OverlayBandHeight(font, devicePixelRatio);
    if (viewport[2] <= 0 || viewport[3] < height)
        return;
    SetupOverlayRenderState(viewport[2], viewport[3]);
    const TextStyle style{font, kBand, kInk, height, devicePixelRatio};
    digits.Build(style);
    QString figures[kFigures];
    Figures(meter, figures);
    const int padding = int(std::lround(kPadding * devicePixelRatio));
    int width = 2 * padding;
    for (int i = 0; i < kFigures; ++i) {
        words[i].Set(QLatin1String(kWords[i]), style);
        width += digits.Width(figures[i]) + words[i].Width();
    }
    // From the right edge; a view narrower than the readout shows its start.
    int x = std::max(0, viewport[2] - width);
    const int y = viewport[3] - height;
    glColor3ub(GLubyte(kBand.red()), GLubyte(kBand.green()), GLubyte(kBand.blue()));
    glBegin(GL_QUADS);
    OverlayQuad(x, y, padding, height);
    OverlayQuad(x + width - padding, y, padding, height);
    glEnd();
    x += padding;
    for (int i = 0; i < kFigures; ++i) {
        x = digits.Draw(figures[i], x, y);
        words[i].Draw(x, y);
        x += words[i].Width();
    }
    RestoreOverlayRenderState();
}
