#pragma once

#include <QMainWindow>
#include <QWidget>

// The main window's form. Widgets belong to Qt's parent tree; the structure only points at
// them, and each member carries its widget's object name.
struct Ui_cMainWindow
{
    QWidget* centralWidget = nullptr;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
