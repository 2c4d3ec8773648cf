#pragma once

#include <QWidget>

class AlarmLog;
class QPushButton;
class QTableView;

// The alarm list on the display page: newest first, those not yet acknowledged standing out.
// Its window title is "Alarms (N)", N the entries not acknowledged, for the tab that holds it.
class AlarmListView : public QWidget
{
    Q_OBJECT

public:
    explicit AlarmListView(AlarmLog* log, QWidget* parent = nullptr);
    void retranslate();

    QTableView* table;
    QPushButton* acknowledgeButton;
    QPushButton* acknowledgeAllButton;

private slots:
    void onAcknowledge();
    void updateState();

private:
    AlarmLog* log;
};
