#pragma once

#include <QList>
#include <QString>

class QListWidget;
class QSpinBox;
class QTableWidget;
class QWidget;

// The lines of the flow-meter plug-in's setup page, driven through the page's own widgets (by
// their object names) as a user would: the plug-in's classes are its library's, not the test's.
class FlowLinesPage
{
public:
    explicit FlowLinesPage(QWidget* setupPage) : page(setupPage) {}

    QTableWidget* meters() const;
    QListWidget* lineList() const;
    // The unit id box of row `row` of the line shown.
    QSpinBox* idBox(int row) const;
    // The unit ids of the line shown, in the table's order: "1,2".
    QString ids() const;
    // The line shown holds meters of these ids: rows added or taken off at the end with the
    // page's buttons, then each id set in its box.
    void setIds(const QList<int>& ids) const;
    // Types a name into row `row`'s name cell.
    void rename(int row, const QString& name) const;
    void showLine(int line) const;
    // Presses the button of this object name ("addLineButton", ...).
    void press(const char* button) const;

private:
    QWidget* page;
};
