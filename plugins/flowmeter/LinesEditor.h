#pragma once

#include "FlowConfig.h"
#include "Reason.h"
#include "FlowPages.h"

#include <QStringList>
#include <QVector>
#include <QWidget>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The serial lines of the setup page: each with its port, line settings, pace and meters. What
// is wrong with the whole (an id twice on a line, one port on two lines, a model nobody has) is
// said under it in words, and nothing the user entered is dropped for it.
class LinesEditor : public QWidget
{
    Q_OBJECT
public:
    // Columns of the meters table.
    enum Column { IdColumn, ModelColumn, NameColumn };

    explicit LinesEditor(QWidget* parent = nullptr);

    // The models a meter may be given ("Tessmark FM-1", ...). A meter of a model not among
    // them keeps it, marked, until the user picks another.
    void setModelNames(const QStringList& names);
    // Offers these devices in the port box; what is typed or chosen stays in the box.
    void setPortChoices(const QVector<PortChoice>& choices);
    void setLines(const QVector<LineConfig>& lines);
    QVector<LineConfig> lines() const { return config; }
    // What is wrong with the lines, one sentence each; empty when nothing is.
    QStringList problems() const;
    // Those of problems() that make the lines unusable as a whole, not only one meter or line
    // for now: an id given twice on a line, one port on two lines, an id out of range. Kept as
    // reasons: the log takes their English, the page their translation.
    QVector<Reason> conflicts() const;
    // The model files that could not be read ("FILE: PLACE: REASON"), shown read-only.
    void setModelProblems(const QStringList& problems);
    void retranslate();

    int currentLine() const { return current; }
    void setCurrentLine(int line);
    void addLine();
    void removeLine();
    void addMeter();
    void removeMeter();

    QListWidget* lineList;
    QPushButton* addLineButton;
    QPushButton* removeLineButton;
    // An editable box: the devices present, or any path typed in. `port` is its text field.
    QComboBox* portBox;
    QLineEdit* port;
    QComboBox* rate;
    QComboBox* bits;
    QComboBox* parityBox;
    QComboBox* stops;
    QSpinBox* period;
    QSpinBox* timeout;
    // Per row: a spin box for the id, a box of models, the user's name as an item.
    QTableWidget* meters;
    QPushButton* addMeterButton;
    QPushButton* removeMeterButton;
    // Under the lines: problems() in words; hidden when there are none.
    QLabel* problemsLabel;
    QLabel* modelProblemsHeading;
    QListWidget* modelProblems;

signals:
    // The user changed something (not emitted by setLines).
    void changed();

private:
    void showLine(int line);
    void storeLine();
    void storeMeters();
    void addMeterRow(const MeterConfig& meter);
    void fillModels(QComboBox* box, const QString& model);
    void updateLineLabels();
    void updateProblems();
    void edited();
    QVector<Reason> check(bool conflictsOnly) const;

    QVector<LineConfig> config;
    QStringList models;
    int current = -1;
    // Set while widgets are filled from the configuration, whose signals are then no edits.
    bool loading = false;
    QFormLayout* form;
    QWidget* lineBox;
    QLabel* metersHeading;
};
