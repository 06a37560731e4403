#include "app/mainwindow.h"

#include <QKeySequence>
#include <QList>
#include <QShortcut>
#include <QSplitter>
#include <QTextCursor>
#include <QWindow>

#include "app/scriptwatcher.h"
#include "app/soundtrack.h"
#include "app/ui_mainwindow.h"
#include "console/historyfile.h"
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
    auto* consoleKeys = new QShortcut(this);
    consoleKeys->setKeys({QKeySequence(Qt::CTRL | Qt::Key_QuoteLeft), QKeySequence(Qt::Key_F12)});
    connect(consoleKeys, &QShortcut::activated, this, &MainWindow::ToggleConsole);
    InitLua();
    RegisterLuaBindings();
    ui->repl->SetPrompt("Lua>");
    historyFile = std::make_unique<HistoryFile>(HistoryFile::DefaultPath());
    ui->repl->SetHistory(historyFile->Load());
    connect(ui->repl, &REPLEdit::HistoryEntryAdded, this, [this](const QString& entry) { historyFile->Append(entry); });
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

// Opens the collapsed console to a third of the splitter with the keyboard in it, or collapses
// it and gives the keyboard back to the view.
void MainWindow::ToggleConsole()
{
    const QList<int> sizes = ui->splitter->sizes();
    const int total = sizes.at(0) + sizes.at(1);
    if (sizes.at(1) == 0) {
        ui->splitter->setSizes(QList<int>{total - total / 3, total / 3});
        ui->repl->setFocus(Qt::ShortcutFocusReason);
        // From the view's own window the keyboard comes back to this one.
        windowHandle()->requestActivate();
    } else {
        ui->splitter->setSizes(QList<int>{total, 0});
        ui->splitter->widget(0)->setFocus(Qt::ShortcutFocusReason);
    }
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
