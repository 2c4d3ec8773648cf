// The meter's value view on the information page: the memory a value costs it, for a model at
// the loader's limit against a small model measured in the same run, and the CPU of a refresh
// (as the poll makes several a second) with every value changed and with none changed. Each
// view stands in a narrow scrolled column, shown and painted, as on the page.
#include "MeterModelLoader.h"
#include "MeterValuesView.h"
#include "ProcessCpu.h"
#include "ResidentMemory.h"

#include <QApplication>
#include <QScrollArea>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kSmall = 8;
constexpr int kLarge = MeterModelLoader::kMaxValues;
// Views of each size made at once, so that the growth stands well above the allocator's noise.
constexpr int kViews = 4;
constexpr int kRefreshes = 40;

MeterModel modelOf(int count)
{
    MeterModel m;
    m.maker = "Bench";
    m.model = QString("V-%1").arg(count);
    ModelValue flow;
    flow.role = ValueRole::FlowRate;
    flow.function = 4;
    flow.type = ValueType::F32;
    flow.unit = "m3/h";
    m.values << flow;
    for (int i = 1; i < count; ++i) {
        ModelValue v;
        v.name = QString("Channel %1 voltage").arg(i);
        v.function = 4;
        v.address = 2 * i;
        v.type = ValueType::F32;
        v.unit = "V";
        m.values << v;
    }
    return m;
}

MeterState stateOf(const MeterModel& m, int round)
{
    MeterState s;
    s.model = m.name();
    s.seen = s.online = true;
    for (int i = 0; i < m.values.size(); ++i)
        s.values << 10.0 + i + round * 0.25;
    s.problems.fill(ReadingCheck::Valid, m.values.size());
    return s;
}

struct Page
{
    std::unique_ptr<QScrollArea> scroll = std::make_unique<QScrollArea>();
    MeterValuesView* view = new MeterValuesView;
};

// The layout and paint the refresh asks for, as the event loop does them on screen.
void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Resident kB the views of a model of `count` values take, shown, painted and refreshed.
long viewsKb(std::vector<Page>& pages, int count)
{
    const MeterModel m = modelOf(count);
    const long before = residentKb();
    for (int i = 0; i < kViews; ++i) {
        Page p;
        p.scroll->setWidgetResizable(true);
        p.scroll->setWidget(p.view);
        p.scroll->resize(280, 600);
        p.view->show(m, stateOf(m, 0), "FT-101");
        p.scroll->show();
        pages.push_back(std::move(p));
    }
    for (int round = 1; round < 4; ++round) {
        for (Page& p : pages)
            p.view->show(m, stateOf(m, round), "FT-101");
        settle();
    }
    for (Page& p : pages)
        p.scroll->viewport()->grab();
    return residentKb() - before;
}

// CPU ms of one refresh of one view, with the values changed each time or never.
double refreshMs(std::vector<Page>& pages, int count, bool change)
{
    const MeterModel m = modelOf(count);
    const double start = cpuSeconds(getpid());
    for (int round = 0; round < kRefreshes; ++round) {
        for (Page& p : pages)
            p.view->show(m, stateOf(m, change ? 10 + round : 3), "FT-101");
        settle();
    }
    return (cpuSeconds(getpid()) - start) * 1000.0 / (kRefreshes * double(pages.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (residentKb() < 0 || cpuSeconds(getpid()) < 0) {
        fprintf(stderr, "bench_values_view: cannot read this process's memory or CPU from /proc\n");
        return 1;
    }

    // Fonts, style and the platform's first paint, so that neither measurement pays for them.
    std::vector<Page> warm;
    viewsKb(warm, kSmall);
    warm.clear();

    std::vector<Page> small, large;
    const long smallKb = viewsKb(small, kSmall);
    const long largeKb = viewsKb(large, kLarge);
    const double perValueKb = double(largeKb - smallKb) / double(kViews * (kLarge - kSmall));
    const int widgets = int(large.front().view->findChildren<QWidget*>().size());

    const double smallChanged = refreshMs(small, kSmall, true);
    const double largeChanged = refreshMs(large, kLarge, true);
    const double smallSame = refreshMs(small, kSmall, false);
    const double largeSame = refreshMs(large, kLarge, false);
    if (largeKb <= 0 || largeChanged <= 0) {
        fprintf(stderr, "bench_values_view: nothing measured (%ld kB, %.3f ms)\n", largeKb, largeChanged);
        return 1;
    }

    printf("meter value view, %d views of each model, shown and painted in a 280x600 column\n", kViews);
    printf("  memory: %d values %ld kB, %d values %ld kB a view; %.2f kB a value (%d widgets in a view of %d)\n",
           kSmall, smallKb / kViews, kLarge, largeKb / kViews, perValueKb, widgets, kLarge);
    printf("  refresh, every value changed: %d values %.3f ms, %d values %.3f ms (ratio %.1f, values %.0f times)\n",
           kSmall, smallChanged, kLarge, largeChanged, largeChanged / smallChanged, double(kLarge) / kSmall);
    printf("  refresh, nothing changed:     %d values %.3f ms, %d values %.3f ms (%.2f us a value)\n", kSmall, smallSame,
           kLarge, largeSame, largeSame * 1000.0 / kLarge);
    return 0;
}
