// The widgets of the model-driven pages and of the setup of several lines, as real widgets on
// the offscreen platform: what a meter's values read like in the units and the language chosen,
// the lines' round trip and what is said about them, and the alarm limit's checks; the alarm
// list fed with a line's events, in its file in a temporary folder.
#include "AlarmLimitEditor.h"
#include "AlarmListView.h"
#include "AlarmLog.h"
#include "AlarmStore.h"
#include "Csv.h"
#include "FlowHistory.h"
#include "FlowSettings.h"
#include "FolderLock.h"
#include "LinesEditor.h"
#include "MeterModelLoader.h"
#include "MeterValuesView.h"
#include "TrendView.h"
#include "UnitsChooser.h"
#include "ValueFormat.h"

#include <Contained.h>
#include <ProgramRunner.h>
#include <TempSettings.h>

#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QMenu>
#include <QWheelEvent>
#include <qcustomplot.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTableView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>

#include <sys/stat.h>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

ModelValue value(ValueRole role, int address, ValueType type, const QString& unit = QString())
{
    ModelValue v;
    v.role = role;
    v.address = address;
    v.type = type;
    v.unit = unit;
    return v;
}

// The simulator's meter, as its register map says.
MeterModel fm1()
{
    MeterModel m;
    m.maker = "Tessmark";
    m.model = "FM-1";
    m.values << value(ValueRole::FlowRate, 0, ValueType::F32, "m3/h") << value(ValueRole::Totalizer, 2, ValueType::F32, "m3")
             << value(ValueRole::Temperature, 4, ValueType::F32, "degC");
    ModelValue alarms = value(ValueRole::AlarmBits, 6, ValueType::U16);
    alarms.bits = {{0, "Flow above limit", true}, {1, "No flow", true}, {2, "Temperature above 60 °C", true}};
    ModelValue status = value(ValueRole::StatusBits, 7, ValueType::U16);
    status.bits = {{0, "measuring", false}};
    m.values << alarms << status << value(ValueRole::SerialNumber, 8, ValueType::U32)
             << value(ValueRole::FirmwareVersion, 10, ValueType::U16);
    ModelValue damping = value(ValueRole::Damping, 11, ValueType::U16, "s");
    damping.scale = 0.1;
    damping.writable = true;
    ModelValue reset = value(ValueRole::ResetCommand, 12, ValueType::U16);
    reset.writable = true;
    ModelValue limit = value(ValueRole::AlarmLimit, 13, ValueType::U16, "m3/h");
    limit.scale = 0.1;
    limit.writable = true;
    limit.minimum = 0;
    limit.maximum = 6553.5;
    m.values << damping << reset << limit << value(ValueRole::CalibrationFactor, 14, ValueType::F32);
    return m;
}

// Another make: input registers, swapped words, a scaled integer totalizer, a coil to reset.
MeterModel x2()
{
    MeterModel m;
    m.maker = "Aquametric";
    m.model = "X2";
    ModelValue flow = value(ValueRole::FlowRate, 100, ValueType::F32, "l/s");
    flow.function = 4;
    flow.order = WordOrder::CDAB;
    ModelValue total = value(ValueRole::Totalizer, 102, ValueType::U32, "l");
    total.function = 4;
    total.scale = 0.1;
    ModelValue temperature = value(ValueRole::Temperature, 104, ValueType::I16, "degC");
    temperature.function = 4;
    temperature.scale = 0.1;
    ModelValue conductivity = value(ValueRole::Extra, 105, ValueType::F32, "µS/cm");
    conductivity.name = "Conductivity";
    conductivity.function = 4;
    ModelValue alarms = value(ValueRole::AlarmBits, 200, ValueType::U16);
    alarms.bits = {{0, "Empty pipe", true}, {3, "Coil fault", true}, {4, "Battery low", false}};
    ModelValue reset = value(ValueRole::ResetCommand, 7, ValueType::Coil);
    reset.function = 5;
    m.values << flow << total << temperature << conductivity << alarms << reset;
    return m;
}

MeterState stateOf(const MeterModel& m, const QVector<double>& values)
{
    MeterState s;
    s.model = m.name();
    s.seen = s.online = true;
    s.values = values;
    s.problems.fill(ReadingCheck::Valid, values.size());
    return s;
}

QString text(const MeterValuesView* view, const QString& name)
{
    const QString shown = view->text(name);
    return shown.isNull() ? QString("<no %1>").arg(name) : shown;
}

MeterValuesView::Look lookOf(const MeterValuesView& view, const QString& name)
{
    return view.look(view.row(name));
}

LineConfig line(const QString& port, const cLineSettings& settings, const QVector<MeterConfig>& meters)
{
    LineConfig l;
    l.port = port;
    l.line = settings;
    l.meters = meters;
    return l;
}

bool sameLines(const QVector<LineConfig>& a, const QVector<LineConfig>& b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].port != b[i].port || a[i].line != b[i].line || a[i].periodMs != b[i].periodMs ||
            a[i].answerTimeoutMs != b[i].answerTimeoutMs || a[i].meters.size() != b[i].meters.size())
            return false;
        for (int j = 0; j < a[i].meters.size(); ++j) {
            const MeterConfig &x = a[i].meters[j], &y = b[i].meters[j];
            if (x.id != y.id || x.model != y.model || x.name != y.name)
                return false;
        }
    }
    return true;
}

const QString kMark = QStringLiteral("\u26A0 ");

} // namespace

class TestFlowmeterWidgets : public QObject
{
    Q_OBJECT

private slots:
    void valuesInTheChosenUnits();
    void secondModelInSwedish();
    void numbersTypedInTheLocale();
    void viewUpdatesInPlace();
    void refreshAsksNoNewLayout();
    void valuesCostNoWidgetEach();
    void linesRoundTrip();
    void linesProblemsInWords();
    void unsafeNamesAreRefusedWithPlaceAndReason_data();
    void unsafeNamesAreRefusedWithPlaceAndReason();
    void alarmLimitIsChecked();
    void trendDrawsGapsPeaksAndLimit();
    void trendExportsWhatIsShown();
    void trendFollowsThePaletteAndTheMouse();
    void everyNewTextHasItsSwedish();

    // the alarm list
    void alarmListFollowsTheEventsAndOutlivesARestart();
    void anUnreadableListIsSetAsideAndNeverWrittenOver();
    void aListThatIsNoRegularFileIsNotReadNorReplaced_data();
    void aListThatIsNoRegularFileIsNotReadNorReplaced();
    void theListIsBoundedAndKeepsWhatIsOpen();
    void aFolderAnotherProgramHoldsIsNotWrittenUntilItLetsGo();
    void aFlappingMeterKeepsOneEntry();
    void unacknowledgedEntriesStandOutInLightAndDark();
};

void TestFlowmeterWidgets::valuesInTheChosenUnits()
{
    const MeterModel m = fm1();
    // Flow 12.5 m³/h, 12345.678 m³, 21.45 °C, alarms 0 and 2, measuring, serial 123456,
    // firmware 1.2, damping 10 tenths, (reset), limit 250 tenths of m³/h, calibration 1.
    MeterState s = stateOf(m, {12.5, 12345.678, 21.45, 5, 1, 123456, 0x0102, 1.0, std::nan(""), 25.0, 1.0});
    DisplayUnits units;
    units.flow = DisplayUnit::LitrePerMinute;
    units.volume = DisplayUnit::Litre;
    units.temperature = DisplayUnit::Fahrenheit;
    MeterValuesView view;
    view.setLocale(QLocale::c());
    view.setUnits(units);
    view.show(m, s, "FT-101 inlet");
    QCOMPARE(view.title()->text(), QString("FT-101 inlet (Tessmark FM-1)"));
    const QString lpm = DisplayUnit::symbol(DisplayUnit::LitrePerMinute);
    QCOMPARE(text(&view, "flowValue"), QString::number(12.5 * 1000 / 60, 'f', 1) + " " + lpm);
    QCOMPARE(text(&view, "totalValue"), QString("12345678.0 ") + DisplayUnit::symbol(DisplayUnit::Litre));
    QCOMPARE(text(&view, "temperatureValue"), QString::number(21.45 * 9 / 5 + 32, 'f', 1) + " °F");
    QCOMPARE(text(&view, "alarmValue"), kMark + "Flow above limit, " + kMark + "Temperature above 60 °C");
    QCOMPARE(lookOf(view, "alarmValue"), MeterValuesView::Alarm);
    // Its red stands out on a light page and on a dark one alike.
    for (const QColor& page : {QColor(Qt::white), QColor(0x20, 0x20, 0x20)}) {
        QPalette p = view.palette();
        p.setColor(QPalette::Window, page);
        view.setPalette(p);
        const QColor red = view.table()->item(view.row("alarmValue"), 1)->foreground().color();
        QVERIFY(red.red() > 2 * red.green());
        QVERIFY(std::abs(red.lightness() - page.lightness()) > 90);
    }
    QCOMPARE(text(&view, "statusValue"), QString("measuring"));
    QCOMPARE(text(&view, "serialValue"), QString("123456"));
    QCOMPARE(text(&view, "firmwareValue"), QString("1.2"));
    QCOMPARE(text(&view, "dampingValue"), QString("1.0 s"));
    QCOMPARE(text(&view, "alarmLimitValue"), QString::number(25.0 * 1000 / 60, 'f', 1) + " " + lpm);
    QCOMPARE(text(&view, "calibrationValue"), QString("1.0000"));
    // The command is no value: no row.
    QCOMPARE(view.row(m.indexOf(ValueRole::ResetCommand)), -1);
    QCOMPARE(text(&view, "flowLabel"), QString("Flow:"));
    QCOMPARE(text(&view, "alarmLimitLabel"), QString("Alarm limit:"));

    // What was not read, or is no reading, says so instead of a figure.
    s.values[2] = std::nan("");
    s.problems[0] = ReadingCheck::NotANumber;
    s.values[3] = 0;
    view.show(m, s, "FT-101 inlet");
    QCOMPARE(text(&view, "temperatureValue"), QString("not read"));
    QCOMPARE(text(&view, "flowValue"), QString("invalid: not a number"));
    QCOMPARE(text(&view, "alarmValue"), QString("No alarm"));
    QCOMPARE(lookOf(view, "alarmValue"), MeterValuesView::Plain);
    // A flow that rounds to nothing is no negative zero.
    s.problems[0] = ReadingCheck::Valid;
    s.values[0] = -0.0001;
    view.show(m, s, QString());
    QCOMPARE(text(&view, "flowValue"), "0.0 " + lpm);
    QCOMPARE(view.title()->text(), QString("Tessmark FM-1"));
    // A u64 serial number beyond 2^63 is still its digits.
    const ModelValue serial64 = value(ValueRole::SerialNumber, 0, ValueType::U64);
    QCOMPARE(ValueFormat().text(serial64, 18446744073709549568.0), QString("18446744073709549568"));
}

void TestFlowmeterWidgets::secondModelInSwedish()
{
    QTranslator sv;
    QVERIFY(sv.load(ProgramRunner::binDir() + "/lang/flowmeter/lang_sv_SE.qm"));
    QCoreApplication::installTranslator(&sv);
    const QLocale swedish("sv_SE");
    const MeterModel m = x2();
    // 2.5 l/s, a totalizer of 123456789 tenths of a litre, -5.5 °C, 512.25 µS/cm, bits 3 and 4.
    const MeterState s = stateOf(m, {2.5, 12345678.9, -5.5, 512.25, 8 + 16, std::nan("")});
    DisplayUnits units;
    units.flow = DisplayUnit::UsGallonPerMinute;
    MeterValuesView view;
    view.setLocale(swedish);
    view.setUnits(units);
    view.show(m, s, "Pump 2");
    // 3.785411784 litres to the US gallon.
    const double gpm = 2.5 * 60 / 3.785411784;
    QCOMPARE(text(&view, "flowValue"), QString::number(gpm, 'f', 2).replace('.', ',') + " " +
                                           DisplayUnit::symbol(DisplayUnit::UsGallonPerMinute));
    QCOMPARE(text(&view, "totalValue"), "12" + swedish.groupSeparator() + "345,679 m³");
    QCOMPARE(text(&view, "temperatureValue"), swedish.negativeSign() + "5,5 °C");
    QCOMPARE(text(&view, "extra_ConductivityValue"), QString("512,250 µS/cm"));
    QCOMPARE(text(&view, "extra_ConductivityLabel"), QString("Conductivity:"));
    // A bit text of the shipped models is in the catalogue; one of this model's own is shown as
    // its file has it.
    QCOMPARE(text(&view, "alarmValue"), kMark + "Coil fault, Lågt batteri");
    QCOMPARE(text(&view, "flowLabel"), QString("Flöde:"));
    QCOMPARE(text(&view, "totalLabel"), QString("Totalräknare:"));
    QCOMPARE(text(&view, "alarmLabel"), QString("Larm:"));

    // Only the bit the model calls no alarm: words, not red.
    MeterState calm = s;
    calm.values[4] = 16;
    view.show(m, calm, "Pump 2");
    QCOMPARE(text(&view, "alarmValue"), QString("Lågt batteri"));
    QCOMPARE(lookOf(view, "alarmValue"), MeterValuesView::Plain);
    // A bit of the alarm field the model does not list is shown, but only the bits marked as
    // alarms raise one: status and alarm bits often share a register. Neither the page, nor the
    // events and the header (alarmBits) take it for one.
    calm.values[4] = 2;
    view.show(m, calm, "Pump 2");
    QCOMPARE(text(&view, "alarmValue"), QString("bit 1"));
    QCOMPARE(lookOf(view, "alarmValue"), MeterValuesView::Plain);
    QCOMPARE(ValueFormat::alarmBits(m.values[4], 2), quint64(0));
    QCOMPARE(ValueFormat::alarmBits(m.values[4], 2 + 8), quint64(8));
    calm.values[4] = 0;
    view.show(m, calm, "Pump 2");
    QCOMPARE(text(&view, "alarmValue"), QString("Inget larm"));
    // Offline: the last values stay, greyed.
    calm.online = false;
    view.show(m, calm, "Pump 2");
    QCOMPARE(text(&view, "temperatureValue"), swedish.negativeSign() + "5,5 °C");
    QCOMPARE(lookOf(view, "temperatureValue"), MeterValuesView::Stale);
    QCoreApplication::removeTranslator(&sv);
}

void TestFlowmeterWidgets::numbersTypedInTheLocale()
{
    const ValueFormat swedish(DisplayUnits(), QLocale("sv_SE"));
    double v = 0;
    QVERIFY(swedish.parse("12,5", &v));
    QCOMPARE(v, 12.5);
    QVERIFY(swedish.parse(" 1" + QLocale("sv_SE").groupSeparator() + "234,5 ", &v));
    QCOMPARE(v, 1234.5);
    // A point from the number pad, where the locale does not group with it.
    QVERIFY(swedish.parse("12.25", &v));
    QCOMPARE(v, 12.25);
    QVERIFY(swedish.parse(QLocale("sv_SE").negativeSign() + "3,5", &v));
    QCOMPARE(v, -3.5);
    v = 7;
    for (const char* bad : {"", "abc", "12,5 l/s", "nan", "inf", "1e999"})
        QVERIFY2(!swedish.parse(bad, &v), bad);
    QCOMPARE(v, 7.0);
    // In English a comma groups: "1,234.5" is a number, "12,5" is not one with a decimal.
    const ValueFormat english(DisplayUnits(), QLocale("en_US"));
    QVERIFY(english.parse("1,234.5", &v));
    QCOMPARE(v, 1234.5);

    // The unit chooser keeps what it is given.
    UnitsChooser chooser;
    DisplayUnits units;
    units.flow = DisplayUnit::LitrePerSecond;
    units.volume = DisplayUnit::UsGallon;
    units.temperature = DisplayUnit::Fahrenheit;
    chooser.setUnits(units);
    const DisplayUnits back = chooser.units();
    QCOMPARE(back.flow, DisplayUnit::LitrePerSecond);
    QCOMPARE(back.volume, DisplayUnit::UsGallon);
    QCOMPARE(back.temperature, DisplayUnit::Fahrenheit);
    QCOMPARE(chooser.flow->count(), int(DisplayUnit::units(DisplayUnit::Flow).size()));
    QSignalSpy changed(&chooser, &UnitsChooser::changed);
    chooser.volume->activated(0);
    QCOMPARE(changed.size(), 1);
}

void TestFlowmeterWidgets::viewUpdatesInPlace()
{
    const MeterModel m = fm1();
    MeterState s = stateOf(m, {1, 2, 3, 0, 1, 7, 0x0100, 1, std::nan(""), 5, 1});
    MeterValuesView view;
    view.setLocale(QLocale::c());
    view.show(m, s, "A");
    QCOMPARE(view.rebuilds(), 1);
    QTableWidgetItem* flow = view.table()->item(view.row("flowValue"), 1);
    const int children = view.findChildren<QWidget*>().size();
    for (int i = 0; i < 25; ++i) {
        s.values[0] = i;
        view.show(m, s, "A");
    }
    DisplayUnits units;
    units.flow = DisplayUnit::LitrePerSecond;
    view.setUnits(units);
    view.setLocale(QLocale("sv_SE"));
    QCOMPARE(view.rebuilds(), 1);
    QCOMPARE(view.table()->item(view.row("flowValue"), 1), flow);
    QCOMPARE(view.findChildren<QWidget*>().size(), children);
    QCOMPARE(flow->text(), QString::number(24 / 3.6, 'f', 3).replace('.', ',') + " l/s");
    // Another model: other rows, and the old ones go.
    view.show(x2(), stateOf(x2(), {1, 2, 3, 4, 0, 0}), "B");
    QCOMPARE(view.rebuilds(), 2);
    QCOMPARE(view.row("serialValue"), -1);
    QVERIFY(view.row("extra_ConductivityValue") >= 0);
    view.showNone();
    QCOMPARE(view.row("flowValue"), -1);
}

namespace {

// The FM-1 with `count` extras more, as a user's model of many channels has them.
MeterModel withExtras(int count)
{
    MeterModel m = fm1();
    m.model = QString("FM-1 +%1").arg(count);
    for (int i = 0; i < count; ++i) {
        ModelValue v = value(ValueRole::Extra, 300 + i, ValueType::U16, "V");
        v.name = QString("Channel %1").arg(i);
        v.function = 4;
        m.values << v;
    }
    return m;
}

struct LayoutRequests : QObject
{
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::LayoutRequest;
        return false;
    }
};

} // namespace

void TestFlowmeterWidgets::refreshAsksNoNewLayout()
{
    // A new figure of the same size is a new text, not a new layout of every row.
    const MeterModel m = withExtras(40);
    MeterState s = stateOf(m, QVector<double>(m.values.size(), 1.0));
    MeterValuesView view;
    view.setLocale(QLocale::c());
    view.resize(280, 500);
    view.show(m, s, "A");
    view.QWidget::show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCoreApplication::processEvents();
    LayoutRequests requests;
    view.installEventFilter(&requests);
    for (int i = 0; i < 10; ++i) {
        s.values[0] = 10 + i;
        s.values[m.values.size() - 1] = 20 + i;
        view.show(m, s, "A");
        QCoreApplication::processEvents();
    }
    QCOMPARE(text(&view, "flowValue"), QString("19.00 m³/h"));
    QCOMPARE(requests.count, 0);
}

void TestFlowmeterWidgets::valuesCostNoWidgetEach()
{
    // A model at the loader's limit takes no more widgets than a small one.
    MeterValuesView view;
    view.show(fm1(), stateOf(fm1(), QVector<double>(fm1().values.size(), 1.0)), "A");
    const int widgets = int(view.findChildren<QWidget*>().size());
    const MeterModel large = withExtras(MeterModelLoader::kMaxValues - int(fm1().values.size()));
    view.show(large, stateOf(large, QVector<double>(large.values.size(), 2.0)), "A");
    QCOMPARE(view.rebuilds(), 2);
    QCOMPARE(int(view.findChildren<QWidget*>().size()), widgets);
}

void TestFlowmeterWidgets::linesRoundTrip()
{
    const QVector<LineConfig> two = {
        line("/dev/ttyUSB0", cLineSettings(9600, 8, 'N', 1),
             {{1, "Tessmark FM-1", "FT-101 inlet"}, {2, "Tessmark FM-1", ""}, {3, "Tessmark FM-1", "FT-103"}}),
        line("/dev/ttyUSB1", cLineSettings(19200, 8, 'E', 1), {{5, "Aquametric X2", "Pump 1"}, {6, "Aquametric X2", "Pump 2"}}),
    };
    QVector<LineConfig> expected = two;
    expected[1].periodMs = 500;
    expected[1].answerTimeoutMs = 150;
    LinesEditor editor;
    editor.setModelNames({"Tessmark FM-1", "Aquametric X2"});
    editor.setPortChoices({{"USB adapter (ttyUSB0)", "/dev/ttyUSB0", true}, {"ttyS0", "/dev/ttyS0", false}});
    editor.setLines(expected);
    QVERIFY(sameLines(editor.lines(), expected));
    QVERIFY(editor.problems().isEmpty());
    QCOMPARE(editor.lineList->count(), 2);
    QCOMPARE(editor.lineList->item(1)->text(), QString("Line 2: /dev/ttyUSB1, 19200 8E1"));

    // The second line as the page shows it, then edited through its widgets.
    editor.lineList->setCurrentRow(1);
    QCOMPARE(editor.port->text(), QString("/dev/ttyUSB1"));
    QCOMPARE(editor.rate->currentData().toInt(), 19200);
    QCOMPARE(editor.parityBox->currentData().toChar(), QChar('E'));
    QCOMPARE(editor.period->value(), 500);
    QCOMPARE(editor.timeout->value(), 150);
    QCOMPARE(editor.meters->rowCount(), 2);
    QCOMPARE(editor.meters->item(0, LinesEditor::NameColumn)->text(), QString("Pump 1"));
    QSignalSpy changed(&editor, &LinesEditor::changed);
    editor.rate->setCurrentIndex(editor.rate->findData(38400));
    editor.stops->setCurrentIndex(editor.stops->findData(2));
    editor.meters->item(1, LinesEditor::NameColumn)->setText("FT-202 outlet");
    static_cast<QSpinBox*>(editor.meters->cellWidget(1, LinesEditor::IdColumn))->setValue(16);
    editor.portBox->activated(0);
    QVERIFY(changed.size() >= 4);
    expected[1].line = cLineSettings(38400, 8, 'E', 2);
    expected[1].meters[1] = {16, "Aquametric X2", "FT-202 outlet"};
    expected[1].port = "/dev/ttyUSB0";
    QVERIFY(sameLines(editor.lines(), expected));
    // A port list that changes under the user keeps what is in the field.
    editor.setPortChoices({});
    QCOMPARE(editor.lines()[1].port, QString("/dev/ttyUSB0"));
    editor.port->setText("/dev/ttyUSB1");

    // Going to the first line and back shows each line's own figures.
    editor.lineList->setCurrentRow(0);
    QCOMPARE(editor.rate->currentData().toInt(), 9600);
    QCOMPARE(editor.meters->rowCount(), 3);
    editor.addMeter();
    QCOMPARE(editor.lines()[0].meters.last().id, 4);
    QCOMPARE(editor.lines()[0].meters.last().model, QString("Tessmark FM-1"));
    editor.meters->setCurrentCell(3, LinesEditor::NameColumn);
    editor.removeMeter();
    editor.lineList->setCurrentRow(1);
    QCOMPARE(editor.rate->currentData().toInt(), 38400);
    expected[1].port = "/dev/ttyUSB1";
    QVERIFY(sameLines(editor.lines(), expected));

    // A third line comes with a meter of the first model; removing it leaves the two.
    editor.addLine();
    QCOMPARE(editor.lines().size(), 3);
    QCOMPARE(editor.currentLine(), 2);
    QCOMPARE(editor.lines()[2].meters.size(), 1);
    QVERIFY(editor.problems().contains("Line 3 has no port."));
    editor.removeLine();
    QVERIFY(sameLines(editor.lines(), expected));
    QVERIFY(editor.problems().isEmpty());
    QVERIFY(editor.problemsLabel->isHidden());
}

void TestFlowmeterWidgets::unsafeNamesAreRefusedWithPlaceAndReason_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("environmentPort");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("shown");
    const QString nul(QChar(0));
    QTest::newRow("line end in the port")
        << "/dev/ttyUSB1\nFAKE" << "" << ""
        << "Setting port holds the control character U+000A (character 13); /dev/ttyUSB0 is used"
        << "Line 1: the port name holds the control character U+000A (character 13).";
    QTest::newRow("override in the port")
        << QString::fromUtf8("/dev/tty\u202e1BSU") << "" << ""
        << "Setting port holds the direction-changing character U+202E (character 9); /dev/ttyUSB0 is used"
        << "Line 1: the port name holds the direction-changing character U+202E (character 9).";
    QTest::newRow("NUL in a meter name")
        << "/dev/ttyUSB1" << "FT" + nul + "101" << ""
        << "Line 1: the name of meter 1 holds the control character U+0000 (character 3); the meter is left without a name"
        << "Line 1, unit id 1: the name holds the control character U+0000 (character 3).";
    QTest::newRow("isolate in a meter name")
        << "/dev/ttyUSB1" << QString::fromUtf8("FT\u2066101") << ""
        << "Line 1: the name of meter 1 holds the direction-changing character U+2066 (character 3); the meter is left without a name"
        << "Line 1, unit id 1: the name holds the direction-changing character U+2066 (character 3).";
    QTest::newRow("line end in the environment's port")
        << "" << "" << "/dev/x\r\ny"
        << "CORVANE_FLOWMETER_PORT holds the control character U+000D (character 7); /dev/ttyUSB0 is used" << "";
}

// A name goes into log lines, CSV headers and every page: one that would cut or turn them is
// refused where it is read, saying where and why, and on the setup page before it is kept.
void TestFlowmeterWidgets::unsafeNamesAreRefusedWithPlaceAndReason()
{
    QFETCH(QString, port);
    QFETCH(QString, name);
    QFETCH(QString, environmentPort);
    QFETCH(QString, logged);
    QFETCH(QString, shown);
    TempSettings store;
    const QByteArray kept = qgetenv("CORVANE_FLOWMETER_PORT");
    const bool had = qEnvironmentVariableIsSet("CORVANE_FLOWMETER_PORT");
    qputenv("CORVANE_FLOWMETER_PORT", environmentPort.toUtf8());
    FlowConfig loaded;
    QStringList lines;
    {
        QSettings s(store.file(), QSettings::IniFormat);
        if (!port.isEmpty()) {
            s.beginGroup(FlowSettings::kGroup);
            s.beginWriteArray("lines", 1);
            s.setArrayIndex(0);
            s.setValue("port", port);
            s.beginWriteArray("meters", 1);
            s.setArrayIndex(0);
            s.setValue("id", 1);
            s.setValue("model", "Tessmark FM-1");
            s.setValue("name", name);
            s.endArray();
            s.endArray();
            s.endGroup();
        }
        loaded = FlowSettings::load(s, [&](const QString& line) { lines << line; });
    }
    if (had)
        qputenv("CORVANE_FLOWMETER_PORT", kept);
    else
        qunsetenv("CORVANE_FLOWMETER_PORT");
    QVERIFY2(lines.contains(logged), qPrintable(lines.join("\n")));
    QCOMPARE(loaded.lines.size(), 1);
    QCOMPARE(loaded.lines[0].port, logged.endsWith(" is used") ? QString(FlowSettings::kDefaultPort) : port);
    QVERIFY(!loaded.lines[0].meters.isEmpty());
    QCOMPARE(loaded.lines[0].meters[0].name, QString());

    if (shown.isEmpty())
        return;
    LinesEditor editor;
    editor.setModelNames({"Tessmark FM-1"});
    editor.setLines({line(port, cLineSettings(), {{1, "Tessmark FM-1", name}})});
    QCOMPARE(editor.problems(), QStringList{shown});
}

void TestFlowmeterWidgets::linesProblemsInWords()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A device and a stable link to it, as /dev/serial/by-id keeps them.
    const QString device = dir.filePath("ttyUSB7");
    QFile f(device);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(QFile::link(device, dir.filePath("by-id-adapter")));

    LinesEditor editor;
    editor.setModelNames({"Tessmark FM-1"});
    editor.setLines({line(device, cLineSettings(), {{1, "Tessmark FM-1", ""}, {1, "Tessmark FM-1", "second"}, {1, "Tessmark FM-1", ""}}),
                     line(dir.filePath("by-id-adapter"), cLineSettings(), {{2, "Gone Meter", "kept"}})});
    const QStringList problems = editor.problems();
    QCOMPARE(problems.size(), 3);
    QVERIFY(problems.contains("Line 1: unit id 1 is given to more than one meter."));
    QVERIFY(problems.contains(QString("Lines 1 and 2 use the same port %1: a port serves one line.").arg(dir.filePath("by-id-adapter"))));
    QVERIFY(problems.contains("Line 2, unit id 2: unknown model \"Gone Meter\"."));
    QVERIFY(editor.problemsLabel->isVisibleTo(&editor));
    QCOMPARE(editor.problemsLabel->text(), problems.join("\n"));

    // The unknown model is kept as stored, marked, and nothing is lost on the way back.
    editor.lineList->setCurrentRow(1);
    auto* model = static_cast<QComboBox*>(editor.meters->cellWidget(0, LinesEditor::ModelColumn));
    QCOMPARE(model->currentText(), QString("Gone Meter"));
    QCOMPARE(editor.lines()[1].meters[0].model, QString("Gone Meter"));
    // Picking a known one clears the complaint; a port of its own clears the other.
    model->setCurrentIndex(model->findText("Tessmark FM-1"));
    editor.port->setText(dir.filePath("elsewhere"));
    QCOMPARE(editor.problems(), QStringList{"Line 1: unit id 1 is given to more than one meter."});

    // An id no bus can have, from a hand-edited setting, is said, not quietly changed.
    editor.setLines({line(device, cLineSettings(), {{300, "Tessmark FM-1", ""}})});
    QCOMPARE(editor.problems(), QStringList{"Line 1: unit id 300 is not one of 1 to 247."});
    QCOMPARE(editor.lines()[0].meters[0].id, 300);

    QVERIFY(editor.modelProblems->isHidden());
    editor.setModelProblems({"/models/bad.json: $.values[2].type: \"f16\" is not a type"});
    QCOMPARE(editor.modelProblems->count(), 1);
    QVERIFY(editor.modelProblems->isVisibleTo(&editor));
}

void TestFlowmeterWidgets::alarmLimitIsChecked()
{
    const MeterModel m = fm1();
    const MeterState s = stateOf(m, {1, 2, 3, 0, 1, 7, 0x0100, 1, std::nan(""), 25.0, 1});
    DisplayUnits units;
    units.flow = DisplayUnit::LitrePerMinute;
    AlarmLimitEditor editor;
    editor.setLocale(QLocale("sv_SE"));
    editor.setUnits(units);
    editor.setMeter(m, s);
    QSignalSpy written(&editor, &AlarmLimitEditor::writeRequested);
    const QString lpm = DisplayUnit::symbol(DisplayUnit::LitrePerMinute);
    QCOMPARE(editor.current->text(), QString::number(25.0 * 1000 / 60, 'f', 1).replace('.', ',') + " " + lpm);
    QCOMPARE(editor.unit->text(), lpm);
    QVERIFY(editor.edit->isEnabled());

    const auto type = [&](const QString& typed) {
        editor.edit->setText(typed);
        editor.writeButton->click();
        return editor.message->text();
    };
    // Above 6553.5 m³/h, which is 109225 l/min.
    QVERIFY(type("200000").startsWith("Not written: "));
    QVERIFY(editor.message->text().contains("109"));
    QVERIFY(type("-1").startsWith("Not written: "));
    QVERIFY(type("tolv").contains("\"tolv\" is not a number"));
    QCOMPARE(written.size(), 0);

    // 416,7 l/min is 25.002 m³/h.
    QVERIFY(type("416,7").startsWith("Sending"));
    QCOMPARE(written.size(), 1);
    QVERIFY(std::fabs(written[0][0].toDouble() - 416.7 * 60 / 1000) < 1e-9);
    // The range's end as the page shows it, rounded, is the end: 6553.5 m³/h is 1820.417 l/s
    // to three decimals, a little beyond it; one step more is refused.
    units.flow = DisplayUnit::LitrePerSecond;
    editor.setUnits(units);
    const double highest = 6553.5 / 3.6;
    QVERIFY(std::round(highest * 1000) / 1000 > highest);
    QVERIFY2(editor.range->text().endsWith("820,417"), qPrintable(editor.range->text()));
    type("1820,417");
    QCOMPARE(written.size(), 2);
    QCOMPARE(written[1][0].toDouble(), 6553.5);
    QVERIFY(type("1820,418").startsWith("Not written: "));
    QCOMPARE(written.size(), 2);
    units.flow = DisplayUnit::LitrePerMinute;
    editor.setUnits(units);

    // Without a range of its own the register's type still bounds it: 0 to 6553.5 for tenths.
    MeterModel open = m;
    open.values[m.indexOf(ValueRole::AlarmLimit)].minimum = std::nan("");
    open.values[m.indexOf(ValueRole::AlarmLimit)].maximum = std::nan("");
    editor.setMeter(open, s);
    QVERIFY(type("200000").startsWith("Not written: "));
    QCOMPARE(written.size(), 2);

    MeterModel readOnly = m;
    readOnly.values[m.indexOf(ValueRole::AlarmLimit)].writable = false;
    editor.setMeter(readOnly, s);
    QVERIFY(!editor.edit->isEnabled());
    QVERIFY(!editor.submit());
    editor.setMeter(x2(), stateOf(x2(), {1, 2, 3, 4, 0, 0}));
    QVERIFY(!editor.writeButton->isEnabled());
    QCOMPARE(editor.current->text(), QString("This meter's model has no alarm limit."));
}

namespace {

// The graph's points as drawn: (seconds since the epoch, value), NaN for a gap.
QVector<QPointF> drawn(const TrendView& view)
{
    QVector<QPointF> points;
    for (auto it = view.plot->graph(0)->data()->constBegin(); it != view.plot->graph(0)->data()->constEnd(); ++it)
        points << QPointF(it->key, it->value);
    return points;
}

// A trend of its own size on the offscreen screen, laid out as a window shows it.
void showSized(TrendView& view, int width = 800, int height = 300)
{
    view.resize(width, height);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCoreApplication::processEvents();
}

} // namespace

void TestFlowmeterWidgets::trendDrawsGapsPeaksAndLimit()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // A week of readings each second, a one-second peak and dip in it, and the meter away for
    // an hour: drawn in l/min at the week's span.
    FlowHistory h;
    const qint64 start = now - FlowHistory::kKeepMs + 60000;
    const qint64 peak = start + 3 * 24 * 3600 * 1000LL + 4321000, dip = peak + 7777000;
    const qint64 goneFrom = now - 5 * 3600 * 1000LL, goneTo = goneFrom + 3600 * 1000LL;
    for (qint64 t = start; t < now; t += 1000) {
        double v = 6.0 + 0.5 * std::sin(double(t) / 3.6e6);
        if (t == peak)
            v = 42.0;
        if (t == dip)
            v = 0.25;
        h.add(t, t >= goneFrom && t < goneTo ? std::nan("") : v);
    }
    TrendView view;
    showSized(view);
    view.setHistory(&h, DisplayUnit::LitrePerMinute);
    view.setSpan(TrendView::SevenDays);
    QCOMPARE(view.plot->yAxis->label(), QString("Flow (l/min)"));
    const QVector<QPointF> week = drawn(view);
    const int width = view.plot->axisRect()->width();
    // At most the low and the high of each pixel column, and the gap.
    QVERIFY2(week.size() <= 2 * width + 2 && week.size() > width, qPrintable(QString::number(week.size())));
    double top = -1, bottom = 1e9;
    int gaps = 0;
    for (int i = 0; i < week.size(); ++i) {
        if (std::isnan(week[i].y())) {
            ++gaps;
            // Between the last reading before the meter went and the first after it came back.
            QVERIFY(week[i - 1].x() < goneFrom / 1000.0 && week[i + 1].x() >= goneTo / 1000.0 - 3600.0 * 24 * 7 / width);
            continue;
        }
        top = std::max(top, week[i].y());
        bottom = std::min(bottom, week[i].y());
    }
    QCOMPARE(gaps, 1);
    QCOMPARE(top, 42.0 * 1000 / 60);
    QCOMPARE(bottom, 0.25 * 1000 / 60);
    QCOMPARE(view.property("pointCount").toInt(), h.count(view.shownRange().first, view.shownRange().second));

    // Five minutes: every reading of them at its own second, with nothing made up between.
    view.setSpan(TrendView::FiveMinutes);
    const QVector<QPointF> minutes = drawn(view);
    QCOMPARE(minutes.size(), h.count(view.shownRange().first, view.shownRange().second));
    QVERIFY(minutes.size() > 100);
    for (int i = 1; i < minutes.size(); ++i)
        QCOMPARE(minutes[i].x() - minutes[i - 1].x(), 1.0);
    QVERIFY(view.plot->xAxis->range().upper * 1000 >= now);

    // The limit: a line in sight, even far above the readings.
    view.setLimit(900.0);
    QCOMPARE(view.property("limit").toDouble(), 900.0);
    QVERIFY(view.plot->yAxis->range().contains(900.0));
    auto* line = view.plot->findChild<QCPItemStraightLine*>();
    QVERIFY(line && line->visible());
    QCOMPARE(line->point1->coords().y(), 900.0);
    QCOMPARE(line->point2->coords().y(), 900.0);
    // The picture for the guide, where a folder is given for pictures as test_screenshots takes it.
    const QString shots = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        view.setSpan(TrendView::OneDay);
        view.setLimit(110.0);
        QVERIFY(view.exportPicture(shots + "/trend.png"));
    }
    view.setLimit(std::nan(""));
    QVERIFY(!line->visible());
    QVERIFY(!view.plot->yAxis->range().contains(900.0));
    // No meter: nothing drawn, nothing left of the last.
    view.setHistory(nullptr, DisplayUnit::CubicMetrePerHour);
    QVERIFY(drawn(view).isEmpty());
}

void TestFlowmeterWidgets::trendExportsWhatIsShown()
{
    QTemporaryDir dir;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Twenty minutes at 200 ms, with a gap: the five minutes shown hold about 300 seconds.
    FlowHistory h;
    QMap<qint64, QPair<double, double>> expected;
    for (qint64 t = now - 20 * 60000; t <= now; t += 200) {
        const double v = 3.0 + double(t % 7000) / 1000.0;
        const bool gone = t > now - 120000 && t < now - 100000;
        h.add(t, gone ? std::nan("") : v);
        if (gone)
            continue;
        const qint64 second = t / 1000 * 1000;
        auto it = expected.find(second);
        if (it == expected.end())
            expected.insert(second, {v, v});
        else
            *it = {std::min(it->first, v), std::max(it->second, v)};
    }
    TrendView view;
    showSized(view, 640, 280);
    view.setHistory(&h, DisplayUnit::LitrePerSecond);
    view.setSpan(TrendView::FiveMinutes);
    const QPair<qint64, qint64> shown = view.shownRange();
    QCOMPARE(shown.second - shown.first, 5 * 60000 + 1);

    const QString csv = dir.filePath("trend.csv");
    QString why;
    QVERIFY2(view.exportData(csv, &why), qPrintable(why));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    QCOMPARE(lines.first(), QString("time,flow rate min [l/s],flow rate max [l/s]"));
    QCOMPARE(lines.last(), QString());
    int rows = 0, gapRows = 0;
    qint64 previous = 0;
    for (int i = 1; i + 1 < lines.size(); ++i) {
        QStringList fields;
        QVERIFY(Csv::split(lines[i], &fields));
        QCOMPARE(fields.size(), 3);
        // Local time with its offset written out.
        QVERIFY2(fields[0].contains(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.000[+-]\\d\\d:\\d\\d$")),
                 qPrintable(fields[0]));
        const qint64 t = QDateTime::fromString(fields[0], Qt::ISODateWithMs).toMSecsSinceEpoch();
        // In order; a gap may begin within the second of the last reading before it.
        QVERIFY2(t >= shown.first && t < shown.second && t >= previous, qPrintable(fields[0]));
        previous = t;
        if (fields[1].isEmpty()) {
            QVERIFY(fields[2].isEmpty());
            ++gapRows;
            continue;
        }
        ++rows;
        QVERIFY2(expected.contains(t), qPrintable(fields[0]));
        QVERIFY(std::fabs(fields[1].toDouble() - expected[t].first / 3.6) < 1e-6);
        QVERIFY(std::fabs(fields[2].toDouble() - expected[t].second / 3.6) < 1e-6);
    }
    // Every second shown that had readings, none outside.
    int inSpan = 0;
    for (qint64 t : expected.keys())
        inSpan += t >= shown.first && t < shown.second;
    QCOMPARE(rows, inSpan);
    QCOMPARE(gapRows, 1);

    // The picture: the plot as on screen, drawn in more than its background.
    const QString png = dir.filePath("trend.png");
    QVERIFY2(view.exportPicture(png, &why), qPrintable(why));
    QImage image(png);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), view.plot->size());
    const QColor line = view.palette().color(QPalette::Highlight);
    int lineish = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            colours.insert(c.rgb());
            lineish += std::abs(c.red() - line.red()) + std::abs(c.green() - line.green()) + std::abs(c.blue() - line.blue()) < 40;
        }
    QVERIFY2(colours.size() > 8, qPrintable(QString::number(colours.size())));
    QVERIFY2(lineish > 300, qPrintable(QString::number(lineish)));
    // A folder that is not there: said, and nothing pretends to be written.
    QVERIFY(!view.exportData(dir.filePath("none/trend.csv"), &why));
    QVERIFY(!why.isEmpty());
    QVERIFY(!view.exportPicture(dir.filePath("none/trend.png"), &why));
    // The context menu offers both.
    std::unique_ptr<QMenu> menu(view.makeMenu(nullptr));
    QCOMPARE(menu->actions().size(), 2);
    QCOMPARE(menu->actions().at(0)->text(), QString("Export picture..."));
    QCOMPARE(menu->actions().at(1)->text(), QString("Export data..."));
}

void TestFlowmeterWidgets::trendFollowsThePaletteAndTheMouse()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    FlowHistory h;
    for (qint64 t = now - 3 * 3600 * 1000LL; t <= now; t += 1000)
        h.add(t, 1.0 + double(t % 60000) / 60000.0);
    TrendView view;
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x24));
    dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x34));
    dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Highlight, QColor(0x60, 0xa0, 0xff));
    view.setPalette(dark);
    showSized(view);
    view.setHistory(&h, DisplayUnit::CubicMetrePerHour);
    view.setSpan(TrendView::OneHour);
    QCOMPARE(view.plot->toPixmap().toImage().pixelColor(2, 2), QColor(0x20, 0x20, 0x24));
    QCOMPARE(view.plot->xAxis->tickLabelColor(), QColor(0xe8, 0xe8, 0xe8));
    QCOMPARE(view.plot->yAxis->basePen().color(), QColor(0xe8, 0xe8, 0xe8));
    QCOMPARE(view.plot->graph(0)->pen().color(), QColor(0x60, 0xa0, 0xff));

    // The wheel zooms the time only; the plot then stays where it was put as readings come.
    const QCPRange before = view.plot->xAxis->range();
    const QPoint middle = view.plot->axisRect()->rect().center();
    QWheelEvent wheel(middle, view.plot->mapToGlobal(middle), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view.plot, &wheel);
    const QCPRange zoomed = view.plot->xAxis->range();
    QVERIFY2(zoomed.size() < before.size() * 0.9, qPrintable(QString::number(zoomed.size())));
    QVERIFY(zoomed.lower > before.lower && zoomed.upper < before.upper);
    // Drawn anew at the zoom's resolution: readings a second apart again.
    const QVector<QPointF> points = drawn(view);
    QVERIFY(points.size() >= 2);
    h.add(now + 5000, 2.0);
    view.refresh();
    QCOMPARE(view.plot->xAxis->range().lower, zoomed.lower);
    // Dragged back by the mouse to an hour earlier.
    QTest::mousePress(view.plot, Qt::LeftButton, Qt::NoModifier, middle);
    QTest::mouseMove(view.plot, middle + QPoint(200, 0));
    QTest::mouseRelease(view.plot, Qt::LeftButton, Qt::NoModifier, middle + QPoint(200, 0));
    QVERIFY2(view.plot->xAxis->range().lower < zoomed.lower, "not dragged");
    QCOMPARE(view.plot->xAxis->range().size(), zoomed.size());
    // Zoomed out far beyond the history's week: held within it and a day ahead, where the
    // times still fit their numbers.
    QWheelEvent out(middle, view.plot->mapToGlobal(middle), QPoint(), QPoint(0, -240 * 200), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view.plot, &out);
    const QCPRange far = view.plot->xAxis->range();
    QVERIFY2(far.size() <= (FlowHistory::kKeepMs / 1000 + 2 * 86400) * 1.0001, qPrintable(QString::number(far.size())));
    QVERIFY(far.upper * 1000 <= QDateTime::currentMSecsSinceEpoch() + 86400000.0 + 1000);
    QVERIFY(!drawn(view).isEmpty());
    // Choosing a span comes back to now.
    emit view.spanBox->activated(TrendView::OneHour);
    QVERIFY(view.plot->xAxis->range().upper * 1000 >= now);
    QVERIFY(std::fabs(view.plot->xAxis->range().size() - 3600.0) < 1e-6);
}

void TestFlowmeterWidgets::everyNewTextHasItsSwedish()
{
    QStringList marked;
    for (const char* file : {"ValueFormat.cpp", "MeterValuesView.cpp", "UnitsChooser.cpp", "LinesEditor.cpp", "AlarmLimitEditor.cpp",
                             "TrendView.cpp", "AlarmLog.cpp", "AlarmListView.cpp", "DesktopNotifier.cpp",
                             "FolderLock.cpp", "Recorder.cpp"}) {
        QFile f(QStringLiteral(FLOWMETER_SOURCE_DIR) + "/" + file);
        QVERIFY2(f.open(QIODevice::ReadOnly), file);
        static const QRegularExpression mark("(?:translate|QT_TRANSLATE_NOOP)\\(\\s*\"FlowMeter\",\\s*\"((?:[^\"\\\\]|\\\\.)*)\"");
        for (auto it = mark.globalMatch(QString::fromUtf8(f.readAll())); it.hasNext();)
            marked << it.next().captured(1).replace("\\\"", "\"");
    }
    QVERIFY(marked.size() > 40);
    QTranslator sv;
    QVERIFY(sv.load(ProgramRunner::binDir() + "/lang/flowmeter/lang_sv_SE.qm"));
    for (const QString& text : marked) {
        const QString t = sv.translate("FlowMeter", text.toUtf8().constData());
        QVERIFY2(!t.isEmpty(), qPrintable("no Swedish for: " + text));
        // A place-holder with its colon, and words Swedish shares, read the same in both.
        const bool shared = text == "%1:" || text == "bit %1" || text == "Status";
        QVERIFY2(t != text || shared, qPrintable("not translated: " + text));
    }
}

namespace {

MeterEvent meterEvent(MeterEvent::Kind kind, int id, const QString& detail, int line = 0)
{
    MeterEvent e;
    e.kind = kind;
    e.line = line;
    e.id = id;
    e.detail = detail;
    e.wall = QDateTime::currentDateTime();
    return e;
}

QString cell(const AlarmLog& log, int row, int column)
{
    return log.index(row, column).data().toString();
}

const QVector<AlarmLog::Meter> kMeters = {{0, 1, "FT-101 inlet", "/dev/ttyUSB0"}, {0, 2, "Meter 2", "/dev/ttyUSB0"}};

QJsonArray fileEntries(const QString& folder)
{
    QFile f(folder + "/alarms.json");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object().value("entries").toArray();
}

} // namespace

void TestFlowmeterWidgets::alarmListFollowsTheEventsAndOutlivesARestart()
{
    QTemporaryDir dir;
    {
        AlarmLog log;
        log.open(dir.path());
        log.setMeters(kMeters);
        QSignalSpy raised(&log, &AlarmLog::raised);
        log.onMeterEvent(meterEvent(MeterEvent::AlarmRaised, 1, "Flow above limit"));
        QCOMPARE(log.rowCount(), 1);
        QCOMPARE(cell(log, 0, AlarmLog::MeterColumn), QString("FT-101 inlet"));
        QCOMPARE(cell(log, 0, AlarmLog::LineColumn), QString("1"));
        QCOMPARE(log.index(0, AlarmLog::LineColumn).data(Qt::ToolTipRole).toString(), QString("/dev/ttyUSB0"));
        QCOMPARE(cell(log, 0, AlarmLog::TextColumn), QString("Flow above limit"));
        QCOMPARE(cell(log, 0, AlarmLog::EndColumn), QString("ongoing"));
        // Reported again while it lasts: still the one entry, told to the desktop once.
        log.onMeterEvent(meterEvent(MeterEvent::AlarmRaised, 1, "Flow above limit"));
        QCOMPARE(log.rowCount(), 1);
        QCOMPARE(raised.size(), 1);
        // Another bit came on: the alarm as it now is, newest on top; the one before ends.
        log.onMeterEvent(meterEvent(MeterEvent::AlarmRaised, 1, "Flow above limit, No flow"));
        QCOMPARE(log.rowCount(), 2);
        QCOMPARE(cell(log, 0, AlarmLog::TextColumn), QString("Flow above limit, No flow"));
        QVERIFY(cell(log, 1, AlarmLog::EndColumn) != "ongoing");
        // Offline for one reason and then another: one entry for the time away.
        log.onMeterEvent(meterEvent(MeterEvent::WentOffline, 2, "no answer"));
        log.onMeterEvent(meterEvent(MeterEvent::WentOffline, 2, "corrupt check sum"));
        QCOMPARE(log.rowCount(), 3);
        QCOMPARE(cell(log, 0, AlarmLog::TextColumn), QString("Offline: no answer"));
        QCOMPARE(cell(log, 0, AlarmLog::MeterColumn), QString("Meter 2"));
        log.onMeterEvent(meterEvent(MeterEvent::AlarmCleared, 1, QString()));
        QVERIFY(cell(log, 1, AlarmLog::EndColumn) != "ongoing");
        // The recorder's failure, said every interval while it lasts: one entry.
        log.raiseGeneral("Recording stopped: no space left on the device");
        log.raiseGeneral("Recording stopped: no space left on the device");
        QCOMPARE(log.rowCount(), 4);
        QCOMPARE(raised.size(), 4);
        QCOMPARE(log.unacknowledged(), 4);
        log.acknowledge({3});
        QCOMPARE(log.unacknowledged(), 3);
        QVERIFY(!log.index(3, 0).data(AlarmLog::UnacknowledgedRole).toBool());
        // The file follows each change within the same turn of the event loop.
        QTRY_COMPARE(fileEntries(dir.path()).size(), 4);
        log.onMeterEvent(meterEvent(MeterEvent::AlarmRaised, 1, "No flow"));
        QCOMPARE(log.rowCount(), 5);
    }
    // Written whole at the last change (the log went before its timer fired).
    const QJsonArray saved = fileEntries(dir.path());
    QCOMPARE(saved.size(), 5);
    QCOMPARE(saved[0].toObject().value("meter").toString(), QString("FT-101 inlet"));
    QCOMPARE(saved[0].toObject().value("line").toInt(), 1);
    QVERIFY(saved[0].toObject().contains("acknowledged"));
    QVERIFY(QDateTime::fromString(saved[0].toObject().value("start").toString(), Qt::ISODateWithMs).isValid());

    // The restart: the list as it was; what was open stays open until the meter says.
    AlarmLog log;
    QSignalSpy raised(&log, &AlarmLog::raised);
    log.open(dir.path());
    log.setMeters(kMeters);
    QCOMPARE(log.rowCount(), 5);
    QCOMPARE(log.unacknowledged(), 4);
    QCOMPARE(cell(log, 0, AlarmLog::EndColumn), QString("ongoing"));
    QCOMPARE(cell(log, 2, AlarmLog::EndColumn), QString("ongoing"));
    // No one can confirm the recorder's entry after a restart: ended then.
    QVERIFY(cell(log, 1, AlarmLog::EndColumn) != "ongoing");
    // The same alarm still on at the first answer: the entry of before goes on, no new one.
    log.onMeterEvent(meterEvent(MeterEvent::CameBack, 1, QString()));
    log.onMeterEvent(meterEvent(MeterEvent::AlarmRaised, 1, "No flow"));
    log.onLineRound(0);
    QCOMPARE(cell(log, 0, AlarmLog::EndColumn), QString("ongoing"));
    // Meter 2 answers again: its time away ends.
    log.onMeterEvent(meterEvent(MeterEvent::CameBack, 2, QString()));
    QVERIFY(cell(log, 2, AlarmLog::EndColumn) != "ongoing");
    QCOMPARE(log.rowCount(), 5);
    QCOMPARE(raised.size(), 0);
    // A meter taken out of the setup ends what was open of it.
    log.setMeters({kMeters[1]});
    QVERIFY(cell(log, 0, AlarmLog::EndColumn) != "ongoing");

    // An alarm open at the end that is gone at the first answer ends then.
    log.onMeterEvent(meterEvent(MeterEvent::AlarmRaised, 2, "No flow"));
    log.flush();
    AlarmLog again;
    again.open(dir.path());
    again.setMeters(kMeters);
    QCOMPARE(cell(again, 0, AlarmLog::EndColumn), QString("ongoing"));
    const MeterEvent back = meterEvent(MeterEvent::CameBack, 2, QString());
    again.onMeterEvent(back);
    // Not before the round of that answer is over: the alarm may be in its next event.
    QCOMPARE(cell(again, 0, AlarmLog::EndColumn), QString("ongoing"));
    again.onLineRound(1);
    QCOMPARE(cell(again, 0, AlarmLog::EndColumn), QString("ongoing"));
    again.onLineRound(0);
    QCOMPARE(again.entries().last().end, back.wall);

    // An alarm raised, ended and raised again within one millisecond: two entries in the file,
    // and two read back.
    QTemporaryDir twice;
    {
        AlarmLog first;
        first.open(twice.path());
        first.raiseGeneral("same");
        first.endGeneral("same");
    }
    QJsonArray alike = fileEntries(twice.path());
    QCOMPARE(alike.size(), 1);
    alike.append(alike[0]);
    {
        QFile f(twice.path() + "/alarms.json");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(QJsonObject{{"version", 1}, {"entries", alike}}).toJson());
    }
    AlarmLog both;
    both.open(twice.path());
    QCOMPARE(both.rowCount(), 2);
}

void TestFlowmeterWidgets::aListThatIsNoRegularFileIsNotReadNorReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");
    // Opening a FIFO for reading waits for a writer; nothing would be polled or recorded.
    QTest::newRow("FIFO") << "fifo" << "cannot be read (not a regular file (a FIFO))";
    // Read without end: gigabytes, then the plug-in gone with std::bad_alloc.
    QTest::newRow("link to /dev/zero") << "zero" << "cannot be read (not a regular file (a character device))";
    // A link to a list is a list.
    QTest::newRow("link to a list") << "link" << QString();
}

void TestFlowmeterWidgets::aListThatIsNoRegularFileIsNotReadNorReplaced()
{
    QFETCH(QString, kind);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QTemporaryDir devices;
    const QString file = dir.path() + "/alarms.json";
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else if (kind == "zero") {
        const QString zero = Contained::zeroDevice(devices.path());
        if (zero.isEmpty())
            QSKIP("no device of the test's own can be made here (not root)");
        QVERIFY(QFile::link(zero, file));
    } else {
        const QString real = dir.path() + "/elsewhere.json";
        const QJsonObject entry{{"kind", "general"}, {"start", AlarmStore::timeText(QDateTime::currentDateTime().addSecs(-60))},
                                {"end", AlarmStore::timeText(QDateTime::currentDateTime())}, {"text", "kept"}};
        QFile f(real);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(QJsonObject{{"version", 1}, {"entries", QJsonArray{entry}}}).toJson());
        f.close();
        QVERIFY(QFile::link(real, file));
    }
    const Contained::Outcome o = Contained::run([&] {
        AlarmLog log;
        QSignalSpy lines(&log, &AlarmLog::logLine);
        log.open(dir.path());
        if (said.isEmpty()) {
            CONTAINED_CHECK(lines.isEmpty(), 1);
            CONTAINED_CHECK(log.rowCount() == 1, 2);
            return 0;
        }
        CONTAINED_CHECK(lines.size() == 1, 3);
        const QString line = lines[0][0].toString();
        std::fprintf(stderr, "said: %s\n", qPrintable(line));
        CONTAINED_CHECK(line == "Alarm list " + file + " " + said + ": the list is kept in memory only", 4);
        // What happens meanwhile is kept, and the thing at the list's name is left as it was.
        log.raiseGeneral("after");
        log.flush();
        CONTAINED_CHECK(log.rowCount() == 1, 5);
        CONTAINED_CHECK(QFileInfo(file).isSymLink() == (kind == "zero"), 6);
        CONTAINED_CHECK(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size() == 1, 7);
        return 0;
    });
    QVERIFY2(o.ok(), qPrintable(o.what()));
}

void TestFlowmeterWidgets::anUnreadableListIsSetAsideAndNeverWrittenOver()
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/alarms.json";
    const QByteArray garbage = "{\"entries\": [ {\"kind\": \"alarm\", \"start\": \"2026-12-";
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    }
    AlarmLog log;
    QSignalSpy lines(&log, &AlarmLog::logLine);
    log.open(dir.path());
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0][0].toString().startsWith("Alarm list " + file + " cannot be read whole (not JSON"),
             qPrintable(lines[0][0].toString()));
    QCOMPARE(log.rowCount(), 0);
    // The bytes of before, kept under the name the log gave.
    const QStringList aside = QDir(dir.path()).entryList({"alarms.json.unreadable-*"});
    QCOMPARE(aside.size(), 1);
    QVERIFY(lines[0][0].toString().contains(aside[0]));
    QFile kept(dir.path() + "/" + aside[0]);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), garbage);
    log.raiseGeneral("first after");
    log.flush();
    QCOMPARE(fileEntries(dir.path()).size(), 1);

    // One malformed entry among good ones: the good ones stay, the file is set aside whole.
    QJsonArray entries = fileEntries(dir.path());
    entries.append(QJsonObject{{"kind", "alarm"}, {"start", "yesterday"}, {"text", "x"}, {"line", 1}, {"unit id", 1}});
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(QJsonObject{{"version", 1}, {"entries", entries}}).toJson());
    }
    AlarmLog partly;
    QSignalSpy partlyLines(&partly, &AlarmLog::logLine);
    partly.open(dir.path());
    partly.flush();
    QCOMPARE(fileEntries(dir.path()).size(), 1);
    QCOMPARE(partly.rowCount(), 1);
    QCOMPARE(cell(partly, 0, AlarmLog::TextColumn), QString("first after"));
    QVERIFY(partlyLines[0][0].toString().contains("1 of 2 entries malformed"));
    QCOMPARE(QDir(dir.path()).entryList({"alarms.json.unreadable-*"}).size(), 2);

    // A folder that cannot be written: the list lives on in memory, said once, and is written
    // when the folder can be again.
    QTemporaryDir other;
    const QString blocked = other.path() + "/records";
    {
        QFile blocker(blocked);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    AlarmLog unwritable;
    QSignalSpy unwritableLines(&unwritable, &AlarmLog::logLine);
    unwritable.open(blocked);
    unwritable.raiseGeneral("one");
    unwritable.flush();
    unwritable.raiseGeneral("two");
    unwritable.flush();
    QCOMPARE(unwritable.rowCount(), 2);
    QCOMPARE(unwritableLines.size(), 1);
    QVERIFY(unwritableLines[0][0].toString().startsWith("Alarm list cannot be written to " + blocked));
    QVERIFY(QFile::remove(blocked));
    unwritable.raiseGeneral("three");
    unwritable.flush();
    QCOMPARE(unwritableLines.size(), 2);
    QCOMPARE(fileEntries(blocked).size(), 3);

    // Moved to another folder that holds a list of its own: both lists, nothing written over;
    // what that list held open ends, as no one watched it meanwhile.
    {
        AlarmLog elsewhere;
        elsewhere.open(dir.path());
        elsewhere.onMeterEvent(meterEvent(MeterEvent::WentOffline, 1, "no answer"));
    }
    unwritable.open(dir.path());
    QCOMPARE(unwritable.rowCount(), 5);
    QVERIFY(std::none_of(unwritable.entries().begin(), unwritable.entries().end(),
                         [](const AlarmEntry& e) { return e.kind == AlarmEntry::Offline && e.isOpen(); }));
    unwritable.flush();
    QCOMPARE(fileEntries(dir.path()).size(), 5);
}

void TestFlowmeterWidgets::theListIsBoundedAndKeepsWhatIsOpen()
{
    QTemporaryDir dir;
    AlarmLog log;
    log.open(dir.path());
    log.setMeters(kMeters);
    log.onMeterEvent(meterEvent(MeterEvent::WentOffline, 2, "no answer"));
    log.raiseGeneral("entry 0");
    log.endGeneral("entry 0");
    log.raiseGeneral("entry 1");
    log.endGeneral("entry 1");
    // The newer of the two acknowledged: it goes before the older one the user has not seen.
    log.acknowledge({0});
    for (int i = 2; i < AlarmLog::kMaxEntries; ++i) {
        log.raiseGeneral(QString("entry %1").arg(i));
        log.endGeneral(QString("entry %1").arg(i));
    }
    QCOMPARE(log.rowCount(), AlarmLog::kMaxEntries);
    QCOMPARE(log.entries().first().kind, AlarmEntry::Offline);
    QVERIFY(log.entries().first().isOpen());
    QCOMPARE(log.entries()[1].text, QString("entry 0"));
    QCOMPARE(log.entries()[2].text, QString("entry 2"));
    log.raiseGeneral("one more");
    QCOMPARE(log.rowCount(), AlarmLog::kMaxEntries);
    QCOMPARE(log.entries()[1].text, QString("entry 2"));
    log.flush();
    QCOMPARE(fileEntries(dir.path()).size(), AlarmLog::kMaxEntries);
}

// Two programs on one records folder: the second neither reads nor writes the first's list, says
// why, and keeps its own in memory; once the first lets go, the second takes the folder over
// and the file holds both lists.
void TestFlowmeterWidgets::aFolderAnotherProgramHoldsIsNotWrittenUntilItLetsGo()
{
    QTemporaryDir dir;
    auto firstLock = std::make_unique<FolderLock>();
    auto first = std::make_unique<AlarmLog>();
    first->setFolderLock(firstLock.get());
    first->open(dir.path());
    QVERIFY(firstLock->held());
    QVERIFY(QFile::exists(dir.filePath(FolderLock::kFileName)));
    first->raiseGeneral("first's");
    first->flush();

    FolderLock secondLock;
    AlarmLog second;
    QSignalSpy secondLines(&second, &AlarmLog::logLine);
    second.setFolderLock(&secondLock);
    second.open(dir.path());
    QVERIFY(secondLock.busy());
    QCOMPARE(secondLines.size(), 1);
    const QString said = secondLines[0][0].toString();
    QVERIFY2(said.startsWith("Alarm list " + dir.filePath("alarms.json") + " is kept in memory only: the records folder " +
                             dir.path() + " is in use by another Corvane (process " +
                             QString::number(QCoreApplication::applicationPid()) + " on "),
             qPrintable(said));
    QCOMPARE(second.rowCount(), 0);
    second.raiseGeneral("second's");
    second.flush();
    QCOMPARE(fileEntries(dir.path()).size(), 1);
    QCOMPARE(fileEntries(dir.path())[0].toObject().value("text").toString(), QString("first's"));
    first->raiseGeneral("first's again");
    first->flush();
    QJsonArray entries = fileEntries(dir.path());
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[1].toObject().value("text").toString(), QString("first's again"));

    // The first ends; the second, trying again at its interval, takes over and writes both.
    first.reset();
    firstLock.reset();
    QTRY_VERIFY_WITH_TIMEOUT(secondLock.held(), 10000);
    QTRY_COMPARE(fileEntries(dir.path()).size(), 3);
    QStringList texts;
    for (const QJsonValue& v : fileEntries(dir.path()))
        texts << v.toObject().value("text").toString();
    texts.sort();
    QCOMPARE(texts, QStringList({"first's", "first's again", "second's"}));
    QCOMPARE(second.rowCount(), 3);
    QVERIFY(secondLines.last()[0].toString().contains("taken over"));

    // A folder that could not be locked at first (not there yet) is written without the lock;
    // once another program has it, no longer.
    QTemporaryDir share;
    const QString blocked = share.filePath("mount");
    {
        QFile notYet(blocked);
        QVERIFY(notYet.open(QIODevice::WriteOnly));
    }
    const QString records = blocked + "/records";
    FolderLock lateLock;
    lateLock.setRetryInterval(20);
    AlarmLog late;
    late.setFolderLock(&lateLock);
    late.open(records);
    QVERIFY(!lateLock.held() && !lateLock.busy());
    QVERIFY(QFile::remove(blocked));
    FolderLock other;
    other.setFolder(records);
    QVERIFY(other.held());
    QTRY_VERIFY(lateLock.busy());
    late.raiseGeneral("late's");
    late.flush();
    QVERIFY(!QFile::exists(records + "/alarms.json"));
}

// A meter on a bad cable, a flow swinging about its limit: back within a minute of its entry's
// end, it is that entry again, counted; told to the desktop once; the count kept in the file.
void TestFlowmeterWidgets::aFlappingMeterKeepsOneEntry()
{
    QTemporaryDir dir;
    const QDateTime t0 = QDateTime::currentDateTime().addSecs(-3600);
    const qint64 m0 = 5000000;
    // `s` seconds after t0 on both clocks; the wall clock `jump` seconds further.
    auto at = [&](MeterEvent::Kind kind, int id, const QString& detail, int s, int jump = 0) {
        MeterEvent e = meterEvent(kind, id, detail);
        e.wall = t0.addSecs(s + jump);
        e.monotonicMs = m0 + s * 1000LL;
        return e;
    };
    auto textOf = [](const AlarmLog& log, const QString& text) {
        for (int row = 0; row < log.rowCount(); ++row)
            if (cell(log, row, AlarmLog::TextColumn).contains(text))
                return cell(log, row, AlarmLog::TextColumn);
        return QString();
    };
    {
        AlarmLog log;
        log.open(dir.path());
        log.setMeters(kMeters);
        QSignalSpy raised(&log, &AlarmLog::raised);
        for (int i = 0; i < 20; ++i) {
            log.onMeterEvent(at(MeterEvent::WentOffline, 2, i % 2 ? "no answer" : "corrupt check sum", i * 10));
            log.onMeterEvent(at(MeterEvent::AlarmRaised, 1, "Flow above limit", i * 10 + 2));
            log.onMeterEvent(at(MeterEvent::CameBack, 2, QString(), i * 10 + 5));
            log.onMeterEvent(at(MeterEvent::AlarmCleared, 1, QString(), i * 10 + 7));
        }
        QCOMPARE(log.rowCount(), 2);
        QCOMPARE(raised.size(), 2);
        QCOMPARE(log.unacknowledged(), 2);
        // Why it went away the last time.
        QCOMPARE(textOf(log, "no answer"), QString("Offline: no answer (away 20 times)"));
        QCOMPARE(textOf(log, "Flow above"), QString("Flow above limit (20 times)"));
        // From the first time to the last end.
        QCOMPARE(log.entries()[0].start, t0);
        QCOMPARE(log.entries()[0].end, t0.addSecs(195));
        QVERIFY(log.index(1, AlarmLog::TextColumn).data(Qt::ToolTipRole).toString().contains(
            t0.addSecs(190).toString("yyyy-MM-dd hh:mm:ss")));

        // The wall clock set an hour ahead meanwhile: five seconds are five seconds.
        log.onMeterEvent(at(MeterEvent::AlarmRaised, 1, "Flow above limit", 202, 3600));
        QCOMPARE(textOf(log, "Flow above"), QString("Flow above limit (21 times)"));
        QVERIFY(log.entries()[1].isOpen());
        // Another alarm is another entry; back after more than a minute, a new one.
        log.onMeterEvent(at(MeterEvent::AlarmRaised, 1, "No flow", 203, 3600));
        log.onMeterEvent(at(MeterEvent::WentOffline, 2, "no answer", 195 + 61));
        QCOMPARE(log.rowCount(), 4);
        QCOMPARE(raised.size(), 4);
        QCOMPARE(cell(log, 0, AlarmLog::TextColumn), QString("Offline: no answer"));

        // Acknowledged, and back: told once more; still acknowledged, and quiet at the returns
        // after that.
        log.acknowledgeAll();
        for (int s = 260; s < 300; s += 10) {
            log.onMeterEvent(at(MeterEvent::CameBack, 2, QString(), s));
            log.onMeterEvent(at(MeterEvent::WentOffline, 2, "no answer", s + 5));
        }
        QCOMPARE(raised.size(), 5);
        QCOMPARE(raised.last().first().value<AlarmEntry>().text, QString("no answer"));
        QCOMPARE(log.unacknowledged(), 0);
        QCOMPARE(cell(log, 0, AlarmLog::TextColumn), QString("Offline: no answer (away 5 times)"));

        // A line above removed: another meter now has meter 2's place, and an entry of its own.
        log.onMeterEvent(at(MeterEvent::CameBack, 2, QString(), 300));
        log.setMeters({kMeters[0], {0, 2, "FT-302 moved up", "/dev/ttyUSB1"}});
        log.onMeterEvent(at(MeterEvent::WentOffline, 2, "corrupt check sum", 305));
        QCOMPARE(log.rowCount(), 5);
        QCOMPARE(cell(log, 0, AlarmLog::MeterColumn), QString("FT-302 moved up"));
        QCOMPARE(raised.size(), 6);

        // Acknowledged once it had ended, it was taken as over: back, it is in red and counted
        // again, were it to stay away for days; told once, not at every return.
        for (int s = 310; s < 330; s += 10) {
            log.onMeterEvent(at(MeterEvent::CameBack, 2, QString(), s));
            log.acknowledgeAll();
            QCOMPARE(log.unacknowledged(), 0);
            log.onMeterEvent(at(MeterEvent::WentOffline, 2, "no answer", s + 5));
            QCOMPARE(log.unacknowledged(), 1);
            QVERIFY(log.index(0, 0).data(AlarmLog::UnacknowledgedRole).toBool());
            QCOMPARE(raised.size(), 7);
        }
        QCOMPARE(cell(log, 0, AlarmLog::TextColumn), QString("Offline: no answer (away 3 times)"));
    }
    const QJsonArray saved = fileEntries(dir.path());
    QCOMPARE(saved.size(), 5);
    QCOMPARE(saved[0].toObject().value("repeats").toInt(), 20);
    QCOMPARE(saved[3].toObject().value("repeats").toInt(), 5);
    QVERIFY(!saved[2].toObject().contains("repeats"));
    AlarmLog again;
    again.open(dir.path());
    QCOMPARE(textOf(again, "no answer"), QString("Offline: no answer (away 3 times)"));
    QCOMPARE(textOf(again, "Flow above"), QString("Flow above limit (21 times)"));

    // A file of before, without counts: read as it was, and its entry goes on as well (by the
    // wall clock, all that is left of the last run).
    QTemporaryDir old;
    const QDateTime ended = QDateTime::currentDateTime().addSecs(-20);
    const QJsonObject entry{{"kind", "offline"}, {"start", AlarmStore::timeText(ended.addSecs(-60))},
                            {"end", AlarmStore::timeText(ended)}, {"line", 1}, {"unit id", 2}, {"meter", "Meter 2"},
                            {"port", "/dev/ttyUSB0"}, {"text", "no answer"}};
    {
        QFile f(old.path() + "/alarms.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(QJsonObject{{"version", 1}, {"entries", QJsonArray{entry}}}).toJson());
    }
    AlarmLog before;
    QSignalSpy raisedBefore(&before, &AlarmLog::raised);
    before.open(old.path());
    before.setMeters(kMeters);
    QCOMPARE(cell(before, 0, AlarmLog::TextColumn), QString("Offline: no answer"));
    before.onMeterEvent(meterEvent(MeterEvent::WentOffline, 2, "no answer"));
    QCOMPARE(before.rowCount(), 1);
    QCOMPARE(cell(before, 0, AlarmLog::TextColumn), QString("Offline: no answer (away 2 times)"));
    QCOMPARE(raisedBefore.size(), 0);
    // Its reason changed while the list was kept elsewhere: back in the folder, still one entry.
    before.onMeterEvent(meterEvent(MeterEvent::CameBack, 2, QString()));
    QTemporaryDir elsewhere;
    before.open(elsewhere.path());
    before.onMeterEvent(meterEvent(MeterEvent::WentOffline, 2, "corrupt check sum"));
    before.open(old.path());
    QCOMPARE(before.rowCount(), 1);
    QCOMPARE(cell(before, 0, AlarmLog::TextColumn), QString("Offline: corrupt check sum (away 3 times)"));
}

void TestFlowmeterWidgets::unacknowledgedEntriesStandOutInLightAndDark()
{
    QTemporaryDir dir;
    AlarmLog log;
    log.open(dir.path());
    log.setMeters(kMeters);
    AlarmListView view(&log);
    view.resize(900, 300);
    QCOMPARE(view.windowTitle(), QString("Alarms"));
    QVERIFY(!view.acknowledgeAllButton->isEnabled());
    log.onMeterEvent(meterEvent(MeterEvent::AlarmRaised, 1, "Flow above limit"));
    log.onMeterEvent(meterEvent(MeterEvent::WentOffline, 2, "no answer"));
    QCOMPARE(view.windowTitle(), QString("Alarms (2)"));
    QVERIFY(!view.acknowledgeButton->isEnabled());
    view.table->selectRow(1);
    QVERIFY(view.acknowledgeButton->isEnabled());
    QTest::mouseClick(view.acknowledgeButton, Qt::LeftButton);
    QCOMPARE(view.windowTitle(), QString("Alarms (1)"));
    QVERIFY(!view.acknowledgeButton->isEnabled());
    QVERIFY(log.index(0, 0).data(AlarmLog::UnacknowledgedRole).toBool());
    QVERIFY(!log.index(1, 0).data(AlarmLog::UnacknowledgedRole).toBool());

    // The background at the end of each row's text cell, in a light and a dark theme.
    view.table->clearSelection();
    auto background = [&](int row) {
        const QRect r = view.table->visualRect(log.index(row, AlarmLog::TextColumn));
        return view.table->viewport()->grab().toImage().pixelColor(r.right() - 3, r.center().y());
    };
    for (const QColor& base : {QColor(Qt::white), QColor(0x20, 0x20, 0x20)}) {
        QPalette p = view.palette();
        p.setColor(QPalette::Base, base);
        p.setColor(QPalette::AlternateBase, base);
        p.setColor(QPalette::Text, base.lightness() > 128 ? Qt::black : Qt::white);
        view.setPalette(p);
        const QColor unseen = background(0), seen = background(1);
        QCOMPARE(seen, base);
        QVERIFY(unseen != base);
        // Red stands out, and the row stays as light or as dark as the theme.
        QVERIFY(unseen.red() > unseen.green() && unseen.red() > unseen.blue());
        QCOMPARE(unseen.lightness() > 128, base.lightness() > 128);
    }
    QTest::mouseClick(view.acknowledgeAllButton, Qt::LeftButton);
    QCOMPARE(view.windowTitle(), QString("Alarms"));
    QCOMPARE(log.unacknowledged(), 0);
}

QTEST_MAIN(TestFlowmeterWidgets)
#include "test_flowmeter_widgets.moc"
