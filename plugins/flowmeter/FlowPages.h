#pragma once

#include "FlowTrend.h"
#include "MeterModel.h"
#include "MeterState.h"
#include "ReadingCheck.h"
#include "TrendView.h"
#include "ValueFormat.h"

#include <QDateTime>
#include <QPointF>
#include <QString>
#include <QVector>
#include <QWidget>

#include <cmath>
#include <cstdint>

class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class AlarmLimitEditor;
class LinesEditor;
class MeterValuesView;
class RecordingEditor;
class UnitsChooser;


// Which measured values of the last answer are not readings, and why: "flow not a number, ..."
// in the user's language, or in English for the log.
QString invalidReadingText(const MeterModel& model, const QVector<ReadingCheck::Problem>& problems, bool translated);

class FlowDisplayPage : public QWidget
{
public:
    explicit FlowDisplayPage(QWidget* parent = nullptr);
    // A meter of `model` (null: its model is not known, `u.reason` says so) in `format`'s
    // units and numbers.
    void show(const MeterModel* model, const MeterState& u, const QString& name, const ValueFormat& format);
    void showNone();
    void retranslate();

    QLabel* title;
    QLabel* flow;
    QLabel* total;
    QLabel* temperature;
    QLabel* alarm;
    // The alarm limit where the model has one, "-" where not.
    QLabel* limit;
    QLabel* state;
    QLabel* lastGood;
    QLabel* errors;
    // The meter's history; the plug-in gives it the history, the page its limit.
    TrendView* trend;

private:
    QFormLayout* form;
};

class FlowInfoPage : public QWidget
{
public:
    explicit FlowInfoPage(QWidget* parent = nullptr);
    void show(const MeterModel* model, const MeterState& u, const QString& port, int periodMs,
              const ValueFormat& format);
    void retranslate();

    // The model's name ("Tessmark FM-1"), or that it is not known.
    QLabel* model;
    // Every value of the model, extras too.
    MeterValuesView* values;
    QLabel* serial;
    QLabel* firmware;
    QLabel* port;
    // The line settings the port is opened at, and why it is not open when it is not.
    QLabel* line;
    QLabel* modbusId;
    QLabel* period;
    QLabel* lastError;

private:
    QFormLayout* form;
};

// A serial device offered on the setup page: what the user reads, and the path stored.
struct PortChoice
{
    QString label;
    QString path;
    bool accessible = true;
};

class FlowSetupPage : public QWidget
{
public:
    explicit FlowSetupPage(QWidget* parent = nullptr);
    void setFactoryMode(bool on);
    void retranslate();

    // Every line with its port, line settings, pace and meters (model and name each).
    LinesEditor* lines;
    QDoubleSpinBox* damping;
    QDoubleSpinBox* calibration;
    // The unit each quantity is shown in.
    UnitsChooser* units;
    // The selected meter's alarm limit, written from here.
    AlarmLimitEditor* limit;
    // The meter models that could not be read, with place and reason; and which were.
    QLabel* modelsLabel;
    QListWidget* modelProblems;
    // Where and how often readings are recorded.
    RecordingEditor* recording;

private:
    QFormLayout* form;
    QLabel* heading;
};
