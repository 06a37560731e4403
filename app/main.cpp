#include <QApplication>

#include "app/mainwindow.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    int result;
    {
        MainWindow window;
        window.show();
        result = application.exec();
    }
    return result;
}
