#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "console/repledit.h"
#include "script/musicclock.h"
#include "script/scriptfailures.h"
#include "world/statusstrip.h"
#include "world/openglemptyworldwidget.h"
#include "world/viewgl.h"

// The main window built as the program builds it, in a folder without prod.lua or soundtrack.
class MainWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    MainWindow* window = nullptr;

    // Runs a command the way the console submits it and returns the text it added. The document
    // shows each CR LF that print() writes as one line break.
    QString Command(const QString& command)
    {
        const int before = window->ui->repl->toPlainText().size();
        window->RunREPLCommand(command);
        return window->ui->repl->toPlainText().mid(before);
    }
    int ConsoleHeight() const { return window->ui->splitter->sizes().at(1); }

private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        QDir::setCurrent(folder.path());
        qputenv("SDL_AUDIODRIVER", "dummy");
        qputenv("QUILLMERE_HISTORY", "");
        QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
        window = new MainWindow;
        // From the first frame on the credits take the title over.
        QCOMPARE(window->windowTitle(), QString("Quillmere"));
        QVERIFY(QTest::qWaitForWindowActive(window, 20000));
    }
    void cleanupTestCase() { delete window; }

    void startUpShowsTheWindowMaximisedWithTheConsoleCollapsed()
    {
        QVERIFY(window->windowState() & Qt::WindowMaximized);
        QTRY_COMPARE(ConsoleHeight(), 0);
        QCOMPARE(Command("update() render() print(type(LMBDown), type(LMBUp), type(mousemove))"),
                 QString("\nfunction\nfunction\nfunction\n\nLua>"));
    }

    void outputThenErrorThenPromptAppearAsPlainText()
    {
        QCOMPARE(Command("print('one', nil) error('two', 0)"), QString("\none\nNot a string\n\ntwo\n\nLua>"));
        QCOMPARE(Command(""), QString("\nLua>"));
        QCOMPARE(Command(QString::fromUtf8("print(\"h\u00e9llo\")")), QString::fromUtf8("\nh\u00e9llo\n\nLua>"));
        QCOMPARE(Command("print('<b>bold</b> &amp; <i>')"), QString("\n<b>bold</b> &amp; <i>\n\nLua>"));
        // What a command returns follows its output, as tostring shows it; "=" stands for "return".
        QCOMPARE(Command("print('out') return 1, nil, setmetatable({}, {__tostring = function() return 'T' end})"),
                 QString("\nout\n\n1\tnil\tT\n\nLua>"));
        QCOMPARE(Command("=2 + 3"), QString("\n5\n\nLua>"));
        QCOMPARE(Command("=nosuch()"), QString("\n[string \"return nosuch()\"]:1: attempt to call global 'nosuch' (a nil value)\n\nLua>"));
    }

    // log() from a command joins its output in order; from a frame it shows above the prompt, and
    // what is being typed stays as it is.
    void logLinesShowInTheConsoleAboveThePrompt()
    {
        QCOMPARE(Command("print('a') log('b', 1, nil) print('c')"), QString("\na\nb\t1\tnil\nc\n\nLua>"));
        Command("logged = false function render() if not logged then logged = true log('from', 'render') end end");
        REPLEdit* repl = window->ui->repl;
        QTest::keyClicks(repl, "x = 1");
        QTRY_VERIFY_WITH_TIMEOUT(repl->toPlainText().endsWith("\nfrom\trender\nLua>x = 1"), 20000);
        QTest::keyClick(repl, Qt::Key_Return);
        QCOMPARE(Command("function render() end"), QString("\nLua>"));
    }

    // F12 and Ctrl+` open the console to a third of the splitter with the keyboard in it, and
    // close it again with the keyboard back in the view.
    void theShortcutOpensAndClosesTheConsole()
    {
        QWidget* view = window->ui->splitter->widget(0);
        for (QKeyCombination keys : {QKeyCombination(Qt::Key_F12), QKeyCombination(Qt::CTRL, Qt::Key_QuoteLeft)}) {
            QTest::keyClick(window, keys.key(), keys.keyboardModifiers());
            QVERIFY(std::abs(ConsoleHeight() - window->ui->splitter->height() / 3) < 10);
            QTRY_COMPARE(QApplication::focusWidget(), window->ui->repl);
            QTest::keyClick(window->ui->repl, keys.key(), keys.keyboardModifiers());
            QCOMPARE(ConsoleHeight(), 0);
            QTRY_VERIFY(view->hasFocus() || QGuiApplication::focusWindow() == window->ui->world);
        }
    }

    // Without a soundtrack the music's time runs from the first frame on, with no length.
    void withoutASoundtrackTheMusicTimeStillRuns()
    {
        Command("t = getMusicTime()");
        QTest::qWait(300);
        QCOMPARE(Command("print(getMusicTime() - t > 0.2 and 1 or 0, getMusicLength())"), QString("\n1\n0\n\nLua>"));
    }

    // F8 loops the 8 beats from the current one, at the tempo, and the strip shows the loop; F8
    // again removes it. Without music the time loops all the same.
    void f8LoopsEightBeatsFromTheCurrentBeatAndRemovesTheLoop()
    {
        Command("setMusicTempo(120, 0.25) pauseMusic(true) setMusicTime(3.1)");
        QTest::keyClick(window, Qt::Key_F8);
        double from = 0, to = 0;
        QVERIFY(g_musicClock->Loop(from, to));
        QCOMPARE(from, 2.75);
        QCOMPARE(to, 6.75);
        g_scriptFailures.Run(g_scriptFailures.load, "");  // the folder has no prod.lua
        QCOMPARE(StatusStrip::Current().message, QString::fromUtf8("0:03.10   loop 0:02.75\u20130:06.75"));
        QElapsedTimer since;
        since.start();
        Command("setMusicTime(6.7) pauseMusic(false)");
        QTRY_VERIFY_WITH_TIMEOUT(g_musicClock->Time() < 6.7, 60000);
        // Back at the loop's start and on from there, never further than the time run since.
        const double now = g_musicClock->Time();
        QVERIFY2(now >= 2.75 && now < 2.75 + since.elapsed() / 1000.0, QByteArray::number(now));
        QTest::keyClick(window, Qt::Key_F8);
        QVERIFY(!g_musicClock->Loop(from, to));
        QVERIFY(!StatusStrip::Current().message.contains("loop"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
