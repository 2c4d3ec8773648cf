#include "MeterValuesView.h"

#include "ValueFormat.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
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

// Colours that stand out on the page's own background, light or dark.
QColor lookColour(MeterValuesView::Look look, bool dark)
{
    switch (look) {
    case MeterValuesView::Problem:
        return dark ? QColor(0xff, 0xa0, 0x50) : QColor(0xb0, 0x50, 0x00);
    case MeterValuesView::Alarm:
        return dark ? QColor(0xff, 0x6b, 0x6b) : QColor(0xc0, 0x20, 0x20);
    case MeterValuesView::Stale:
        return dark ? QColor(0x8c, 0x8c, 0x8c) : QColor(0x80, 0x80, 0x80);
    case MeterValuesView::Plain:
        break;
    }
    return QColor();
}

enum Column { NameColumn, ValueColumn };

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
    // Laid out as a form was: no headers, no grid, the page's background; as tall as its rows,
    // so that the page scrolls, not the table.
    grid = new QTableWidget(0, 2);
    grid->setObjectName("meterValuesTable");
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->setShowGrid(false);
    grid->setFrameShape(QFrame::NoFrame);
    grid->viewport()->setBackgroundRole(QPalette::Window);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A value can still be picked and copied (Ctrl+C), as the selectable labels allowed.
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setFocusPolicy(Qt::ClickFocus);
    grid->setWordWrap(true);
    grid->setTextElideMode(Qt::ElideNone);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    grid->setMinimumWidth(0);
    grid->viewport()->installEventFilter(this);
    v->addWidget(grid);
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

int MeterValuesView::row(const QString& name) const
{
    return int(rowNames.indexOf(name.endsWith("Label") ? name.chopped(5) + "Value" : name));
}

QString MeterValuesView::text(const QString& name) const
{
    const int r = row(name);
    if (r < 0)
        return QString();
    return grid->item(r, name.endsWith("Label") ? NameColumn : ValueColumn)->text();
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

void MeterValuesView::clearRows()
{
    grid->setRowCount(0);
    rows.clear();
    rowNames.clear();
    looks.clear();
    fitHeight();
}

void MeterValuesView::build(const MeterModel& model)
{
    clearRows();
    QSet<QString> used;
    for (int i = 0; i < model.values.size(); ++i) {
        const ModelValue& mv = model.values[i];
        if (!shown(mv)) {
            rows << -1;
            continue;
        }
        QString row = rowName(mv);
        // A model with two values of a role still gets rows tests can tell apart.
        if (used.contains(row))
            row = row.chopped(5) + QString::number(i) + "Value";
        used.insert(row);
        rows << int(rowNames.size());
        rowNames << row;
        // None yet: the first refresh gives each its font and colour.
        looks << Look(-1);
    }
    grid->setRowCount(int(rowNames.size()));
    for (int r = 0; r < rowNames.size(); ++r) {
        // The names go with the cells too, for whoever finds a value without this class.
        auto* label = new QTableWidgetItem;
        label->setData(Qt::UserRole, labelName(rowNames[r]));
        label->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
        auto* value = new QTableWidgetItem(QStringLiteral("-"));
        value->setData(Qt::UserRole, rowNames[r]);
        value->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
        grid->setItem(r, NameColumn, label);
        grid->setItem(r, ValueColumn, value);
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
        clearRows();
        current = MeterModel();
        haveModel = false;
    }
    state = MeterState();
    name.clear();
    heading->setText(QCoreApplication::translate("FlowMeter", "No flow meter configured"));
}

void MeterValuesView::setUnits(const DisplayUnits& u)
{
    if (u.flow == units.flow && u.volume == units.volume && u.temperature == units.temperature)
        return;
    units = u;
    refresh();
}

void MeterValuesView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LocaleChange)
        refresh();
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        // The colours follow the theme; a font change re-measures the rows.
        for (int r = 0; r < looks.size(); ++r) {
            const Look look = looks[r];
            looks[r] = Look(-1);
            setLook(r, look);
        }
        fitColumns();
    }
    QWidget::changeEvent(event);
}

bool MeterValuesView::eventFilter(QObject* watched, QEvent* event)
{
    // Only a change of width wraps the texts anew; the height is the rows' own.
    if (watched == grid->viewport() && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        if (resize->oldSize().width() != resize->size().width())
            fitColumns();
    }
    return QWidget::eventFilter(watched, event);
}

void MeterValuesView::retranslate()
{
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i] >= 0)
            grid->item(rows[i], NameColumn)
                ->setText(QCoreApplication::translate("FlowMeter", "%1:").arg(valueName(current.values[i])));
    grid->resizeColumnToContents(NameColumn);
    nameWidth = grid->columnWidth(NameColumn);
    fitColumns();
    refresh();
}

void MeterValuesView::fitColumns()
{
    if (rowNames.isEmpty())
        return;
    // The names take what they need, at most half the width; the values the rest.
    grid->setColumnWidth(NameColumn, std::min(nameWidth, grid->viewport()->width() / 2));
    grid->resizeRowsToContents();
    fitHeight();
}

void MeterValuesView::fitRow(int row)
{
    const int before = grid->rowHeight(row);
    grid->resizeRowToContents(row);
    if (grid->rowHeight(row) != before)
        fitHeight();
}

void MeterValuesView::fitHeight()
{
    grid->setVisible(!rowNames.isEmpty());
    grid->setFixedHeight(grid->verticalHeader()->length() + 2 * grid->frameWidth());
}

void MeterValuesView::setLook(int row, Look look)
{
    if (looks[row] == look)
        return;
    looks[row] = look;
    QTableWidgetItem* item = grid->item(row, ValueColumn);
    const bool flow = row == this->row(QStringLiteral("flowValue"));
    QFont font = grid->font();
    if (flow)
        font.setPointSizeF(font.pointSizeF() * 2.0);
    font.setBold(flow || look == Alarm);
    item->setFont(font);
    const QColor colour = lookColour(look, palette().color(QPalette::Window).lightness() < 128);
    item->setForeground(colour.isValid() ? QBrush(colour) : QBrush());
}

void MeterValuesView::refresh()
{
    if (!haveModel) {
        heading->setText(QCoreApplication::translate("FlowMeter", "No flow meter configured"));
        return;
    }
    heading->setText(name.isEmpty() ? current.name() : QString("%1 (%2)").arg(name, current.name()));
    const ValueFormat format(units, locale());
    for (int i = 0; i < rows.size(); ++i) {
        const int r = rows[i];
        if (r < 0)
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
        Look look = Plain;
        if (state.seen && problem != ReadingCheck::Valid)
            look = Problem;
        else if (state.seen && ValueFormat::alarmSet(mv, v))
            look = Alarm;
        else if (!state.online)
            // Old values stay on show while the meter is away, greyed, so their age is obvious.
            look = Stale;
        QTableWidgetItem* item = grid->item(r, ValueColumn);
        const bool lookChanged = looks[r] != look;
        setLook(r, look);
        if (item->text() != text) {
            item->setText(text);
            fitRow(r);
        } else if (lookChanged) {
            fitRow(r);
        }
    }
}
