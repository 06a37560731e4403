#include "app/mainwindow.h"

#include <QList>
#include <QSplitter>

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
    RunLuaString("dofile(\"prod.lua\")");
    StartSoundtrack();
}

MainWindow::~MainWindow()
{
    delete ui;
    CloseLua();
    StopSoundtrack();
}

void MainWindow::RunREPLCommand(QString sCommand)
{
    std::string output, error;
    ExecuteLua(sCommand.toStdString(), output, error);
    if (!output.empty())
        ui->repl->append(QString::fromUtf8(output.data(), qsizetype(output.size())));
    if (!error.empty())
        ui->repl->append(QString::fromUtf8(error.data(), qsizetype(error.size())));
    ui->repl->ShowPrompt();
}
