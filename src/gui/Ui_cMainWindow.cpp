#include "Ui_cMainWindow.h"

#include <QCoreApplication>

void Ui_cMainWindow::setupUi(QMainWindow* window)
{
    if (window->objectName().isEmpty())
        window->setObjectName("cMainWindow");
    window->resize(589, 442);
    centralWidget = new QWidget(window);
    centralWidget->setObjectName("centralWidget");
    window->setCentralWidget(centralWidget);
    retranslateUi(window);
}

void Ui_cMainWindow::retranslateUi(QMainWindow* window)
{
    window->setWindowTitle(QCoreApplication::translate("cMainWindow", "Corvane - Tessmark"));
}
