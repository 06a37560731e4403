#pragma once
// The main window's form: the view above the console in a vertical splitter.

class QMainWindow;
class QSplitter;
class QVBoxLayout;
class QWidget;
class OpenGLEmptyWorldWidget;
class REPLEdit;

struct Ui_MainWindow {
    QWidget* centralWidget = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QSplitter* splitter = nullptr;
    OpenGLEmptyWorldWidget* world = nullptr;
    REPLEdit* repl = nullptr;

    void setupUi(QMainWindow* mainWindow);
    void retranslateUi(QMainWindow* mainWindow);
};
