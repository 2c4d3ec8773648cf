// The main window's form: names, the fixed plug-in column, what is hidden at start, and the
// status-bar group.
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "gui/Ui_cMainWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstddef>

class TestMainForm : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;

private slots:
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup() { fx.reset(); }

    // Plug-ins are built against the form's layout and reach widgets by these names.
    void membersInOrderWithTheirObjectNames()
    {
        static_assert(sizeof(Ui_cMainWindow) == 27 * sizeof(void*), "27 pointers and nothing else");
        auto w = fx->makeWindow();
        Ui_cMainWindow& ui = *w->ui;
        const QList<QPair<QObject*, size_t>> members = {
            {ui.centralWidget, offsetof(Ui_cMainWindow, centralWidget)},
            {ui.centralWidgetLayout, offsetof(Ui_cMainWindow, centralWidgetLayout)},
            {ui.HeaderFrame, offsetof(Ui_cMainWindow, HeaderFrame)},
            {ui.horizontalLayout, offsetof(Ui_cMainWindow, horizontalLayout)},
            {ui.Logo, offsetof(Ui_cMainWindow, Logo)},
            {ui.verticalLayout, offsetof(Ui_cMainWindow, verticalLayout)},
            {ui.horizontalLayout_2, offsetof(Ui_cMainWindow, horizontalLayout_2)},
            {ui.label, offsetof(Ui_cMainWindow, label)},
            {ui.icon, offsetof(Ui_cMainWindow, icon)},
            {ui.itemStr, offsetof(Ui_cMainWindow, itemStr)},
            {ui.mainFrame, offsetof(Ui_cMainWindow, mainFrame)},
            {ui.horizontalLayout_3, offsetof(Ui_cMainWindow, horizontalLayout_3)},
            {ui.pluginBrowserWidget, offsetof(Ui_cMainWindow, pluginBrowserWidget)},
            {ui.vl2, offsetof(Ui_cMainWindow, vl2)},
            {ui.pluginTree, offsetof(Ui_cMainWindow, pluginTree)},
            {ui.pluginInfoBox, offsetof(Ui_cMainWindow, pluginInfoBox)},
            {ui.infoBoxLayout, offsetof(Ui_cMainWindow, infoBoxLayout)},
            {ui.mainFrameLayout, offsetof(Ui_cMainWindow, mainFrameLayout)},
            {ui.display, offsetof(Ui_cMainWindow, display)},
            {ui.displayLayout, offsetof(Ui_cMainWindow, displayLayout)},
            {ui.buttonWidget, offsetof(Ui_cMainWindow, buttonWidget)},
            {ui.verticalLayout_2, offsetof(Ui_cMainWindow, verticalLayout_2)},
            {ui.line, offsetof(Ui_cMainWindow, line)},
            {ui.buttonBox, offsetof(Ui_cMainWindow, buttonBox)},
            {ui.menuBar, offsetof(Ui_cMainWindow, menuBar)},
            {ui.mainToolBar, offsetof(Ui_cMainWindow, mainToolBar)},
            {ui.statusBar, offsetof(Ui_cMainWindow, statusBar)},
        };
        const QStringList names = {"centralWidget", "centralWidgetLayout", "HeaderFrame", "horizontalLayout", "Logo",
                                   "verticalLayout", "horizontalLayout_2", "label", "icon", "itemStr", "mainFrame",
                                   "horizontalLayout_3", "pluginBrowserWidget", "vl2", "pluginTree", "pluginInfoBox",
                                   "infoBoxLayout", "mainFrameLayout", "display", "displayLayout", "buttonWidget",
                                   "verticalLayout_2", "line", "buttonBox", "menuBar", "mainToolBar", "statusBar"};
        for (int i = 0; i < members.size(); ++i) {
            QVERIFY2(members[i].first, qPrintable(names[i]));
            QCOMPARE(members[i].first->objectName(), names[i]);
            QCOMPARE(members[i].second, size_t(i) * sizeof(void*));
            // Every widget and layout hangs in the window's tree, so the window deletes it.
            QObject* o = members[i].first;
            while (o && o != w.get())
                o = o->parent();
            QVERIFY2(o == w.get(), qPrintable(names[i]));
        }
        QCOMPARE(w->centralWidget(), ui.centralWidget);
        QCOMPARE(w->menuBar(), ui.menuBar);
        QCOMPARE(w->statusBar(), ui.statusBar);
        QCOMPARE(ui.label->text(), QString("Corvane"));
        QCOMPARE(ui.pluginTree->headerItem()->text(0), QString("Plugin"));
        QCOMPARE(ui.pluginInfoBox->title(), QString("Information"));
    }

    // Plug-ins report their devices' state; the header shows the worst of all, in words and in a
    // fill whose text stays readable, and forgets a source that has nothing to say.
    void deviceStateShowsTheWorstOfAllSources()
    {
        auto w = fx->makeWindow();
        auto* state = w->ui->HeaderFrame->findChild<QLabel*>("deviceState");
        QVERIFY(state);
        QVERIFY(state->isHidden());
        // WCAG's contrast of the label's text on its fill.
        const auto contrast = [state] {
            const auto luminance = [](const QColor& c) {
                const auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
                return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
            };
            const double a = luminance(state->palette().color(QPalette::Window));
            const double b = luminance(state->palette().color(QPalette::WindowText));
            return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
        };

        w->setDeviceState("Flow meter", 1, "2 meters offline");
        QCOMPARE(state->text(), QString("2 meters offline"));
        QCOMPARE(state->property("severity").toInt(), 1);
        QVERIFY(state->isVisibleTo(w.get()));
        QVERIFY2(contrast() >= 4.5, qPrintable(QString::number(contrast())));
        const QColor warning = state->palette().color(QPalette::Window);

        w->setDeviceState("Pumps", 2, "Alarm: P-3 (dry run)");
        QCOMPARE(state->text(), QString("Alarm: P-3 (dry run)"));
        QCOMPARE(state->property("severity").toInt(), 2);
        QVERIFY2(contrast() >= 4.5, qPrintable(QString::number(contrast())));
        QVERIFY(state->palette().color(QPalette::Window) != warning);
        // A lesser state of another source does not hide the alarm; all are in the tool tip.
        w->setDeviceState("Flow meter", 1, "Meter 4 offline");
        QCOMPARE(state->text(), QString("Alarm: P-3 (dry run)"));
        QVERIFY(state->toolTip().contains("Flow meter: Meter 4 offline"));
        // Two at the worst are both shown.
        w->setDeviceState("Flow meter", 2, "Alarm: FT-101 (high flow)");
        QCOMPARE(state->text(), QString("Alarm: FT-101 (high flow); Alarm: P-3 (dry run)"));

        w->setDeviceState("Pumps", 0, QString());
        QCOMPARE(state->text(), QString("Alarm: FT-101 (high flow)"));
        w->setDeviceState("Flow meter", 0, QString());
        QVERIFY(state->isHidden());
        QCOMPARE(state->property("severity").toInt(), 0);

        // In a dark theme as well.
        QPalette dark;
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            dark.setColor(g, QPalette::Window, QColor(30, 30, 30));
            dark.setColor(g, QPalette::WindowText, QColor(230, 230, 230));
        }
        QApplication::setPalette(dark);
        w->setDeviceState("Flow meter", 1, "Meter 4 offline");
        QVERIFY2(contrast() >= 4.5, qPrintable(QString::number(contrast())));
        QApplication::setPalette(QPalette());
    }

    void aNameGivenBeforeIsKept()
    {
        QMainWindow named, unnamed;
        named.setObjectName("host");
        Ui_cMainWindow a, b;
        a.setupUi(&named);
        b.setupUi(&unnamed);
        QCOMPARE(named.objectName(), QString("host"));
        QCOMPARE(unnamed.objectName(), QString("cMainWindow"));
        QCOMPARE(unnamed.windowTitle(), QString("Corvane - Tessmark"));
    }

    // The window opens with the header, the empty tree and the empty display only.
    void hiddenAtStart()
    {
        auto w = fx->makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->ui->HeaderFrame->isVisible());
        QVERIFY(w->ui->pluginTree->isVisible());
        QVERIFY(w->ui->display->isVisible());
        QVERIFY(w->ui->label->isVisible());
        for (QWidget* hidden : {w->ui->buttonWidget, static_cast<QWidget*>(w->ui->pluginInfoBox),
                                static_cast<QWidget*>(w->ui->icon), w->statusWidget})
            QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
        // The status group is a permanent widget of the status bar.
        QCOMPARE(w->statusWidget->parentWidget(), static_cast<QWidget*>(w->ui->statusBar));
        QCOMPARE(w->statusLabel->text(), QString("Ready"));
        QCOMPARE(w->statusProgressBar->value(), 0);
    }

    void pluginColumnStaysTwoHundredPixels()
    {
        auto w = fx->makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        for (int width : {420, 589, 1400}) {
            w->resize(width, 500);
            QTRY_COMPARE(w->width(), width);
            QTRY_COMPARE(w->ui->pluginBrowserWidget->width(), 200);
            // The display area takes all the rest, up to the frame's right margin of 4.
            const QRect display = w->ui->display->geometry();
            QCOMPARE(display.left(), w->ui->pluginBrowserWidget->geometry().right() + 1);
            QCOMPARE(display.right(), w->ui->mainFrame->contentsRect().right() - 4);
        }
    }

    void progressMinusOneHidesTheGroupAndKeepsTheValue()
    {
        auto w = fx->makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        emit w->statusBarProgressSignal("Loading plugins", 40);
        QVERIFY(w->statusWidget->isVisible());
        QCOMPARE(w->statusLabel->text(), QString("Loading plugins"));
        QCOMPARE(w->statusProgressBar->value(), 40);
        emit w->statusBarProgressSignal("Done", -1);
        QVERIFY(!w->statusWidget->isVisible());
        QCOMPARE(w->statusLabel->text(), QString("Done"));
        QCOMPARE(w->statusProgressBar->value(), 40);
        emit w->statusBarProgressSignal("Again", 0);
        QVERIFY(w->statusWidget->isVisible());
        QCOMPARE(w->statusProgressBar->value(), 0);
    }

    // A second message replaces the first and has its own 2000 ms.
    void secondMessageReplacesTheFirstAndRestartsTheTime()
    {
        auto w = fx->makeWindow();
        QStatusBar* bar = w->ui->statusBar;
        emit w->statusBarMsgSignal("first");
        QCOMPARE(bar->currentMessage(), QString("first"));
        QTest::qWait(1500);
        emit w->statusBarMsgSignal("second");
        QCOMPARE(bar->currentMessage(), QString("second"));
        // 2500 ms after the first, 1000 ms after the second.
        QTest::qWait(1000);
        QCOMPARE(bar->currentMessage(), QString("second"));
        QTRY_COMPARE_WITH_TIMEOUT(bar->currentMessage(), QString(), 2000);
    }
};

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"
