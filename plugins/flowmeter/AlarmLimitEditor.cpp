#include "AlarmLimitEditor.h"

#include "ValueCodec.h"
#include "ValueFormat.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>

AlarmLimitEditor::AlarmLimitEditor(QWidget* parent) : QWidget(parent), last(std::nan(""))
{
    setObjectName("alarmLimitEditor");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    heading = new QLabel;
    current = new QLabel("-");
    current->setObjectName("alarmLimitCurrent");
    range = new QLabel;
    range->setObjectName("alarmLimitRange");
    edit = new QLineEdit;
    edit->setObjectName("alarmLimitEdit");
    unit = new QLabel;
    unit->setObjectName("alarmLimitUnit");
    writeButton = new QPushButton;
    writeButton->setObjectName("alarmLimitWrite");
    message = new QLabel;
    message->setObjectName("alarmLimitMessage");
    message->setWordWrap(true);
    grid->addWidget(heading, 0, 0);
    grid->addWidget(current, 0, 1, 1, 3);
    grid->addWidget(edit, 1, 1);
    grid->addWidget(unit, 1, 2);
    grid->addWidget(writeButton, 1, 3);
    grid->addWidget(range, 2, 1, 1, 3);
    grid->addWidget(message, 3, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    connect(writeButton, &QPushButton::clicked, this, &AlarmLimitEditor::submit);
    connect(edit, &QLineEdit::returnPressed, this, &AlarmLimitEditor::submit);
    connect(edit, &QLineEdit::textEdited, this, [this] { message->clear(); });
    retranslate();
    clear();
}

void AlarmLimitEditor::setMeter(const MeterModel& model, const MeterState& state)
{
    const int i = model.indexOf(ValueRole::AlarmLimit);
    haveLimit = i >= 0;
    limit = haveLimit ? model.values[i] : ModelValue();
    last = haveLimit && i < state.values.size() ? state.values[i] : std::nan("");
    refresh();
}

void AlarmLimitEditor::clear()
{
    haveLimit = false;
    limit = ModelValue();
    last = std::nan("");
    edit->clear();
    message->clear();
    refresh();
}

void AlarmLimitEditor::setUnits(const DisplayUnits& u)
{
    units = u;
    refresh();
}

void AlarmLimitEditor::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LocaleChange)
        refresh();
    QWidget::changeEvent(event);
}

void AlarmLimitEditor::retranslate()
{
    heading->setText(QCoreApplication::translate("FlowMeter", "Alarm limit:"));
    writeButton->setText(QCoreApplication::translate("FlowMeter", "Write limit"));
    refresh();
}

void AlarmLimitEditor::refresh()
{
    const ValueFormat format(units, locale());
    const bool writable = haveLimit && limit.writable;
    edit->setEnabled(writable);
    writeButton->setEnabled(writable);
    if (!haveLimit) {
        current->setText(QCoreApplication::translate("FlowMeter", "This meter's model has no alarm limit."));
        unit->clear();
        range->clear();
        return;
    }
    current->setText(format.text(limit, last));
    unit->setText(format.unitText(limit));
    if (!writable) {
        range->setText(QCoreApplication::translate("FlowMeter", "The model does not let this limit be written."));
        return;
    }
    const bool low = std::isfinite(limit.minimum), high = std::isfinite(limit.maximum);
    const QString lowText = low ? format.number(limit, limit.minimum) : QString();
    const QString highText = high ? format.number(limit, limit.maximum) : QString();
    if (low && high)
        range->setText(QCoreApplication::translate("FlowMeter", "From %1 to %2").arg(lowText, highText));
    else if (low)
        range->setText(QCoreApplication::translate("FlowMeter", "At least %1").arg(lowText));
    else if (high)
        range->setText(QCoreApplication::translate("FlowMeter", "At most %1").arg(highText));
    else
        range->clear();
}

void AlarmLimitEditor::say(const QString& text, bool refusal)
{
    message->setText(text);
    message->setStyleSheet(refusal ? "color: #c02020;" : QString());
}

bool AlarmLimitEditor::submit()
{
    if (!haveLimit || !limit.writable)
        return false;
    const ValueFormat format(units, locale());
    double typed = 0;
    if (!format.parse(edit->text(), &typed)) {
        say(QCoreApplication::translate("FlowMeter", "Not written: \"%1\" is not a number.").arg(edit->text().trimmed()), true);
        return false;
    }
    double value = format.toModel(limit, typed);
    // The range's ends are shown rounded to the figure's decimals: whatever is typed as an end
    // the page shows is that end, not a refusal for a rounding the user cannot see.
    const double halfStep = 0.5 * std::pow(10.0, -format.decimals(limit));
    if (std::isfinite(limit.minimum) && value < limit.minimum) {
        if (typed < format.toShown(limit, limit.minimum) - halfStep) {
            say(QCoreApplication::translate("FlowMeter", "Not written: %1 is below the lowest limit the meter takes, %2.")
                    .arg(format.text(limit, value), format.text(limit, limit.minimum)),
                true);
            return false;
        }
        value = limit.minimum;
    }
    if (std::isfinite(limit.maximum) && value > limit.maximum) {
        if (typed > format.toShown(limit, limit.maximum) + halfStep) {
            say(QCoreApplication::translate("FlowMeter", "Not written: %1 is above the highest limit the meter takes, %2.")
                    .arg(format.text(limit, value), format.text(limit, limit.maximum)),
                true);
            return false;
        }
        value = limit.maximum;
    }
    Reason why;
    if (ValueCodec::encode(limit, value, &why).empty()) {
        say(QCoreApplication::translate("FlowMeter", "Not written: %1").arg(why.text()), true);
        return false;
    }
    say(QCoreApplication::translate("FlowMeter", "Sending %1 to the meter.").arg(format.text(limit, value)), false);
    emit writeRequested(value);
    return true;
}

// Its meta-object is compiled here, not in the plug-in's shared moc file beside
// FlowMeterPlugin.h, which still declares the answer time-out bound that FlowConfig.h now holds.
#include "moc_AlarmLimitEditor.cpp"
