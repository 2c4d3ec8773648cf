#include "MeterValuesView.h"

#include "ValueFormat.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>
#include <QVBoxLayout>

#include <cmath>

namespace {

const char* roleName(ValueRole role)
{
    switch (role) {
    case ValueRole::FlowRate:
        return QT_TRANSLATE_NOOP("FlowMeter", "Flow");
    case ValueRole::Totalizer:
        return QT_TRANSLATE_NOOP("FlowMeter", "Totalizer");
    case ValueRole::Temperature:
        return QT_TRANSLATE_NOOP("FlowMeter", "Temperature");
    case ValueRole::AlarmBits:
        return QT_TRANSLATE_NOOP("FlowMeter", "Alarms");
    case ValueRole::StatusBits:
        return QT_TRANSLATE_NOOP("FlowMeter", "Status");
    case ValueRole::SerialNumber:
        return QT_TRANSLATE_NOOP("FlowMeter", "Serial number");
    case ValueRole::FirmwareVersion:
        return QT_TRANSLATE_NOOP("FlowMeter", "Firmware");
    case ValueRole::Damping:
        return QT_TRANSLATE_NOOP("FlowMeter", "Damping");
    case ValueRole::AlarmLimit:
        return QT_TRANSLATE_NOOP("FlowMeter", "Alarm limit");
    case ValueRole::CalibrationFactor:
        return QT_TRANSLATE_NOOP("FlowMeter", "Calibration factor");
    case ValueRole::ResetCommand:
    case ValueRole::Extra:
        break;
    }
    return nullptr;
}

// The names the pages had before models, which the plug-in's own tests and tools look for.
QString roleRow(ValueRole role)
{
    switch (role) {
    case ValueRole::FlowRate:
        return "flowValue";
    case ValueRole::Totalizer:
        return "totalValue";
    case ValueRole::Temperature:
        return "temperatureValue";
    case ValueRole::AlarmBits:
        return "alarmValue";
    case ValueRole::StatusBits:
        return "statusValue";
    case ValueRole::SerialNumber:
        return "serialValue";
    case ValueRole::FirmwareVersion:
        return "firmwareValue";
    case ValueRole::Damping:
        return "dampingValue";
    case ValueRole::AlarmLimit:
        return "alarmLimitValue";
    case ValueRole::CalibrationFactor:
        return "calibrationValue";
    case ValueRole::ResetCommand:
    case ValueRole::Extra:
        break;
    }
    return QString();
}

QString labelName(const QString& row)
{
    return row.endsWith("Value") ? row.chopped(5) + "Label" : row + "Label";
}

} // namespace

MeterValuesView::MeterValuesView(QWidget* parent) : QWidget(parent)
{
    setObjectName("meterValuesView");
    auto* v = new QVBoxLayout(this);
    heading = new QLabel;
    heading->setObjectName("meterTitle");
    QFont f = heading->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    heading->setFont(f);
    heading->setWordWrap(true);
    v->addWidget(heading);
    form = new QFormLayout;
    v->addLayout(form);
    v->addStretch(1);
    showNone();
}

bool MeterValuesView::shown(const ModelValue& value)
{
    return value.role != ValueRole::ResetCommand && value.function != 5;
}

QString MeterValuesView::valueName(const ModelValue& value)
{
    if (const char* role = roleName(value.role))
        return QCoreApplication::translate("FlowMeter", role);
    // The shipped models' extras are in the catalogue; a user's own are shown as written.
    return QCoreApplication::translate("FlowMeter", value.name.toUtf8().constData());
}

QString MeterValuesView::rowName(const ModelValue& value)
{
    const QString role = roleRow(value.role);
    if (!role.isEmpty())
        return role;
    static const QRegularExpression notWord(QStringLiteral("[^A-Za-z0-9_]"));
    return "extra_" + QString(value.name).replace(notWord, "_") + "Value";
}

QLabel* MeterValuesView::valueLabel(int index) const
{
    return index >= 0 && index < values.size() ? values[index] : nullptr;
}

bool MeterValuesView::sameRows(const MeterModel& model) const
{
    if (!haveModel || model.name() != current.name() || model.values.size() != current.values.size())
        return false;
    for (int i = 0; i < model.values.size(); ++i) {
        const ModelValue& a = model.values[i];
        const ModelValue& b = current.values[i];
        if (a.role != b.role || a.name != b.name || a.function != b.function || shown(a) != shown(b))
            return false;
    }
    return true;
}

void MeterValuesView::build(const MeterModel& model)
{
    while (form->rowCount() > 0)
        form->removeRow(0);
    names.clear();
    values.clear();
    QSet<QString> used;
    for (int i = 0; i < model.values.size(); ++i) {
        const ModelValue& mv = model.values[i];
        if (!shown(mv)) {
            names << nullptr;
            values << nullptr;
            continue;
        }
        QString row = rowName(mv);
        // A model with two values of a role still gets rows tests can tell apart.
        if (used.contains(row))
            row = row.chopped(5) + QString::number(i) + "Value";
        used.insert(row);
        auto* label = new QLabel;
        label->setObjectName(labelName(row));
        auto* value = new QLabel("-");
        value->setObjectName(row);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        if (mv.role == ValueRole::FlowRate) {
            QFont big = value->font();
            big.setPointSizeF(big.pointSizeF() * 2.0);
            big.setBold(true);
            value->setFont(big);
        }
        form->addRow(label, value);
        names << label;
        values << value;
    }
    current = model;
    haveModel = true;
    ++builds;
    retranslate();
}

void MeterValuesView::show(const MeterModel& model, const MeterState& s, const QString& meterName)
{
    if (!sameRows(model))
        build(model);
    else
        current = model;
    state = s;
    name = meterName;
    refresh();
}

void MeterValuesView::showNone()
{
    if (haveModel) {
        while (form->rowCount() > 0)
            form->removeRow(0);
        names.clear();
        values.clear();
        current = MeterModel();
        haveModel = false;
    }
    state = MeterState();
    name.clear();
    heading->setText(QCoreApplication::translate("FlowMeter", "No flow meter configured"));
}

void MeterValuesView::setUnits(const DisplayUnits& u)
{
    units = u;
    refresh();
}

void MeterValuesView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LocaleChange)
        refresh();
    QWidget::changeEvent(event);
}

void MeterValuesView::retranslate()
{
    for (int i = 0; i < names.size(); ++i)
        if (names[i])
            names[i]->setText(QCoreApplication::translate("FlowMeter", "%1:").arg(valueName(current.values[i])));
    refresh();
}

void MeterValuesView::refresh()
{
    if (!haveModel) {
        heading->setText(QCoreApplication::translate("FlowMeter", "No flow meter configured"));
        return;
    }
    heading->setText(name.isEmpty() ? current.name() : QString("%1 (%2)").arg(name, current.name()));
    const ValueFormat format(units, locale());
    for (int i = 0; i < values.size(); ++i) {
        QLabel* label = values[i];
        if (!label)
            continue;
        const ModelValue& mv = current.values[i];
        const double v = i < state.values.size() ? state.values[i] : std::nan("");
        ReadingCheck::Problem problem = i < state.problems.size() ? state.problems[i] : ReadingCheck::Valid;
        // The poll checks only flow, total and temperature as readings. Any other register
        // value it read and found NaN is a float the meter sent as no number, not a value
        // left unread.
        const bool checked = mv.role == ValueRole::FlowRate || mv.role == ValueRole::Totalizer ||
                             mv.role == ValueRole::Temperature;
        if (state.seen && problem == ReadingCheck::Valid && mv.isRegister() && !checked && std::isnan(v))
            problem = ReadingCheck::NotANumber;
        QString text = state.seen ? format.text(mv, v, problem) : QStringLiteral("-");
        if (state.seen && problem == ReadingCheck::Valid && i < state.wholes.size()) {
            const QString whole = format.wholeText(mv, state.wholes[i]);
            if (!whole.isEmpty())
                text = whole;
        }
        if (label->text() != text)
            label->setText(text);
        QString style;
        if (state.seen && problem != ReadingCheck::Valid)
            style = "color: #b05000;";
        else if (state.seen && ValueFormat::alarmSet(mv, v))
            style = "color: #c02020; font-weight: bold;";
        else if (!state.online)
            // Old values stay on show while the meter is away, greyed, so their age is obvious.
            style = "color: gray;";
        if (label->styleSheet() != style)
            label->setStyleSheet(style);
    }
}
