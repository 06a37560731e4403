#include "app/mainwindow.h"

#include <QList>
#include <QSplitter>
#include <QTextCursor>

#include "app/scriptwatcher.h"
#include "app/soundtrack.h"
#include "app/ui_mainwindow.h"
#include "console/repledit.h"
#include "script/bindings.h"
#include "script/luaengine.h"

MainWindow* g_mainWindow = nullptr;

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    g_mainWindow = this;
    // The form creates the view and with it the world, so the world exists before any script runs.
    ui->setupUi(this);
    InitLua();
    RegisterLuaBindings();
    ui->repl->SetPrompt("Lua>");
    setWindowTitle("Quillmere");
    showMaximized();
    ui->splitter->setSizes(QList<int>{500, 0});
    scriptWatcher = new ScriptWatcher(this);
    scriptWatcher->RunStartScript();
    StartSoundtrack();
}

MainWindow::~MainWindow()
{
    delete ui;
    CloseLua();
    StopSoundtrack();
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

void MainWindow::RunREPLCommand(QString sCommand)
{
    std::string output, error;
    ExecuteLua(sCommand.toStdString(), output, error);
    if (!output.empty())
        AppendPlainText(ui->repl, output);
    if (!error.empty())
        AppendPlainText(ui->repl, error);
    ui->repl->ShowPrompt();
}
