#include "app/mainwindow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QList>
#include <QPalette>
#include <QShortcut>
#include <QSplitter>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "analysis/soundtrackanalysis.h"
#include "app/scenewatcher.h"
#include "app/soundtrack.h"
#include "app/stopkeywatcher.h"
#include "app/synclink.h"
#include "app/ui_mainwindow.h"
#include "console/historyfile.h"
#include "console/repledit.h"
#include "gpu/scriptshader.h"
#include "script/bindings.h"
#include "script/framecallback.h"
#include "script/luaengine.h"
#include "script/scriptfailures.h"
#include "script/musicclock.h"
#include "world/kestrovaworld.h"
#include "world/openglemptyworldwidget.h"
#include "world/statusstrip.h"
#include "world/world.h"

MainWindow* g_mainWindow = nullptr;

// F6 and F7 jump this far back or forward in the music; F7 stops kMusicEndMarginSeconds before
// its end.
constexpr double kMusicStepSeconds = 5;
// The soundtrack starts and the shader passes are compiled once the first frame has been shown,
// or this long after start-up in a window that is never shown.
constexpr int kStartUpLatestFinishMs = 2000;

// A jump by that many seconds, not below 0 and, forward, to at most the margin before the end;
// a forward jump that would not move forward is none.
static void StepMusic(double seconds)
{
    if (!g_musicClock)
        return;
    const double now = g_musicClock->Time();
    double target = std::max(0.0, now + seconds);
    if (seconds > 0 && g_musicClock->Length() > 0)
        target = std::min(target, g_musicClock->Length() - kMusicEndMarginSeconds);
    if (seconds < 0 || target > now)
        SeekMusic(target);
}

// F8 loops this many beats from the current one.
constexpr int kLoopBeats = 8;
constexpr double kSecondsPerMinute = 60;

// Sets a loop over the beats that start at the current beat, or removes the loop that is set.
// Without a tempo there are no beats to loop.
static void ToggleMusicLoop()
{
    double from, to;
    if (!g_musicClock || g_musicClock->Loop(from, to)) {
        if (g_musicClock)
            g_musicClock->ClearLoop();
        return;
    }
    const MusicTempo tempo = CurrentMusicTempo();
    if (tempo.bpm <= 0)
        return;
    const double beat = kSecondsPerMinute / tempo.bpm;
    from = std::max(0.0, tempo.firstBeat + std::floor((g_musicClock->Time() - tempo.firstBeat) / beat) * beat);
    to = from + kLoopBeats * beat;
    if (g_musicClock->Length() > 0)
        to = std::min(to, g_musicClock->Length());
    if (from < to)
        g_musicClock->SetLoop(from, to);
}

static void ToggleMusicPause()
{
    if (g_musicClock)
        g_musicClock->SetPaused(!g_musicClock->Paused());
}

MainWindow::MainWindow(const ShowSettings& show, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , player(show.player)
{
    g_mainWindow = this;
    // The form creates the view and with it the world, so the world exists before any script runs.
    ui->setupUi(this);
    if (!player) {
        auto* consoleKeys = new QShortcut(this);
        consoleKeys->setKeys({QKeySequence(Qt::CTRL | Qt::Key_QuoteLeft), QKeySequence(Qt::Key_F12)});
        connect(consoleKeys, &QShortcut::activated, this, &MainWindow::ToggleConsole);
    }
    // The music's keys work from anywhere in the window; scenes never see them.
    connect(new QShortcut(Qt::Key_F5, this), &QShortcut::activated, this, ToggleMusicPause);
    connect(new QShortcut(Qt::Key_F6, this), &QShortcut::activated, this, [] { StepMusic(-kMusicStepSeconds); });
    connect(new QShortcut(Qt::Key_F7, this), &QShortcut::activated, this, [] { StepMusic(kMusicStepSeconds); });
    connect(new QShortcut(Qt::Key_F8, this), &QShortcut::activated, this, ToggleMusicLoop);
    // The view's own keys, from anywhere in the window too: F9 the frame readout, F10 the guides.
    OpenGLEmptyWorldWidget* view = ui->world;
    connect(new QShortcut(Qt::Key_F9, this), &QShortcut::activated, this,
            [view] { view->ShowFrameReadout(!view->FrameReadoutShown()); });
    connect(new QShortcut(Qt::Key_F10, this), &QShortcut::activated, this,
            [view] { view->world->ShowGuides(!view->world->GuidesShown()); });
    connect(new QShortcut(Qt::Key_F11, this), &QShortcut::activated, this, &MainWindow::SaveScreenshot);
    view->SetFrameRate(show.fps);
    InitLua();
    SetLogSink([](const std::string& line) {
        if (g_mainWindow)
            g_mainWindow->ui->repl->ShowLine(QString::fromUtf8(line.data(), qsizetype(line.size())));
    });
    RegisterLuaBindings();
    InstallSoundtrackClock();
    ui->repl->SetPrompt("Lua>");
    historyFile = std::make_unique<HistoryFile>(HistoryFile::DefaultPath());
    ui->repl->SetHistory(historyFile->Load());
    connect(ui->repl, &REPLEdit::HistoryEntryAdded, this, [this](const QString& entry) { historyFile->Append(entry); });
    setWindowTitle("Quillmere");
    if (player) {
        ShowAsPlayer(show);
    } else {
        showMaximized();
        ui->splitter->setSizes(QList<int>{500, 0});
        FitConsoleFocusToItsSize();
        connect(ui->splitter, &QSplitter::splitterMoved, this, &MainWindow::FitConsoleFocusToItsSize);
    }
    // Before the start script, which may load shaders and textures and make sync tracks.
    sceneWatcher = new SceneWatcher(ui->world->gpu, this);
    // The files of the objects a frame made are watched once it is drawn.
    connect(ui->world->frameTimer, &QTimer::timeout, sceneWatcher, &SceneWatcher::FollowObjectFiles);
    new SyncLink(sceneWatcher, ui->world->frameTimer, this);
    // A save made while a chunk ran away shows within a frame of the chunk being stopped.
    g_world->beforeEachChunk = [this] {
        if (TakeChunkInterrupted())
            sceneWatcher->ApplyWaitingReload();
    };
    stopKeys = std::make_unique<StopKeyWatcher>(winId());
    // The scene's shader passes are compiled once the first frame is on the screen.
    HoldShaderCompiles(true);
    sceneWatcher->RunStartScript();
    // The first frame needs neither the soundtrack nor the shader passes: the music is read and
    // decoded, and the passes compiled, after that frame, so the picture comes sooner and the
    // music starts with it, not while the window opens.
    firstFrameWatch = connect(ui->world->frameTimer, &QTimer::timeout, this, [this] {
        if (ui->world->isExposed())
            QTimer::singleShot(0, this, &MainWindow::FinishStartUpOnce);
    });
    QTimer::singleShot(kStartUpLatestFinishMs, this, &MainWindow::FinishStartUpOnce);
}

void MainWindow::FinishStartUpOnce()
{
    if (startUpFinished)
        return;
    startUpFinished = true;
    disconnect(firstFrameWatch);
    HoldShaderCompiles(false);
    StartSoundtrack();
}

// The scene alone: no console, guides, strip, cursor or mouse camera, on black where the view
// does not reach yet; Escape ends the program as closing the window does.
void MainWindow::ShowAsPlayer(const ShowSettings& show)
{
    ui->verticalLayout->setContentsMargins(0, 0, 0, 0);
    ui->repl->hide();
    ui->world->container->setMinimumSize(0, 0);
    ui->world->showStatusStrip = false;
    ui->world->world->ShowGuides(false);
    ui->world->world->mouseCameraEnabled = false;
    ui->world->setCursor(Qt::BlankCursor);
    setCursor(Qt::BlankCursor);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, &QWidget::close);
    if (show.width > 0) {
        resize(show.width, show.height);
        this->show();
    } else {
        showFullScreen();
    }
    // Keys that reach the window, which has nothing to give them to, go to the view; those that
    // reach the view's own window (once it has been clicked) go there straight.
    installEventFilter(this);
    activateWindow();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != this)
        return QMainWindow::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        QCoreApplication::sendEvent(ui->world, event);
        return true;
    }
    // Keys released in another window never come back here.
    if (event->type() == QEvent::WindowDeactivate)
        ui->world->world->input.ReleaseAll();
    return QMainWindow::eventFilter(watched, event);
}

// screenshot-YYYYMMDD-HHMMSS.png in the scene's folder; -2, -3 ... after the time when a picture
// of that second is there already.
static QString NewScreenshotPath()
{
    const QDir folder = QDir::current();
    const QString stem = "screenshot-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    QString path = folder.absoluteFilePath(stem + ".png");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.absoluteFilePath(QString("%1-%2.png").arg(stem).arg(n));
    return path;
}

void MainWindow::SaveScreenshot()
{
    const std::string problem = ui->world->world->screenshots.Ask(
        NewScreenshotPath().toStdString(), [this](const std::string& file, const std::string& error) {
            Announce(error.empty() ? "screenshot saved as " + file : error);
        });
    if (!problem.empty())
        Announce(problem);
}

// In the strip; the player has none, and says it on standard output.
void MainWindow::Announce(const std::string& text)
{
    if (player) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    } else {
        StatusStrip::ShowNotice(QString::fromStdString(text));
    }
}

MainWindow::~MainWindow()
{
    g_scriptFailures.SayRepeats();
    SayFoldedLog();
    SetLogSink(nullptr);
    stopKeys.reset();
    delete ui;
    CloseLua();
    StopSoundtrack();
}

// Opens the collapsed console to a third of the splitter with the keyboard in it, or collapses
// it and gives the keyboard back to the view.
void MainWindow::ToggleConsole()
{
    const QList<int> sizes = ui->splitter->sizes();
    const int total = sizes.at(0) + sizes.at(1);
    if (sizes.at(1) == 0) {
        ui->splitter->setSizes(QList<int>{total - total / 3, total / 3});
        FitConsoleFocusToItsSize();
        ui->repl->setFocus(Qt::ShortcutFocusReason);
        // From the view's own window the keyboard comes back to this one.
        windowHandle()->requestActivate();
    } else {
        ui->splitter->setSizes(QList<int>{total, 0});
        FitConsoleFocusToItsSize();
        ui->splitter->widget(0)->setFocus(Qt::ShortcutFocusReason);
    }
}

// Tab does not go to a collapsed console, where what is typed next would run unseen; the shortcut
// or the splitter handle opens it.
void MainWindow::FitConsoleFocusToItsSize()
{
    ui->repl->setFocusPolicy(ui->splitter->sizes().at(1) > 0 ? Qt::StrongFocus : Qt::ClickFocus);
}

// Appends a paragraph of plain text: QTextEdit::append would take text that looks like markup
// ("<b>x</b>") as rich text and show something other than what the script printed.
static void AppendPlainText(QTextEdit* edit, const std::string& text)
{
    QTextCursor end(edit->document());
    end.movePosition(QTextCursor::End);
    end.insertBlock();
    end.insertText(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

// As in Lua's own interpreter, a command shows what it returns, and "=expr" is "return expr".
void MainWindow::RunREPLCommand(QString sCommand)
{
    if (sCommand.startsWith('='))
        sCommand.replace(0, 1, "return ");
    std::string output, error, values;
    ExecuteLua(sCommand.toStdString(), output, error, &values);
    if (!output.empty())
        AppendPlainText(ui->repl, output);
    if (!values.empty())
        AppendPlainText(ui->repl, values);
    if (!error.empty())
        AppendPlainText(ui->repl, error);
    ui->repl->ShowPrompt();
    // The command may have defined what a failing callback lacked.
    RetryFrameCallbacks(false);
}
