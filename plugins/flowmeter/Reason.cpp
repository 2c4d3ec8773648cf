#include "Reason.h"

#include <QCoreApplication>
#include <QLocale>

#include <cstring>

Reason Reason::verbatim(const QString& text)
{
    Reason r;
    r.literal = text;
    return r;
}

Reason& Reason::arg(const Reason& r)
{
    args.push_back(r);
    return *this;
}

Reason& Reason::number(double x)
{
    Reason r;
    r.isNumber = true;
    r.value = x;
    return arg(r);
}

QString Reason::words(bool translated) const
{
    if (isNumber)
        return translated ? QLocale().toString(value) : QString::number(value);
    if (!source)
        return literal;
    const QString pattern =
        translated ? QCoreApplication::translate("FlowMeter", source) : QString::fromUtf8(source);
    // %1 to %9 in one pass, so that an argument holding "%2" is not taken for a place-holder.
    QString out;
    out.reserve(pattern.size());
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const size_t n = size_t(pattern[i + 1].unicode() - '1');
            if (n < args.size()) {
                out += args[n].words(translated);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString Reason::english() const
{
    return words(false);
}

QString Reason::text() const
{
    return words(true);
}

bool Reason::operator==(const Reason& o) const
{
    const bool sameSource = source == o.source || (source && o.source && std::strcmp(source, o.source) == 0);
    if (!sameSource || literal != o.literal || isNumber != o.isNumber || (isNumber && value != o.value) ||
        args.size() != o.args.size())
        return false;
    for (size_t i = 0; i < args.size(); ++i)
        if (args[i] != o.args[i])
            return false;
    return true;
}
