#pragma once

#include "FlowConfig.h"

#include <QWidget>

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// Where and how often the readings are recorded, on the setup page: the folder (typed or
// chosen; empty for the default one) and the interval, 1 s to 1 h. Whether recording runs is
// the menu's business, and kept as it is.
class RecordingEditor : public QWidget
{
    Q_OBJECT
public:
    explicit RecordingEditor(QWidget* parent = nullptr);

    void setRecording(const RecordingConfig& r);
    // What the page holds, with `on` as it was set.
    RecordingConfig recording() const;
    // Why the folder entered cannot be taken, in the user's words; empty when it can. Also
    // shown under the field while it is entered.
    QString problem() const;
    void retranslate();

    QLineEdit* folder;
    QPushButton* choose;
    QSpinBox* interval;
    QLabel* folderProblem;

private:
    void chooseFolder();
    void showProblem();

    QFormLayout* form;
    QLabel* heading;
    bool on = false;
};
