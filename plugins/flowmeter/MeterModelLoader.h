#pragma once

#include "MeterModel.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// A model file that could not be used, and where in it the fault lies.
struct ModelProblem
{
    QString file;
    // A JSON path such as "$.values[2].type", or "line 4, column 7" for a file that is not JSON.
    QString place;
    QString reason;
    // "FILE: PLACE: REASON", for the log and the setup page.
    QString text() const;
};

// Reads meter models from JSON files and checks each against the format of
// docs/meter-models.md (mirrored by models/meter-model.schema.json), so that a fault is named
// with its place rather than showing up as a wrong reading.
class MeterModelLoader
{
public:
    // Files bigger than this are refused unread: no model comes near it.
    static constexpr qint64 kMaxFileBytes = 1 << 20;
    // Values a model may have: every one is read at each poll, shown, recorded and published,
    // so a meter of many thousands would hold a line's poll for many seconds.
    static constexpr int kMaxValues = 256;

    // One model from the bytes of a file; nothing and `problem` set when it is not one.
    static std::optional<MeterModel> parse(const QByteArray& json, const QString& file, ModelProblem* problem);
    static std::optional<MeterModel> parseFile(const QString& file, ModelProblem* problem);

    // Every *.json of `folders` (but *.schema.json), in that order: a later folder's model of the same name
    // replaces an earlier one's (the user's folder comes last). Bad files are kept in
    // `problems()` and do not stop the others.
    void load(const QStringList& folders);

    const QMap<QString, MeterModel>& models() const { return byName; }
    const QVector<ModelProblem>& problems() const { return faults; }
    // The model of that name, or null.
    const MeterModel* model(const QString& name) const;

    // The shipped models beside the plug-in: `<folder of the plug-in>/models`.
    static QString programFolder(const QString& pluginDir);
    // The user's own: `<XDG data home>/Tessmark/Corvane/models`.
    static QString userFolder();

private:
    QMap<QString, MeterModel> byName;
    QVector<ModelProblem> faults;
};
