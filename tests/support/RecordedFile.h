#pragma once

// A record file of the flow-meter plug-in read back as a spreadsheet would: every line must
// be whole (no quote left open, a line end after the last row) and have the header's field
// count. Uses the plug-in's Csv (add plugins/flowmeter/Csv.cpp to the test's sources).
#include "Csv.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

struct RecordedFile
{
    QString path;
    QStringList header;
    QVector<QStringList> rows;
    // How many lines were a header (a file appended to across restarts keeps one).
    int headers = 0;
    // What is wrong with the file; empty when it read whole.
    QString problem;

    explicit RecordedFile(const QString& file) : path(file)
    {
        QFile f(file);
        if (file.isEmpty() || !f.open(QIODevice::ReadOnly)) {
            problem = "cannot be opened";
            return;
        }
        const QByteArray bytes = f.readAll();
        if (!bytes.isEmpty() && !bytes.endsWith('\n'))
            problem = "does not end at a line end";
        QList<QByteArray> lines = bytes.split('\n');
        lines.removeLast();
        for (int i = 0; i < lines.size() && problem.isEmpty(); ++i) {
            QStringList fields;
            if (!Csv::split(QString::fromUtf8(lines[i]), &fields))
                problem = QString("line %1 is not whole").arg(i + 1);
            else if (i == 0)
                header = fields;
            else if (fields.size() != header.size())
                problem = QString("line %1 has %2 fields, the header %3").arg(i + 1).arg(fields.size()).arg(header.size());
            else if (fields == header)
                ++headers;
            else
                rows << fields;
        }
        if (!header.isEmpty())
            ++headers;
    }
    int column(const QString& name) const { return int(header.indexOf(name)); }
    // The rows of unit `id` (all of them with `state` empty, else those in that state).
    QVector<QStringList> of(int id, const QString& state = QString()) const
    {
        QVector<QStringList> out;
        for (const QStringList& r : rows)
            if (r.value(3) == QString::number(id) && (state.isEmpty() || r.value(4) == state))
                out << r;
        return out;
    }
    // Every .csv file of a folder.
    static QStringList files(const QString& folder)
    {
        QStringList out;
        for (const QString& name : QDir(folder).entryList({"*.csv"}, QDir::Files, QDir::Name))
            out << QDir(folder).filePath(name);
        return out;
    }
};
