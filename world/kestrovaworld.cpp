#include "world/kestrovaworld.h"

#include <GL/gl.h>

#include <chrono>

#include "app/mainwindow.h"
#include "script/framecallback.h"
#include "script/musicanalysisbindings.h"
#include "world/framemeter.h"

KestrovaWorld* g_world = nullptr;

// The program's credits: 21 phrases in runs of spaces, scrolled through the window title.
const QString g_creditsText = QString::fromLatin1(
    "                                           Quillmere - a real-time dem"
    "o host                                                             Sce"
    "ne scripting in Lua 5.1                                               "
    "Rendering through OpenGL                                              "
    "               Window and console built with Qt                       "
    "                        Soundtrack streamed from Ondrelle.mp3         "
    "                                                    Camera mathematics"
    "                                               Quaternion orbit and fr"
    "ee look                                                             De"
    "pth-picked pivot                                               Ground "
    "grid and ground box                                                   "
    "          Live-coding console                                         "
    "      Bracket markers                                                 "
    "            Command history                                           "
    "    Frame loop at a fixed step                                        "
    "                    Credits marquee                                   "
    "           Build and set-up scripts                                   "
    "                         Test harness under Xvfb                      "
    "                        Demo scene                                    "
    "                        Music synthesis                               "
    "               Documentation                                          "
    "                  Thanks for watching                                 "
    "             Made by the Quillmere developers                         "
    "                            ");
int g_marqueeWidth = 70;
int g_marqueeFrameDivisor = 4;
int g_marqueePos = 0;
int g_marqueeFrameCount = 0;

static const QString kTitleEdge(36, QLatin1Char('-'));

// One of the frame's callbacks, timed into ms unless that is null. Timed, it is charged with the
// GL work it asked for too: the driver works behind the calls, and would otherwise finish the
// callback's drawing in whatever waits for it next (the host's drawing or the swap). The work
// asked for before it is finished first, so that it is not charged with that.
static void RunFrameCallback(FrameCallback& callback, double* ms)
{
    if (!ms) {
        callback.Run();
        return;
    }
    glFinish();
    const auto start = std::chrono::steady_clock::now();
    callback.Run();
    glFinish();
    *ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

KestrovaWorld::KestrovaWorld()
{
    g_world = this;
}

KestrovaWorld::~KestrovaWorld()
{
    g_world = nullptr;
}

QString KestrovaWorld::MarqueeTitle()
{
    return kTitleEdge + g_creditsText.mid(g_marqueePos, g_marqueeWidth) + kTitleEdge;
}

void KestrovaWorld::Update(float)
{
    if (g_mainWindow)
        g_mainWindow->setWindowTitle(MarqueeTitle());
    g_marqueeFrameCount = (g_marqueeFrameCount + 1) % g_marqueeFrameDivisor;
    if (g_marqueeFrameCount == 0)
        g_marqueePos = (g_marqueePos + 1) % g_creditsText.size();
    BeginMusicFrame();
    if (beforeEachChunk)
        beforeEachChunk();
    RunFrameCallback(g_updateCallback, chunkTimes ? &chunkTimes->updateMs : nullptr);
}

void KestrovaWorld::Render()
{
    if (beforeEachChunk)
        beforeEachChunk();
    RunFrameCallback(g_renderCallback, chunkTimes ? &chunkTimes->renderMs : nullptr);
}
