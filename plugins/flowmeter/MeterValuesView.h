#pragma once

#include "FlowConfig.h"
#include "MeterModel.h"
#include "MeterState.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QLabel;
class QTableWidget;

// Every value a meter's model has, as name | value rows: the roles under their own names,
// extras under the model's. Refreshed several times a second. The rows are cells of one table,
// not a pair of widgets each: a model may have hundreds of values, and a widget costs kilobytes
// where the text it shows costs a few bytes. The rows are made once per model; a refresh sets
// only the texts and looks that changed.
class MeterValuesView : public QWidget
{
public:
    // How a value is shown: as it is, not a reading, an alarm raised, or old (the meter away).
    enum Look : int { Plain, Problem, Alarm, Stale };

    explicit MeterValuesView(QWidget* parent = nullptr);

    // Shows `state` of a meter of `model`. The rows are rebuilt only when the model differs
    // from the one shown.
    void show(const MeterModel& model, const MeterState& state, const QString& meterName);
    // Nothing selected: no rows, and the title says so.
    void showNone();
    // Takes effect on the values shown at once, as does QWidget::setLocale for the numbers.
    void setUnits(const DisplayUnits& units);
    void retranslate();

    // The name of a value's row ("flowValue", "extra_Conductivity", ...); its name cell goes by
    // the same with "Label" in place of "Value" ("flowLabel", "extra_ConductivityLabel").
    static QString rowName(const ModelValue& value);
    // The translated name of a role ("Flow"), or an extra's own name.
    static QString valueName(const ModelValue& value);
    // Whether a value has a row: commands have none.
    static bool shown(const ModelValue& value);

    // How many times the rows were made, for whoever must know they were not remade.
    int rebuilds() const { return builds; }
    QLabel* title() const { return heading; }
    QTableWidget* table() const { return grid; }
    // The table row of model value `index`, or -1 when it has none.
    int row(int index) const { return index >= 0 && index < rows.size() ? rows[index] : -1; }
    // The row a name from rowName() (or its "Label" twin) stands for, or -1.
    int row(const QString& name) const;
    // What the cell `name` ("flowValue", "flowLabel") shows; a null string when there is none.
    QString text(const QString& name) const;
    Look look(int row) const { return row >= 0 && row < looks.size() ? looks[row] : Plain; }

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool sameRows(const MeterModel& model) const;
    void build(const MeterModel& model);
    void clearRows();
    void refresh();
    void setLook(int row, Look look);
    void fitColumns();
    void fitRow(int row);
    void fitHeight();

    QLabel* heading;
    QTableWidget* grid;
    MeterModel current;
    bool haveModel = false;
    MeterState state;
    QString name;
    DisplayUnits units;
    // One per model value: its table row, -1 for a value without one.
    QVector<int> rows;
    // One per table row: its name from rowName(), and how its value is shown.
    QStringList rowNames;
    QVector<Look> looks;
    int nameWidth = 0;
    int builds = 0;
};
