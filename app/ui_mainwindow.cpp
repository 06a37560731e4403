#include "app/ui_mainwindow.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QMetaObject>
#include <QSplitter>
#include <QVBoxLayout>

#include "console/repledit.h"
#include "world/openglemptyworldwidget.h"

void Ui_MainWindow::setupUi(QMainWindow* mainWindow)
{
    if (mainWindow->objectName().isEmpty())
        mainWindow->setObjectName("MainWindow");
    mainWindow->resize(403, 442);

    centralWidget = new QWidget(mainWindow);
    centralWidget->setObjectName("centralWidget");
    verticalLayout = new QVBoxLayout(centralWidget);
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(11, 11, 11, 11);
    verticalLayout->setObjectName("verticalLayout");

    splitter = new QSplitter(centralWidget);
    splitter->setObjectName("splitter");
    QSizePolicy splitterPolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    splitterPolicy.setHorizontalStretch(0);
    splitterPolicy.setVerticalStretch(0);
    splitterPolicy.setHeightForWidth(splitter->sizePolicy().hasHeightForWidth());
    splitter->setSizePolicy(splitterPolicy);
    splitter->setOrientation(Qt::Vertical);

    world = new OpenGLEmptyWorldWidget;
    // The GL window sits in the widget tree through a container, which carries the form's name,
    // size policy, minimum size and focus policy.
    QWidget* worldContainer = QWidget::createWindowContainer(world, splitter);
    worldContainer->setObjectName("world");
    QSizePolicy worldPolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    worldPolicy.setHorizontalStretch(0);
    worldPolicy.setVerticalStretch(4);
    worldPolicy.setHeightForWidth(worldContainer->sizePolicy().hasHeightForWidth());
    worldContainer->setSizePolicy(worldPolicy);
    worldContainer->setMinimumSize(0, 300);
    worldContainer->setFocusPolicy(Qt::ClickFocus);
    world->container = worldContainer;
    splitter->addWidget(worldContainer);

    repl = new REPLEdit(splitter);
    repl->setObjectName("repl");
    QSizePolicy replPolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    replPolicy.setHorizontalStretch(0);
    replPolicy.setVerticalStretch(1);
    replPolicy.setHeightForWidth(repl->sizePolicy().hasHeightForWidth());
    repl->setSizePolicy(replPolicy);
    repl->setMinimumSize(300, 100);
    repl->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    splitter->addWidget(repl);

    verticalLayout->addWidget(splitter);
    mainWindow->setCentralWidget(centralWidget);

    retranslateUi(mainWindow);

    QObject::connect(repl, SIGNAL(CommandEntered(QString)), mainWindow, SLOT(RunREPLCommand(QString)));
    QMetaObject::connectSlotsByName(mainWindow);
}

void Ui_MainWindow::retranslateUi(QMainWindow* mainWindow)
{
    mainWindow->setWindowTitle(QCoreApplication::translate("MainWindow", "Kestrova", nullptr));
}
