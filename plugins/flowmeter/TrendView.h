#pragma once

#include "DisplayUnit.h"
#include "FlowHistory.h"

#include <QPair>
#include <QString>
#include <QWidget>

#include <cmath>

class QComboBox;
class QCustomPlot;
class QCPGraph;
class QCPItemStraightLine;
class QLabel;
class QMenu;

// A meter's flow history drawn over time: the time axis in local time with ticks and grid, the
// flow in the unit the user chose, gaps where readings are missing, the alarm limit as a line.
// The span is chosen above the plot; the mouse drags and zooms the time axis, and the plot then
// stays where it was put until a span is chosen again. Long spans are drawn as the lowest and
// highest reading of each pixel column, so no peak is lost to the drawing.
class TrendView : public QWidget
{
    Q_OBJECT

public:
    // In the order the chooser offers them.
    enum Span { FiveMinutes, OneHour, EightHours, OneDay, SevenDays };
    static qint64 spanMs(Span span);

    explicit TrendView(QWidget* parent = nullptr);

    // The history shown (kept by the caller; null for none), drawn in `unit`.
    void setHistory(const FlowHistory* history, DisplayUnit::Unit unit);
    // A horizontal line at `value` (the alarm limit), in the unit drawn; NaN for none.
    void setLimit(double value);
    void setSpan(Span span);
    Span span() const { return chosen; }
    // Draws again after the history grew: the span moves on with the time unless the user
    // dragged or zoomed it away.
    void refresh();
    void retranslate();

    // The time shown, in ms since the epoch: from <= time < to.
    QPair<qint64, qint64> shownRange() const;
    // The plot as a PNG picture of its size on screen.
    bool exportPicture(const QString& path, QString* why = nullptr);
    // The stored samples of the span shown, as CSV: time (ISO 8601, local with its offset),
    // then the lowest and highest flow of that second in the unit drawn; a gap is a row with
    // the values empty. Written whole or not at all.
    bool exportData(const QString& path, QString* why = nullptr);
    // The context menu's entries, for whoever wants them elsewhere.
    QMenu* makeMenu(QWidget* parent);

    QComboBox* spanBox;
    QCustomPlot* plot;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyPalette();
    void applyTicker();
    void redraw();
    void onRangeChanged();
    void onMenu(const QPoint& at);

    const FlowHistory* history = nullptr;
    DisplayUnit::Unit unit = DisplayUnit::CubicMetrePerHour;
    double limit = std::nan("");
    Span chosen = FiveMinutes;
    // Whether the span moves on with the time: until the user drags or zooms.
    bool following = true;
    // Set while the view sets the range itself, so that only the user's changes stop following.
    bool settingRange = false;
    QLabel* spanLabel;
    QCPGraph* graph;
    QCPItemStraightLine* limitLine;
};
