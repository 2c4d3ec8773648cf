// Meter models: the codec against bytes arranged by hand, writes and their refusals, the read
// plan, the display units, and the loader against real files in a temporary folder.
#include "DisplayUnit.h"
#include "FlowConfig.h"
#include "MeterModel.h"
#include "MeterModelLoader.h"
#include "ReadPlan.h"
#include "ValueCodec.h"

#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <sys/stat.h>

#include <cmath>
#include <cstring>

namespace {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the expected numbers are laid out for a little-endian host");

// Where each register's high and low byte come from, as indexes into the value's bytes written
// most significant first (A = 0). Written out from the word orders' definitions, not computed.
struct Layout
{
    int registers;
    int bytes[4][2];
};

Layout layout(int valueBytes, WordOrder order)
{
    switch (valueBytes) {
    case 2:
        if (order == WordOrder::BADC || order == WordOrder::DCBA)
            return {1, {{1, 0}}};
        return {1, {{0, 1}}};
    case 4:
        switch (order) {
        case WordOrder::ABCD: return {2, {{0, 1}, {2, 3}}};
        case WordOrder::CDAB: return {2, {{2, 3}, {0, 1}}};
        case WordOrder::BADC: return {2, {{1, 0}, {3, 2}}};
        case WordOrder::DCBA: return {2, {{3, 2}, {1, 0}}};
        }
        break;
    default:
        switch (order) {
        case WordOrder::ABCD: return {4, {{0, 1}, {2, 3}, {4, 5}, {6, 7}}};
        case WordOrder::CDAB: return {4, {{6, 7}, {4, 5}, {2, 3}, {0, 1}}};
        case WordOrder::BADC: return {4, {{1, 0}, {3, 2}, {5, 4}, {7, 6}}};
        case WordOrder::DCBA: return {4, {{7, 6}, {5, 4}, {3, 2}, {1, 0}}};
        }
        break;
    }
    return {0, {}};
}

std::vector<uint16_t> arrange(const QByteArray& big, WordOrder order)
{
    const Layout l = layout(int(big.size()), order);
    std::vector<uint16_t> words;
    for (int r = 0; r < l.registers; ++r)
        words.push_back(uint16_t(uint8_t(big[l.bytes[r][0]]) << 8 | uint8_t(big[l.bytes[r][1]])));
    return words;
}

// The number the bytes (most significant first) stand for, through the host's own memory.
template <typename T> T fromBytes(const QByteArray& big)
{
    Q_ASSERT(big.size() == int(sizeof(T)));
    char host[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        host[i] = big[int(sizeof(T) - 1 - i)];
    T v;
    std::memcpy(&v, host, sizeof v);
    return v;
}

template <typename T> QByteArray toBytes(T v)
{
    char host[sizeof(T)];
    std::memcpy(host, &v, sizeof v);
    QByteArray big;
    for (size_t i = 0; i < sizeof(T); ++i)
        big.append(host[sizeof(T) - 1 - i]);
    return big;
}

int byteCount(ValueType t)
{
    switch (t) {
    case ValueType::U16:
    case ValueType::I16: return 2;
    case ValueType::U32:
    case ValueType::I32:
    case ValueType::F32: return 4;
    default: return 8;
    }
}

ModelValue valueOf(ValueType type, WordOrder order, int function = 3, int address = 0)
{
    ModelValue v;
    v.type = type;
    v.order = order;
    v.function = function;
    v.address = address;
    return v;
}

const char* typeName(ValueType t)
{
    switch (t) {
    case ValueType::U16: return "u16";
    case ValueType::I16: return "i16";
    case ValueType::U32: return "u32";
    case ValueType::I32: return "i32";
    case ValueType::U64: return "u64";
    case ValueType::F32: return "f32";
    case ValueType::F64: return "f64";
    case ValueType::Coil: return "coil";
    }
    return "?";
}

const char* orderName(WordOrder o)
{
    switch (o) {
    case WordOrder::ABCD: return "ABCD";
    case WordOrder::CDAB: return "CDAB";
    case WordOrder::BADC: return "BADC";
    case WordOrder::DCBA: return "DCBA";
    }
    return "?";
}

const ValueType kRegisterTypes[] = {ValueType::U16, ValueType::I16, ValueType::U32, ValueType::I32,
                                    ValueType::U64, ValueType::F32, ValueType::F64};
const WordOrder kOrders[] = {WordOrder::ABCD, WordOrder::CDAB, WordOrder::BADC, WordOrder::DCBA};

// A model file around `values` (the inside of the list).
QByteArray modelFile(const char* values, const char* maker = "Test")
{
    return QByteArray("{ \"maker\": \"") + maker + "\", \"model\": \"M\",\n  \"values\": [\n" + values + "\n  ]\n}\n";
}

const char* const kFlow = R"({ "role": "flowRate", "function": 3, "address": 0, "type": "f32", "unit": "m3/h" })";

// The flow and extra values up to `count` values in all, each a register of its own.
QByteArray modelWithValues(int count)
{
    QByteArray values = kFlow;
    for (int i = 1; i < count; ++i)
        values += QByteArray(R"(, { "name": "E)") + QByteArray::number(i) + R"(", "function": 4, "address": )" +
                  QByteArray::number(i) + " }";
    return modelFile(values.constData());
}
const char* const kTotal = R"({ "role": "totalizer", "function": 3, "address": 2, "type": "f32", "unit": "m3" })";

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

} // namespace

class TestMeterModel : public QObject
{
    Q_OBJECT

private slots:
    void decodesEveryTypeAndOrder_data();
    void decodesEveryTypeAndOrder();
    void decodesCoilsScaleAndOffset();
    void encodesWhatItDecodes_data();
    void encodesWhatItDecodes();
    void refusesUnsoundWrites();
    void plansFewestReads();
    void convertsUnits();
    void reportsEachBadFile_data();
    void reportsEachBadFile();
    void refusesFilesThatAreNone();
    void valuesUpToTheLimit();
    void userFolderOverrides();
    void shippedModelsLoadClean();
};

void TestMeterModel::decodesEveryTypeAndOrder_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("order");
    QTest::addColumn<QByteArray>("bytes");
    // Distinct bytes, so that a byte in the wrong place shows; sign bits set and clear; a float
    // with a fraction. Each set is cut to the type's width.
    const QByteArray patterns[] = {
        QByteArray::fromHex("4142c3d4a5b6c7d8"),
        QByteArray::fromHex("c2f6e979123456ab"),
        QByteArray::fromHex("fffefdfcfbfaf9f8"),
        QByteArray::fromHex("0102030405060708"),
    };
    for (ValueType t : kRegisterTypes)
        for (WordOrder o : kOrders)
            for (int p = 0; p < 4; ++p)
                QTest::addRow("%s %s #%d", typeName(t), orderName(o), p)
                    << int(t) << int(o) << patterns[p].left(byteCount(t));
}

void TestMeterModel::decodesEveryTypeAndOrder()
{
    QFETCH(int, type);
    QFETCH(int, order);
    QFETCH(QByteArray, bytes);
    const ModelValue v = valueOf(ValueType(type), WordOrder(order));
    const std::vector<uint16_t> words = arrange(bytes, v.order);
    QCOMPARE(int(words.size()), v.registerCount());

    double raw = 0;
    QVERIFY(ValueCodec::raw(v, words.data(), words.size(), &raw));
    uint64_t exact = 0;
    const bool integer = ValueCodec::rawInteger(v, words.data(), words.size(), &exact);
    switch (v.type) {
    case ValueType::U16:
        QCOMPARE(raw, double(fromBytes<uint16_t>(bytes)));
        QCOMPARE(exact, uint64_t(fromBytes<uint16_t>(bytes)));
        break;
    case ValueType::I16:
        QCOMPARE(raw, double(fromBytes<int16_t>(bytes)));
        QCOMPARE(int64_t(exact), int64_t(fromBytes<int16_t>(bytes)));
        break;
    case ValueType::U32:
        QCOMPARE(raw, double(fromBytes<uint32_t>(bytes)));
        QCOMPARE(exact, uint64_t(fromBytes<uint32_t>(bytes)));
        break;
    case ValueType::I32:
        QCOMPARE(raw, double(fromBytes<int32_t>(bytes)));
        QCOMPARE(int64_t(exact), int64_t(fromBytes<int32_t>(bytes)));
        break;
    case ValueType::U64:
        QVERIFY(integer);
        // Exactly, beyond the 53 bits a double keeps.
        QCOMPARE(exact, fromBytes<uint64_t>(bytes));
        break;
    case ValueType::F32: {
        QVERIFY(!integer);
        const float f = fromBytes<float>(bytes);
        QVERIFY(std::isnan(f) ? std::isnan(raw) : raw == double(f));
        break;
    }
    case ValueType::F64: {
        QVERIFY(!integer);
        const double d = fromBytes<double>(bytes);
        QVERIFY(std::isnan(d) ? std::isnan(raw) : raw == d);
        break;
    }
    case ValueType::Coil:
        break;
    }
    if (v.type != ValueType::F32 && v.type != ValueType::F64)
        QVERIFY(integer);

    // One register short is no value.
    QVERIFY(!ValueCodec::raw(v, words.data(), words.size() - 1, &raw));
    QVERIFY(!ValueCodec::rawInteger(v, words.data(), words.size() - 1, &exact));
}

void TestMeterModel::decodesCoilsScaleAndOffset()
{
    const ModelValue coil = valueOf(ValueType::Coil, WordOrder::DCBA, 1);
    QCOMPARE(coil.registerCount(), 1);
    for (uint16_t w : {uint16_t(0), uint16_t(1), uint16_t(0xff00)}) {
        double raw = -1;
        QVERIFY(ValueCodec::raw(coil, &w, 1, &raw));
        QCOMPARE(raw, w ? 1.0 : 0.0);
    }

    // The documented worked example: 12.5 as an f32 is 41 48 00 00; a CDAB meter sends 0000 4148.
    ModelValue flow = valueOf(ValueType::F32, WordOrder::CDAB, 4);
    const uint16_t cdab[] = {0x0000, 0x4148};
    double raw = 0;
    QVERIFY(ValueCodec::raw(flow, cdab, 2, &raw));
    QCOMPARE(raw, 12.5);

    // A u32 totalizer in litres, shown in m³; a temperature in tenths with an offset.
    ModelValue total = valueOf(ValueType::U32, WordOrder::ABCD);
    total.scale = 0.001;
    const uint16_t litres[] = {0x0001, 0x86a1}; // 100001
    QVERIFY(ValueCodec::raw(total, litres, 2, &raw));
    QCOMPARE(ValueCodec::engineering(total, raw), 100.001);
    ModelValue temp = valueOf(ValueType::I16, WordOrder::ABCD);
    temp.scale = 0.1;
    temp.offset = -273.15;
    const uint16_t kelvinTenths = 0xfff6; // -10
    QVERIFY(ValueCodec::raw(temp, &kelvinTenths, 1, &raw));
    QCOMPARE(raw, -10.0);
    QCOMPARE(ValueCodec::engineering(temp, raw), -274.15);
}

void TestMeterModel::encodesWhatItDecodes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("order");
    QTest::addColumn<double>("number");
    QTest::addColumn<QByteArray>("bytes");
    for (WordOrder o : kOrders) {
        const char* on = orderName(o);
        QTest::addRow("u16 %s", on) << int(ValueType::U16) << int(o) << 51234.0 << toBytes<uint16_t>(51234);
        QTest::addRow("i16 %s", on) << int(ValueType::I16) << int(o) << -1234.0 << toBytes<int16_t>(-1234);
        QTest::addRow("u32 %s", on) << int(ValueType::U32) << int(o) << 3000000001.0 << toBytes<uint32_t>(3000000001u);
        QTest::addRow("i32 %s", on) << int(ValueType::I32) << int(o) << -2000000001.0 << toBytes<int32_t>(-2000000001);
        QTest::addRow("u64 %s", on) << int(ValueType::U64) << int(o) << 9007199254740992.0
                                    << toBytes<uint64_t>(9007199254740992ull);
        QTest::addRow("f32 %s", on) << int(ValueType::F32) << int(o) << -12.375 << toBytes<float>(-12.375f);
        QTest::addRow("f64 %s", on) << int(ValueType::F64) << int(o) << 1.0 / 3.0 << toBytes<double>(1.0 / 3.0);
    }
}

void TestMeterModel::encodesWhatItDecodes()
{
    QFETCH(int, type);
    QFETCH(int, order);
    QFETCH(double, number);
    QFETCH(QByteArray, bytes);
    ModelValue v = valueOf(ValueType(type), WordOrder(order));
    v.writable = true;
    Reason why;
    const std::vector<uint16_t> words = ValueCodec::encode(v, number, &why);
    QVERIFY2(!words.empty(), qPrintable(why.english()));
    QCOMPARE(words, arrange(bytes, v.order));
    double raw = 0;
    QVERIFY(ValueCodec::raw(v, words.data(), words.size(), &raw));
    QCOMPARE(raw, number);
}

void TestMeterModel::refusesUnsoundWrites()
{
    Reason why;
    ModelValue damping = valueOf(ValueType::U16, WordOrder::ABCD);
    damping.scale = 0.1;
    damping.unit = "s";
    damping.minimum = 0;
    damping.maximum = 60;
    // Not writable: refused whatever the number.
    QVERIFY(ValueCodec::encode(damping, 2.5, &why).empty());
    QVERIFY(!why.isEmpty());
    damping.writable = true;
    // A scaled integer takes the nearest step: 2.5 s is 25, 2.56 s is 26 tenths.
    QCOMPARE(ValueCodec::encode(damping, 2.5, &why), std::vector<uint16_t>{25});
    QCOMPARE(ValueCodec::encode(damping, 2.56, &why), std::vector<uint16_t>{26});
    QCOMPARE(ValueCodec::encode(damping, 60, &why), std::vector<uint16_t>{600});

    struct Case
    {
        const char* what;
        ModelValue value;
        double number;
    };
    ModelValue u16 = valueOf(ValueType::U16, WordOrder::ABCD);
    u16.writable = true;
    ModelValue i16 = u16;
    i16.type = ValueType::I16;
    ModelValue f32 = u16;
    f32.type = ValueType::F32;
    ModelValue coil = valueOf(ValueType::Coil, WordOrder::ABCD, 5);
    coil.writable = true;
    ModelValue u64 = u16;
    u64.type = ValueType::U64;
    ModelValue negativeScale = u16;
    negativeScale.scale = -0.5;
    const Case cases[] = {
        {"below the model's range", damping, -0.1},
        {"above the model's range", damping, 60.1},
        {"NaN", damping, std::nan("")},
        {"infinite", damping, INFINITY},
        {"beyond a u16", u16, 65536},
        {"negative into a u16", u16, -1},
        {"beyond an i16", i16, 32768},
        {"below an i16", i16, -32769},
        {"beyond a float", f32, 1e39},
        {"a coil is 0 or 1", coil, 2},
        {"beyond a u64", u64, 18446744073709551616.0},
        {"negative scale turns a positive value negative", negativeScale, 1},
    };
    for (const Case& c : cases) {
        why = Reason();
        QVERIFY2(ValueCodec::encode(c.value, c.number, &why).empty(), c.what);
        QVERIFY2(!why.isEmpty(), c.what);
    }
    // The edges themselves are taken.
    QCOMPARE(ValueCodec::encode(u16, 65535, &why), std::vector<uint16_t>{0xffff});
    QCOMPARE(ValueCodec::encode(i16, -32768, &why), std::vector<uint16_t>{0x8000});
    QCOMPARE(ValueCodec::encode(coil, 1, &why), std::vector<uint16_t>{1});
    ModelValue reset = valueOf(ValueType::Coil, WordOrder::ABCD, 5);
    reset.role = ValueRole::ResetCommand;
    QCOMPARE(ValueCodec::encode(reset, reset.commandValue, &why), std::vector<uint16_t>{1});
    QCOMPARE(ValueCodec::encode(negativeScale, -2, &why), std::vector<uint16_t>{4});

    // The reason reaches the setup page in the user's language, its numbers in their locale;
    // the log takes it in English.
    QTranslator swedish;
    QVERIFY(swedish.load(qEnvironmentVariable("CORVANE_BIN_DIR") + "/lang/flowmeter/lang_sv_SE.qm"));
    QCoreApplication::installTranslator(&swedish);
    QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
    ModelValue calibration = valueOf(ValueType::F32, WordOrder::ABCD);
    calibration.writable = true;
    calibration.minimum = 0.5;
    calibration.maximum = 2;
    QVERIFY(ValueCodec::encode(calibration, 0.25, &why).empty());
    const QString swedishWhy = why.text();
    QCOMPARE(why.english(), QString("below the lowest value, 0.5"));
    QVERIFY(ValueCodec::encode(u16, 70000.5, &why).empty());
    const QString swedishRange = why.text();
    QCOMPARE(why.english(), QString("outside what the register can hold (0 to 65535)"));
    QCoreApplication::removeTranslator(&swedish);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(swedishWhy, QString::fromUtf8("under det lägsta värdet, 0,5"));
    QCOMPARE(swedishRange, QString::fromUtf8("utanför vad registret rymmer (0 till 65\u00a0535)"));
}

void TestMeterModel::plansFewestReads()
{
    auto model = [](int maxGap, std::initializer_list<ModelValue> values) {
        MeterModel m;
        m.maker = "Test";
        m.model = "Plan";
        m.maxGap = maxGap;
        m.values = values;
        return m;
    };
    auto spans = [](const QVector<ReadRequest>& plan) {
        QStringList s;
        for (const ReadRequest& r : plan)
            s << QString("%1:%2+%3").arg(r.function).arg(r.address).arg(r.count);
        return s.join(' ');
    };
    const ModelValue f32 = valueOf(ValueType::F32, WordOrder::ABCD);
    auto at = [](ModelValue v, int function, int address) {
        v.function = function;
        v.address = address;
        return v;
    };

    // A gap of exactly maxGap is read through; one more splits.
    QCOMPARE(spans(ReadPlan::make(model(8, {at(f32, 3, 0), at(f32, 3, 10)}))), "3:0+12");
    QCOMPARE(spans(ReadPlan::make(model(8, {at(f32, 3, 0), at(f32, 3, 11)}))), "3:0+2 3:11+2");
    // maxGap 0: adjacent values still share a read, a one-register hole does not.
    QCOMPARE(spans(ReadPlan::make(model(0, {at(f32, 3, 0), at(f32, 3, 2)}))), "3:0+4");
    QCOMPARE(spans(ReadPlan::make(model(0, {at(f32, 3, 0), at(f32, 3, 3)}))), "3:0+2 3:3+2");
    // 125 registers at most: 0..124 is one read, 0..125 two.
    QCOMPARE(spans(ReadPlan::make(model(125, {at(f32, 3, 0), at(f32, 3, 123)}))), "3:0+125");
    QCOMPARE(spans(ReadPlan::make(model(125, {at(f32, 3, 0), at(f32, 3, 124)}))), "3:0+2 3:124+2");
    // Coils go to 2000 per read.
    const ModelValue coil = valueOf(ValueType::Coil, WordOrder::ABCD, 1);
    QCOMPARE(spans(ReadPlan::make(model(2000, {at(coil, 1, 0), at(coil, 1, 1999)}))), "1:0+2000");
    QCOMPARE(spans(ReadPlan::make(model(2000, {at(coil, 1, 0), at(coil, 1, 2000)}))), "1:0+1 1:2000+1");
    // Functions apart, in the order 3, 4, 1, whatever the file's; overlapping values share a
    // read; a command (function 5) and a reset register are never read.
    ModelValue reset = valueOf(ValueType::U16, WordOrder::ABCD, 3, 40);
    reset.role = ValueRole::ResetCommand;
    const QVector<ReadRequest> plan = ReadPlan::make(model(8, {
        at(coil, 1, 7), at(f32, 4, 0), at(f32, 3, 20), at(f32, 3, 0), at(coil, 5, 0),
        valueOf(ValueType::U16, WordOrder::ABCD, 3, 1), at(f32, 4, 100), reset}));
    QCOMPARE(spans(plan), "3:0+2 3:20+2 4:0+2 4:100+2 1:7+1");
    QCOMPARE(plan[0].values, (QVector<int>{3, 5}));
    QCOMPARE(plan[1].values, QVector<int>{2});
    QCOMPARE(plan[4].values, QVector<int>{0});

    // Today's map: one read of sixteen registers.
    MeterModel fm1 = model(8, {});
    for (int a : {0, 2, 4, 14})
        fm1.values << at(f32, 3, a);
    for (int a : {6, 7, 10, 11, 12, 13})
        fm1.values << valueOf(ValueType::U16, WordOrder::ABCD, 3, a);
    fm1.values << valueOf(ValueType::U32, WordOrder::ABCD, 3, 8);
    QCOMPARE(spans(ReadPlan::make(fm1)), "3:0+16");
}

void TestMeterModel::convertsUnits()
{
    using U = DisplayUnit;
    // 1 US gallon is 3.785411784 l exactly; 1 m³/h is 1000/60 l/min.
    QCOMPARE(U::convert(1, U::UsGallonPerMinute, U::LitrePerMinute), 3.785411784);
    QCOMPARE(U::convert(60, U::LitrePerMinute, U::CubicMetrePerHour), 3.6);
    QCOMPARE(U::convert(1, U::LitrePerSecond, U::CubicMetrePerHour), 3.6);
    QCOMPARE(U::convert(3.6, U::CubicMetrePerHour, U::LitrePerSecond), 1.0);
    QCOMPARE(U::convert(10, U::UsGallonPerMinute, U::CubicMetrePerHour), 10 * 3.785411784 * 60 / 1000);
    QCOMPARE(U::convert(2.5, U::CubicMetre, U::Litre), 2500.0);
    QCOMPARE(U::convert(3.785411784, U::Litre, U::UsGallon), 1.0);
    QCOMPARE(U::convert(100, U::Celsius, U::Fahrenheit), 212.0);
    QCOMPARE(U::convert(-40, U::Fahrenheit, U::Celsius), -40.0);
    QCOMPARE(U::convert(32, U::Fahrenheit, U::Celsius), 0.0);
    // Different quantities or an unknown unit: unchanged.
    QCOMPARE(U::convert(7, U::Litre, U::LitrePerMinute), 7.0);
    QCOMPARE(U::convert(7, U::Unknown, U::Litre), 7.0);
    QCOMPARE(U::convert(7, U::Celsius, U::CubicMetre), 7.0);

    // Every unit by its key, its symbol and the file's spellings; others are unknown.
    for (U::Quantity q : {U::Flow, U::Volume, U::Temperature})
        for (U::Unit u : U::units(q)) {
            QCOMPARE(U::quantity(u), q);
            QCOMPARE(U::parse(U::key(u)), u);
            QCOMPARE(U::parse(U::symbol(u)), u);
        }
    QCOMPARE(U::units(U::Flow), (QVector<U::Unit>{U::CubicMetrePerHour, U::LitrePerMinute, U::LitrePerSecond,
                                                   U::UsGallonPerMinute}));
    const char* spellings[][2] = {{"m3/h", "m³/h"}, {"m3", "m³"}, {"degC", "°C"}, {"degF", "°F"}, {"gal", "US gal"}};
    for (auto& s : spellings)
        QCOMPARE(U::parse(QString::fromUtf8(s[0])), U::parse(QString::fromUtf8(s[1])));
    for (const char* other : {"", "kg/h", "M3/H", "m/s", "degK"})
        QCOMPARE(U::parse(other), U::Unknown);
    QCOMPARE(U::quantity(U::Unknown), U::NoQuantity);

    // The shown unit follows the user's choice per quantity; a unit of none stays.
    DisplayUnits chosen;
    chosen.flow = U::UsGallonPerMinute;
    chosen.volume = U::Litre;
    chosen.temperature = U::Fahrenheit;
    QCOMPARE(chosen.shown(U::LitrePerMinute), U::UsGallonPerMinute);
    QCOMPARE(chosen.shown(U::CubicMetre), U::Litre);
    QCOMPARE(chosen.shown(U::Celsius), U::Fahrenheit);
    QCOMPARE(chosen.shown(U::Unknown), U::Unknown);
}

void TestMeterModel::reportsEachBadFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("reason");
    auto row = [](const char* what, const QByteArray& content, const char* place, const char* reason) {
        QTest::newRow(what) << content << QString::fromUtf8(place) << QString::fromUtf8(reason);
    };
    auto withFlow = [](const QByteArray& value) { return modelFile((QByteArray(kFlow) + ",\n" + value).constData()); };

    // Not JSON: the place is the line and column, counted in characters ("é" is two bytes).
    row("not JSON", "{\n  \"maker\": \"Té\" \"model\": \"M\"\n}", "line 2, column 18", "not JSON");
    row("cut short", "{ \"maker\": \"T\",\n", "line 2, column 1", "not JSON");
    row("empty file", "", "line 1, column 1", "not JSON");
    row("not an object", "[1, 2]", "$", "one JSON object");
    // Qt would keep the last of two equal keys and drop the first unsaid.
    row("key twice", withFlow(R"({ "name": "P", "function": 3, "address": 2, "scale": 0.1, "scale": 1 })"),
        "$.values[1].scale", "given twice");
    row("key twice, once escaped", R"({ "maker": "T", "model": "M", "values": [], "m\u0061ker": "U" })", "$.maker",
        "given twice");
    row("bit key twice", withFlow(R"({ "role": "alarmBits", "function": 3, "address": 6, "bits": [{ "bit": 0, "text": "a" }, { "bit": 1, "text": "b", "text": "c" }] })"),
        "$.values[1].bits[1].text", "given twice");
    // The model as a whole.
    row("unknown top key", R"({ "maker": "T", "model": "M", "makr": "x", "values": [] })", "$.makr",
        "unknown key \"makr\"");
    row("no maker", R"({ "model": "M", "values": [] })", "$.maker", "required");
    row("maker blank", R"({ "maker": " ", "model": "M", "values": [] })", "$.maker", "must not be empty");
    row("model with a trailing space", R"({ "maker": "T", "model": "M ", "values": [] })", "$.model",
        "must not begin or end with a space");
    row("maxGap beyond a read", R"({ "maker": "T", "model": "M", "maxGap": 126, "values": [] })", "$.maxGap",
        "whole number from 0 to 125");
    row("values not a list", R"({ "maker": "T", "model": "M", "values": {} })", "$.values", "must be a list");
    row("no values", modelFile(""), "$.values", "at least one value");
    // One value's keys and their ranges.
    row("value not an object", withFlow("3"), "$.values[1]", "must be an object");
    row("unknown value key", withFlow(R"({ "role": "totalizer", "function": 3, "address": 2, "scael": 2 })"),
        "$.values[1].scael", "unknown key \"scael\"");
    row("unknown role", withFlow(R"({ "role": "pressure", "function": 3, "address": 2 })"), "$.values[1].role",
        "must be one of extra, flowRate");
    row("no function", withFlow(R"({ "name": "P", "address": 2 })"), "$.values[1].function", "required");
    row("function 2", withFlow(R"({ "name": "P", "function": 2, "address": 2 })"), "$.values[1].function",
        "must be 3 (holding registers)");
    row("no address", withFlow(R"({ "name": "P", "function": 3 })"), "$.values[1].address", "required");
    row("address beyond 65535", withFlow(R"({ "name": "P", "function": 3, "address": 65536 })"),
        "$.values[1].address", "whole number from 0 to 65535");
    row("address not whole", withFlow(R"({ "name": "P", "function": 3, "address": 2.5 })"), "$.values[1].address",
        "whole number");
    row("registers past 65535", withFlow(R"({ "name": "P", "function": 3, "address": 65533, "type": "f64" })"),
        "$.values[1].address", "4 registers run past address 65535");
    row("unknown type", withFlow(R"({ "name": "P", "function": 3, "address": 2, "type": "float" })"),
        "$.values[1].type", "must be one of u16");
    row("coil type on a register", withFlow(R"({ "name": "P", "function": 4, "address": 2, "type": "coil" })"),
        "$.values[1].type", "function 1 or written with function 5");
    row("register type on a coil", withFlow(R"({ "name": "P", "function": 1, "address": 2, "type": "u16" })"),
        "$.values[1].type", "the type is coil");
    row("unknown word order", withFlow(R"({ "name": "P", "function": 3, "address": 2, "type": "u32", "order": "ABDC" })"),
        "$.values[1].order", "must be one of ABCD, CDAB, BADC, DCBA");
    row("scale 0", withFlow(R"({ "name": "P", "function": 3, "address": 2, "scale": 0 })"), "$.values[1].scale",
        "must not be 0");
    row("scale as text", withFlow(R"({ "name": "P", "function": 3, "address": 2, "scale": "0.1" })"),
        "$.values[1].scale", "must be a number");
    row("offset as text", withFlow(R"({ "name": "P", "function": 3, "address": 2, "offset": null })"),
        "$.values[1].offset", "must be a number");
    row("writable as text", withFlow(R"({ "name": "P", "function": 3, "address": 2, "writable": "yes" })"),
        "$.values[1].writable", "true or false");
    row("min above max", withFlow(R"({ "name": "P", "function": 3, "address": 2, "min": 5, "max": 1 })"),
        "$.values[1].max", "below min");
    row("flow in a temperature unit", modelFile(R"({ "role": "flowRate", "function": 3, "address": 0, "type": "f32", "unit": "degC" })"),
        "$.values[0].unit", "a flowRate needs its unit, one of m3/h, l/min, l/s, gpm");
    row("totalizer without a unit", modelFile(R"({ "role": "totalizer", "function": 3, "address": 0 })"),
        "$.values[0].unit", "a totalizer needs its unit");
    row("flow rate on a coil", modelFile(R"({ "role": "flowRate", "function": 1, "address": 0, "unit": "m3/h" })"),
        "$.values[0].function", "kept in registers");
    // Roles and names.
    row("role twice", withFlow(R"({ "role": "flowRate", "function": 4, "address": 0, "type": "f32", "unit": "l/s" })"),
        "$.values[1].role", "flowRate is given twice (first at $.values[0])");
    row("extra without a name", withFlow(R"({ "function": 3, "address": 2 })"), "$.values[1].name", "needs a name");
    row("name on a role", withFlow(R"({ "role": "serialNumber", "name": "S", "function": 3, "address": 2 })"),
        "$.values[1].name", "only an extra value has a name");
    row("extra name twice", withFlow(R"({ "name": "P", "function": 3, "address": 2 }, { "name": "P", "function": 3, "address": 3 })"),
        "$.values[2].name", "the name \"P\" is given twice");
    // Characters that would cut a CSV header or a log line, or turn what follows them around.
    row("NUL in a value name", withFlow(R"({ "name": "P\u0000Q", "function": 3, "address": 2 })"),
        "$.values[1].name", "holds the control character U+0000 (character 2)");
    row("line end in the maker", R"({ "maker": "T\nX", "model": "M", "values": [] })", "$.maker",
        "holds the control character U+000A (character 2)");
    row("line end ending the model", R"({ "maker": "T", "model": "M\r", "values": [] })", "$.model",
        "holds the control character U+000D (character 2)");
    row("tab in a unit", modelFile(R"({ "role": "flowRate", "function": 3, "address": 0, "type": "f32", "unit": "m3/h\t" })"),
        "$.values[0].unit", "control character U+0009");
    row("right-to-left override in a name", withFlow(R"({ "name": "Flow \u202Ed", "function": 3, "address": 2 })"),
        "$.values[1].name", "holds the direction-changing character U+202E (character 6)");
    row("isolate in a bit text", withFlow(R"({ "role": "alarmBits", "function": 3, "address": 6, "bits": [{ "bit": 0, "text": "a\u2067b" }] })"),
        "$.values[1].bits[0].text", "direction-changing character U+2067");
    row("right-to-left mark in the model", R"({ "maker": "T", "model": "M\u200F2", "values": [] })", "$.model",
        "direction-changing character U+200F");
    row("C1 control in the maker", R"({ "maker": "T\u0085", "model": "M", "values": [] })", "$.maker",
        "control character U+0085");
    // Bits.
    row("bit beyond a u16", withFlow(R"({ "role": "alarmBits", "function": 3, "address": 6, "bits": [{ "bit": 16, "text": "x" }] })"),
        "$.values[1].bits[0].bit", "whole number from 0 to 15");
    row("bit beyond a coil", withFlow(R"({ "name": "Run", "function": 1, "address": 6, "bits": [{ "bit": 1, "text": "x" }] })"),
        "$.values[1].bits[0].bit", "whole number from 0 to 0");
    row("bit twice", withFlow(R"({ "role": "alarmBits", "function": 3, "address": 6, "bits": [{ "bit": 1, "text": "a" }, { "bit": 1, "text": "b" }] })"),
        "$.values[1].bits[1].bit", "bit 1 is given twice");
    row("bit without text", withFlow(R"({ "role": "statusBits", "function": 3, "address": 6, "bits": [{ "bit": 1 }] })"),
        "$.values[1].bits[0].text", "required");
    row("unknown bit key", withFlow(R"({ "role": "statusBits", "function": 3, "address": 6, "bits": [{ "bit": 1, "text": "a", "alarn": true }] })"),
        "$.values[1].bits[0].alarn", "unknown key");
    row("bits on a float", withFlow(R"({ "name": "P", "function": 3, "address": 6, "type": "f32", "bits": [] })"),
        "$.values[1].bits", "integer type");
    row("bits on a role of a number", withFlow(R"({ "role": "firmwareVersion", "function": 3, "address": 6, "bits": [] })"),
        "$.values[1].bits", "only alarmBits, statusBits and extra");
    row("alarm bits without bits", withFlow(R"({ "role": "alarmBits", "function": 3, "address": 6 })"),
        "$.values[1].bits", "at least one bit");
    // Writing and the reset.
    row("writable input register", withFlow(R"({ "role": "damping", "function": 4, "address": 11, "writable": true })"),
        "$.values[1].writable", "input registers (function 4) cannot be written");
    row("writable read coil", withFlow(R"({ "name": "Run", "function": 1, "address": 11, "writable": true })"),
        "$.values[1].writable", "function 1 cannot be written");
    row("function 5 not a reset", withFlow(R"({ "name": "Run", "function": 5, "address": 11 })"),
        "$.values[1].function", "only for the reset command");
    row("reset from input registers", withFlow(R"({ "role": "resetCommand", "function": 4, "address": 12 })"),
        "$.values[1].function", "holding register (function 3) or a coil (function 5)");
    row("reset confirmed by no totalizer", modelFile(R"({ "role": "resetCommand", "function": 5, "address": 0 })"),
        "$.values[0].confirm", "has no totalizer");
    row("reset not written", withFlow(R"({ "role": "resetCommand", "function": 3, "address": 12, "writable": false, "confirm": "none" })"),
        "$.values[1].writable", "always written");
    row("reset scaled", withFlow(R"({ "role": "resetCommand", "function": 3, "address": 12, "scale": 2, "confirm": "none" })"),
        "$.values[1].scale", "as it stands");
    row("reset coil command 2", withFlow(R"({ "role": "resetCommand", "function": 5, "address": 12, "command": 2, "confirm": "none" })"),
        "$.values[1].command", "whole number from 0 to 1");
    row("reset command beyond a u16", withFlow(R"({ "role": "resetCommand", "function": 3, "address": 12, "command": 65536, "confirm": "none" })"),
        "$.values[1].command", "whole number from 0 to 65535");
    row("unknown confirmation", withFlow(R"({ "role": "resetCommand", "function": 3, "address": 12, "confirm": "totaliserFalls" })"),
        "$.values[1].confirm", "must be one of totalizerFalls, none");
    row("confirmBelow without a confirmation", withFlow(R"({ "role": "resetCommand", "function": 3, "address": 12, "confirm": "none", "confirmBelow": 1 })"),
        "$.values[1].confirmBelow", "only a reset confirmed by totalizerFalls");
    row("confirmBelow negative", withFlow(QByteArray(kTotal) + R"(, { "role": "resetCommand", "function": 3, "address": 12, "confirmBelow": -1 })"),
        "$.values[2].confirmBelow", "must not be negative");
    row("command on another value", withFlow(R"({ "role": "damping", "function": 3, "address": 12, "command": 1 })"),
        "$.values[1].command", "only the resetCommand");
    row("more values than a model may have", modelWithValues(MeterModelLoader::kMaxValues + 1), "$.values",
        "257 values, more than the 256 a model may have");
}

// Each bad file is named with its place and reason, and the good file beside it still loads.
void TestMeterModel::reportsEachBadFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, place);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("a-good.json"), modelFile((QByteArray(kFlow) + "," + kTotal).constData(), "Good")));
    const QString bad = dir.filePath("b-bad.json");
    QVERIFY(writeFile(bad, content));

    MeterModelLoader loader;
    loader.load({dir.path()});
    QCOMPARE(loader.problems().size(), 1);
    const ModelProblem& p = loader.problems().first();
    QCOMPARE(p.file, bad);
    QCOMPARE(p.place, place);
    QVERIFY2(p.reason.contains(reason), qPrintable(p.reason));
    QCOMPARE(p.text(), bad + ": " + place + ": " + p.reason);
    QCOMPARE(loader.models().keys(), QStringList{"Good M"});
    QCOMPARE(loader.model("Good M")->values.size(), 2);

    // The same bytes through parse(): the same fault, and no model.
    ModelProblem direct;
    QVERIFY(!MeterModelLoader::parse(content, "x.json", &direct));
    QCOMPARE(direct.place, place);
}

void TestMeterModel::valuesUpToTheLimit()
{
    ModelProblem problem;
    const auto model = MeterModelLoader::parse(modelWithValues(MeterModelLoader::kMaxValues), "x.json", &problem);
    QVERIFY2(model, qPrintable(problem.text()));
    QCOMPARE(model->values.size(), MeterModelLoader::kMaxValues);
}

void TestMeterModel::refusesFilesThatAreNone()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ModelProblem p;
    // Bigger than any model: refused unread.
    const QString big = dir.filePath("big.json");
    QVERIFY(writeFile(big, modelFile(kFlow) + QByteArray(MeterModelLoader::kMaxFileBytes, ' ')));
    QVERIFY(!MeterModelLoader::parseFile(big, &p));
    QCOMPARE(p.file, big);
    QVERIFY2(p.reason.contains("bigger than"), qPrintable(p.reason));
    QCOMPARE(p.text(), big + ": " + p.reason);
    // A pipe would block the read for ever, a folder is no file.
    const QString fifo = dir.filePath("pipe.json");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!MeterModelLoader::parseFile(fifo, &p));
    QVERIFY2(p.reason.contains("not a regular file"), qPrintable(p.reason));
    QVERIFY(QDir(dir.path()).mkdir("folder.json"));
    QVERIFY(!MeterModelLoader::parseFile(dir.filePath("folder.json"), &p));
    QVERIFY2(p.reason.contains("not a regular file"), qPrintable(p.reason));
    QVERIFY(!MeterModelLoader::parseFile(dir.filePath("missing.json"), &p));
    QVERIFY2(p.reason.contains("does not exist"), qPrintable(p.reason));

    // A link to a device is refused as the device is; one to a model is that model.
    const QString zero = dir.filePath("zero.json");
    QVERIFY(QFile::link("/dev/zero", zero));
    QVERIFY(!MeterModelLoader::parseFile(zero, &p));
    QVERIFY2(p.reason.contains("not a regular file"), qPrintable(p.reason));

    // In a folder: the big file, the pipe and the link to a device are reported (someone put
    // them there for a model), the folder is passed over, the rest loads; a second file of one
    // model name in the same folder is reported, the first kept.
    QVERIFY(writeFile(dir.filePath("a.json"), modelFile(kFlow)));
    QVERIFY(writeFile(dir.filePath("c.json"), modelFile(kTotal)));
    QVERIFY(writeFile(dir.filePath("notes.txt"), "not a model"));
    MeterModelLoader loader;
    loader.load({dir.path(), dir.filePath("no such folder")});
    QCOMPARE(loader.problems().size(), 4);
    QCOMPARE(loader.problems()[0].file, big);
    QCOMPARE(loader.problems()[1].file, dir.filePath("c.json"));
    QCOMPARE(loader.problems()[1].place, "$.model");
    QVERIFY(loader.problems()[1].reason.contains(dir.filePath("a.json")));
    QCOMPARE(loader.problems()[2].text(), fifo + ": not a regular file (a FIFO)");
    QCOMPARE(loader.problems()[3].text(), zero + ": not a regular file (a character device)");
    QCOMPARE(loader.models().size(), 1);
    QVERIFY(loader.model("Test M")->find(ValueRole::FlowRate));
    QCOMPARE(loader.model("Test M")->sourcePath, dir.filePath("a.json"));
    QVERIFY(!loader.model("Test N"));
}

void TestMeterModel::userFolderOverrides()
{
    QTemporaryDir program, home;
    QVERIFY(program.isValid() && home.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    const QString user = MeterModelLoader::userFolder();
    QCOMPARE(user, home.path() + "/Tessmark/Corvane/models");
    QVERIFY(QDir().mkpath(user));
    QCOMPARE(MeterModelLoader::programFolder(program.path()), program.path() + "/models");

    QVERIFY(writeFile(program.filePath("fm.json"), modelFile((QByteArray(kFlow) + "," + kTotal).constData())));
    QVERIFY(writeFile(program.filePath("other.json"), modelFile(kFlow, "Other")));
    // The user's file of the same name, under another file name, wins; a bad one of theirs
    // takes nothing away.
    QVERIFY(writeFile(user + "/mine.json",
                      modelFile(R"({ "role": "flowRate", "function": 4, "address": 50, "type": "f32", "order": "CDAB", "unit": "l/min" })")));
    QVERIFY(writeFile(user + "/broken.json", modelFile(kFlow, "Other").replace("m3/h", "kg/h")));

    MeterModelLoader loader;
    loader.load({program.path(), user});
    QCOMPARE(loader.problems().size(), 1);
    QCOMPARE(loader.problems()[0].file, user + "/broken.json");
    QCOMPARE(loader.models().keys(), (QStringList{"Other M", "Test M"}));
    const MeterModel* mine = loader.model("Test M");
    QCOMPARE(mine->sourcePath, user + "/mine.json");
    QCOMPARE(mine->values.size(), 1);
    QCOMPARE(mine->values[0].function, 4);
    QCOMPARE(mine->values[0].address, 50);
    QCOMPARE(mine->values[0].order, WordOrder::CDAB);
    QCOMPARE(loader.model("Other M")->sourcePath, program.filePath("other.json"));

    // Loaded again, without the user's folder: the program's own again, nothing left over.
    loader.load({program.path()});
    QVERIFY(loader.problems().isEmpty());
    QCOMPARE(loader.model("Test M")->sourcePath, program.filePath("fm.json"));
    qunsetenv("XDG_DATA_HOME");
}

void TestMeterModel::shippedModelsLoadClean()
{
    // The sources, and the copy the build lays beside the plug-in.
    const QStringList folders = {QStringLiteral(FLOWMETER_SOURCE_DIR "/models"),
                                 MeterModelLoader::programFolder(qEnvironmentVariable("CORVANE_BIN_DIR") + "/plugins")};
    for (const QString& folder : folders) {
        MeterModelLoader loader;
        loader.load({folder});
        QStringList faults;
        for (const ModelProblem& p : loader.problems())
            faults << p.text();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QCOMPARE(loader.models().keys(), (QStringList{"Tessmark FM-1", "Tessmark FM-2i"}));
    }
    MeterModelLoader loader;
    loader.load({folders[0]});

    // FM-1 is today's map: one read of sixteen holding registers, f32 high word first.
    const MeterModel& fm1 = *loader.model("Tessmark FM-1");
    QCOMPARE(ReadPlan::make(fm1).size(), 1);
    QCOMPARE(ReadPlan::make(fm1)[0].count, 16);
    const struct
    {
        ValueRole role;
        int address;
        ValueType type;
    } map[] = {{ValueRole::FlowRate, 0, ValueType::F32}, {ValueRole::Totalizer, 2, ValueType::F32},
               {ValueRole::Temperature, 4, ValueType::F32}, {ValueRole::AlarmBits, 6, ValueType::U16},
               {ValueRole::StatusBits, 7, ValueType::U16}, {ValueRole::SerialNumber, 8, ValueType::U32},
               {ValueRole::FirmwareVersion, 10, ValueType::U16}, {ValueRole::Damping, 11, ValueType::U16},
               {ValueRole::ResetCommand, 12, ValueType::U16}, {ValueRole::AlarmLimit, 13, ValueType::U16},
               {ValueRole::CalibrationFactor, 14, ValueType::F32}};
    for (const auto& m : map) {
        const ModelValue* v = fm1.find(m.role);
        QVERIFY(v);
        QCOMPARE(v->function, 3);
        QCOMPARE(v->address, m.address);
        QCOMPARE(v->type, m.type);
        QCOMPARE(v->order, WordOrder::ABCD);
    }
    QCOMPARE(fm1.find(ValueRole::AlarmBits)->bits.size(), 3);
    QVERIFY(fm1.find(ValueRole::AlarmBits)->bits[2].alarm);
    QCOMPARE(fm1.find(ValueRole::Damping)->scale, 0.1);
    QCOMPARE(fm1.find(ValueRole::Damping)->maximum, 60.0);
    QCOMPARE(fm1.find(ValueRole::CalibrationFactor)->minimum, 0.5);
    QCOMPARE(fm1.find(ValueRole::ResetCommand)->confirm, ResetConfirm::TotalizerFalls);
    QCOMPARE(fm1.find(ValueRole::ResetCommand)->confirmBelow, 0.5);

    // FM-2i: input registers in two ranges and the holding registers apart: three reads; a coil reset.
    const MeterModel& fm2 = *loader.model("Tessmark FM-2i");
    QCOMPARE(ReadPlan::make(fm2).size(), 3);
    QCOMPARE(fm2.find(ValueRole::FlowRate)->order, WordOrder::CDAB);
    QCOMPARE(fm2.find(ValueRole::Totalizer)->type, ValueType::U32);
    QCOMPARE(fm2.find(ValueRole::ResetCommand)->function, 5);
    QCOMPARE(fm2.find(ValueRole::ResetCommand)->type, ValueType::Coil);
    QVERIFY(fm2.find(ValueRole::ResetCommand)->writable);
}

QTEST_GUILESS_MAIN(TestMeterModel)
#include "test_meter_model.moc"
