#pragma once

#include "FlowConfig.h"
#include "MeterModel.h"
#include "MeterState.h"

#include <QLocale>
#include <QString>
#include <QVector>
#include <QWidget>

class QFormLayout;
class QLabel;

// Every value a meter's model has, in a form: the roles under their own names, extras under
// the model's. Refreshed several times a second, so the rows are made once per model and only
// their texts change afterwards.
class MeterValuesView : public QWidget
{
public:
    explicit MeterValuesView(QWidget* parent = nullptr);

    // Shows `state` of a meter of `model`. The rows are rebuilt only when the model differs
    // from the one shown.
    void show(const MeterModel& model, const MeterState& state, const QString& meterName);
    // Nothing selected: no rows, and the title says so.
    void showNone();
    // Takes effect on the values shown at once, as does QWidget::setLocale for the numbers.
    void setUnits(const DisplayUnits& units);
    void retranslate();

    // The objectName of a value's row ("flowValue", "extra_Conductivity", ...); its label is
    // the same with "Label" in place of "Value" ("flowLabel", "extra_ConductivityLabel").
    static QString rowName(const ModelValue& value);
    // The translated name of a role ("Flow"), or an extra's own name.
    static QString valueName(const ModelValue& value);
    // Whether a value has a row: commands have none.
    static bool shown(const ModelValue& value);

    // How many times the rows were made, for whoever must know they were not remade.
    int rebuilds() const { return builds; }
    QLabel* title() const { return heading; }
    // The value label of model value `index`, or null when it has no row.
    QLabel* valueLabel(int index) const;

protected:
    void changeEvent(QEvent* event) override;

private:
    bool sameRows(const MeterModel& model) const;
    void build(const MeterModel& model);
    void refresh();

    QLabel* heading;
    QFormLayout* form;
    MeterModel current;
    bool haveModel = false;
    MeterState state;
    QString name;
    DisplayUnits units;
    // One per model value: its row's name and value labels, null for a value without a row.
    QVector<QLabel*> names;
    QVector<QLabel*> values;
    int builds = 0;
};
