// Slots that are declared and wired already but whose behaviour comes with the plug-in work:
// each moves to its own file when it is built.
#include "cMainWindow.h"

void cMainWindow::onPluginTreeItemSelectionChanged()
{
    // The selection of a plug-in comes with the plug-in tree.
}

void cMainWindow::onSelectPlugin(int)
{
    // Selecting a plug-in by index comes with the plug-in tree.
}

void cMainWindow::onUpdateGUI()
{
    // Refreshing the current plug-in's pages comes with the plug-in tree.
}

void cMainWindow::onUpdatePluginItem(QTreeWidgetItem*, QString, bool)
{
    // Updating a plug-in's tree item comes with the plug-in tree.
}

void cMainWindow::onUpdateTree(void*)
{
    // Rebuilding a plug-in's items comes with the plug-in tree.
}

void cMainWindow::onAppLock(bool)
{
    // The application lock comes with the plug-in work (locks and pop-ups).
}

void cMainWindow::onActionLock(char*, int, char*, int, bool*, bool*, unsigned char)
{
    // The action lock comes with the plug-in work (locks and pop-ups).
}

void cMainWindow::onResetGUI()
{
    // The reset of the window comes with the plug-in work (locks and pop-ups).
}

void cMainWindow::onPluginSetup()
{
    // The plug-in setup page comes with the plug-in setup flow.
}

void cMainWindow::onAccept()
{
    // Saving a plug-in setup comes with the plug-in setup flow.
}

void cMainWindow::onReject()
{
    // Discarding a plug-in setup comes with the plug-in setup flow.
}

void cMainWindow::onClicked(QAbstractButton*)
{
    // Telling Save from Discard comes with the plug-in setup flow.
}

void cMainWindow::onAboutPlugin()
{
    // The about-plug-in box comes with the plug-in setup flow.
}
