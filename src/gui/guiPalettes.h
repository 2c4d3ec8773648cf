#pragma once

#include <QPalette>

// The palettes the host's windows share, so that the main window's header, the about dialog
// and the setup dialog carry one look. Every brush is solid; a role or group not set keeps the
// application's default.
namespace guiPalettes {

// Red text on white: the header frames and the main frame.
QPalette frame();
// Black text on white: the plug-in column and the display area.
QPalette panel();
// Red button text: the selected item's label in the header.
QPalette itemLabel();
// The plug-in tree: dark grey items, white highlighted text.
QPalette tree();
// White background only: the Save/Discard row.
QPalette buttonBox();
// Red text only, nothing filled: a plain frame around a text browser.
QPalette frameText();

} // namespace guiPalettes
