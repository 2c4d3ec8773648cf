#include "MeterModelLoader.h"
#include "BoundedFile.h"
#include "UnsafeText.h"

#include "DisplayUnit.h"
#include "ReadPlan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>

#include <cmath>

// Every fault is said in English, as a compiler says its errors: the file's author reads it
// beside the documentation, which is in English too.

namespace {

// Longer than any sound maker, model, name or bit text, and short enough for the pages.
constexpr int kMaxTextLength = 100;
constexpr int kMaxUnitLength = 32;

bool fail(ModelProblem* problem, const QString& place, const QString& reason)
{
    if (problem) {
        problem->place = place;
        problem->reason = reason;
    }
    return false;
}

QString quoted(const QString& s)
{
    return '"' + s + '"';
}

// The first key of `object` that is not in `known` (in the order Qt keeps keys: sorted).
bool onlyKnownKeys(const QJsonObject& object, const QStringList& known, const QString& place, const QString& what,
                   ModelProblem* problem)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!known.contains(it.key()))
            return fail(problem, place + '.' + it.key(),
                        QString("unknown key %1; %2 has the keys %3").arg(quoted(it.key()), what, known.join(", ")));
    return true;
}

bool wholeNumber(const QJsonValue& v, qint64 low, qint64 high, const QString& place, qint64* out, ModelProblem* problem)
{
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || !std::isfinite(d) || std::floor(d) != d || d < double(low) || d > double(high))
        return fail(problem, place, QString("must be a whole number from %1 to %2").arg(low).arg(high));
    *out = qint64(d);
    return true;
}

bool finiteNumber(const QJsonValue& v, const QString& place, double* out, ModelProblem* problem)
{
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || !std::isfinite(d))
        return fail(problem, place, "must be a number");
    *out = d;
    return true;
}

bool text(const QJsonValue& v, int longest, const QString& place, QString* out, ModelProblem* problem)
{
    if (!v.isString())
        return fail(problem, place, "must be text (in double quotes)");
    const QString s = v.toString();
    // Before the spaces: a line end at either end is no space to the reader of the fault.
    const QString unsafe = UnsafeText::english(s);
    if (!unsafe.isEmpty())
        return fail(problem, place, "must not hold control or direction-changing characters; it " + unsafe);
    if (s.trimmed().isEmpty())
        return fail(problem, place, "must not be empty");
    // " Tessmark" would name another model than "Tessmark", and no one would see why.
    if (s.trimmed() != s)
        return fail(problem, place, "must not begin or end with a space");
    if (s.size() > longest)
        return fail(problem, place, QString("must be at most %1 characters long").arg(longest));
    *out = s;
    return true;
}

bool boolean(const QJsonValue& v, const QString& place, bool* out, ModelProblem* problem)
{
    if (!v.isBool())
        return fail(problem, place, "must be true or false");
    *out = v.toBool();
    return true;
}

// One of `names` (the file's words), as the matching entry of `values`.
template <typename T>
bool oneOf(const QJsonValue& v, const QStringList& names, const QVector<T>& values, const QString& place, T* out,
           ModelProblem* problem)
{
    const int i = v.isString() ? int(names.indexOf(v.toString())) : -1;
    if (i < 0)
        return fail(problem, place, "must be one of " + names.join(", "));
    *out = values[i];
    return true;
}

// In the order of ValueRole. Plain data: nothing of Qt is left to destroy at exit.
const char* const kRoleNames[] = {"extra", "flowRate", "totalizer", "temperature", "alarmBits",
                                  "statusBits", "serialNumber", "firmwareVersion", "damping",
                                  "alarmLimit", "calibrationFactor", "resetCommand"};

QStringList roleNames()
{
    QStringList list;
    for (const char* n : kRoleNames)
        list << QString::fromLatin1(n);
    return list;
}

QString roleName(ValueRole role)
{
    return QString::fromLatin1(kRoleNames[int(role)]);
}

int typeBits(ValueType t)
{
    switch (t) {
    case ValueType::Coil: return 1;
    case ValueType::U16:
    case ValueType::I16: return 16;
    case ValueType::U32:
    case ValueType::I32: return 32;
    case ValueType::U64: return 64;
    default: return 0;
    }
}

// The quantity a role's unit must measure; NoQuantity where the unit is free.
DisplayUnit::Quantity roleQuantity(ValueRole role)
{
    switch (role) {
    case ValueRole::FlowRate:
    case ValueRole::AlarmLimit: return DisplayUnit::Flow;
    case ValueRole::Totalizer: return DisplayUnit::Volume;
    case ValueRole::Temperature: return DisplayUnit::Temperature;
    default: return DisplayUnit::NoQuantity;
    }
}

bool needsRegisters(ValueRole role)
{
    return role != ValueRole::Extra && role != ValueRole::AlarmBits && role != ValueRole::StatusBits &&
           role != ValueRole::ResetCommand;
}

// Qt keeps the last of two equal keys of an object and drops the first without a word; a
// file that says "scale" twice must be told so. Walks a text Qt has already accepted as
// JSON, so it only tracks where it is; the place of the first repeated key goes to `place`.
bool repeatedKey(const QByteArray& json, int* i, const QString& path, QString* place, int depth);

void skipSpace(const QByteArray& json, int* i)
{
    while (*i < json.size() && (json[*i] == ' ' || json[*i] == '\t' || json[*i] == '\n' || json[*i] == '\r'))
        ++*i;
}

// The string token at *i (quotes included), decoded by Qt so that "\u0073cale" is "scale".
QString stringAt(const QByteArray& json, int* i)
{
    const int start = *i;
    ++*i;
    while (*i < json.size() && json[*i] != '"')
        *i += json[*i] == '\\' ? 2 : 1;
    ++*i;
    const QByteArray token = json.mid(start, *i - start);
    return QJsonDocument::fromJson("[" + token + "]").array().at(0).toString();
}

bool repeatedKey(const QByteArray& json, int* i, const QString& path, QString* place, int depth)
{
    // Qt refuses deeper nesting than this long before; the bound keeps the stack safe anyway.
    if (depth > 2048)
        return false;
    skipSpace(json, i);
    if (*i >= json.size())
        return false;
    const char c = json[*i];
    if (c == '{') {
        ++*i;
        QSet<QString> keys;
        for (;;) {
            skipSpace(json, i);
            if (*i >= json.size() || json[*i] == '}')
                break;
            if (json[*i] == ',') {
                ++*i;
                continue;
            }
            const QString key = stringAt(json, i);
            const QString at = path + '.' + key;
            if (keys.contains(key)) {
                *place = at;
                return true;
            }
            keys.insert(key);
            skipSpace(json, i);
            ++*i; // the colon
            if (repeatedKey(json, i, at, place, depth + 1))
                return true;
        }
        ++*i;
    } else if (c == '[') {
        ++*i;
        for (int index = 0;; ++index) {
            skipSpace(json, i);
            if (*i >= json.size() || json[*i] == ']')
                break;
            if (json[*i] == ',')
                ++*i;
            if (repeatedKey(json, i, QString("%1[%2]").arg(path).arg(index), place, depth + 1))
                return true;
        }
        ++*i;
    } else if (c == '"') {
        stringAt(json, i);
    } else {
        while (*i < json.size() && !QByteArrayView(",]} \t\r\n").contains(json[*i]))
            ++*i;
    }
    return false;
}

bool parseBits(const QJsonValue& json, ModelValue* value, const QString& place, ModelProblem* problem)
{
    if (!json.isArray())
        return fail(problem, place, "must be a list of bits");
    if (value->role != ValueRole::AlarmBits && value->role != ValueRole::StatusBits && value->role != ValueRole::Extra)
        return fail(problem, place, "only alarmBits, statusBits and extra values have bits");
    const int width = typeBits(value->type);
    if (width == 0)
        return fail(problem, place, "bits need an integer type: u16, i16, u32, i32, u64 or coil");
    const QJsonArray list = json.toArray();
    for (int i = 0; i < list.size(); ++i) {
        const QString at = QString("%1[%2]").arg(place).arg(i);
        if (!list[i].isObject())
            return fail(problem, at, "must be an object with the keys bit, text and alarm");
        const QJsonObject o = list[i].toObject();
        if (!onlyKnownKeys(o, {"bit", "text", "alarm"}, at, "a bit", problem))
            return false;
        BitMeaning b;
        qint64 n = 0;
        if (!o.contains("bit"))
            return fail(problem, at + ".bit", "required, but missing");
        if (!wholeNumber(o["bit"], 0, width - 1, at + ".bit", &n, problem))
            return false;
        b.bit = int(n);
        for (const BitMeaning& earlier : value->bits)
            if (earlier.bit == b.bit)
                return fail(problem, at + ".bit", QString("bit %1 is given twice").arg(b.bit));
        if (!o.contains("text"))
            return fail(problem, at + ".text", "required, but missing");
        if (!text(o["text"], kMaxTextLength, at + ".text", &b.text, problem))
            return false;
        if (o.contains("alarm") && !boolean(o["alarm"], at + ".alarm", &b.alarm, problem))
            return false;
        value->bits.append(b);
    }
    return true;
}

bool parseValue(const QJsonValue& json, const QString& at, ModelValue* v, ModelProblem* problem)
{
    if (!json.isObject())
        return fail(problem, at, "a value must be an object");
    const QJsonObject o = json.toObject();
    if (!onlyKnownKeys(o,
                       {"comment", "role", "name", "function", "address", "type", "order", "scale", "offset",
                        "unit", "writable", "min", "max", "bits", "command", "confirm", "confirmBelow"},
                       at, "a value", problem))
        return false;
    if (o.contains("comment") && !o["comment"].isString())
        return fail(problem, at + ".comment", "must be text (in double quotes)");

    const QStringList roles = roleNames();
    QVector<ValueRole> roleValues;
    for (int i = 0; i < roles.size(); ++i)
        roleValues << ValueRole(i);
    if (o.contains("role") && !oneOf(o["role"], roles, roleValues, at + ".role", &v->role, problem))
        return false;
    const QString role = roleName(v->role);
    if (v->role == ValueRole::Extra) {
        if (!o.contains("name"))
            return fail(problem, at + ".name", "an extra value needs a name (or give its role)");
        if (!text(o["name"], kMaxTextLength, at + ".name", &v->name, problem))
            return false;
    } else if (o.contains("name")) {
        return fail(problem, at + ".name", QString("only an extra value has a name; the pages name a %1 themselves").arg(role));
    }

    qint64 n = 0;
    if (!o.contains("function"))
        return fail(problem, at + ".function", "required, but missing");
    if (!o["function"].isDouble() || !QList<double>{1, 3, 4, 5}.contains(o["function"].toDouble()))
        return fail(problem, at + ".function",
                    "must be 3 (holding registers), 4 (input registers), 1 (coils, read) or 5 (a coil, written)");
    v->function = o["function"].toInt();
    const bool coilFunction = v->function == 1 || v->function == 5;

    if (!o.contains("address"))
        return fail(problem, at + ".address", "required, but missing");
    if (!wholeNumber(o["address"], 0, 65535, at + ".address", &n, problem))
        return false;
    v->address = int(n);

    v->type = coilFunction ? ValueType::Coil : ValueType::U16;
    if (o.contains("type")
        && !oneOf(o["type"], {"u16", "i16", "u32", "i32", "u64", "f32", "f64", "coil"},
                  QVector<ValueType>{ValueType::U16, ValueType::I16, ValueType::U32, ValueType::I32, ValueType::U64,
                                     ValueType::F32, ValueType::F64, ValueType::Coil},
                  at + ".type", &v->type, problem))
        return false;
    if (coilFunction && v->type != ValueType::Coil)
        return fail(problem, at + ".type", QString("function %1 reaches a coil: the type is coil").arg(v->function));
    if (!coilFunction && v->type == ValueType::Coil)
        return fail(problem, at + ".type", "a coil is read with function 1 or written with function 5");
    if (v->address + v->registerCount() - 1 > 65535)
        return fail(problem, at + ".address",
                    QString("the value's %1 registers run past address 65535").arg(v->registerCount()));

    if (o.contains("order")
        && !oneOf(o["order"], {"ABCD", "CDAB", "BADC", "DCBA"},
                  QVector<WordOrder>{WordOrder::ABCD, WordOrder::CDAB, WordOrder::BADC, WordOrder::DCBA},
                  at + ".order", &v->order, problem))
        return false;

    if (o.contains("scale")) {
        if (!finiteNumber(o["scale"], at + ".scale", &v->scale, problem))
            return false;
        if (v->scale == 0)
            return fail(problem, at + ".scale", "must not be 0 (every reading would be 0)");
    }
    if (o.contains("offset") && !finiteNumber(o["offset"], at + ".offset", &v->offset, problem))
        return false;

    if (o.contains("unit") && !text(o["unit"], kMaxUnitLength, at + ".unit", &v->unit, problem))
        return false;
    const DisplayUnit::Quantity quantity = roleQuantity(v->role);
    if (quantity != DisplayUnit::NoQuantity && DisplayUnit::quantity(DisplayUnit::parse(v->unit)) != quantity) {
        QStringList keys;
        for (DisplayUnit::Unit u : DisplayUnit::units(quantity))
            keys << DisplayUnit::key(u);
        return fail(problem, at + ".unit", QString("a %1 needs its unit, one of %2").arg(role, keys.join(", ")));
    }

    // Whether it may be written, and where from.
    if (needsRegisters(v->role) && coilFunction)
        return fail(problem, at + ".function", QString("a %1 is kept in registers: function 3 or 4").arg(role));
    if (v->role == ValueRole::ResetCommand && v->function != 3 && v->function != 5)
        return fail(problem, at + ".function",
                    "the reset command writes a holding register (function 3) or a coil (function 5)");
    if (v->function == 5 && v->role != ValueRole::ResetCommand)
        return fail(problem, at + ".function", "function 5 writes a coil; it is only for the reset command");
    if (o.contains("writable") && !boolean(o["writable"], at + ".writable", &v->writable, problem))
        return false;
    if (v->role == ValueRole::ResetCommand) {
        if (o.contains("writable") && !v->writable)
            return fail(problem, at + ".writable", "a reset command is always written");
        v->writable = true;
    } else if (v->writable && (v->function == 4 || v->function == 1)) {
        return fail(problem, at + ".writable",
                    v->function == 4 ? "input registers (function 4) cannot be written"
                                     : "coils read with function 1 cannot be written");
    }

    if (o.contains("min") && !finiteNumber(o["min"], at + ".min", &v->minimum, problem))
        return false;
    if (o.contains("max") && !finiteNumber(o["max"], at + ".max", &v->maximum, problem))
        return false;
    if (v->minimum > v->maximum) // false where either is NaN
        return fail(problem, at + ".max", QString("is below min (%1)").arg(v->minimum));

    if (o.contains("bits") && !parseBits(o["bits"], v, at + ".bits", problem))
        return false;
    if ((v->role == ValueRole::AlarmBits || v->role == ValueRole::StatusBits) && v->bits.isEmpty())
        return fail(problem, at + ".bits", QString("%1 need the meaning of at least one bit").arg(role));

    // The reset: what it writes and how it is confirmed.
    for (const char* key : {"command", "confirm", "confirmBelow"})
        if (o.contains(key) && v->role != ValueRole::ResetCommand)
            return fail(problem, at + '.' + key, "only the resetCommand has this key");
    if (v->role == ValueRole::ResetCommand) {
        for (const char* key : {"scale", "offset", "min", "max"})
            if (o.contains(key))
                return fail(problem, at + '.' + key, "a reset command writes its command value as it stands");
        if (o.contains("command") && !finiteNumber(o["command"], at + ".command", &v->commandValue, problem))
            return false;
        if (v->type != ValueType::F32 && v->type != ValueType::F64) {
            qint64 low = 0, high = 0;
            switch (v->type) {
            case ValueType::Coil: high = 1; break;
            case ValueType::U16: high = 65535; break;
            case ValueType::I16: low = -32768; high = 32767; break;
            case ValueType::U32: high = 4294967295LL; break;
            case ValueType::I32: low = -2147483648LL; high = 2147483647LL; break;
            default: high = (qint64(1) << 53); break; // a double's whole numbers
            }
            if (!wholeNumber(QJsonValue(v->commandValue), low, high, at + ".command", &n, problem))
                return false;
        }
        if (o.contains("confirm")
            && !oneOf(o["confirm"], {"totalizerFalls", "none"},
                      QVector<ResetConfirm>{ResetConfirm::TotalizerFalls, ResetConfirm::None}, at + ".confirm",
                      &v->confirm, problem))
            return false;
        if (o.contains("confirmBelow")) {
            if (v->confirm != ResetConfirm::TotalizerFalls)
                return fail(problem, at + ".confirmBelow", "only a reset confirmed by totalizerFalls has it");
            if (!finiteNumber(o["confirmBelow"], at + ".confirmBelow", &v->confirmBelow, problem))
                return false;
            if (v->confirmBelow < 0)
                return fail(problem, at + ".confirmBelow", "must not be negative");
        }
    }
    return true;
}

} // namespace

QString ModelProblem::text() const
{
    return place.isEmpty() ? file + ": " + reason : file + ": " + place + ": " + reason;
}

std::optional<MeterModel> MeterModelLoader::parse(const QByteArray& json, const QString& file, ModelProblem* problem)
{
    ModelProblem scratch;
    ModelProblem* p = problem ? problem : &scratch;
    *p = ModelProblem();
    p->file = file;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt counts bytes from the start; a person counts lines, and characters within one.
        const int offset = qBound(0, int(error.offset), int(json.size()));
        const QByteArray before = json.left(offset);
        const int lineStart = int(before.lastIndexOf('\n')) + 1;
        const int line = int(before.count('\n')) + 1;
        const int column = int(QString::fromUtf8(before.mid(lineStart)).size()) + 1;
        fail(p, QString("line %1, column %2").arg(line).arg(column), "not JSON: " + error.errorString());
        return std::nullopt;
    }
    int at = 0;
    QString repeated;
    if (repeatedKey(json, &at, "$", &repeated, 0)) {
        fail(p, repeated, "this key is given twice in its object; which one was meant?");
        return std::nullopt;
    }
    if (!document.isObject()) {
        fail(p, "$", "a model file holds one JSON object, { ... }");
        return std::nullopt;
    }
    const QJsonObject o = document.object();
    if (!onlyKnownKeys(o, {"$schema", "comment", "maker", "model", "maxGap", "values"}, "$", "a model", p))
        return std::nullopt;
    for (const char* key : {"$schema", "comment"})
        if (o.contains(key) && !o[key].isString()) {
            fail(p, QString("$.") + key, "must be text (in double quotes)");
            return std::nullopt;
        }

    MeterModel model;
    model.sourcePath = file;
    for (const char* key : {"maker", "model", "values"})
        if (!o.contains(key)) {
            fail(p, QString("$.") + key, "required, but missing");
            return std::nullopt;
        }
    if (!text(o["maker"], kMaxTextLength, "$.maker", &model.maker, p)
        || !text(o["model"], kMaxTextLength, "$.model", &model.model, p))
        return std::nullopt;
    qint64 n = 0;
    if (o.contains("maxGap")) {
        if (!wholeNumber(o["maxGap"], 0, ReadPlan::kMaxRegisters, "$.maxGap", &n, p))
            return std::nullopt;
        model.maxGap = int(n);
    }
    if (!o["values"].isArray()) {
        fail(p, "$.values", "must be a list of values, [ ... ]");
        return std::nullopt;
    }
    const QJsonArray values = o["values"].toArray();
    if (values.isEmpty()) {
        fail(p, "$.values", "a model needs at least one value");
        return std::nullopt;
    }
    if (values.size() > kMaxValues) {
        fail(p, "$.values", QString("%1 values, more than the %2 a model may have").arg(values.size()).arg(kMaxValues));
        return std::nullopt;
    }
    for (int i = 0; i < values.size(); ++i) {
        const QString at = QString("$.values[%1]").arg(i);
        ModelValue v;
        if (!parseValue(values[i], at, &v, p))
            return std::nullopt;
        for (int j = 0; j < model.values.size(); ++j) {
            const ModelValue& earlier = model.values[j];
            if (v.role != ValueRole::Extra && earlier.role == v.role) {
                fail(p, at + ".role", QString("%1 is given twice (first at $.values[%2])").arg(roleName(v.role)).arg(j));
                return std::nullopt;
            }
            if (v.role == ValueRole::Extra && earlier.role == ValueRole::Extra && earlier.name == v.name) {
                fail(p, at + ".name", QString("the name %1 is given twice (first at $.values[%2])").arg(quoted(v.name)).arg(j));
                return std::nullopt;
            }
        }
        model.values.append(v);
    }
    const int reset = model.indexOf(ValueRole::ResetCommand);
    if (reset >= 0 && model.values[reset].confirm == ResetConfirm::TotalizerFalls
        && !model.find(ValueRole::Totalizer)) {
        fail(p, QString("$.values[%1].confirm").arg(reset),
             "the reset is confirmed by the totalizer (totalizerFalls), but the model has no totalizer");
        return std::nullopt;
    }
    *p = ModelProblem();
    return model;
}

std::optional<MeterModel> MeterModelLoader::parseFile(const QString& file, ModelProblem* problem)
{
    ModelProblem scratch;
    ModelProblem* p = problem ? problem : &scratch;
    *p = ModelProblem();
    p->file = file;
    BoundedFile f;
    // A pipe would block the open, a device never end the read: both refused unread.
    if (!f.open(file)) {
        fail(p, QString(), f.missing()      ? QString("the file does not exist")
                           : f.notRegular() ? f.why()
                                            : "cannot be read: " + f.why());
        return std::nullopt;
    }
    bool tooBig = false;
    const QByteArray data = f.readAll(kMaxFileBytes, &tooBig);
    if (tooBig) {
        fail(p, QString(), QString("the file is bigger than the %1 bytes a model file may have").arg(kMaxFileBytes));
        return std::nullopt;
    }
    if (!f.why().isEmpty()) {
        fail(p, QString(), "cannot be read: " + f.why());
        return std::nullopt;
    }
    return parse(data, file, p);
}

void MeterModelLoader::load(const QStringList& folders)
{
    byName.clear();
    faults.clear();
    for (const QString& folder : folders) {
        const QDir dir(folder);
        if (folder.isEmpty() || !dir.exists())
            continue;
        // By name, so that the first of two files naming one model is the same on every run.
        // FIFOs and devices too (QDir::System), so that one put there for a model is named.
        const QFileInfoList files = dir.entryInfoList({"*.json"}, QDir::Files | QDir::System, QDir::Name);
        QMap<QString, QString> fileOf;
        for (const QFileInfo& info : files) {
            // The schema that lies beside the shipped models describes them; it is none.
            if (info.fileName().endsWith(".schema.json"))
                continue;
            ModelProblem problem;
            std::optional<MeterModel> model = parseFile(info.filePath(), &problem);
            if (!model) {
                faults.append(problem);
                continue;
            }
            const QString name = model->name();
            if (fileOf.contains(name)) {
                faults.append({info.filePath(), "$.model",
                               QString("the model \"%1\" is given by %2 already; this file is not used")
                                   .arg(name, fileOf.value(name))});
                continue;
            }
            fileOf.insert(name, info.filePath());
            byName.insert(name, *model);
        }
    }
}

const MeterModel* MeterModelLoader::model(const QString& name) const
{
    const auto it = byName.constFind(name);
    return it == byName.constEnd() ? nullptr : &it.value();
}

QString MeterModelLoader::programFolder(const QString& pluginDir)
{
    return QDir::cleanPath(pluginDir + "/models");
}

QString MeterModelLoader::userFolder()
{
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                           + "/Tessmark/Corvane/models");
}
