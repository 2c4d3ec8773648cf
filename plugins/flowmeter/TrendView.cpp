#include "TrendView.h"
#include "Csv.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Keys of the plot are seconds since the epoch, as the date-time ticker reads them.
double key(qint64 ms)
{
    return double(ms) / 1000.0;
}

QString isoTime(qint64 ms)
{
    return Csv::time(QDateTime::fromMSecsSinceEpoch(ms));
}

} // namespace

qint64 TrendView::spanMs(Span span)
{
    switch (span) {
    case FiveMinutes: return qint64(5) * 60 * 1000;
    case OneHour: return qint64(3600) * 1000;
    case EightHours: return qint64(8) * 3600 * 1000;
    case OneDay: return qint64(24) * 3600 * 1000;
    case SevenDays: break;
    }
    return qint64(7) * 24 * 3600 * 1000;
}

TrendView::TrendView(QWidget* parent) : QWidget(parent)
{
    setObjectName("trendPlot");
    setMinimumSize(240, 140);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    spanLabel = new QLabel;
    spanBox = new QComboBox;
    spanBox->setObjectName("trendSpan");
    for (int i = 0; i <= SevenDays; ++i)
        spanBox->addItem(QString(), i);
    spanLabel->setBuddy(spanBox);
    top->addWidget(spanLabel);
    top->addWidget(spanBox);
    top->addStretch(1);
    v->addLayout(top);
    plot = new QCustomPlot;
    plot->setObjectName("trendCanvas");
    plot->setContextMenuPolicy(Qt::CustomContextMenu);
    // Only time is dragged and zoomed: the flow axis follows what is in view.
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->axisRect()->setRangeDrag(Qt::Horizontal);
    plot->axisRect()->setRangeZoom(Qt::Horizontal);
    graph = plot->addGraph();
    graph->setLineStyle(QCPGraph::lsLine);
    limitLine = new QCPItemStraightLine(plot);
    limitLine->setVisible(false);
    plot->xAxis->setTicker(QSharedPointer<QCPAxisTickerDateTime>(new QCPAxisTickerDateTime));
    v->addWidget(plot, 1);

    // Chosen again, the same span brings the plot back to now.
    connect(spanBox, QOverload<int>::of(&QComboBox::activated), this,
            [this](int i) { setSpan(Span(spanBox->itemData(i).toInt())); });
    connect(plot->xAxis, QOverload<const QCPRange&>::of(&QCPAxis::rangeChanged), this, &TrendView::onRangeChanged);
    connect(plot, &QWidget::customContextMenuRequested, this, &TrendView::onMenu);
    applyPalette();
    retranslate();
    setSpan(FiveMinutes);
}

void TrendView::retranslate()
{
    spanLabel->setText(QCoreApplication::translate("FlowMeter", "Span:"));
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "5 minutes"), QT_TRANSLATE_NOOP("FlowMeter", "1 hour"),
                           QT_TRANSLATE_NOOP("FlowMeter", "8 hours"), QT_TRANSLATE_NOOP("FlowMeter", "24 hours"),
                           QT_TRANSLATE_NOOP("FlowMeter", "7 days")};
    for (int i = 0; i <= SevenDays; ++i)
        spanBox->setItemText(i, QCoreApplication::translate("FlowMeter", names[i]));
    plot->yAxis->setLabel(QCoreApplication::translate("FlowMeter", "Flow (%1)").arg(DisplayUnit::symbol(unit)));
    plot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendView::setHistory(const FlowHistory* h, DisplayUnit::Unit u)
{
    history = h;
    if (u != unit) {
        unit = u;
        retranslate();
    }
    refresh();
}

void TrendView::setLimit(double value)
{
    // Set with every refresh of the page: drawn anew only when it moved.
    if (value == limit || (std::isnan(value) && std::isnan(limit)))
        return;
    limit = value;
    setProperty("limit", value);
    limitLine->setVisible(std::isfinite(value));
    if (std::isfinite(value)) {
        limitLine->point1->setCoords(0, value);
        limitLine->point2->setCoords(1, value);
    }
    redraw();
}

void TrendView::setSpan(Span span)
{
    chosen = span;
    following = true;
    spanBox->setCurrentIndex(int(span));
    refresh();
}

void TrendView::refresh()
{
    if (following) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        settingRange = true;
        plot->xAxis->setRange(key(now - spanMs(chosen)), key(now));
        settingRange = false;
    }
    redraw();
}

void TrendView::onRangeChanged()
{
    if (settingRange)
        return;
    // Dragged or zoomed by the user: it stays there, drawn anew at its own resolution. Kept
    // within the history's days (and a day ahead): zoomed far out, the times in ms would
    // no longer fit their numbers.
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const double earliest = now - double(FlowHistory::kKeepMs) / 1000.0 - 86400;
    const double latest = now + 86400;
    const QCPRange r = plot->xAxis->range();
    if (r.lower < earliest || r.upper > latest) {
        settingRange = true;
        plot->xAxis->setRange(std::max(r.lower, earliest), std::min(r.upper, latest));
        settingRange = false;
    }
    following = false;
    redraw();
}

QPair<qint64, qint64> TrendView::shownRange() const
{
    const QCPRange r = plot->xAxis->range();
    return qMakePair(qint64(std::ceil(r.lower * 1000.0)), qint64(std::floor(r.upper * 1000.0)) + 1);
}

void TrendView::applyTicker()
{
    auto ticker = qSharedPointerDynamicCast<QCPAxisTickerDateTime>(plot->xAxis->ticker());
    if (!ticker)
        return;
    const double width = plot->xAxis->range().size();
    ticker->setDateTimeSpec(Qt::LocalTime);
    ticker->setDateTimeFormat(width <= 15 * 60 ? QStringLiteral("hh:mm:ss")
                                               : width <= 12 * 3600 ? QStringLiteral("hh:mm")
                                                                    : QStringLiteral("MM-dd\nhh:mm"));
    ticker->setTickCount(std::max(2, plot->axisRect()->width() / 110));
}

void TrendView::redraw()
{
    const QPair<qint64, qint64> shown = shownRange();
    QVector<double> keys, values;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    int stored = 0;
    if (history) {
        // One column per pixel of the plot: what the screen can show, and no more work.
        const int columns = std::max(1, plot->axisRect()->width());
        const QVector<FlowHistory::Column> c = history->decimate(shown.first, shown.second, columns);
        keys.reserve(2 * c.size());
        values.reserve(2 * c.size());
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (const FlowHistory::Column& col : c) {
            if (col.isGap()) {
                keys << key(col.ms);
                values << nan;
                continue;
            }
            const double lo = DisplayUnit::convert(col.min, DisplayUnit::CubicMetrePerHour, unit);
            const double hi = DisplayUnit::convert(col.max, DisplayUnit::CubicMetrePerHour, unit);
            keys << key(col.ms);
            values << lo;
            if (hi != lo) {
                keys << key(col.ms);
                values << hi;
            }
            low = std::min(low, lo);
            high = std::max(high, hi);
        }
        stored = history->count(shown.first, shown.second);
    }
    graph->setData(keys, values, true);
    // For whoever looks at the window from outside the plug-in (tests, accessibility tools),
    // which cannot know this class: the stored readings in the span.
    setProperty("pointCount", stored);
    // The limit stays in sight, so that how close the flow is to it can be seen.
    if (std::isfinite(limit)) {
        low = std::min(low, limit);
        high = std::max(high, limit);
    }
    if (std::isfinite(low)) {
        // A flat signal still gets a band, so noise is not blown up to the full height.
        const double margin = std::max((high - low) * 0.1, std::max(std::fabs(high) * 0.02, 0.1));
        plot->yAxis->setRange(low - margin, high + margin);
    } else {
        plot->yAxis->setRange(0, 1);
    }
    applyTicker();
    plot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendView::applyPalette()
{
    // The palette's own roles, so that a dark theme gets light lines on dark, and the trend
    // reads like the rest of the window.
    const QPalette p = palette();
    const QColor text = p.color(QPalette::WindowText);
    plot->setBackground(p.brush(QPalette::Base));
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        axis->setBasePen(QPen(text));
        axis->setTickPen(QPen(text));
        axis->setSubTickPen(QPen(text));
        axis->setTickLabelColor(text);
        axis->setLabelColor(text);
        QColor grid = p.color(QPalette::Mid);
        axis->grid()->setPen(QPen(grid, 0, Qt::DotLine));
        axis->grid()->setZeroLinePen(QPen(grid, 0, Qt::DotLine));
    }
    // One pixel wide: a week's columns zigzag between their lowest and highest reading, and a
    // wider pen makes the raster engine stroke that path many times slower (bench_trend).
    graph->setPen(QPen(p.color(QPalette::Highlight), 1));
    // Red on light and dark alike; dashed, so that it is no reading.
    limitLine->setPen(QPen(QColor(0xe0, 0x40, 0x40), 1.5, Qt::DashLine));
    plot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyPalette();
    else if (event->type() == QEvent::LanguageChange)
        retranslate();
}

void TrendView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The columns follow the width: drawn anew once the plot has its size.
    QMetaObject::invokeMethod(this, [this] { redraw(); }, Qt::QueuedConnection);
}

bool TrendView::exportPicture(const QString& path, QString* why)
{
    // A picture as on screen: replotted into a pixmap of the plot's size, then written whole.
    const QPixmap picture = plot->toPixmap(plot->width(), plot->height());
    QSaveFile file(path);
    if (picture.isNull() || !file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

bool TrendView::exportData(const QString& path, QString* why)
{
    const QPair<qint64, qint64> shown = shownRange();
    const QString u = DisplayUnit::symbol(unit);
    QString text = Csv::line({QStringLiteral("time"), QStringLiteral("flow rate min [%1]").arg(u),
                              QStringLiteral("flow rate max [%1]").arg(u)}) +
                   '\n';
    if (history)
        for (const FlowHistory::Sample& s : history->samples(shown.first, shown.second))
            text += Csv::line({isoTime(s.ms),
                               Csv::number(DisplayUnit::convert(s.min, DisplayUnit::CubicMetrePerHour, unit)),
                               Csv::number(DisplayUnit::convert(s.max, DisplayUnit::CubicMetrePerHour, unit))}) +
                    '\n';
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

QMenu* TrendView::makeMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QAction* picture = menu->addAction(QCoreApplication::translate("FlowMeter", "Export picture..."));
    picture->setObjectName("trendExportPicture");
    QAction* data = menu->addAction(QCoreApplication::translate("FlowMeter", "Export data..."));
    data->setObjectName("trendExportData");
    auto run = [this](bool isPicture) {
        const QString path = QFileDialog::getSaveFileName(
            this, isPicture ? QCoreApplication::translate("FlowMeter", "Export picture")
                            : QCoreApplication::translate("FlowMeter", "Export data"),
            QString(), isPicture ? QCoreApplication::translate("FlowMeter", "PNG pictures (*.png)")
                                 : QCoreApplication::translate("FlowMeter", "CSV files (*.csv)"));
        if (path.isEmpty())
            return;
        QString why;
        if (!(isPicture ? exportPicture(path, &why) : exportData(path, &why)))
            QMessageBox::warning(this, QCoreApplication::translate("FlowMeter", "Export"),
                                 QCoreApplication::translate("FlowMeter", "%1 was not written: %2").arg(path, why));
    };
    connect(picture, &QAction::triggered, this, [run] { run(true); });
    connect(data, &QAction::triggered, this, [run] { run(false); });
    return menu;
}

void TrendView::onMenu(const QPoint& at)
{
    QMenu* menu = makeMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(plot->mapToGlobal(at));
}
