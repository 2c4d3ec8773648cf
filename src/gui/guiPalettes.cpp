#include "guiPalettes.h"

#include <QBrush>
#include <QColor>

namespace {

const QColor red(225, 58, 62);
const QColor grey(120, 120, 120);
const QColor white(255, 255, 255);
const QColor black(0, 0, 0);

void set(QPalette& p, QPalette::ColorGroup g, QPalette::ColorRole r, const QColor& c)
{
    p.setBrush(g, r, QBrush(c, Qt::SolidPattern));
}

// WindowText `active` in the Active and Inactive groups and grey when disabled, on white.
QPalette textOnWhite(const QColor& active)
{
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        set(p, g, QPalette::WindowText, g == QPalette::Disabled ? grey : active);
        set(p, g, QPalette::Base, white);
        set(p, g, QPalette::Window, white);
    }
    return p;
}

} // namespace

namespace guiPalettes {

QPalette frame()
{
    return textOnWhite(red);
}

QPalette panel()
{
    return textOnWhite(black);
}

QPalette itemLabel()
{
    QPalette p;
    set(p, QPalette::Active, QPalette::ButtonText, red);
    set(p, QPalette::Inactive, QPalette::ButtonText, red);
    set(p, QPalette::Disabled, QPalette::ButtonText, grey);
    return p;
}

QPalette tree()
{
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = g == QPalette::Disabled;
        set(p, g, QPalette::WindowText, disabled ? grey : red);
        set(p, g, QPalette::Light, white);
        set(p, g, QPalette::Text, disabled ? QColor(149, 148, 148) : QColor(60, 60, 60));
        set(p, g, QPalette::BrightText, white);
    }
    set(p, QPalette::Active, QPalette::HighlightedText, white);
    set(p, QPalette::Inactive, QPalette::HighlightedText, QColor(42, 42, 42));
    set(p, QPalette::Disabled, QPalette::HighlightedText, QColor(60, 60, 60));
    return p;
}

QPalette buttonBox()
{
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        set(p, g, QPalette::Base, white);
        set(p, g, QPalette::Window, white);
    }
    return p;
}

QPalette frameText()
{
    QPalette p;
    set(p, QPalette::Active, QPalette::WindowText, red);
    set(p, QPalette::Inactive, QPalette::WindowText, red);
    set(p, QPalette::Disabled, QPalette::WindowText, grey);
    return p;
}

} // namespace guiPalettes
