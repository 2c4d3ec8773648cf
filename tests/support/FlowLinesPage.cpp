#include "FlowLinesPage.h"

#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTableWidget>

namespace {
// The columns of the meters table.
constexpr int kIdColumn = 0;
constexpr int kNameColumn = 2;
} // namespace

QTableWidget* FlowLinesPage::meters() const
{
    return page->findChild<QTableWidget*>("metersTable");
}

QListWidget* FlowLinesPage::lineList() const
{
    return page->findChild<QListWidget*>("lineList");
}

QSpinBox* FlowLinesPage::idBox(int row) const
{
    return qobject_cast<QSpinBox*>(meters()->cellWidget(row, kIdColumn));
}

QString FlowLinesPage::ids() const
{
    QStringList out;
    for (int row = 0; row < meters()->rowCount(); ++row)
        out << QString::number(idBox(row)->value());
    return out.join(',');
}

void FlowLinesPage::setIds(const QList<int>& ids) const
{
    while (meters()->rowCount() > ids.size()) {
        meters()->setCurrentCell(meters()->rowCount() - 1, kNameColumn);
        press("removeMeterButton");
    }
    while (meters()->rowCount() < ids.size())
        press("addMeterButton");
    for (int row = 0; row < ids.size(); ++row)
        idBox(row)->setValue(ids[row]);
}

void FlowLinesPage::rename(int row, const QString& name) const
{
    meters()->item(row, kNameColumn)->setText(name);
}

void FlowLinesPage::showLine(int line) const
{
    lineList()->setCurrentRow(line);
}

void FlowLinesPage::press(const char* button) const
{
    page->findChild<QPushButton*>(button)->click();
}
