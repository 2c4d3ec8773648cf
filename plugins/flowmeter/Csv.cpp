#include "Csv.h"

#include <cmath>
#include <cstdlib>

QString Csv::field(const QString& text)
{
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    QString quoted = text;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

QString Csv::line(const QStringList& fields)
{
    QStringList out;
    out.reserve(fields.size());
    for (const QString& f : fields)
        out << field(f);
    return out.join(',');
}

QString Csv::number(double value)
{
    if (!std::isfinite(value))
        return QString();
    // 'g' with 10 digits, never the locale's decimal comma.
    QString s = QString::number(value, 'g', 10);
    // Exponents only where they are needed keeps the files readable: 1e+06 stays as written,
    // which every CSV reader takes.
    return s;
}

QString Csv::time(const QDateTime& at)
{
    if (!at.isValid())
        return QString();
    // A moment given at an offset of its own keeps it; any other is told in local time.
    const QDateTime local = at.timeSpec() == Qt::OffsetFromUTC ? at : at.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

bool Csv::split(const QString& line, QStringList* fields)
{
    fields->clear();
    QString current;
    bool quoted = false;
    bool afterQuote = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    current += '"';
                    ++i;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else {
                current += c;
            }
            continue;
        }
        if (c == ',') {
            *fields << current;
            current.clear();
            afterQuote = false;
        } else if (c == '"' && current.isEmpty() && !afterQuote) {
            quoted = true;
        } else {
            current += c;
        }
    }
    *fields << current;
    return !quoted;
}
