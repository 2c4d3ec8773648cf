#pragma once

#include "FlowConfig.h"
#include "MeterModel.h"
#include "MeterState.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The selected meter's alarm limit on the setup page: shown in the unit the user reads flows
// in, taken back in the language's number form, and checked against the model before anything
// goes to the meter. A refusal is said in words; nothing is written then.
class AlarmLimitEditor : public QWidget
{
    Q_OBJECT
public:
    explicit AlarmLimitEditor(QWidget* parent = nullptr);

    // The limit of a meter of `model` as `state` last read it; a model without one leaves
    // the editor disabled, saying so.
    void setMeter(const MeterModel& model, const MeterState& state);
    void clear();
    // The numbers follow QWidget::setLocale.
    void setUnits(const DisplayUnits& units);
    void retranslate();
    // Checks what is typed; emits writeRequested and returns true when it may be written,
    // otherwise shows why not and returns false.
    bool submit();

    // The limit as last read, with its unit.
    QLabel* current;
    // What the model allows, in the shown unit.
    QLabel* range;
    QLineEdit* edit;
    QLabel* unit;
    QPushButton* writeButton;
    // A refusal, or what was sent.
    QLabel* message;

signals:
    // The value to write, in the model's unit for the limit (what ValueCodec::encode takes).
    void writeRequested(double valueInModelUnit);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void say(const QString& text, bool refusal);

    ModelValue limit;
    bool haveLimit = false;
    double last;
    DisplayUnits units;
    QLabel* heading;
};
