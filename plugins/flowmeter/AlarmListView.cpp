#include "AlarmListView.h"
#include "AlarmLog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// An entry not yet acknowledged in bold on the list's own background tinted red, so that it
// reads in a light theme and a dark one alike.
class UnacknowledgedDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!index.data(AlarmLog::UnacknowledgedRole).toBool())
            return;
        option->font.setBold(true);
        const QColor base = option->palette.color(QPalette::Base);
        const QColor alarm(0xc0, 0x20, 0x20);
        const double share = 0.3;
        option->backgroundBrush = QColor::fromRgbF(float(base.redF() * (1 - share) + alarm.redF() * share),
                                                   float(base.greenF() * (1 - share) + alarm.greenF() * share),
                                                   float(base.blueF() * (1 - share) + alarm.blueF() * share));
    }
};

} // namespace

AlarmListView::AlarmListView(AlarmLog* alarmLog, QWidget* parent) : QWidget(parent), log(alarmLog)
{
    setObjectName("alarmListView");
    table = new QTableView;
    table->setObjectName("alarmTable");
    table->setModel(log);
    table->setItemDelegate(new UnacknowledgedDelegate(table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->setWordWrap(false);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionResizeMode(AlarmLog::TextColumn, QHeaderView::Stretch);
    acknowledgeButton = new QPushButton;
    acknowledgeButton->setObjectName("acknowledgeButton");
    acknowledgeAllButton = new QPushButton;
    acknowledgeAllButton->setObjectName("acknowledgeAllButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(acknowledgeButton);
    buttons->addWidget(acknowledgeAllButton);
    auto* v = new QVBoxLayout(this);
    v->addWidget(table, 1);
    v->addLayout(buttons);

    connect(acknowledgeButton, &QPushButton::clicked, this, &AlarmListView::onAcknowledge);
    connect(acknowledgeAllButton, &QPushButton::clicked, log, &AlarmLog::acknowledgeAll);
    connect(log, &AlarmLog::unacknowledgedChanged, this, &AlarmListView::updateState);
    connect(log, &QAbstractItemModel::modelReset, this, &AlarmListView::updateState);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &AlarmListView::updateState);
    connect(log, &QAbstractItemModel::dataChanged, this, &AlarmListView::updateState);
    retranslate();
}

void AlarmListView::retranslate()
{
    acknowledgeButton->setText(QCoreApplication::translate("FlowMeter", "Acknowledge"));
    acknowledgeAllButton->setText(QCoreApplication::translate("FlowMeter", "Acknowledge all"));
    log->retranslate();
    updateState();
}

void AlarmListView::onAcknowledge()
{
    QList<int> rows;
    for (const QModelIndex& i : table->selectionModel()->selectedRows())
        rows << i.row();
    log->acknowledge(rows);
}

void AlarmListView::updateState()
{
    const int count = log->unacknowledged();
    setWindowTitle(count > 0 ? QCoreApplication::translate("FlowMeter", "Alarms (%1)").arg(count)
                             : QCoreApplication::translate("FlowMeter", "Alarms"));
    acknowledgeAllButton->setEnabled(count > 0);
    bool selectedUnacknowledged = false;
    for (const QModelIndex& i : table->selectionModel()->selectedRows())
        selectedUnacknowledged = selectedUnacknowledged || i.data(AlarmLog::UnacknowledgedRole).toBool();
    acknowledgeButton->setEnabled(selectedUnacknowledged);
}
