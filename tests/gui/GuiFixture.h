#pragma once

// What the main-window tests share: a window as the entry point builds it, with its
// diagnostic log captured and its settings in a temporary store of its own.
#include "CapturedFile.h"
#include "ProgramRunner.h"
#include "StdStreamCapture.h"
#include "TempSettings.h"
#include "gui/cMainWindow.h"
#include "gui/cSetup.h"

#include <QApplication>
#include <QString>

#include <memory>

// The window with one look inside that no public interface gives: how many connections a
// signal of the window has.
class TestWindow : public cMainWindow
{
public:
    using cMainWindow::cMainWindow;
    int receiversOf(const char* signal) const { return receivers(signal); }
};

struct GuiFixture
{
    CapturedFile log;
    std::unique_ptr<TempSettings> store;
    // The threads' construction and destruction lines go to the console; kept out of the report.
    std::unique_ptr<StdStreamCapture> console;

    void begin()
    {
        qApp->setQuitOnLastWindowClosed(false);
        store = std::make_unique<TempSettings>();
        console = std::make_unique<StdStreamCapture>(1);
        log.clear();
    }
    void end()
    {
        console.reset();
        store.reset();
    }

    // A window whose program lies in `dir` (build/bin, with lang/ beside it, unless given).
    std::unique_ptr<TestWindow> window(const QString& dir = ProgramRunner::binDir(), FILE* out = nullptr)
    {
        QString path = dir + "/corvane";
        FILE* o = out ? out : log.file();
        return std::make_unique<TestWindow>(nullptr, qApp, path, o, o);
    }
};
