#include "UnsafeText.h"

#include <QList>

namespace {

bool turnsDirection(char32_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F ||
           c == 0x061C;
}

// The C0 and C1 controls, and the line and paragraph separators, which end a line as well.
bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

} // namespace

QString UnsafeText::Found::codeText() const
{
    return QString("U+%1").arg(uint(code), 4, 16, QChar('0')).toUpper();
}

UnsafeText::Found UnsafeText::find(const QString& text)
{
    Found f;
    int position = 0;
    for (const uint c : text.toUcs4()) {
        ++position;
        const bool control = isControl(c);
        if (control || turnsDirection(c)) {
            f.position = position;
            f.code = c;
            f.control = control;
            return f;
        }
    }
    return f;
}

QString UnsafeText::english(const QString& text)
{
    const Found f = find(text);
    if (!f.found())
        return QString();
    return QString("holds the %1 character %2 (character %3)")
        .arg(f.control ? "control" : "direction-changing", f.codeText())
        .arg(f.position);
}
