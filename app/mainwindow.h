#pragma once

#include <QMainWindow>
#include <QString>

struct Ui_MainWindow;

// The one window. Its constructor runs the whole start-up, its destructor the shut-down.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    Ui_MainWindow* ui;

public slots:
    void RunREPLCommand(QString sCommand);
};

extern MainWindow* g_mainWindow;
