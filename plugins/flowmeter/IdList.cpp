#include "IdList.h"

#include <QRegularExpression>

#include <algorithm>

std::vector<int> IdList::parse(const QString& text, QStringList* rejected)
{
    static const QRegularExpression aroundDash("\\s*-\\s*");
    static const QRegularExpression separators("[,;\\s]+");
    static const QRegularExpression range("^(\\d{1,3})-(\\d{1,3})$");
    std::vector<int> ids;
    auto add = [&ids](int id) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    };
    QString normal = text;
    normal.replace(aroundDash, "-");
    for (const QString& part : normal.split(separators, Qt::SkipEmptyParts)) {
        bool ok = false;
        const int id = part.toInt(&ok);
        if (ok && id >= kFirst && id <= kLast) {
            add(id);
            continue;
        }
        const QRegularExpressionMatch m = range.match(part);
        const int first = m.captured(1).toInt();
        const int last = m.captured(2).toInt();
        if (m.hasMatch() && first >= kFirst && first <= last && last <= kLast) {
            for (int i = first; i <= last; ++i)
                add(i);
            continue;
        }
        if (rejected)
            *rejected << part;
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString IdList::text(const std::vector<int>& ids)
{
    QStringList parts;
    for (int id : ids)
        parts << QString::number(id);
    return parts.join(",");
}
