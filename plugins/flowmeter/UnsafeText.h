#pragma once

#include <QString>

// Characters a name must not hold: a name goes into log lines, CSV headers, MQTT topics and
// every page, and a control character (a line end, a NUL) cuts or splits what it goes into,
// while a character that turns the writing direction makes the text after it read otherwise
// than it is. Invisible direction marks are refused with them: two names that look the same
// would be two names.
class UnsafeText
{
public:
    struct Found
    {
        // Counted from 1, as a reader counts; 0 when the text holds none.
        int position = 0;
        char32_t code = 0;
        bool control = false;
        bool found() const { return position > 0; }
        // "U+000A" and the like.
        QString codeText() const;
    };

    // The first such character of `text`.
    static Found find(const QString& text);
    // What find() says, in the English of the model loader's and the log's refusals:
    // "holds the control character U+000A (character 5)"; empty when nothing was found.
    static QString english(const QString& text);
};
