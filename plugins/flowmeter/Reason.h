#pragma once

#include <QString>

#include <vector>

// Why something did not work, kept as the English source text and its arguments rather than as
// words: the log, the records and the broker take it in English, the pages in the user's
// language, each where it is shown. The source is a text marked with
// QT_TRANSLATE_NOOP("FlowMeter", ...); an argument is another reason or text of its own (a
// port's path, a number), which no catalogue translates.
class Reason
{
public:
    Reason() = default;
    // `source` must outlive the reason: a literal marked for the catalogue.
    explicit Reason(const char* source) : source(source) {}
    // Text that is the same in every language (a path, an error the system worded).
    static Reason verbatim(const QString& text);

    Reason& arg(const Reason& r);
    Reason& arg(const QString& text) { return arg(verbatim(text)); }
    Reason& arg(int n) { return arg(verbatim(QString::number(n))); }
    // A measure: in the C locale in English, in the user's number form on the pages.
    Reason& number(double x);

    bool isEmpty() const { return !source && !isNumber && literal.isEmpty(); }
    // For the log, the records and the broker.
    QString english() const;
    // For the pages, in the language installed now.
    QString text() const;

    bool operator==(const Reason& o) const;
    bool operator!=(const Reason& o) const { return !(*this == o); }

private:
    QString words(bool translated) const;

    const char* source = nullptr;
    QString literal;
    bool isNumber = false;
    double value = 0;
    std::vector<Reason> args;
};
