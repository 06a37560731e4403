#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class HistoryFile;
class SceneWatcher;
class StopKeyWatcher;
struct Ui_MainWindow;

// The one window. Its constructor runs the whole start-up, its destructor the shut-down.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    Ui_MainWindow* ui;
    SceneWatcher* sceneWatcher;
    std::unique_ptr<HistoryFile> historyFile;
    std::unique_ptr<StopKeyWatcher> stopKeys;

public slots:
    void RunREPLCommand(QString sCommand);

private:
    void ToggleConsole();
    void FitConsoleFocusToItsSize();
    void StartSoundtrackOnce();

    QMetaObject::Connection firstFrameWatch;
    bool soundtrackStarted = false;
};

extern MainWindow* g_mainWindow;
