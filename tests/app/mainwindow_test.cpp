#include <QDir>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "console/repledit.h"

// The main window built as the program builds it, in a folder without prod.lua or soundtrack.
class MainWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    MainWindow* window = nullptr;

    QString Console() const { return window->ui->repl->toPlainText(); }

    // Runs a command the way the console submits it and returns the text it added. The document
    // shows each CR LF that print() writes as one line break.
    QString Command(const QString& command)
    {
        const int before = Console().size();
        window->RunREPLCommand(command);
        return Console().mid(before);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        QDir::setCurrent(folder.path());
        window = new MainWindow;
    }
    void cleanupTestCase() { delete window; }

    void titleIsTheProgramsOwnAfterStartUp()
    {
        QCOMPARE(window->windowTitle(), QString("Quillmere"));
        QVERIFY(window->isMaximized() || window->windowState() & Qt::WindowMaximized);
    }

    void formStacksTheViewAboveTheCollapsedConsole()
    {
        Ui_MainWindow* ui = window->ui;
        QCOMPARE(ui->centralWidget->objectName(), QString("centralWidget"));
        QCOMPARE(ui->splitter->orientation(), Qt::Vertical);
        QCOMPARE(ui->splitter->count(), 2);
        QCOMPARE(ui->splitter->widget(0)->objectName(), QString("world"));
        QCOMPARE(ui->splitter->widget(1), static_cast<QWidget*>(ui->repl));
        QCOMPARE(ui->splitter->widget(0)->minimumSize(), QSize(0, 300));
        QCOMPARE(ui->splitter->widget(0)->sizePolicy().verticalStretch(), 4);
        QCOMPARE(ui->repl->minimumSize(), QSize(300, 100));
        QCOMPARE(ui->repl->objectName(), QString("repl"));
        QCOMPARE(ui->verticalLayout->spacing(), 6);
        QTRY_COMPARE(ui->splitter->sizes().at(1), 0);
    }

    void outputThenErrorThenPromptAppearInTheConsole()
    {
        const QString added = Command("print('one', nil) error('two', 0)");
        QCOMPARE(added, QString("\none\nNot a string\n\ntwo\n\nLua>"));
        QCOMPARE(Command(""), QString("\nLua>"));
    }

    void textCrossesTheConsoleAsUtf8()
    {
        QCOMPARE(Command(QString::fromUtf8("print(\"h\u00e9llo\")")), QString::fromUtf8("\nh\u00e9llo\n\nLua>"));
        QCOMPARE(Command("print(string.char(255))"), QString("\n") + QChar(0xFFFD) + "\n\nLua>");
    }

    void outputThatLooksLikeMarkupStaysAsPrinted()
    {
        QCOMPARE(Command("print('<b>bold</b> &amp; <i>')"), QString("\n<b>bold</b> &amp; <i>\n\nLua>"));
        QCOMPARE(Command("error('<p>x</p>', 0)"), QString("\n<p>x</p>\n\nLua>"));
    }

    void longOutputArrivesWhole()
    {
        const QString added = Command("for i = 1, 10000 do print(i) end");
        QVERIFY(added.startsWith("\n1\n2\n"));
        QVERIFY(added.endsWith("\n9999\n10000\n\nLua>"));
        QCOMPARE(added.count("\n"), 10000 + 2);
    }

    void missingStartupScriptLeavesTheDefaultCallbacks()
    {
        QCOMPARE(Command("update() render() print(type(LMBDown), type(mousemove))"),
                 QString("\nfunction\nfunction\n\nLua>"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
