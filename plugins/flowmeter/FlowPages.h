#pragma once

#include "FlowTrend.h"
#include "ReadingCheck.h"

#include <QDateTime>
#include <QPointF>
#include <QString>
#include <QVector>
#include <QWidget>

#include <cstdint>

class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;


// One meter as the poll thread last saw it.
struct UnitState
{
    int id = 0;
    bool online = false;
    bool seen = false;
    QString reason;
    float flow = 0, total = 0, temperature = 0, calibration = 1;
    uint16_t alarm = 0, status = 0, firmware = 0, damping = 0;
    uint32_t serial = 0;
    QDateTime lastGood;
    int errors = 0;
    int failuresInRow = 0;
    // What is wrong with each measured float of the last answer (Valid: a reading).
    ReadingCheck::Problem flowProblem = ReadingCheck::Valid;
    ReadingCheck::Problem totalProblem = ReadingCheck::Valid;
    ReadingCheck::Problem temperatureProblem = ReadingCheck::Valid;
    FlowTrend trend;

    bool readingValid() const
    {
        return flowProblem == ReadingCheck::Valid && totalProblem == ReadingCheck::Valid &&
               temperatureProblem == ReadingCheck::Valid;
    }
};

QString alarmText(uint16_t alarm);
// Which measured values of the last answer are not readings, and why: "flow not a number, ..."
// in the user's language, or in English for the log.
QString invalidReadingText(const UnitState& u, bool translated);

// The flow of the last minutes, drawn by hand so that the plug-in needs nothing beyond Qt's
// widgets.
class TrendPlot : public QWidget
{
public:
    explicit TrendPlot(QWidget* parent = nullptr);
    void setTrend(const QVector<QPointF>& points, double spanSeconds);
    QSize sizeHint() const override { return QSize(400, 160); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QVector<QPointF> points;
    double span = 300;
};

class FlowDisplayPage : public QWidget
{
public:
    explicit FlowDisplayPage(QWidget* parent = nullptr);
    void show(const UnitState& u, const QString& name);
    void showNone();
    void retranslate();

    QLabel* title;
    QLabel* flow;
    QLabel* total;
    QLabel* temperature;
    QLabel* alarm;
    QLabel* state;
    QLabel* lastGood;
    QLabel* errors;
    TrendPlot* trend;

private:
    QFormLayout* form;
};

class FlowInfoPage : public QWidget
{
public:
    explicit FlowInfoPage(QWidget* parent = nullptr);
    void show(const UnitState& u, const QString& port, int periodMs);
    void retranslate();

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
    // Offers these devices in the port box; what is typed or chosen stays in the box.
    void setPortChoices(const QVector<PortChoice>& choices);
    // The stored settings of the line, and what is on the page.
    void setLine(uint32_t baud, int dataBits, char parity, int stopBits);
    uint32_t baud() const;
    int dataBits() const;
    char parity() const;
    int stopBits() const;

    // An editable box: the devices present, or any path typed in. `port` is its text field.
    QComboBox* portBox;
    QLineEdit* port;
    QComboBox* rate;
    QComboBox* bits;
    QComboBox* parityBox;
    QComboBox* stops;
    QLineEdit* ids;
    // Under the ids: what in them is not a unit id and will be left out; hidden when all is.
    QLabel* idsHint;
    QSpinBox* period;
    QSpinBox* timeout;
    QDoubleSpinBox* damping;
    QDoubleSpinBox* calibration;

private:
    QFormLayout* form;
    QLabel* heading;
};
