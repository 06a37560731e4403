#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

#include "app/showsettings.h"

class HistoryFile;
class SceneWatcher;
class StopKeyWatcher;
struct Ui_MainWindow;

// The one window. Its constructor runs the whole start-up, its destructor the shut-down.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const ShowSettings& show = ShowSettings(), QWidget* parent = nullptr);
    ~MainWindow() override;

    Ui_MainWindow* ui;
    SceneWatcher* sceneWatcher;
    std::unique_ptr<HistoryFile> historyFile;
    std::unique_ptr<StopKeyWatcher> stopKeys;

public slots:
    void RunREPLCommand(QString sCommand);

protected:
    // In the player: the window's keys to the view.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowAsPlayer(const ShowSettings& show);
    // F11: a picture of the next frame in the scene's folder, and where it went in the strip.
    void SaveScreenshot();
    void Announce(const std::string& text);
    void ToggleConsole();
    void FitConsoleFocusToItsSize();
    // After the first frame: the soundtrack and the shader passes.
    void FinishStartUpOnce();

    QMetaObject::Connection firstFrameWatch;
    bool startUpFinished = false;
    bool player = false;
};

extern MainWindow* g_mainWindow;
