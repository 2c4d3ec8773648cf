#pragma once

// The widget headers come with the form, so that a plug-in reaching `ui->displayLayout` or
// `ui->pluginTree` needs nothing more than this header.
#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QWidget>

// The main window's form. Widgets belong to Qt's parent tree (the window deletes them); the
// structure only points at them. Each member carries its widget's object name, and plug-ins
// reach the widgets through the window's `ui` by these names, so neither the names nor the
// order of the members may change.
struct Ui_cMainWindow
{
    QWidget* centralWidget = nullptr;
    QVBoxLayout* centralWidgetLayout = nullptr;
    QFrame* HeaderFrame = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* Logo = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    QLabel* label = nullptr;
    QLabel* icon = nullptr;
    QLabel* itemStr = nullptr;
    QFrame* mainFrame = nullptr;
    QHBoxLayout* horizontalLayout_3 = nullptr;
    QWidget* pluginBrowserWidget = nullptr;
    QVBoxLayout* vl2 = nullptr;
    QTreeWidget* pluginTree = nullptr;
    QGroupBox* pluginInfoBox = nullptr;
    QVBoxLayout* infoBoxLayout = nullptr;
    QVBoxLayout* mainFrameLayout = nullptr;
    QWidget* display = nullptr;
    QVBoxLayout* displayLayout = nullptr;
    QWidget* buttonWidget = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    QFrame* line = nullptr;
    QDialogButtonBox* buttonBox = nullptr;
    QMenuBar* menuBar = nullptr;
    QToolBar* mainToolBar = nullptr;
    QStatusBar* statusBar = nullptr;

    // Builds the whole form once; the texts are those of retranslateUi.
    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
