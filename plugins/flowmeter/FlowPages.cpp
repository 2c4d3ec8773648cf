#include "FlowPages.h"
#include "AlarmLimitEditor.h"
#include "LinesEditor.h"
#include "MeterValuesView.h"
#include "RecordingEditor.h"
#include "UnitsChooser.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

QString invalidReadingText(const MeterModel& model, const QVector<ReadingCheck::Problem>& problems, bool translated)
{
    QStringList parts;
    auto add = [&](const char* what, ValueRole role) {
        const int i = model.indexOf(role);
        if (i < 0 || i >= problems.size() || problems[i] == ReadingCheck::Valid)
            return;
        parts << (translated ? QCoreApplication::translate("FlowMeter", what) + " " + ReadingCheck::text(problems[i])
                             : QString(what) + " " + ReadingCheck::name(problems[i]));
    };
    add(QT_TRANSLATE_NOOP("FlowMeter", "flow"), ValueRole::FlowRate);
    add(QT_TRANSLATE_NOOP("FlowMeter", "totalizer"), ValueRole::Totalizer);
    add(QT_TRANSLATE_NOOP("FlowMeter", "temperature"), ValueRole::Temperature);
    return parts.join(", ");
}

FlowDisplayPage::FlowDisplayPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("flowDisplayPage");
    auto* v = new QVBoxLayout(this);
    title = new QLabel;
    title->setObjectName("unitTitle");
    QFont tf = title->font();
    tf.setBold(true);
    tf.setPointSizeF(tf.pointSizeF() * 1.3);
    title->setFont(tf);
    flow = new QLabel("-");
    flow->setObjectName("flowValue");
    QFont big = flow->font();
    big.setPointSizeF(big.pointSizeF() * 3.0);
    big.setBold(true);
    flow->setFont(big);
    v->addWidget(title);
    v->addWidget(flow);
    form = new QFormLayout;
    total = new QLabel("-");
    total->setObjectName("totalValue");
    temperature = new QLabel("-");
    temperature->setObjectName("temperatureValue");
    alarm = new QLabel("-");
    alarm->setObjectName("alarmValue");
    state = new QLabel("-");
    state->setObjectName("stateValue");
    lastGood = new QLabel("-");
    lastGood->setObjectName("lastGoodValue");
    errors = new QLabel("0");
    errors->setObjectName("errorCount");
    limit = new QLabel("-");
    limit->setObjectName("limitValue");
    for (QLabel* l : {total, temperature, alarm, limit, state, lastGood, errors})
        form->addRow(new QLabel, l);
    v->addLayout(form);
    trend = new TrendView;
    v->addWidget(trend, 1);
    retranslate();
}

void FlowDisplayPage::retranslate()
{
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "Totalizer:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Temperature:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Alarm:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Alarm limit:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "State:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Last good reading:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Poll errors:")};
    for (int i = 0; i < 7; ++i)
        static_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget())
            ->setText(QCoreApplication::translate("FlowMeter", names[i]));
    trend->retranslate();
}

void FlowDisplayPage::show(const MeterModel* model, const MeterState& u, const QString& name, const ValueFormat& format)
{
    title->setText(name);
    const bool valid = u.readingValid();
    // A value that is not a measurement is never shown as a number: the reason stands in its
    // place, and the other values of the same answer are shown as usual. A value the model
    // does not have is a dash.
    auto value = [&](QLabel* label, ValueRole role) {
        const int i = model ? model->indexOf(role) : -1;
        if (i < 0 || i >= u.values.size()) {
            label->setText("-");
            return false;
        }
        const ReadingCheck::Problem p = i < u.problems.size() ? u.problems[i] : ReadingCheck::Valid;
        label->setText(format.text(model->values[i], u.values[i], p));
        return p != ReadingCheck::Valid;
    };
    bool flowInvalid = false, totalInvalid = false, temperatureInvalid = false, alarmOn = false;
    if (u.seen && model) {
        flowInvalid = value(flow, ValueRole::FlowRate);
        totalInvalid = value(total, ValueRole::Totalizer);
        temperatureInvalid = value(temperature, ValueRole::Temperature);
        value(alarm, ValueRole::AlarmBits);
        value(limit, ValueRole::AlarmLimit);
        const int a = model->indexOf(ValueRole::AlarmBits);
        alarmOn = a >= 0 && a < u.values.size() && ValueFormat::alarmSet(model->values[a], u.values[a]);
        // "No alarm" is no all-clear while the meter cannot measure: not green then.
        alarm->setStyleSheet(alarmOn ? "color: #c02020; font-weight: bold;" : (valid ? "color: #208020;" : QString()));
    } else {
        for (QLabel* l : {flow, total, temperature, alarm, limit})
            l->setText("-");
        alarm->setStyleSheet(QString());
    }
    const char* invalidStyle = "color: #b05000;";
    // Old values stay on show while the meter is away, greyed, so their age is obvious.
    flow->setStyleSheet(flowInvalid ? invalidStyle : (u.online ? QString() : "color: gray;"));
    total->setStyleSheet(totalInvalid ? invalidStyle : QString());
    temperature->setStyleSheet(temperatureInvalid ? invalidStyle : QString());
    if (!u.online) {
        state->setText(QCoreApplication::translate("FlowMeter", "Offline: %1").arg(u.reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "not read yet") : u.reason.text()));
        state->setStyleSheet("color: #c02020;");
    } else if (!valid && model) {
        state->setText(QCoreApplication::translate("FlowMeter", "No valid measurement: %1").arg(invalidReadingText(*model, u.problems, true)));
        state->setStyleSheet(invalidStyle);
    } else {
        state->setText(QCoreApplication::translate("FlowMeter", "Online"));
        state->setStyleSheet("color: #208020;");
    }
    lastGood->setText(u.lastGood.isValid() ? format.locale().toString(u.lastGood, "yyyy-MM-dd hh:mm:ss") : QCoreApplication::translate("FlowMeter", "never"));
    errors->setText(format.locale().toString(u.errors));
    const ModelValue* flowValue = model ? model->find(ValueRole::FlowRate) : nullptr;
    const int l = model ? model->indexOf(ValueRole::AlarmLimit) : -1;
    // The limit is drawn beside the flow only where both are flows.
    const bool drawn = flowValue && l >= 0 && l < u.values.size() &&
                       DisplayUnit::quantity(ValueFormat::modelUnit(model->values[l])) == DisplayUnit::Flow;
    trend->setLimit(drawn ? DisplayUnit::convert(u.values[l], ValueFormat::modelUnit(model->values[l]),
                                                 format.shownUnit(*flowValue))
                          : std::nan(""));
}

void FlowDisplayPage::showNone()
{
    title->setText(QCoreApplication::translate("FlowMeter", "No flow meter configured"));
    for (QLabel* l : {flow, total, temperature, alarm, limit, state, lastGood})
        l->setText("-");
    errors->setText("0");
    trend->setHistory(nullptr, DisplayUnit::CubicMetrePerHour);
    trend->setLimit(std::nan(""));
}

FlowInfoPage::FlowInfoPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("flowInfoPage");
    // The information box is short as well as narrow, and a model's values run past its foot:
    // the page scrolls, down only, its rows wrapped to the column's width.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setObjectName("infoScroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Scrolled with the wheel or the bar; no stop of its own on the keyboard's way to Save.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget;
    content->setObjectName("infoContent");
    form = new QFormLayout(content);
    // The information box is a narrow column: values go under their labels.
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    serial = new QLabel("-");
    firmware = new QLabel("-");
    port = new QLabel("-");
    modbusId = new QLabel("-");
    period = new QLabel("-");
    lastError = new QLabel("-");
    lastError->setObjectName("lastErrorValue");
    line = new QLabel("-");
    line->setObjectName("lineLabel");
    line->setWordWrap(true);
    model = new QLabel("-");
    model->setObjectName("modelValue");
    model->setWordWrap(true);
    lastError->setWordWrap(true);
    port->setWordWrap(true);
    port->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLabel* l : {model, serial, firmware, port, line, modbusId, period, lastError})
        form->addRow(new QLabel, l);
    values = new MeterValuesView;
    values->setObjectName("meterValues");
    form->addRow(values);
    scroll->setWidget(content);
    outer->addWidget(scroll);
    retranslate();
}

void FlowInfoPage::retranslate()
{
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "Model:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Serial number:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Firmware:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Port:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Line:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "MODBUS id:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Poll period:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Last error:")};
    for (int i = 0; i < 8; ++i)
        static_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget())
            ->setText(QCoreApplication::translate("FlowMeter", names[i]));
    values->retranslate();
}

void FlowInfoPage::show(const MeterModel* m, const MeterState& u, const QString& portName, int periodMs,
                        const ValueFormat& format)
{
    model->setText(m ? m->name() : QCoreApplication::translate("FlowMeter", "%1 (not found)").arg(u.model));
    auto value = [&](QLabel* label, ValueRole role) {
        const int i = m ? m->indexOf(role) : -1;
        label->setText(u.seen && i >= 0 && i < u.values.size() ? format.text(m->values[i], u.values[i]) : "-");
    };
    value(serial, ValueRole::SerialNumber);
    value(firmware, ValueRole::FirmwareVersion);
    // A device path has no blanks to wrap at in the narrow column: let it break after a slash,
    // an underscore, a dash or a dot.
    static const QRegularExpression breakAfter(QStringLiteral("([/_.-])"));
    port->setText(QString(portName).replace(breakAfter, QStringLiteral("\\1\u200B")));
    port->setToolTip(portName);
    modbusId->setText(QString::number(u.id));
    period->setText(QCoreApplication::translate("FlowMeter", "%1 ms").arg(format.locale().toString(periodMs)));
    lastError->setText(u.reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "none") : u.reason.text());
    values->setLocale(format.locale());
    values->setUnits(format.units());
    if (m)
        values->show(*m, u, QString());
    else
        values->showNone();
}

FlowSetupPage::FlowSetupPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("flowSetupPage");
    // Placed on the page before the lines, though shown below them: the keyboard goes from the
    // port down the line's fields to Save, as it always has; these come before the port.
    units = new UnitsChooser(this);
    units->setObjectName("unitsChooser");
    limit = new AlarmLimitEditor(this);
    limit->setObjectName("alarmLimitEditor");
    modelsLabel = new QLabel(this);
    modelsLabel->setObjectName("modelsLabel");
    modelsLabel->setWordWrap(true);
    modelProblems = new QListWidget(this);
    modelProblems->setObjectName("modelProblems");
    modelProblems->setVisible(false);
    recording = new RecordingEditor(this);
    auto* v = new QVBoxLayout(this);
    heading = new QLabel;
    QFont f = heading->font();
    f.setBold(true);
    heading->setFont(f);
    v->addWidget(heading);
    lines = new LinesEditor;
    // The model files that could not be read are listed once, below, for the whole page.
    lines->setModelProblems({});
    v->addWidget(lines, 1);
    form = new QFormLayout;
    damping = new QDoubleSpinBox;
    damping->setObjectName("dampingSpin");
    damping->setRange(0, 60);
    damping->setDecimals(1);
    damping->setSingleStep(0.1);
    damping->setSuffix(" s");
    calibration = new QDoubleSpinBox;
    calibration->setObjectName("calibrationSpin");
    calibration->setRange(0.5, 2.0);
    calibration->setDecimals(4);
    calibration->setSingleStep(0.001);
    form->addRow(new QLabel, damping);
    form->addRow(new QLabel, calibration);
    v->addLayout(form);
    v->addWidget(units);
    v->addWidget(limit);
    v->addWidget(modelsLabel);
    v->addWidget(modelProblems);
    v->addWidget(recording);
    setFactoryMode(false);
    retranslate();
}

void FlowSetupPage::setFactoryMode(bool on)
{
    form->setRowVisible(calibration, on);
}

void FlowSetupPage::retranslate()
{
    heading->setText(QCoreApplication::translate("FlowMeter", "Flow meter setup"));
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "Damping:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Calibration factor:")};
    for (int i = 0; i < 2; ++i)
        static_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget())
            ->setText(QCoreApplication::translate("FlowMeter", names[i]));
    lines->retranslate();
    units->retranslate();
    limit->retranslate();
    recording->retranslate();
}
